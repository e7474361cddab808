// Lunetrix's life: start-up in its fixed order, the window, the 10 ms main loop, the end.
#include <string.h>

#include "gadget.h"
#include "image.h"
#include "lunetrix.h"
#include "window.h"

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

// NOTE: frames are taken beneath the gadget, whose place on the screen depends on the frame
// sizes of the platform (13, 39 from the outer corner on Windows, other numbers under Wine), so
// the offset is measured once the window stands.
static void MeasureGadgetOffset(void) {
  app.gadgetOffsetX = DefaultGadgetOffsetX;
  app.gadgetOffsetY = DefaultGadgetOffsetY;
  HWND window = WindowGetHandle(app.mainWindow);
  HWND gadget = GadgetGetHandle(app.imageGadget);
  RECT outer, inner;
  if (window && gadget && GetWindowRect(window, &outer) && GetWindowRect(gadget, &inner)) {
    app.gadgetOffsetX = inner.left - outer.left;
    app.gadgetOffsetY = inner.top - outer.top;
  }
}

LRESULT CALLBACK MoveCallback(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Any process may send WM_MOVING: one whose rectangle is not this process's readable memory
  // names no place and is ignored.
  const RECT* next = reinterpret_cast<const RECT*>(lParam);
  if (message == WM_MOVING && MemoryReadable(next, sizeof *next)) {
    RenderFrame(next->left + app.gadgetOffsetX, next->top + app.gadgetOffsetY);
  }
  // The window has no WS_CLIPCHILDREN: its own painting covers the view, which a frame that
  // would not change could otherwise leave so.
  switch (message) {
    case WM_ERASEBKGND:
    case WM_PAINT:
    case WM_NCPAINT:
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
    case WM_SETTINGCHANGE:
    case WM_DISPLAYCHANGE:
      RenderViewDisturbed();
  }
  return ProcessDefaultEvents;
}

void StartRuntime(void) {
  CoreStart();
  StringInit();
  BlockHeapInit();
  DrawingLibraryInit();
  WindowSystemInit();
  GadgetLibraryInit();
  DecoderListReset();
  ImageLibraryInit();
  MemoryInit();
  PngDecoderRegister();
}

void EndRuntime(void) {
  MemoryEnd();
  ImageFreeAll();
  WindowSystemEnd();
  BlockHeapEnd();
  CoreEnd();
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
    RenderFrame(left + app.gadgetOffsetX, top + app.gadgetOffsetY);
    if (app.quitFlag) return;
  }
}

void StartLunetrix(void) {
  memset(&app, 0, sizeof app);
  StartRuntime();
  AllocateLensBuffers();
  PixelTransferInit();
}

void PrepareLunetrix(void) {
  StartLunetrix();
  ScreenCaptureInit();  // before the window is first shown
  SetUpWindow();
  MeasureGadgetOffset();
  BuildLensTable("Bumpmap.png", "Color.png");
  EventSetCallback(MoveCallback);
}

void LunetrixMain(void) {
  PrepareLunetrix();
  // Without a window no close request could ever end the loop: the program ends at once.
  if (app.mainWindow != 0) MainLoop();
  ScreenCaptureEnd();
  EndRuntime();
}
