// Lunetrix's life: start-up in its fixed order, the window, the 10 ms main loop, the end.
#include <string.h>

#include "gadget.h"
#include "image.h"
#include "lunetrix.h"
#include "window.h"

#include <shellapi.h>

AppState app;

// Opens the window with its display image and image gadget, and makes it layered; returns 0.
static int32_t SetUpWindow(void) {
  app.mainWindow = WindowOpen(-1, WindowLeft, WindowTop, ClientWidth, ClientHeight, "Lunetrix",
                              WindowFlags);
  if (app.mainWindow == 0) return 0;
  HWND window = WindowGetHandle(app.mainWindow);
  if (GadgetListSelect(window) != nullptr) {
    app.displayImage = ImageCreate(-1, LensWidth, LensHeight);
    app.imageGadget = ImageGadgetCreate(-1, GadgetX, GadgetY, LensWidth, LensHeight,
                                        reinterpret_cast<HANDLE>(ImageGetHandle(app.displayImage)));
  }
  // Layered with full opacity: nothing changes on the screen, but the window stays out of its
  // own screen copies.
  SetWindowLongA(window, GWL_EXSTYLE, WS_EX_LAYERED);
  SetLayeredWindowAttributes(window, 0, 255, LWA_ALPHA);
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

// Gives the window the client size it was opened with, its outer top-left corner staying.
static void KeepClientSize(HWND window) {
  RECT outer, client;
  if (!GetWindowRect(window, &outer) || !GetClientRect(window, &client)) return;
  int32_t wider = ClientWidth - client.right, taller = ClientHeight - client.bottom;
  if (wider != 0 || taller != 0)
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + wider,
                 outer.bottom - outer.top + taller, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// NOTE: a per-monitor aware window moved to a monitor of another scale gets WM_DPICHANGED with
// a suggested rectangle, and its frame is drawn at the new scale from then on. The lens is 500 ×
// 200 pixels of the screen at every scale, so the window takes only the suggested top-left
// corner and keeps its client area in screen pixels: the frame is measured anew where the window
// now stands (SWP_FRAMECHANGED) and the outer size follows it. A rectangle that is not this
// process's readable memory (any program may send the message) leaves the window where it is.
static void FollowScaleChange(HWND window, LPARAM lParam) {
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  RECT outer;
  if (!GetWindowRect(window, &outer)) return;
  POINT corner = {outer.left, outer.top};
  if (MemoryReadable(suggested, sizeof *suggested)) corner = {suggested->left, suggested->top};
  SetWindowPos(window, nullptr, corner.x, corner.y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
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
  if (message == WM_DPICHANGED && window == WindowGetHandle(app.mainWindow))
    FollowScaleChange(window, lParam);
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

void LunetrixMain(void) {
  PrepareLunetrix(ChooseLensFolder(GetCommandLineW()));
  // Without a window no close request could ever end the loop: the program ends at once.
  if (app.mainWindow != 0) MainLoop();
  ScreenCaptureEnd();
  EndRuntime();
}
