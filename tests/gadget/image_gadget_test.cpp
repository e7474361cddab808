// The image gadget: showing and sizing to pictures, clearing, and mouse actions as events.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "gadget.h"
#include "gadget_kind.h"
#include "image.h"
#include "pixels.h"
#include "test_support.h"
#include "window.h"
#include "window_test_support.h"

namespace {

// The colour of pixel (x, y) of the test pictures: no two neighbours alike.
COLORREF PatternColour(int x, int y) { return RGB(x * 5 + y, y * 3, (x ^ y) * 7); }

// Sets the pattern on a bitmap of width × height, as its format keeps it.
void PaintPattern(HBITMAP bitmap, int32_t width, int32_t height) {
  std::vector<uint32_t> pixels(size_t(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      COLORREF c = PatternColour(x, y);
      pixels[size_t(y) * width + x] = GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
    }
  BITMAPINFO info = TopDown32(width, height);
  HDC dc = GetDC(nullptr);
  SetDIBits(dc, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
}

// A display-format image of width × height painted with the pattern; its number.
int32_t PatternImage(int32_t width, int32_t height) {
  int32_t image = ImageCreate(-1, width, height);
  PaintPattern(reinterpret_cast<HBITMAP>(ImageGetHandle(image)), width, height);
  return image;
}

// How many pixels of the control's screen area show the pattern at their own place; or (painted)
// of what the control has painted, which under Wine reaches the screen once its thread waits.
int PatternPixelsShown(HWND control, bool painted = false) {
  RECT r;
  GetWindowRect(control, &r);
  Picture shown = painted ? ReadScreen({0, 0, r.right - r.left, r.bottom - r.top}, control) : ReadScreen(r);
  int matches = 0;
  for (int y = 0; y < shown.height; ++y)
    for (int x = 0; x < shown.width; ++x) {
      COLORREF c = PatternColour(x, y);
      const uint8_t* p = shown.At(x, y);
      matches += p[0] == GetBValue(c) && p[1] == GetGValue(c) && p[2] == GetRValue(c);
    }
  return matches;
}

// A control's size on the screen, and where its top left corner lies in a window's client area;
// as pairs, to compare whole.
std::pair<LONG, LONG> ControlSize(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  return {r.right - r.left, r.bottom - r.top};
}
std::pair<LONG, LONG> Origin(HWND control, HWND window) {
  POINT origin{0, 0};
  MapWindowPoints(control, window, &origin, 1);
  return {origin.x, origin.y};
}

class ImageGadget : public testing::Test {
 protected:
  int32_t window = 0;
  HWND native = nullptr;

  void SetUp() override {
    window = WindowOpen(-1, 100, 100, 520, 220, "Gadgets", 0x00C80000);
    ASSERT_NE(window, 0);
    native = WindowGetHandle(window);
    ASSERT_EQ(GadgetListSelect(native), native);
    Flush();
  }

  std::vector<std::string> gadgetEvents;  // "type@gadget" of every GadgetAction, in order

  // Records every gadget event that EventWait returns, while input is delivered too.
  void RecordGadgetEvents() {
    recorder.onEvent = [this](int32_t code) {
      if (code == GadgetAction)
        gadgetEvents.push_back(std::to_string(EventGetType()) + "@" + std::to_string(EventGetItem()));
    };
  }

  // The gadget events recorded since the last call, once the queue has been quiet for a moment.
  std::vector<std::string> GadgetEvents() {
    Flush(300);
    std::vector<std::string> events;
    events.swap(gadgetEvents);
    return events;
  }

  // The screen point at (x, y) of a control's client area, for xdotool.
  static std::string At(HWND control, int x, int y) {
    POINT p{x, y};
    ClientToScreen(control, &p);
    return XdotoolPoint(p.x, p.y);
  }
};

TEST_F(ImageGadget, ShowsItsPictureAtTenTenAndTakesItsSize) {
  int32_t image = PatternImage(500, 200);
  int32_t gadget = ImageGadgetCreate(-1, 10, 10, 500, 200,
                                     reinterpret_cast<HANDLE>(ImageGetHandle(image)));
  ASSERT_NE(gadget, 0);
  HWND control = GadgetGetHandle(gadget);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(ClassOf(control), "Static");
  EXPECT_EQ(GetWindowLongA(control, GWL_ID), gadget);
  EXPECT_EQ(Origin(control, native), std::make_pair(10L, 10L));
  EXPECT_EQ(ControlSize(control), std::make_pair(500L, 200L));
  Flush();
  EXPECT_EQ(PatternPixelsShown(control), 500 * 200);  // the whole picture, pixel for pixel
  EXPECT_EQ(SendMessageA(control, STM_GETIMAGE, 0, 0), ImageGetHandle(image));
}

TEST_F(ImageGadget, SizesItselfToThePictureWhateverWasAsked) {
  int32_t image = PatternImage(300, 100);
  HANDLE bitmap = reinterpret_cast<HANDLE>(ImageGetHandle(image));
  int32_t plain = ImageGadgetCreate(-1, 10, 10, 500, 200, bitmap);
  int32_t edged = ImageGadgetCreate(-1, 10, 110, 50, 20, bitmap, WS_EX_CLIENTEDGE);
  ASSERT_NE(plain, 0);
  ASSERT_NE(edged, 0);
  EXPECT_EQ(ControlSize(GadgetGetHandle(plain)), std::make_pair(300L, 100L));
  EXPECT_EQ(ControlSize(GadgetGetHandle(edged)), std::make_pair(304L, 104L));
  EXPECT_FALSE(GetUpdateRect(GadgetGetHandle(edged), nullptr, FALSE)) << "grown and painted whole";
  // A new picture that differs in one dimension only: the control follows it in that one.
  for (SIZE picture : {SIZE{300, 60}, SIZE{120, 60}}) {
    int32_t other = PatternImage(picture.cx, picture.cy);
    GadgetSetState(plain, ImageGetHandle(other));
    GadgetSetState(edged, ImageGetHandle(other));
    EXPECT_EQ(ControlSize(GadgetGetHandle(plain)), std::make_pair(picture.cx, picture.cy));
    EXPECT_EQ(ControlSize(GadgetGetHandle(edged)), std::make_pair(picture.cx + 4, picture.cy + 4));
    EXPECT_EQ(Origin(GadgetGetHandle(plain), native), std::make_pair(10L, 10L)) << "which stays";
  }
}

// The lens sets its picture while the window is being dragged, when no message is delivered
// before the screen is read again: setting the state has painted when it returns. Nothing here
// flushes between setting and looking at what the control has painted.
TEST_F(ImageGadget, SettingStateHasRepaintedTheControlWhenItReturns) {
  ASSERT_TRUE(BringToFront(native));
  int32_t black = ImageCreate(-1, 200, 100), pattern = PatternImage(200, 100);
  int32_t gadget = ImageGadgetCreate(-1, 10, 10, 200, 100,
                                     reinterpret_cast<HANDLE>(ImageGetHandle(black)));
  HWND control = GadgetGetHandle(gadget);
  Flush();
  ASSERT_LT(PatternPixelsShown(control), 200 * 100 / 50);
  GadgetSetState(gadget, ImageGetHandle(pattern));
  EXPECT_EQ(PatternPixelsShown(control, true), 200 * 100) << "another picture of the same size";
  // The same picture again after its pixels changed, as every frame of the lens sets it.
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(ImageGetHandle(pattern)));
  PatBlt(dc, 0, 0, 200, 100, BLACKNESS);
  SelectObject(dc, previous);
  DeleteDC(dc);
  int room = GdiRoom();
  GadgetSetState(gadget, ImageGetHandle(pattern));
  EXPECT_LT(PatternPixelsShown(control, true), 200 * 100 / 50) << "the same picture, repainted";
  EXPECT_EQ(GdiRoom(), room) << "a context painted on was kept";
  {  // Without the control's context it paints through an invalidation, as much at once.
    int32_t again = PatternImage(200, 100);
    ImportWatch<HDC, HWND> contexts("user32.dll", "GetDC");
    contexts.failures = 1;
    GadgetSetState(gadget, ImageGetHandle(again));
    EXPECT_EQ(contexts.results, std::vector<HDC>{nullptr});
  }
  EXPECT_EQ(PatternPixelsShown(control, true), 200 * 100) << "no context to paint on";
  // A part already waiting to be painted, erased first, shows the picture set once it is painted;
  // the set-state paints on the control's context and leaves that part waiting.
  RECT part = {50, 20, 150, 80};
  InvalidateRect(control, &part, TRUE);
  GadgetSetState(gadget, ImageGetHandle(PatternImage(200, 100)));
  EXPECT_TRUE(GetUpdateRect(control, nullptr, FALSE)) << "painted through an invalidation";
  Flush();
  EXPECT_EQ(PatternPixelsShown(control), 200 * 100) << "a part that was waiting";
  // Enabling or disabling it paints what waits at once.
  InvalidateRect(control, nullptr, TRUE);
  EXPECT_EQ(SendMessageA(control, WM_ENABLE, FALSE, 0), 0);
  EXPECT_FALSE(GetUpdateRect(control, nullptr, FALSE));
}

TEST_F(ImageGadget, SettingStateReturnsTheHandleAndZeroClearsThePicture) {
  int32_t image = PatternImage(200, 100), other = PatternImage(120, 60);
  int32_t gadget = ImageGadgetCreate(-1, 10, 10, 500, 200,
                                     reinterpret_cast<HANDLE>(ImageGetHandle(image)));
  HWND control = GadgetGetHandle(gadget);
  EXPECT_EQ(GadgetSetState(gadget, ImageGetHandle(other)), ImageGetHandle(other));
  EXPECT_EQ(SendMessageA(control, STM_GETIMAGE, 0, 0), ImageGetHandle(other));
  EXPECT_EQ(ControlSize(control), std::make_pair(120L, 60L));
  Flush();
  EXPECT_EQ(PatternPixelsShown(control), 120 * 60);

  EXPECT_EQ(GadgetSetState(gadget, 0), 0);
  EXPECT_EQ(SendMessageA(control, STM_GETIMAGE, 0, 0), 0);
  EXPECT_EQ(ControlSize(control), std::make_pair(120L, 60L)) << "the size stays as it was";
  Flush();
  EXPECT_LT(PatternPixelsShown(control), 120 * 60 / 50);  // the window shows through again
  // Neither image was deleted by the gadget.
  BITMAP info;
  EXPECT_NE(GetObjectA(reinterpret_cast<HGDIOBJ>(ImageGetHandle(image)), sizeof info, &info), 0);
  EXPECT_EQ(GadgetSetState(12345, ImageGetHandle(image)), 0);  // no such gadget
}

// A bitmap of bitCount bits per pixel (a 16-bit one as 5-5-5, smaller ones with a palette of
// varied colours) holding the pattern as that format keeps it.
HBITMAP PatternBitmap(int bitCount, int width, int height) {
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
  } info = {};
  info.header = {sizeof info.header, width, -height, 1, static_cast<WORD>(bitCount), BI_RGB, 0, 0,
                 0, 0, 0};
  for (int i = 0; i < 256; ++i)
    info.colours[i] = {static_cast<BYTE>(i * 37), static_cast<BYTE>(i * 11), static_cast<BYTE>(i * 5), 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  if (bitmap != nullptr) PaintPattern(bitmap, width, height);
  return bitmap;
}

// A colour bitmap of any depth shows as a plain copy of it onto the screen shows it.
TEST_F(ImageGadget, ShowsBitmapsOfEveryColourDepthAsACopyShows) {
  ASSERT_TRUE(BringToFront(native));
  const int width = 120, height = 50;
  int32_t gadget = ImageGadgetCreate(-1, 10, 10, width, height, nullptr);
  ASSERT_NE(gadget, 0);
  HWND control = GadgetGetHandle(gadget);
  ImportWatch<BOOL, HDC, HBRUSH, DRAWSTATEPROC, LPARAM, WPARAM, int, int, int, int, UINT> drawn(
      "user32.dll", "DrawStateA");  // which only a monochrome bitmap needs
  for (int bitCount : {4, 8, 16, 24, 32}) {
    SCOPED_TRACE(std::to_string(bitCount) + " bits per pixel");
    HBITMAP bitmap = PatternBitmap(bitCount, width, height);
    ASSERT_NE(bitmap, nullptr);
    // What a copy of the bitmap onto a 32-bit surface gives.
    HDC source = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(source, bitmap);
    BITMAPINFO info = TopDown32(width, height);
    void* bits = nullptr;
    HBITMAP surface = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC target = CreateCompatibleDC(nullptr);
    HGDIOBJ targetPrevious = SelectObject(target, surface);
    BitBlt(target, 0, 0, width, height, source, 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<uint8_t> expected(static_cast<uint8_t*>(bits),
                                  static_cast<uint8_t*>(bits) + size_t(width) * height * 4);
    SelectObject(target, targetPrevious);
    DeleteDC(target);
    DeleteObject(surface);
    SelectObject(source, previous);
    DeleteDC(source);

    GadgetSetState(gadget, static_cast<int32_t>(reinterpret_cast<intptr_t>(bitmap)));
    Picture shown = ReadScreen({0, 0, width, height}, control);  // what the control painted
    ASSERT_EQ(shown.width, width);
    ASSERT_EQ(shown.height, height);
    EXPECT_EQ(ComparePixels(expected, shown.bytes, width, height, 3), "");
    GadgetSetState(gadget, 0);
    DeleteObject(bitmap);
  }
  EXPECT_TRUE(drawn.results.empty()) << "a colour bitmap was drawn, not copied";
}

TEST_F(ImageGadget, AnIconIsDrawnAsAnIconAndSizesTheControl) {
  std::vector<uint8_t> andMask(32 * 32 / 8, 0x00), colour(32 * 32 * 4);
  for (int i = 0; i < 32 * 32; ++i) {
    COLORREF c = PatternColour(i % 32, i / 32);
    colour[i * 4] = GetBValue(c);
    colour[i * 4 + 1] = GetGValue(c);
    colour[i * 4 + 2] = GetRValue(c);
  }
  HICON icon = CreateIcon(GetModuleHandleA(nullptr), 32, 32, 1, 32, andMask.data(), colour.data());
  ASSERT_NE(icon, nullptr);
  int32_t gadget = ImageGadgetCreate(-1, 10, 10, 500, 200, icon);
  HWND control = GadgetGetHandle(gadget);
  EXPECT_EQ(ControlSize(control), std::make_pair(32L, 32L));
  Flush();
  EXPECT_EQ(PatternPixelsShown(control), 32 * 32);
  EXPECT_EQ(SendMessageA(control, STM_GETICON, 0, 0), reinterpret_cast<LRESULT>(icon));
  // A monochrome icon has no colour bitmap: its size is the upper half of its mask's.
  std::vector<uint8_t> monoAnd(4 * 16, 0x00), monoXor(4 * 16, 0xF0);
  HICON mono = CreateIcon(GetModuleHandleA(nullptr), 24, 16, 1, 1, monoAnd.data(), monoXor.data());
  ASSERT_NE(mono, nullptr);
  EXPECT_EQ(GadgetSetState(gadget, static_cast<int32_t>(reinterpret_cast<intptr_t>(mono))),
            static_cast<int32_t>(reinterpret_cast<intptr_t>(mono)));
  EXPECT_EQ(ControlSize(control), std::make_pair(24L, 16L));
  // It shows the icon, not the colour icon before it: with an empty AND mask each row is four
  // white pixels, then four black ones, over and over.
  Flush();
  RECT shownRect;
  GetWindowRect(control, &shownRect);
  Picture shown = ReadScreen(shownRect), expected(shown.width, shown.height);
  for (int y = 0; y < expected.height; ++y)
    for (int x = 0; x < expected.width; ++x) memset(expected.At(x, y), x % 8 < 4 ? 0xFF : 0, 3);
  EXPECT_EQ(ComparePixels(expected, shown), "");
  // What it repaints of the window under it is its own place alone: a picture beside it stays.
  HWND beside = GadgetGetHandle(ImageGadgetCreate(
      -1, 60, 10, 200, 100, reinterpret_cast<HANDLE>(ImageGetHandle(PatternImage(200, 100)))));
  Flush();
  GadgetSetState(gadget, static_cast<int32_t>(reinterpret_cast<intptr_t>(icon)));
  EXPECT_EQ(PatternPixelsShown(beside, true), 200 * 100);
  DestroyWindow(control);
  DestroyIcon(icon);
  DestroyIcon(mono);
}

// Whether another thread could take the gadget table's lock while the watched control was being
// destroyed; the procedure the watch replaced.
bool tableFreeWhileDestroyed = false;
WNDPROC watchedProc = nullptr;

LRESULT CALLBACK WatchDestroy(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    RunOnThread([] {
      tableFreeWhileDestroyed = TryEnterCriticalSection(&GadgetTable->lock);
      if (tableFreeWhileDestroyed) LeaveCriticalSection(&GadgetTable->lock);
    });
  }
  return CallWindowProcA(watchedProc, control, message, wParam, lParam);
}

// The first control is destroyed outside the table's lock, so its destruction's callbacks never
// hold up other threads' gadgets.
TEST_F(ImageGadget, ReusingANumberDestroysTheFirstControl) {
  int32_t image = PatternImage(50, 50);
  HANDLE bitmap = reinterpret_cast<HANDLE>(ImageGetHandle(image));
  HWND first = reinterpret_cast<HWND>(ImageGadgetCreate(5, 10, 10, 50, 50, bitmap));
  ASSERT_TRUE(IsWindow(first));
  EXPECT_EQ(GadgetGetHandle(5), first);
  watchedProc = reinterpret_cast<WNDPROC>(
      SetWindowLongA(first, GWL_WNDPROC, reinterpret_cast<LONG>(WatchDestroy)));
  HWND second = reinterpret_cast<HWND>(ImageGadgetCreate(5, 100, 10, 50, 50, bitmap));
  ASSERT_TRUE(IsWindow(second));
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(GadgetGetHandle(5), second);
  EXPECT_TRUE(tableFreeWhileDestroyed);
}

// A gadget that cannot be made leaves the one under its number as it was.
TEST_F(ImageGadget, NoParentOrANumberThatCannotBeTakenMakesNoGadget) {
  int32_t image = PatternImage(50, 50);
  HANDLE bitmap = reinterpret_cast<HANDLE>(ImageGetHandle(image));
  EXPECT_EQ(ImageGadgetCreate(-7, 10, 10, 50, 50, bitmap), 0);
  HWND strays = FindWindowExA(native, nullptr, "Static", nullptr);
  EXPECT_EQ(strays, nullptr) << "a control without a number was left behind";
  HWND kept = reinterpret_cast<HWND>(ImageGadgetCreate(6, 10, 10, 50, 50, bitmap));
  // A dynamic gadget's number passed as a table number is one the table cannot take.
  int32_t dynamic = ImageGadgetCreate(-1, 10, 10, 50, 50, bitmap);
  EXPECT_EQ(ImageGadgetCreate(dynamic, 10, 10, 50, 50, bitmap), 0);
  EXPECT_TRUE(IsWindow(GadgetGetHandle(dynamic)));
  GadgetListSelect(nullptr);
  EXPECT_EQ(ImageGadgetCreate(-1, 10, 10, 50, 50, bitmap), 0);
  EXPECT_EQ(ImageGadgetCreate(6, 10, 10, 50, 50, bitmap), 0);
  EXPECT_TRUE(IsWindow(kept));
  EXPECT_EQ(GadgetGetHandle(6), kept);
}

// ---------------------------------------------------------------------------------------------
// Mouse actions, with the real mouse
// ---------------------------------------------------------------------------------------------

using Events = std::vector<std::string>;

class ImageGadgetInput : public ImageGadget {
 protected:
  int32_t gadget = 0;
  HWND control = nullptr;
  std::string id;
  // Gadget events of this gadget (or another's), as GadgetEvents lists them.
  std::string Named(int32_t type, const std::string& of = "") const {
    return std::to_string(type) + "@" + (of.empty() ? id : of);
  }

  void SetUp() override {
    ImageGadget::SetUp();
    ShowWindow(native, SW_SHOW);
    int32_t image = PatternImage(200, 100);
    gadget = ImageGadgetCreate(-1, 10, 10, 200, 100, reinterpret_cast<HANDLE>(ImageGetHandle(image)));
    ASSERT_NE(gadget, 0);
    control = GadgetGetHandle(gadget);
    id = std::to_string(gadget);
    ASSERT_TRUE(BringToFront(native));
    Flush();
    RecordGadgetEvents();
  }
};

TEST_F(ImageGadgetInput, LeftClickAndDoubleClick) {
  ASSERT_TRUE(Xdotool("mousemove " + At(control, 50, 50) + " sleep 0.3 click 1"));
  EXPECT_EQ(GadgetEvents(), Events({Named(ImageGadgetLeftClick)}));
  ASSERT_TRUE(Xdotool("mousemove " + At(control, 60, 50) + " sleep 0.8 click --repeat 2 --delay 80 1"));
  // The second press of a double-click is no click of its own.
  EXPECT_EQ(GadgetEvents(),
            Events({Named(ImageGadgetLeftClick), Named(ImageGadgetLeftDoubleClick)}));
}

TEST_F(ImageGadgetInput, RightClickAndDoubleClick) {
  ASSERT_TRUE(Xdotool("mousemove " + At(control, 50, 50) + " sleep 0.3 click 3"));
  EXPECT_EQ(GadgetEvents(), Events({Named(ImageGadgetRightClick)}));
  ASSERT_TRUE(Xdotool("mousemove " + At(control, 60, 50) + " sleep 0.8 click --repeat 2 --delay 80 3"));
  // The release that ends the double-click gives no further right click.
  EXPECT_EQ(GadgetEvents(),
            Events({Named(ImageGadgetRightClick), Named(ImageGadgetRightDoubleClick)}));
  // It ended the double-click: the next right click is a right click again.
  ASSERT_TRUE(Xdotool("mousemove " + At(control, 90, 30) + " sleep 0.8 click 3"));
  EXPECT_EQ(GadgetEvents(), Events({Named(ImageGadgetRightClick)}));
}

TEST_F(ImageGadgetInput, DragStartsOnlyBeyondTheThresholds) {
  ASSERT_EQ(GetSystemMetrics(SM_CXDRAG), 4);
  // Back and forth within 4 pixels of a press off the diagonal, then release: no drag.
  ASSERT_TRUE(Xdotool("mousemove " + At(control, 60, 30) + " sleep 0.3 mousedown 1 sleep 0.1" +
                      " mousemove " + At(control, 64, 30) + " sleep 0.1 mousemove " +
                      At(control, 56, 26) + " sleep 0.1 mousemove " + At(control, 60, 34) +
                      " sleep 0.1 mouseup 1"));
  std::vector<std::string> events = GadgetEvents();
  EXPECT_EQ(std::count(events.begin(), events.end(), Named(ImageGadgetDragStart)), 0);
  // Five pixels to the right: one drag start, and no more for further moves.
  ASSERT_TRUE(Xdotool("mousemove " + At(control, 100, 50) + " sleep 0.8 mousedown 1 sleep 0.1" +
                      " mousemove " + At(control, 105, 50) + " sleep 0.1 mousemove " +
                      At(control, 130, 60) + " sleep 0.1 mouseup 1"));
  events = GadgetEvents();
  EXPECT_EQ(std::count(events.begin(), events.end(), Named(ImageGadgetDragStart)), 1);
}

// Mouse state belongs to the control and ends with its capture: a left press whose capture
// another window takes starts no drag later, whether the button stays down or is released
// elsewhere; the release that ends a right double-click ends it wherever it lands, and no later
// right click is swallowed, on this control or another.
TEST_F(ImageGadgetInput, MouseStateEndsWithTheCaptureAndWithTheReleaseWhereverItLands) {
  std::string outside = At(native, 400, 150);  // in the window, beside the control
  for (bool releasedElsewhere : {false, true}) {
    SCOPED_TRACE(releasedElsewhere ? "released elsewhere" : "button kept down");
    ASSERT_TRUE(Xdotool("mousemove " + At(control, 50, 50) + " sleep 0.8 mousedown 1 sleep 0.1"));
    ASSERT_EQ(GetCapture(), control);
    SetCapture(native);  // taken away
    if (releasedElsewhere) {
      ASSERT_TRUE(Xdotool("mouseup 1"));
    }
    ReleaseCapture();
    ASSERT_TRUE(Xdotool("mousemove " + At(control, 100, 50) + " sleep 0.1 mousemove " +
                        At(control, 120, 60) + " sleep 0.1" +
                        (releasedElsewhere ? "" : " mouseup 1")));
    EXPECT_EQ(GadgetEvents(), Events({Named(ImageGadgetLeftClick)})) << "a drag started";
    EXPECT_EQ(GadgetFind(gadget)->dragPending, 0);
  }
  int32_t image = PatternImage(50, 50);
  int32_t other = ImageGadgetCreate(-1, 300, 10, 50, 50, reinterpret_cast<HANDLE>(ImageGetHandle(image)));
  ASSERT_NE(other, 0);
  std::string otherId = std::to_string(other);
  ASSERT_TRUE(Xdotool("mousemove " + At(control, 60, 50) + " sleep 0.8 click 3 sleep 0.08" +
                      " mousedown 3 sleep 0.1 mousemove " + outside + " sleep 0.1 mouseup 3"));
  EXPECT_EQ(GadgetEvents(),
            Events({Named(ImageGadgetRightClick), Named(ImageGadgetRightDoubleClick)}));
  EXPECT_EQ(GetCapture(), nullptr) << "the control let the capture go";
  ASSERT_TRUE(Xdotool("mousemove " + At(GadgetGetHandle(other), 20, 20) + " sleep 0.8 click 3" +
                      " mousemove " + At(control, 150, 80) + " sleep 0.8 click 3"));
  EXPECT_EQ(GadgetEvents(),
            Events({Named(ImageGadgetRightClick, otherId), Named(ImageGadgetRightClick)}));
  // Losing the capture ends a pending right double-click: the release after it is a click again.
  ASSERT_TRUE(Xdotool("mousemove " + At(control, 60, 50) + " sleep 0.8 click 3 sleep 0.08" +
                      " mousedown 3 sleep 0.1"));
  SetCapture(native);
  ReleaseCapture();
  ASSERT_TRUE(Xdotool("mouseup 3"));
  EXPECT_EQ(GadgetEvents(),
            Events({Named(ImageGadgetRightClick), Named(ImageGadgetRightDoubleClick),
                    Named(ImageGadgetRightClick)}));
  // A move that finds the left button up ends a pending press: a later move starts no drag.
  SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50));
  SendMessageA(control, WM_MOUSEMOVE, 0, MAKELPARAM(51, 50));
  EXPECT_EQ(GadgetFind(gadget)->dragPending, 0);
  SendMessageA(control, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(90, 50));
  std::vector<std::string> events = GadgetEvents();
  EXPECT_EQ(std::count(events.begin(), events.end(), Named(ImageGadgetDragStart)), 0) << "a drag started";
  EXPECT_NE(GetCapture(), control);
}

}  // namespace
