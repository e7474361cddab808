// Lunetrix end to end: the real program over a known backdrop, read off the real screen.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <tuple>
#include <vector>

#include <png.h>

#include <gtest/gtest.h>

#include "backdrop_window.h"
#include "driver.h"
#include "pixels.h"
#include "platform.h"
#include "test_support.h"

namespace {

// A bump map with real displacements: crossing waves over the whole byte range.
Picture RippledBump(int32_t width = 500, int32_t height = 200) {
  Picture p(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      p.At(x, y)[0] = static_cast<uint8_t>(127.5 + 127.5 * sin(x / 9.0 + y / 23.0));
      p.At(x, y)[1] = static_cast<uint8_t>(127.5 + 127.5 * cos(y / 7.0 - x / 31.0));
      p.At(x, y)[2] = static_cast<uint8_t>(x ^ y);  // plays no part
    }
  return p;
}

// A colour map with real tints: every channel varies, from 0 to 255.
Picture TintedColour(int32_t width = 500, int32_t height = 200) {
  Picture p(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      p.At(x, y)[0] = static_cast<uint8_t>(255 - x * 255 / (width - 1));
      p.At(x, y)[1] = static_cast<uint8_t>(128 + 127 * sin(y / 11.0));
      p.At(x, y)[2] = static_cast<uint8_t>(y * 255 / (height - 1));
    }
  return p;
}

class Lens : public testing::Test {
 protected:
  BackdropWindow backdrop{"E2E backdrop", PaintBackdropPattern};
  TempFolder dir;
  // The lens the view must show: what the program reads from its two pictures (width 0 for a
  // picture that does not load). Most tests write these two as they are.
  Picture bump = RippledBump(), colour = TintedColour();

  void SetUp() override {
    ASSERT_NE(backdrop.window(), nullptr);
    PumpFor(300);  // the backdrop reaches the screen
  }

  void Write(const char* name, const Picture& picture) {
    ASSERT_TRUE(WritePng(dir.File(name), picture)) << name;
  }

  void WriteLens() {
    Write("Bumpmap.png", bump);
    Write("Color.png", colour);
  }

  // Waits (up to 10 s) until the view shows the backdrop beneath the gadget through the lens,
  // then looks again a second later: a view must be right and stay right (after a drag the
  // last move's frame is right whatever the main loop's own frames then show). What the last
  // look found when the view is not right; empty when it is.
  std::string WaitForView() {
    std::string differences = "the image gadget never appeared";
    auto viewIsRight = [&] {
      HWND gadget = program->Gadget();  // made just after the window is shown
      RECT rect{};
      if (gadget == nullptr || !GetWindowRect(gadget, &rect)) return false;
      if (rect.right - rect.left != 500 || rect.bottom - rect.top != 200) {
        differences = "the image gadget is not 500 x 200";
        return false;
      }
      differences = ComparePixels(ExpectedView(BackdropUnder(rect), bump, colour), ReadScreen(rect));
      return differences.empty();
    };
    if (!PumpUntil(viewIsRight, 10000)) return differences;
    PumpUntil([] { return false; }, 1000);
    return viewIsRight() ? "" : "a second after the view was right: " + differences;
  }

  // Starts exe in folder (the test's own when empty), with arguments after the program's name,
  // and waits until its window shows the lens: a client area of 520 × 220, the view right, and
  // the lens folder read, not held (the program is back in the folder it started in). The
  // window, or null with the failure recorded.
  HWND StartAndSee(const std::wstring& arguments = L"", const std::string& folder = "",
                   const std::string& exe = LUNETRIX_EXE) {
    program.emplace(folder.empty() ? dir.path() : folder, exe, arguments);
    HWND window = program->WaitForWindow();
    if (window == nullptr) {
      ADD_FAILURE() << (program->started() ? "no Lunetrix window" : "Lunetrix.exe did not start");
      return nullptr;
    }
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(std::make_pair(client.right, client.bottom), std::make_pair(520L, 220L));
    std::string differences = WaitForView();
    EXPECT_EQ(differences, "");
    std::wstring current = program->CurrentFolder();
    EXPECT_EQ(_wcsicmp(current.c_str(), program->startFolder().c_str()), 0)
        << std::string(current.begin(), current.end());
    return differences.empty() ? window : nullptr;
  }

  // The whole life: StartAndSee, and the close request ending the process with code 0.
  void RunAndCompare(const std::wstring& arguments = L"", const std::string& folder = "",
                     const std::string& exe = LUNETRIX_EXE) {
    if (StartAndSee(arguments, folder, exe) == nullptr) return;
    EXPECT_EQ(program->CloseAndWait(), 0);
  }

  std::optional<Lunetrix> program;  // the one the test started; declared last, it ends first
};

TEST_F(Lens, ViewIsTheBackdropBentAndTintedAndCloseExitsWithZero) {
  WriteLens();
  RunAndCompare();
}

// Drags the window by its caption, 180 pixels right and 96 down, with the real mouse.
void DragByCaption(HWND window) {
  RECT before;
  GetWindowRect(window, &before);
  POINT clientOrigin{0, 0};
  ClientToScreen(window, &clientOrigin);
  int x = before.left + 150, y = (before.top + clientOrigin.y) / 2;  // on the caption
  std::string path = "mousemove " + XdotoolPoint(x, y) + " sleep 0.2 mousedown 1 sleep 0.2";
  for (int step = 1; step <= 12; ++step)
    path += " mousemove " + XdotoolPoint(x + step * 15, y + step * 8) + " sleep 0.05";
  path += " sleep 0.2 mouseup 1";
  ASSERT_TRUE(Xdotool(path));
  RECT after{};
  EXPECT_TRUE(PumpUntil([&] {
    GetWindowRect(window, &after);
    return after.left == before.left + 180 && after.top == before.top + 96;
  }, 15000)) << "window at " << after.left << "," << after.top;
}

// The outer rectangle around client for window's styles at dpi, as the system computes it.
bool OuterRectForDpi(RECT* client, HWND window, UINT dpi) {
  typedef BOOL(WINAPI * AdjustForDpi)(RECT*, DWORD, BOOL, DWORD, UINT);  // Windows 10 1607 on
  auto adjust = reinterpret_cast<AdjustForDpi>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("user32.dll"), "AdjustWindowRectExForDpi")));
  return adjust != nullptr && adjust(client, GetWindowLongA(window, GWL_STYLE), FALSE,
                                     GetWindowLongA(window, GWL_EXSTYLE), dpi);
}

// NOTE: Wine draws every frame at the system's scale, from the non-client metrics in force in the
// program, and announces no change of them. Sets the program's sizing border width and caption
// height, the rest as in metrics. Wine keeps them for the wine server's life: put them back.
bool SetFrameMetrics(Lunetrix& program, NONCLIENTMETRICSW metrics, int border, int caption) {
  metrics.iBorderWidth = border;
  metrics.iCaptionHeight = caption;
  return program.CallInside(GetProcAddress(GetModuleHandleA("user32.dll"), "SystemParametersInfoW"),
                            {SPI_SETNONCLIENTMETRICS, sizeof metrics, 0, 0}, 2, &metrics,
                            sizeof metrics).value_or(0) != 0;
}

// The view follows the window dragged by its caption, and the gadget when the frame changes:
// - frames changed without a word from the program: a style, a setting, a theme, each taking
//   the width, the height or both from the client area, which the window keeps 520 × 220;
// - a drag onto monitors of another scale, message by message as Windows 10 sends it to a
//   per-monitor-v2 window: WM_GETDPISCALEDSIZE asks the outer size wanted at the new DPI, then
//   WM_DPICHANGED suggests a rectangle of that size placed so that the cursor keeps its grip on
//   the caption, and the frame is drawn at the new scale from then on. Wine sends neither, so
//   they come from inside the program.
TEST_F(Lens, TheViewFollowsDragsAndFramesOfAnotherSize) {
  WriteLens();
  HWND window = StartAndSee();
  ASSERT_NE(window, nullptr);
  DragByCaption(window);
  EXPECT_EQ(WaitForView(), "");
  auto expectWindow = [&](RECT expected) {
    RECT outer{}, client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    EXPECT_TRUE(EqualRect(&outer, &expected)) << outer.left << "," << outer.top << " "
                                              << outer.right - outer.left << "x" << outer.bottom - outer.top;
    EXPECT_EQ(std::make_pair(client.right, client.bottom), std::make_pair(520L, 220L));
    EXPECT_EQ(WaitForView(), "");
  };
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  const int border = metrics.iBorderWidth, caption = metrics.iCaptionHeight;
  std::shared_ptr<void> putBack(nullptr, [&](void*) { SetFrameMetrics(*program, metrics, border, caption); });
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  RECT before;
  GetWindowRect(window, &before);
  // What each change adds to the frame's width and height, which the window's outer size takes.
  const int thicker = GetSystemMetrics(SM_CXFRAME) - GetSystemMetrics(SM_CXDLGFRAME);
  const std::vector<std::tuple<const char*, LONG, int, UINT, SIZE>> frames = {
      {"a vertical scroll bar", WS_VSCROLL, 0, WM_STYLECHANGED, {GetSystemMetrics(SM_CXVSCROLL), 0}},
      {"a horizontal scroll bar", WS_HSCROLL, 0, WM_STYLECHANGED, {0, GetSystemMetrics(SM_CYHSCROLL)}},
      {"a sizing border", WS_THICKFRAME, 0, WM_STYLECHANGED, {2 * thicker, 2 * thicker}},
      {"a larger caption, a setting", 0, 9, WM_SETTINGCHANGE, {0, 9}},
      {"a larger caption, a theme", 0, 9, WM_THEMECHANGED, {0, 9}}};
  for (auto [what, added, larger, announce, growth] : frames) {
    SCOPED_TRACE(what);
    for (bool changed : {true, false}) {
      if (added != 0) SetWindowLongA(window, GWL_STYLE, changed ? style | added : style);
      if (larger != 0 && SetFrameMetrics(*program, metrics, border, caption + larger * changed))
        SendMessageA(window, announce, announce == WM_SETTINGCHANGE ? SPI_SETNONCLIENTMETRICS : 0, 0);
      expectWindow({before.left, before.top, before.right + growth.cx * changed,
                    before.bottom + growth.cy * changed});
    }
  }
  // Wine's frame with a sizing border at 144 dpi (border 5, caption 28) is what it draws at 96
  // with a border width of 2 and a caption of 27: it adds 3 to the one and 1 to the other. Wine
  // computes a frame at any DPI from the metrics in force: the system's, when the size is asked.
  SetWindowLongA(window, GWL_STYLE, style | WS_THICKFRAME);
  const UINT GetDpiScaledSize = 0x02E4;
  RECT outer = {0, 0, 520, 220};
  for (UINT dpi : {144u, 96u}) {
    SCOPED_TRACE(dpi);
    RECT wanted = {0, 0, 520, 220};
    ASSERT_TRUE(OuterRectForDpi(&wanted, window, dpi) && GetWindowRect(window, &outer));
    SIZE size = {wanted.right - wanted.left, wanted.bottom - wanted.top}, asked = size;
    ASSERT_TRUE(SetFrameMetrics(*program, metrics, border, caption));
    EXPECT_EQ(program->SendInside(GetDpiScaledSize, dpi, &asked, sizeof asked), 1u);
    EXPECT_EQ(std::make_pair(asked.cx, asked.cy), std::make_pair(size.cx, size.cy));
    ASSERT_TRUE(dpi == 96 || SetFrameMetrics(*program, metrics, 2, 27));
    // The grip, 150 and 10 pixels into the old rectangle, keeps its place on the screen.
    LONG left = outer.left + 150 - 150 * size.cx / (outer.right - outer.left),
         top = outer.top + 10 - 10 * size.cy / (outer.bottom - outer.top);
    RECT suggested = {left, top, left + size.cx, top + size.cy};
    ASSERT_TRUE(program->SendInside(WM_DPICHANGED, MAKEWPARAM(dpi, dpi), &suggested, sizeof suggested));
    expectWindow(suggested);
    DragByCaption(window);
    EXPECT_EQ(WaitForView(), "");
  }
  // A SIZE that is no memory of the program's gets no answer; a rectangle from a sender that
  // asked nothing first gives its corner, and the client area keeps its size.
  DWORD_PTR answer = 1;
  SendMessageTimeoutA(window, GetDpiScaledSize, 144, 0x7FFFFFF0, SMTO_ABORTIFHUNG, 5000, &answer);
  EXPECT_EQ(answer, 0u);
  RECT unasked = {150, 120, 150 + 790, 120 + 345};
  GetWindowRect(window, &outer);
  ASSERT_TRUE(program->SendInside(WM_DPICHANGED, MAKEWPARAM(144, 144), &unasked, sizeof unasked));
  expectWindow({150, 120, 150 + outer.right - outer.left, 120 + outer.bottom - outer.top});
  EXPECT_EQ(program->CloseAndWait(), 0);
}

TEST_F(Lens, WithoutABumpMapEveryPixelComesFromSixUpAndLeft) {
  Write("Color.png", colour);
  bump = Picture();
  RunAndCompare();
}

TEST_F(Lens, WithoutAColourMapTheViewIsBlack) {
  Write("Bumpmap.png", bump);
  colour = Picture();
  RunAndCompare();
}

TEST_F(Lens, PicturesThatAreNotPngsCountAsMissing) {
  // A damaged signature, and a file of zero length.
  ASSERT_TRUE(std::ofstream(dir.File("Bumpmap.png"), std::ios::binary)
              << "\x89PNX\r\n\x1a\nrest of a file");
  ASSERT_TRUE(std::ofstream(dir.File("Color.png"), std::ios::binary));
  bump = colour = Picture();
  RunAndCompare();
}

// How many whole rows libpng delivers from a (damaged) file before it gives up.
int32_t RowsLibpngDelivers(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                           [](png_structp, png_const_charp) {});
  png_infop info = png_create_info_struct(png);
  volatile int32_t rows = 0;
  std::vector<uint8_t> row(500 * 4);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_info(png, info);
    for (uint32_t y = 0; y < png_get_image_height(png, info); ++y) {
      png_read_row(png, row.data(), nullptr);
      rows = rows + 1;
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  fclose(file);
  return rows;
}

// A bump map cut off in its image data: the rows that decoded bend the view, the rest are black
// (a displacement of −6 both ways), and the program runs and ends as usual.
TEST_F(Lens, ATruncatedBumpMapBendsWithTheRowsThatDecoded) {
  WriteLens();
  std::string path = dir.File("Bumpmap.png");
  std::filesystem::resize_file(path, std::filesystem::file_size(path) * 6 / 10);  // throws on failure
  int32_t rows = RowsLibpngDelivers(path);
  ASSERT_GT(rows, 0);
  ASSERT_LT(rows, 200);
  for (int32_t y = rows; y < 200; ++y) memset(bump.At(0, y), 0, 500 * 4);
  RunAndCompare();
}

// Clicks on the picture become gadget events, which neither end the loop nor stop the frames;
// and what any other program may send (a notification whose record is no address of the
// program's, a colour change, a picture of its own for the image control) leaves the program
// running and, the window standing still, showing the lens again.
TEST_F(Lens, ClicksAndOtherProgramsMessagesLeaveItShowingTheLens) {
  WriteLens();
  HWND window = StartAndSee();
  ASSERT_NE(window, nullptr);
  RECT gadget;
  GetWindowRect(program->Gadget(), &gadget);
  std::string at = XdotoolPoint(gadget.left + 250, gadget.top + 100);
  ASSERT_TRUE(Xdotool("mousemove " + at + " sleep 0.2 click 1 sleep 0.3 click --repeat 2 --delay 80 1"
                      " sleep 0.3 click 3"));
  PumpFor(1500);
  EXPECT_EQ(WaitForSingleObject(program->process(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForView(), "");
  HBITMAP foreign = CreateBitmap(500, 200, 1, 32, nullptr);
  const std::vector<std::tuple<HWND, UINT, LPARAM>> messages = {
      {window, WM_NOTIFY, 0x7FFFFFF0}, {window, WM_DPICHANGED, 0x7FFFFFF0},
      {window, WM_SYSCOLORCHANGE, 0},
      {program->Gadget(), STM_SETIMAGE, reinterpret_cast<LPARAM>(foreign)}};
  for (auto [target, message, lParam] : messages) {
    SCOPED_TRACE(message);
    SendMessageTimeoutA(target, message, 0, lParam, SMTO_ABORTIFHUNG, 5000, nullptr);
    EXPECT_EQ(WaitForSingleObject(program->process(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForView(), "");
  }
  DeleteObject(foreign);
  EXPECT_EQ(program->CloseAndWait(), 0);
}

// Under Wine one internal message destroys any window, whatever its program: a Lunetrix whose
// window is gone ends as after a close request, with code 0, instead of waiting for ever.
TEST_F(Lens, AProgramWhoseWindowIsGoneEndsWithZero) {
  WriteLens();
  HWND window = StartAndSee();
  ASSERT_NE(window, nullptr);
  const UINT WineDestroyWindow = 0x80000000;
  SendMessageTimeoutA(window, WineDestroyWindow, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
  ASSERT_FALSE(IsWindow(window));
  ASSERT_EQ(WaitForSingleObject(program->process(), 10000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(program->process(), &code);
  EXPECT_EQ(code, 0u);
}

TEST_F(Lens, PicturesOfAnotherSizeAreScaledToTheView) {
  // 250 × 80 and 1000 × 400: each view pixel (x, y) takes picture pixel (x × W / 500, y × H / 200).
  Picture smallBump = RippledBump(250, 80), bigColour = TintedColour(1000, 400);
  Write("Bumpmap.png", smallBump);
  Write("Color.png", bigColour);
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 500; ++x) {
      memcpy(bump.At(x, y), smallBump.At(x * 250 / 500, y * 80 / 200), 4);
      memcpy(colour.At(x, y), bigColour.At(x * 1000 / 500, y * 400 / 200), 4);
    }
  RunAndCompare();
}

// A PNG file's pixels through libpng's simple reader, not the program's decoder; empty if none.
Picture ReadPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return Picture();
  image.format = PNG_FORMAT_BGRA;
  Picture picture(image.width, image.height);
  return png_image_finish_read(&image, nullptr, picture.bytes.data(), 0, nullptr) ? picture : Picture();
}

// The lens folder on the command line, as dropping it on the program in Explorer passes it: a
// quoted path with a space and a letter outside the ANSI code page is the lens. Any other
// argument (no such folder, a file, an empty one, two) leaves the lens beside the program unread
// and shows the view without pictures; a folder with one picture has that picture alone. Each
// run ends with 0.
TEST_F(Lens, TheFolderOnTheCommandLineIsTheLens) {
  WriteLens();
  const Picture none, rippled = bump, tinted = colour;
  auto quoted = [](const std::wstring& path) { return L"\"" + path + L"\""; };
  std::wstring glass = Widen(dir.path()) + L"\\Glass \u03bb";
  std::wstring onlyColour = quoted(Widen(dir.File("colour only")));
  for (const char* folder : {"made", "colour only"})
    ASSERT_TRUE(CreateDirectoryA(dir.File(folder).c_str(), nullptr));
  Write("made\\Bumpmap.png", tinted);
  Write("made\\Color.png", rippled);
  Write("colour only\\Color.png", tinted);
  ASSERT_TRUE(MoveFileW(Widen(dir.File("made")).c_str(), glass.c_str()));
  const std::vector<std::tuple<std::wstring, Picture, Picture>> cases = {
      {quoted(glass), tinted, rippled},
      {quoted(glass + L"\\"), tinted, rippled},
      {quoted(Widen(dir.File("no such folder"))), none, none},
      {quoted(Widen(dir.File("Bumpmap.png"))), none, none},
      {L"\"\"", none, none},
      {onlyColour + L" " + onlyColour, none, none},
      {onlyColour, none, tinted}};
  for (const auto& [arguments, bumpSeen, colourSeen] : cases) {
    SCOPED_TRACE(std::string(arguments.begin(), arguments.end()));
    std::tie(bump, colour) = std::make_pair(bumpSeen, colourSeen);
    RunAndCompare(arguments);
  }
}

// The zip for Windows as a user unpacks it: the program, its text, the default lens beside the
// program and every lens in a folder; started there, it shows the lens it ships and ends with 0.
TEST_F(Lens, TheUnpackedPackageShowsTheLensItShips) {
  std::string folder = LUNETRIX_PACKAGE_DIR "\\";
  for (const char* name : {"README.txt", "frosted\\Bumpmap.png", "frosted\\Color.png",
                           "prism\\Bumpmap.png", "prism\\Color.png"})
    EXPECT_NE(GetFileAttributesA((folder + name).c_str()), INVALID_FILE_ATTRIBUTES) << name;
  bump = ReadPng(folder + "Bumpmap.png");
  colour = ReadPng(folder + "Color.png");
  ASSERT_EQ(std::make_tuple(bump.width, bump.height, colour.width, colour.height),
            std::make_tuple(500, 200, 500, 200));
  EXPECT_EQ(ComparePixels(ReadPng(folder + "rippled\\Bumpmap.png"), bump), "");
  EXPECT_EQ(ComparePixels(ReadPng(folder + "rippled\\Color.png"), colour), "");
  RunAndCompare(L"", folder, folder + "Lunetrix.exe");
}

}  // namespace

namespace {

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR list) {
  reinterpret_cast<std::vector<uintptr_t>*>(list)->push_back(reinterpret_cast<uintptr_t>(type));
  return TRUE;
}

// The program's only resource is its manifest (type 24, id 1), asking for common controls 6 and
// declaring the program DPI aware; it has no icon.
TEST(Program, ItsOnlyResourceIsTheCommonControlsManifest) {
  HMODULE exe = LoadLibraryExA(LUNETRIX_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(exe, nullptr);
  std::vector<uintptr_t> types;
  EnumResourceTypesA(exe, CollectType, reinterpret_cast<LONG_PTR>(&types));
  EXPECT_EQ(types, std::vector<uintptr_t>({24}));
  HRSRC manifest = FindResourceA(exe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(manifest, nullptr);
  const char* text = static_cast<const char*>(LockResource(LoadResource(exe, manifest)));
  std::string xml(text, SizeofResource(exe, manifest));
  EXPECT_NE(xml.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(xml.find("processorArchitecture=\"X86\" publicKeyToken"), std::string::npos);
  FreeLibrary(exe);
  // DPI awareness as the system reads it from the manifest: per monitor (v2 where there is one),
  // system-aware where neither is.
  ACTCTXA request{sizeof(ACTCTXA), ACTCTX_FLAG_RESOURCE_NAME_VALID, LUNETRIX_EXE, 0, 0, nullptr,
                  MAKEINTRESOURCEA(1), nullptr, nullptr};
  HANDLE context = CreateActCtxA(&request);
  ASSERT_NE(context, INVALID_HANDLE_VALUE);
  WCHAR aware[64] = L"", awareness[64] = L"";
  SIZE_T size = 0;
  QueryActCtxSettingsW(0, context, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings",
                       L"dpiAware", aware, 64, &size);
  QueryActCtxSettingsW(0, context, L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                       L"dpiAwareness", awareness, 64, &size);
  EXPECT_STREQ(aware, L"true/pm");
  EXPECT_STREQ(awareness, L"PerMonitorV2, PerMonitor");
  ReleaseActCtx(context);
}

}  // namespace
