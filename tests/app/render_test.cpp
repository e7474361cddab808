// The application around the lens: its window, picture loading, pixel transfers, the move
// callback and the frame guard.
#include <math.h>
#include <string.h>

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "backdrop_window.h"
#include "gadget.h"
#include "image.h"
#include "lunetrix.h"
#include "pixels.h"
#include "platform.h"
#include "test_support.h"
#include "window.h"
#include "window_test_support.h"

namespace {

// An RGB picture whose pixel (x, y) has blue x, green y, red x ^ y (all mod 256).
Picture Pattern(int width, int height) {
  Picture picture(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = picture.At(x, y);
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = static_cast<uint8_t>(x ^ y);
    }
  return picture;
}

// The program as it stands before its main loop, prepared once for the test's process.
class App : public testing::Test {
 protected:
  void SetUp() override {
    PrepareLunetrix();
    ASSERT_NE(app.mainWindow, 0);
    ASSERT_NE(app.displayImage, 0);
    ASSERT_NE(app.imageGadget, 0);
    Flush();
  }
  void TearDown() override { EndLunetrix(); }  // the runtime's end steps follow (books.cpp)
  // The display image's pixels; a read that wrote nothing leaves 0x55, which no test expects.
  static std::vector<uint8_t> DisplayedPixels() {
    std::vector<uint8_t> pixels(LensBufferBytes, 0x55);
    EXPECT_EQ(ReadImagePixels(app.displayImage, pixels.data()), 1);
    return pixels;
  }
  // Empty when the display image shows view, else how it differs.
  static std::string Displays(const std::vector<uint8_t>& view) {
    return ComparePixels(view, DisplayedPixels(), LensWidth, LensHeight, 3);
  }
  // Fills the display image with 0x42, so that any frame rendered into it shows.
  static void MarkDisplayImage() {
    std::vector<uint8_t> marked(LensBufferBytes, 0x42);
    EXPECT_EQ(WriteImagePixels(marked.data(), app.displayImage), 1);
  }
  // How many of the pixels carry the mark.
  static int32_t MarkedPixels(const std::vector<uint8_t>& pixels) {
    int32_t count = 0;
    for (int32_t i = 0; i < LensPixels; ++i) count += memcmp(&pixels[i * 4], "\x42\x42\x42", 3) == 0;
    return count;
  }
  // How many pixels of the display image no longer carry the mark.
  static int32_t UnmarkedPixels() { return LensPixels - MarkedPixels(DisplayedPixels()); }
};

// What the screen copy gives for the 500 × 200 rectangle at (x, y) beneath ownWindow, by default
// the program's window.
std::vector<uint8_t> CaptureAt(int32_t x, int32_t y, HWND ownWindow = WindowGetHandle(app.mainWindow)) {
  std::vector<uint8_t> pixels(LensBufferBytes);
  int32_t copy = ImageCreate(-1, LensWidth, LensHeight);
  EXPECT_NE(copy, 0);
  HDC target = DrawingBegin(ImageDrawingOutput(copy));
  ScreenCaptureCopy(target, x, y, LensWidth, LensHeight, ownWindow);
  DrawingEnd();
  EXPECT_EQ(ReadImagePixels(copy, pixels.data()), 1);
  ImageFree(copy);
  return pixels;
}

// A lens that leaves every pixel in place and passes each channel by factor / 256.
void FlatLens(uint8_t factor) {
  memset(captureBuffer, 128, LensBufferBytes);
  memset(outputBuffer, factor, LensBufferBytes);
  FillLensTable(captureBuffer, LensWidth, outputBuffer, LensWidth);
}

// The view a flat lens of that factor gives for a capture: each colour byte times factor / 256,
// to the nearest whole number, ties to even.
std::vector<uint8_t> FlatView(const std::vector<uint8_t>& capture, uint8_t factor) {
  std::vector<uint8_t> view(capture.size());
  for (size_t i = 0; i < capture.size(); ++i)
    view[i] = static_cast<uint8_t>(lrint(capture[i] * (factor / 256.0)));
  return view;
}

// Access violations counted as they are raised, before any handler runs: Wine swallows one
// inside a sent message's window procedure, and the process would go on as if nothing happened.
LONG accessViolations = 0;
LONG WINAPI CountAccessViolation(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION)
    InterlockedIncrement(&accessViolations);
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST_F(App, TheWindowIsLayeredWithItsGadgetAndBlackImage) {
  HWND window = WindowGetHandle(app.mainWindow);
  char title[32];
  GetWindowTextA(window, title, sizeof title);
  EXPECT_STREQ(title, "Lunetrix");
  // The extended style was replaced by the layered style alone; the system itself keeps
  // WS_EX_WINDOWEDGE on a captioned window.
  EXPECT_EQ(GetWindowLongA(window, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE, WS_EX_LAYERED);
  BYTE alpha = 0;
  DWORD flags = 0;
  ASSERT_TRUE(GetLayeredWindowAttributes(window, nullptr, &alpha, &flags));
  EXPECT_EQ(std::make_pair(alpha, flags), std::make_pair(BYTE{255}, DWORD{LWA_ALPHA}));
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(std::make_tuple(client.right, client.bottom, ImageGetWidth(app.displayImage),
                            ImageGetHeight(app.displayImage)),
            std::make_tuple(520L, 220L, 500, 200));
  EXPECT_EQ(Displays(std::vector<uint8_t>(LensBufferBytes)), "");  // black
  // A style with a sizing border takes effect at once: a frame drawn anew around the same client.
  SetWindowLongA(window, GWL_STYLE, GetWindowLongA(window, GWL_STYLE) | WS_THICKFRAME);
  RECT outer, wanted = {0, 0, ClientWidth, ClientHeight};
  AdjustWindowRectEx(&wanted, GetWindowLongA(window, GWL_STYLE), FALSE, WS_EX_LAYERED);
  GetWindowRect(window, &outer);
  EXPECT_EQ(outer.right - outer.left, wanted.right - wanted.left);
}

// The view is taken where the gadget lies, wherever the platform's frame puts the client area
// (13, 39 on Windows at 100 %; other numbers under Wine), and for a window about to move, at the
// same distance from its new outer corner.
TEST_F(App, TheViewIsTakenWhereTheGadgetLies) {
  RECT outer, gadget;
  GetWindowRect(WindowGetHandle(app.mainWindow), &outer);
  GetWindowRect(GadgetGetHandle(app.imageGadget), &gadget);
  POINT place = ViewPlace(WindowGetX(app.mainWindow), WindowGetY(app.mainWindow));
  EXPECT_EQ(std::make_pair(place.x, place.y), std::make_pair(gadget.left, gadget.top));
  place = ViewPlace(300, 400);
  EXPECT_EQ(std::make_pair(place.x, place.y),
            std::make_pair(300 + gadget.left - outer.left, 400 + gadget.top - outer.top));
  POINT client{0, 0};
  ClientToScreen(WindowGetHandle(app.mainWindow), &client);
  EXPECT_EQ(std::make_tuple(gadget.left, gadget.top, WindowGetX(app.mainWindow),
                            WindowGetY(app.mainWindow)),
            std::make_tuple(client.x + 10, client.y + 10, 100, 100));
}

TEST_F(App, PixelTransfersRoundTripAndNameNoImageGivesZero) {
  std::vector<uint8_t> in(LensBufferBytes), out(LensBufferBytes);
  TestRandom random(99);
  for (auto& b : in) b = random.Byte();
  EXPECT_EQ(WriteImagePixels(in.data(), app.displayImage), 1);
  EXPECT_EQ(Displays(in), "");
  std::vector<uint8_t> untouched(16, 0x77);
  EXPECT_EQ(ReadImagePixels(0, untouched.data()), 0);
  EXPECT_EQ(WriteImagePixels(untouched.data(), 0), 0);
  EXPECT_EQ(untouched, std::vector<uint8_t>(16, 0x77));
  // Memory contexts made to fail: one at start-up leaves each transfer to make its own, and one
  // that a transfer makes for itself fails that transfer only.
  ContextWatch contexts("gdi32.dll", "CreateCompatibleDC");
  ContextWatch::failures = 1;
  PixelTransferInit();
  EXPECT_EQ(ReadImagePixels(app.displayImage, out.data()), 1);
  EXPECT_EQ(GetObjectType(ContextWatch::results.back()), 0u) << "the transfer kept its context";
  ContextWatch::failures = 1;
  EXPECT_EQ(WriteImagePixels(in.data(), app.displayImage), 0);
  EXPECT_EQ(ReadImagePixels(app.displayImage, out.data()), 1);
  EXPECT_EQ(memcmp(&in[0], &out[0], 3), 0);
  // A frame whose write-back fails is no frame drawn: the next one is drawn in full. (Only a
  // display image whose pixels a frame cannot reach, such as a display-format one, is written
  // back.)
  int32_t own = app.displayImage;
  app.displayImage = ImageCreate(-1, LensWidth, LensHeight);
  RenderFrame(650, 420);  // which makes the capture surface
  LensTablePrepare();
  ContextWatch::failures = 1;
  RenderFrame(650, 420);
  uint32_t drawn = frameCounts.drawn;
  RenderFrame(650, 420);
  EXPECT_EQ(frameCounts.drawn, drawn + 1);
  ImageFree(app.displayImage);
  app.displayImage = own;
}

TEST_F(App, BusyRendererDropsTheFrame) {
  MarkDisplayImage();
  HANDLE shown = reinterpret_cast<HANDLE>(SendMessageA(GadgetGetHandle(app.imageGadget), STM_GETIMAGE, 0, 0));
  GadgetSetState(app.imageGadget, 0);
  app.renderBusy = 1;
  EXPECT_EQ(RenderFrame(113, 139), 0);
  app.renderBusy = 0;
  EXPECT_EQ(UnmarkedPixels(), 0);
  EXPECT_EQ(SendMessageA(GadgetGetHandle(app.imageGadget), STM_GETIMAGE, 0, 0), 0);  // not handed over
  EXPECT_NE(shown, nullptr);
}

TEST_F(App, MoveCallbackRendersAtTheAnnouncedPlaceAndLetsTheSystemGoOn) {
  FlatLens(255);  // the capture unmoved and untinted but for 255 / 256
  MarkDisplayImage();
  HWND window = WindowGetHandle(app.mainWindow);
  EXPECT_EQ(MoveCallback(window, WM_MOVE, 0, 0), ProcessDefaultEvents);
  EXPECT_EQ(UnmarkedPixels(), 0) << "only WM_MOVING renders";
  RECT next{300, 400, 830, 650};
  EXPECT_EQ(MoveCallback(window, WM_MOVING, 0, reinterpret_cast<LPARAM>(&next)), ProcessDefaultEvents);
  EXPECT_EQ(std::make_pair(next.left, next.top), std::make_pair(300L, 400L));  // not changed
  EXPECT_NE(DisplayedPixels()[0], 0x42) << "a frame was rendered";
}

// Any process may send WM_MOVING. Sent from another thread of this process, as a sender outside
// reaches the window, one without a rectangle renders nothing and faults nowhere, and the next
// one with a rectangle renders as usual.
TEST_F(App, MovingWithoutARectangleIsIgnored) {
  HWND window = WindowGetHandle(app.mainWindow);
  auto sendMoving = [&](RECT* rect) {
    return RunOnThread([&] {
      SendMessageTimeoutA(window, WM_MOVING, 0, reinterpret_cast<LPARAM>(rect), SMTO_NORMAL, 5000,
                          nullptr);
    });
  };
  PVOID handler = AddVectoredExceptionHandler(1, CountAccessViolation);
  ASSERT_NE(handler, nullptr);
  MarkDisplayImage();
  EXPECT_TRUE(sendMoving(nullptr));
  EXPECT_EQ(accessViolations, 0);
  EXPECT_EQ(UnmarkedPixels(), 0) << "a WM_MOVING without a rectangle rendered a frame";
  // A rectangle whose last byte lies in a page that cannot be read names no place either.
  auto* pages = static_cast<uint8_t*>(VirtualAlloc(nullptr, 8192, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(VirtualAlloc(pages, 4096, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_TRUE(sendMoving(reinterpret_cast<RECT*>(pages + 4096 - sizeof(RECT) + 1)));
  EXPECT_EQ(UnmarkedPixels(), 0) << "a WM_MOVING with a rectangle cut short rendered a frame";
  VirtualFree(pages, 0, MEM_RELEASE);
  RECT next{300, 400, 830, 650};
  EXPECT_TRUE(sendMoving(&next));
  EXPECT_EQ(accessViolations, 0);
  EXPECT_GT(UnmarkedPixels(), 0) << "a WM_MOVING with a rectangle rendered no frame";
  RemoveVectoredExceptionHandler(handler);
}

// Start-up whose MemoryAlloc cannot supply the two 400,000-byte buffers (its heap is swapped
// for one that cannot grow). Building the table, from pictures that load, pictures of another
// size and missing ones, and frames from the loop and from a move all leave the view as it was
// created (black); nothing reads or writes through the missing buffers.
TEST_F(App, WithoutPixelBuffersTheViewStaysAsCreated) {
  HANDLE fixedHeap = HeapCreate(0, 0x10000, 0x10000);
  ASSERT_NE(fixedHeap, nullptr);
  HANDLE memoryHeap = MemoryHeap;
  MemoryHeap = fixedHeap;
  AllocateLensBuffers();
  MemoryHeap = memoryHeap;
  ASSERT_EQ(captureBuffer, nullptr);
  ASSERT_EQ(outputBuffer, nullptr);
  ASSERT_NE(lensTable.data, nullptr);
  EXPECT_EQ(ReadImagePixels(app.displayImage, nullptr), 0);
  EXPECT_EQ(WriteImagePixels(nullptr, app.displayImage), 0);

  TempFolder folder;
  std::string bump = folder.File("bump.png"), colour = folder.File("colour.png");
  ASSERT_TRUE(WritePng(bump, Pattern(500, 200)));
  ASSERT_TRUE(WritePng(colour, Pattern(250, 100)));
  EXPECT_EQ(BuildLensTable(bump.c_str(), colour.c_str()), 0);
  EXPECT_EQ(BuildLensTable("no-such-bump.png", "no-such-colour.png"), 0);

  MarkDisplayImage();
  RECT gadget;
  ASSERT_TRUE(GetWindowRect(GadgetGetHandle(app.imageGadget), &gadget));
  EXPECT_EQ(RenderFrame(gadget.left, gadget.top), 0);
  RECT next{300, 400, 830, 650};
  MoveCallback(WindowGetHandle(app.mainWindow), WM_MOVING, 0, reinterpret_cast<LPARAM>(&next));
  EXPECT_EQ(UnmarkedPixels(), 0) << "a frame was rendered without buffers";
  EXPECT_EQ(app.renderBusy, 0);
  HeapDestroy(fixedHeap);
}

// The system's GetSystemMetrics; a desk whose screens begin 64 pixels left of and above the main
// one (another monitor there), as the screen copy reads it.
int(WINAPI* realMetrics)(int);
int WINAPI DeskBeyondTheTopLeft(int index) {
  bool origin = index == SM_XVIRTUALSCREEN || index == SM_YVIRTUALSCREEN;
  bool size = index == SM_CXVIRTUALSCREEN || index == SM_CYVIRTUALSCREEN;
  return realMetrics(index) - (origin ? 64 : 0) + (size ? 64 : 0);
}

// The copy of the gadget's place shows what lay beneath the window it names, never the window's
// own picture; under Wine a copy that names no window shows the window itself. The screen copy
// was made on a desk that begins beyond the main screen's top-left corner, before the picture.
TEST_F(App, ScreenCaptureShowsWhatLiesBeneathTheWindowItNames) {
  ScreenCaptureEnd();
  realMetrics = reinterpret_cast<int(WINAPI*)(int)>(ReplaceImport(
      "user32.dll", "GetSystemMetrics", reinterpret_cast<void*>(DeskBeyondTheTopLeft)));
  ScreenCaptureInit();
  ReplaceImport("user32.dll", "GetSystemMetrics", reinterpret_cast<void*>(realMetrics));
  MarkDisplayImage();
  GadgetSetState(app.imageGadget, ImageGetHandle(app.displayImage));
  Flush();
  RECT gadget;
  ASSERT_TRUE(GetWindowRect(GadgetGetHandle(app.imageGadget), &gadget));
  auto markedPixelsCopied = [&](HWND own) {
    return MarkedPixels(CaptureAt(gadget.left, gadget.top, own));
  };
  EXPECT_EQ(markedPixelsCopied(WindowGetHandle(app.mainWindow)), 0);
  if (IsWine()) {
    EXPECT_EQ(markedPixelsCopied(nullptr), LensPixels);
  }
  // A screen copy whose bitmap could not be selected is not used: copies come from the screen.
  ScreenCaptureEnd();
  ImportWatch<HGDIOBJ, HDC, HGDIOBJ> selections("gdi32.dll", "SelectObject");
  selections.failures = 1;
  ScreenCaptureInit();
  EXPECT_EQ(markedPixelsCopied(WindowGetHandle(app.mainWindow)), IsWine() ? LensPixels : 0);
  // The program's own copy goes into the display image, which then holds no frame: the next
  // one at the same place is drawn, not skipped.
  RenderFrame(gadget.left, gadget.top);
  uint32_t drawn = frameCounts.drawn;
  EXPECT_EQ(CaptureScreen(gadget.left, gadget.top, LensWidth, LensHeight), 0);
  EXPECT_EQ(Displays(CaptureAt(gadget.left, gadget.top)), "");
  RenderFrame(gadget.left, gadget.top);
  EXPECT_EQ(frameCounts.drawn, drawn + 1);
}

// A frame whose capture and lens are the last drawn frame's is skipped, and the display image
// keeps the drawn picture, never the raw capture; another capture or a new lens draws in full.
// A place outside the window is read from the screen at every frame, so an unchanged one is
// found by comparing the copy; the window's own place is taken from the screen copy alone (under
// Wine, the cache), and a still one is found unchanged before anything is copied.
TEST_F(App, AFrameThatWouldNotChangeIsNotDrawnAgain) {
  BackdropWindow backdrop("Render test backdrop", PaintScene);  // the screen around the window
  ASSERT_NE(backdrop.window(), nullptr);
  // NOTE: on Xvfb without a window manager the backdrop, shown last, covers the window on the
  // screen whatever its place in the window order; the window is raised above it again.
  SetWindowPos(WindowGetHandle(app.mainWindow), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  Flush();
  FlatLens(255);
  RECT gadget;
  ASSERT_TRUE(GetWindowRect(GadgetGetHandle(app.imageGadget), &gadget));
  const POINT outside{650, 420}, beneath{gadget.left, gadget.top};
  uint32_t drawn = frameCounts.drawn, skipped = frameCounts.skipped;
  // A frame at (x, y), which must be drawn in full (1) or skipped (0).
  auto render = [&](int32_t x, int32_t y, uint32_t isDrawn, const std::string& step) {
    RenderFrame(x, y);
    drawn += isDrawn;
    skipped += 1 - isDrawn;
    EXPECT_EQ(std::make_pair(frameCounts.drawn, frameCounts.skipped), std::make_pair(drawn, skipped))
        << step;
  };

  render(outside.x, outside.y, 1, "a first frame is drawn");
  std::vector<uint8_t> seen = CaptureAt(outside.x, outside.y);
  std::vector<uint8_t> view = FlatView(seen, 255);
  EXPECT_EQ(Displays(view), "");
  ASSERT_NE(ComparePixels(view, seen, LensWidth, LensHeight, 3), "") << "a lens that changes nothing";
  render(outside.x, outside.y, 0, "the same screen again");
  EXPECT_EQ(Displays(view), "");

  render(outside.x + 1, outside.y, 1, "the screen a pixel over");
  std::vector<uint8_t> shifted = FlatView(CaptureAt(outside.x + 1, outside.y), 255);
  ASSERT_NE(shifted, view) << "the backdrop must differ a pixel over";
  EXPECT_EQ(Displays(shifted), "");

  FlatLens(200);
  render(outside.x + 1, outside.y, 1, "a new lens");
  view = FlatView(CaptureAt(outside.x + 1, outside.y), 200);
  ASSERT_NE(view, shifted) << "the new lens must show otherwise";
  EXPECT_EQ(Displays(view), "");

  render(beneath.x, beneath.y, 1, "the window's own place");
  std::vector<uint8_t> still = DisplayedPixels();
  for (int i = 0; i < 3; ++i) render(beneath.x, beneath.y, 0, "the window's own place, standing still");
  EXPECT_EQ(ComparePixels(FlatView(CaptureAt(beneath.x, beneath.y), 200), still, LensWidth,
                          LensHeight, 3), "");
  // What may have painted over the view, or moved it inside the window, draws the next frame
  // in full; a plain move does not.
  WINDOWPOS framed{nullptr, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED}, moved{};
  const std::vector<std::tuple<UINT, const void*, uint32_t>> messages = {
      {WM_ERASEBKGND, nullptr, 1}, {WM_PAINT, nullptr, 1}, {WM_NCPAINT, nullptr, 1},
      {WM_SYSCOLORCHANGE, nullptr, 1}, {WM_THEMECHANGED, nullptr, 1}, {WM_SETTINGCHANGE, nullptr, 1},
      {WM_DISPLAYCHANGE, nullptr, 1}, {WM_STYLECHANGED, nullptr, 1}, {WM_MOVE, nullptr, 0},
      {WM_WINDOWPOSCHANGED, &framed, 1}, {WM_WINDOWPOSCHANGED, &moved, 0}};
  for (auto [message, lParam, again] : messages) {
    MoveCallback(WindowGetHandle(app.mainWindow), message, 0, reinterpret_cast<LPARAM>(lParam));
    render(beneath.x, beneath.y, again, "after message " + std::to_string(message));
  }
  // Another picture put into the control (any program can) is replaced by the lens.
  HBITMAP foreign = CreateBitmap(LensWidth, LensHeight, 1, 32, nullptr);
  GadgetSetState(app.imageGadget, static_cast<int32_t>(reinterpret_cast<uintptr_t>(foreign)));
  render(beneath.x, beneath.y, 1, "a foreign picture in the control");
  EXPECT_EQ(GadgetGetState(app.imageGadget), ImageGetHandle(app.displayImage));
  DeleteObject(foreign);
  render(outside.x + 1, outside.y, 1, "back outside");
  EXPECT_EQ(Displays(view), "");

  // A rectangle in a corner of the screen is read in place (under Wine); one that leaves the
  // screen is copied, and shows what lies on it and black beyond it. Those past a side edge come
  // after one that brought the screen's next row into the copy.
  const LONG right = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const LONG bottom = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  const std::tuple<LONG, LONG, bool> places[] = {
      {0, 0, true}, {right - LensWidth, bottom - LensHeight, true}, {-100, 301, false},
      {right - 400, 300, false}, {-100, 302, false}, {300, -50, false}, {300, bottom - 100, false}};
  for (auto [x, y, inPlace] : places) {
    int32_t stride = 0;
    if (IsWine()) {
      EXPECT_EQ(ScreenCapturePixels(x, y, LensWidth, LensHeight, &stride) != nullptr, inPlace);
    }
    render(x, y, 1, "a rectangle in a corner of the screen or leaving it");
    EXPECT_EQ(Displays(FlatView(CaptureAt(x, y), 200)), "") << "at " << x << ", " << y;
  }

  // A new table prepared while the screen stays as it was is drawn. So is a change of the screen
  // in the lower part of the rectangle, read again through the screen cache and, once that is
  // switched off as on Windows (whose copies have no version), straight from the screen.
  for (int32_t x = 0; x < LensWidth; ++x)
    for (int32_t y = 0; y < LensHeight; ++y)
      LensCell(x, y)->blueFactor = LensCell(x, y)->greenFactor = LensCell(x, y)->redFactor = 0.5f;
  LensTablePrepare();
  render(outside.x + 1, outside.y, 1, "a new table in place");
  EXPECT_EQ(Displays(FlatView(CaptureAt(outside.x + 1, outside.y), 128)), "");
  for (int change = 0; change < 2; ++change) {
    if (change == 1) ScreenCaptureEnd();
    render(outside.x + 1, outside.y, 0, "nothing changed yet");
    HDC dc = GetDC(backdrop.window());
    // The rectangle's bottom row alone changes.
    RECT lower = {outside.x + 100 + change * 100, outside.y + 199, outside.x + 180 + change * 100,
                  outside.y + 200};
    FillRect(dc, &lower, static_cast<HBRUSH>(GetStockObject(change ? BLACK_BRUSH : WHITE_BRUSH)));
    ReleaseDC(backdrop.window(), dc);
    Flush();
    // The program's own copy brings the screen copy up to date first.
    CaptureScreen(outside.x + 1, outside.y, LensWidth, LensHeight);
    RECT screen = {outside.x + 1, outside.y, outside.x + 501, outside.y + 200};
    EXPECT_EQ(Displays(ReadScreen(screen).bytes), "");
    render(outside.x + 1, outside.y, 1,
           change ? "a change read from the screen" : "a change read into the cache");
    std::vector<uint8_t> changed = FlatView(CaptureAt(outside.x + 1, outside.y), 128);
    EXPECT_EQ(Displays(changed), "");
    ASSERT_NE(ComparePixels(changed, FlatView(CaptureAt(outside.x + 1, outside.y + 60), 128),
                            LensWidth, LensHeight, 3), "") << "the screen did not change";
  }

  // A repaint for any other reason shows the lens: what the control paints, read where nothing
  // can cover it (on the screen the backdrop, shown last on a display without a window manager,
  // may still lie over the window when the screen is read back).
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP canvas = CreateBitmap(LensWidth, LensHeight, 1, 32, nullptr);
  SelectObject(dc, canvas);
  SendMessageA(GadgetGetHandle(app.imageGadget), WM_PRINT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  DeleteDC(dc);  // which lets the canvas go
  EXPECT_EQ(Displays(ReadBitmap32(canvas, LensWidth, LensHeight)), "");
  DeleteObject(canvas);
}

TEST_F(App, BuildLensTableReadsBothPicturesAndScalesOtherSizes) {
  TempFolder folder;
  std::string bump = folder.File("bump.png"), colour = folder.File("colour.png");
  ASSERT_TRUE(WritePng(bump, Pattern(500, 200)));
  ASSERT_TRUE(WritePng(colour, Pattern(500, 100)));
  EXPECT_EQ(BuildLensTable(bump.c_str(), colour.c_str()), 0);
  // Bump blue x, green y: displacement of (x mod 256 − 128) / 20 and (y − 128) / 20.
  // Blue 44 and green 150: (44 − 128) × 0.05 = −4.2 → −4, and 1.1 → 1. The 500 × 100 colour map,
  // as wide as the view but not as high, is scaled: view pixel (x, y) takes its pixel (x, y / 2).
  const LensEntry* cell = LensCell(300, 150);
  EXPECT_EQ(std::make_tuple(cell->sourceX, cell->sourceY, cell->blueFactor, cell->greenFactor,
                            cell->redFactor),
            std::make_tuple(296.0f, 151.0f, 44 / 256.0f, 75 / 256.0f, (44 ^ 75) / 256.0f));
  EXPECT_EQ(LensCell(499, 199)->greenFactor, 99 / 256.0f);
  // Both pictures were freed again, and their records with them.
  EXPECT_EQ(ImageGetWidth(app.displayImage), 500);
  int blocks = RuntimeHeapBlocks();  // the scaled picture's whole buffer went too
  EXPECT_EQ(BuildLensTable(bump.c_str(), colour.c_str()), 0);
  EXPECT_EQ(RuntimeHeapBlocks(), blocks);
}

TEST_F(App, MissingPicturesLeaveTheirBuffersZero) {
  memset(captureBuffer, 0, LensBufferBytes);
  memset(outputBuffer, 0, LensBufferBytes);
  EXPECT_EQ(BuildLensTable("no-such-bump.png", "no-such-colour.png"), 0);
  // dx = dy = round(−128 × 0.05) = −6, clamped at the edge; no colour passes.
  const LensEntry* cell = LensCell(100, 50);
  EXPECT_EQ(std::make_tuple(cell->sourceX, cell->sourceY, cell->redFactor, LensCell(3, 2)->sourceX),
            std::make_tuple(94.0f, 44.0f, 0.0f, 0.0f));
  // A folder named on the command line is made current, and nothing of the line's parsing kept.
  EXPECT_TRUE(ChooseLensFolder(L"Lunetrix.exe"));
  int blocks = HeapBusyBlocks(GetProcessHeap());
  EXPECT_TRUE(ChooseLensFolder(L"Lunetrix.exe \"C:\\windows\\\""));  // as "C:\windows\"
  EXPECT_EQ(HeapBusyBlocks(GetProcessHeap()), blocks);
  char current[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, current);
  EXPECT_STREQ(current, "C:\\windows");
}

}  // namespace
