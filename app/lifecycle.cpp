// Lunetrix's life: start-up in its fixed order, the window, the 10 ms main loop, the end.
#include <string.h>

#include "gadget.h"
#include "image.h"
#include "lunetrix.h"
#include "window.h"

#include <shellapi.h>

AppState app;

// Gives the window the client size it was opened with, its outer top-left corner staying.
static void KeepClientSize(HWND window) {
  RECT outer, client;
  if (!GetWindowRect(window, &outer) || !GetClientRect(window, &client)) return;
  int32_t wider = ClientWidth - client.right, taller = ClientHeight - client.bottom;
  if (wider != 0 || taller != 0)
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + wider,
                 outer.bottom - outer.top + taller, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Opens the window with its display image and image gadget, and makes it layered; returns 0.
static int32_t SetUpWindow(void) {
  app.mainWindow = WindowOpen(-1, WindowLeft, WindowTop, ClientWidth, ClientHeight, "Lunetrix",
                              WindowFlags);
  if (app.mainWindow == 0) return 0;
  HWND window = WindowGetHandle(app.mainWindow);
  if (GadgetListSelect(window) != nullptr) {
    // A 32-bit DIB section rather than the display's format: frames are refracted straight into
    // its pixels, and the gadget paints from them (render.cpp).
    app.displayImage = ImageCreate(-1, LensWidth, LensHeight, 32);
    app.imageGadget = ImageGadgetCreate(-1, GadgetX, GadgetY, LensWidth, LensHeight,
                                        reinterpret_cast<HANDLE>(ImageGetHandle(app.displayImage)));
  }
  // Layered with full opacity: nothing changes on the screen, but the window stays out of its
  // own screen copies.
  SetWindowLongA(window, GWL_EXSTYLE, WS_EX_LAYERED);
  SetLayeredWindowAttributes(window, 0, 255, LWA_ALPHA);
  // On a monitor whose scale is not the system's, Windows draws the new window's frame at that
  // monitor's scale, while it was sized at the system's.
  KeepClientSize(window);
  return 0;
}

// NOTE: frames are taken beneath the gadget, whose distance from the window's outer corner
// depends on the frame the platform draws (13, 39 on Windows at 100 %, other numbers under Wine)
// and changes with it: a monitor of another scale, a theme, a caption size, a style. So it is
// measured at every frame, from two rectangles the system keeps in the process.
POINT ViewPlace(int32_t outerLeft, int32_t outerTop) {
  POINT place = {outerLeft + DefaultGadgetOffsetX, outerTop + DefaultGadgetOffsetY};
  RECT outer, gadget;
  if (GetWindowRect(WindowGetHandle(app.mainWindow), &outer) &&
      GetWindowRect(GadgetGetHandle(app.imageGadget), &gadget))
    place = {outerLeft + gadget.left - outer.left, outerTop + gadget.top - outer.top};
  return place;
}

// Draws the window's frame anew where it stands: the new frame's WM_WINDOWPOSCHANGED then
// fits the client area back to its size.
static void Reframe(HWND window) {
  SetWindowPos(window, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

// NOTE: Windows 10 1703 and later ask a per-monitor-v2 window that is dragged onto a monitor of
// another scale which outer size it wants there (WM_GETDPISCALEDSIZE), then send WM_DPICHANGED
// with a rectangle of that size placed to keep the cursor's grip on the caption. Unanswered,
// Windows scales the window linearly and places the larger rectangle for that size. The answer
// keeps the client area 520 × 220 at the new DPI. Windows 7 and 8 lack AdjustWindowRectExForDpi
// and never send the message. A SIZE that is not this process's writable memory gets no answer.
constexpr UINT GetDpiScaledSizeMessage = 0x02E4;  // WM_GETDPISCALEDSIZE, Windows 10 1703 on

static LRESULT AnswerScaledSize(HWND window, WPARAM dpi, LPARAM lParam) {
  typedef BOOL(WINAPI * AdjustForDpi)(RECT*, DWORD, BOOL, DWORD, UINT);
  auto adjust = reinterpret_cast<AdjustForDpi>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("user32.dll"), "AdjustWindowRectExForDpi")));
  auto* size = reinterpret_cast<SIZE*>(lParam);
  RECT outer = {0, 0, ClientWidth, ClientHeight};
  if (adjust == nullptr || !MemoryWritable(size, sizeof *size) ||
      !adjust(&outer, GetWindowLongA(window, GWL_STYLE), FALSE, GetWindowLongA(window, GWL_EXSTYLE),
              static_cast<UINT>(dpi)))
    return FALSE;
  *size = SIZE{outer.right - outer.left, outer.bottom - outer.top};
  return TRUE;
}

// The window takes the rectangle WM_DPICHANGED suggests, place and size, with the frame of the
// new scale; a rectangle from a sender that asked nothing first is then fitted to the client
// area, its top-left corner staying. A rectangle that is not this process's readable memory
// (any program may send the message) changes nothing.
static void FollowScaleChange(HWND window, LPARAM lParam) {
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  if (MemoryReadable(suggested, sizeof *suggested))
    SetWindowPos(window, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

// NOTE: the view is 500 × 200 screen pixels, so the client area keeps 520 × 220 whatever frame is
// drawn around it: a monitor's scale, a theme, a caption size or a style changes the frame, and
// the new frame's WM_WINDOWPOSCHANGED fits the client area back. A theme, a setting or a style
// takes effect on the frame only when it is drawn anew, which the window asks for at once.
static void KeepClientArea(HWND window, UINT message, LPARAM lParam) {
  if (message == WM_DPICHANGED)
    FollowScaleChange(window, lParam);
  else if (message == WM_THEMECHANGED || message == WM_SETTINGCHANGE || message == WM_STYLECHANGED)
    Reframe(window);
  else if (FrameChanged(message, lParam))
    KeepClientSize(window);
}

LRESULT CALLBACK MoveCallback(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Any process may send WM_MOVING: one whose rectangle is not this process's readable memory
  // names no place and is ignored.
  const RECT* next = reinterpret_cast<const RECT*>(lParam);
  if (message == WM_MOVING && MemoryReadable(next, sizeof *next)) {
    POINT place = ViewPlace(next->left, next->top);
    RenderFrame(place.x, place.y);
  }
  if (window == WindowGetHandle(app.mainWindow)) {
    if (message == GetDpiScaledSizeMessage) return AnswerScaledSize(window, wParam, lParam);
    KeepClientArea(window, message, lParam);
  }
  // What the message means for the frames is the renderer's to say.
  RenderWindowMessage(message, lParam);
  return ProcessDefaultEvents;
}

static void MainLoop(void) {
  for (;;) {
    app.lastEvent = EventWait(FrameWaitMs);
    if (app.lastEvent == CloseRequest) app.quitFlag = 1;
    // A window destroyed by other means than a close request can send none: the program ends
    // as it would after one.
    if (WindowGetHandle(app.mainWindow) == nullptr) return;
    int32_t top = WindowGetY(app.mainWindow);
    int32_t left = WindowGetX(app.mainWindow);
    POINT place = ViewPlace(left, top);
    RenderFrame(place.x, place.y);
    if (app.quitFlag) return;
  }
}

void StartLunetrix(void) {
  memset(&app, 0, sizeof app);
  StartRuntime();
  AllocateLensBuffers();
  PixelTransferInit();
}

bool ChooseLensFolder(const wchar_t* commandLine) {
  int count = 0;  // stays 0 when the line cannot be split: read as no argument
  wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
  // The backslash before a closing quote escapes it: "D:\" and "C:\My Lenses\" arrive as D:" and
  // C:\My Lenses". No folder's name holds a quote, so a last one stands for that backslash.
  size_t length = count == 2 ? wcslen(arguments[1]) : 0;
  if (length > 0 && arguments[1][length - 1] == L'"') arguments[1][length - 1] = L'\\';
  // Explorer passes a folder dropped on the program as its one argument, quoted when it has
  // spaces; as Unicode, any folder's name arrives whole.
  bool chosen = count <= 1 || (count == 2 && arguments[1][0] != L'\0' &&
                               SetCurrentDirectoryW(arguments[1]));
  LocalFree(arguments);
  return chosen;
}

void PrepareLunetrix(bool withPictures) {
  StartLunetrix();
  ScreenCaptureInit();  // before the window is first shown
  SetUpWindow();
  if (withPictures) BuildLensTable("Bumpmap.png", "Color.png");
  else BuildLensTable(nullptr, nullptr);
  EventSetCallback(MoveCallback);
}

void EndLunetrix(void) {
  ScreenCaptureEnd();
  RenderEnd();
  PixelTransferEnd();
  ArrayFree(lensTable.data);
  lensTable.data = nullptr;
}

// The current folder, in a LocalAlloc block; null when it cannot be had.
static wchar_t* CurrentFolder(void) {
  DWORD size = GetCurrentDirectoryW(0, nullptr);
  auto* folder = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, size * sizeof(wchar_t)));
  // Its length, without the closing null, unless it could not be had or changed meanwhile.
  if (folder != nullptr && GetCurrentDirectoryW(size, folder) + 1 != size) {
    LocalFree(folder);
    return nullptr;
  }
  return folder;
}

void LunetrixMain(void) {
  // NOTE: Windows locks a process's current folder: while the program runs, it cannot be renamed,
  // deleted or ejected. The lens folder is only read, and the program then goes back to the
  // folder it was started in.
  wchar_t* startFolder = CurrentFolder();
  PrepareLunetrix(ChooseLensFolder(GetCommandLineW()));
  if (startFolder != nullptr) SetCurrentDirectoryW(startFolder);
  LocalFree(startFolder);
  // Without a window no close request could ever end the loop: the program ends at once.
  if (app.mainWindow != 0) MainLoop();
  EndLunetrix();
  EndRuntime();
}
