// The image gadget: a "STATIC" control that paints a picture itself, sizes itself to it, and
// reports clicks, double-clicks and drag starts as gadget events.
//
// A message to an image gadget runs through GadgetSubclassProc, then ImageGadgetProc, then the
// "STATIC" class procedure. The picture belongs to the image library: the gadget only shows it
// and never deletes it.
//
// Mouse state belongs to each control and lives only while the control holds the mouse
// capture: a pending drag (the record's dragPending, from a left press) and a pending right
// double-click (rightDoubleClickControl, from WM_RBUTTONDBLCLK until the release that ends
// it). Holding the capture brings the button's release to the control wherever it lands; losing
// the capture (another window takes it, the control goes) ends both states, and so does a move
// that finds the left button up. The capture is let go once neither state is pending.
#include "gadget.h"
#include "gadget_kind.h"

#include "image.h"

// The control between a right double-click and the release that ends it, or null: one flag for
// all image gadgets, as only the control that holds the mouse capture can await that release.
// NOTE: kept in the process, not as a window property, which under Wine asks the wine server.
static HWND rightDoubleClickControl;

static LRESULT CALLBACK ImageGadgetProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);

// ---------------------------------------------------------------------------------------------
// Gadget type operations
// ---------------------------------------------------------------------------------------------

// The picture the gadget shows.
static int32_t ImageGadgetGetState(GadgetRecord* gadget) {
  return static_cast<int32_t>(SendMessageA(gadget->handle, STM_GETIMAGE, 0, 0));
}

// Shows a picture; returns it.
static int32_t ImageGadgetSetState(GadgetRecord* gadget, int32_t value) {
  return static_cast<int32_t>(SendMessageA(gadget->handle, STM_SETIMAGE, 0, value));
}

static GadgetKind imageGadgets = {{ImageGadgetKind, sizeof(GadgetType), nullptr, nullptr,
                                   ImageGadgetGetState, ImageGadgetSetState, {}},
                                  ImageGadgetProc, nullptr};

// ---------------------------------------------------------------------------------------------
// Creation
// ---------------------------------------------------------------------------------------------

int32_t ImageGadgetCreate(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          HANDLE image, DWORD extendedStyle) {
  GadgetThreadState* state = GadgetThreadStateGet();
  if (state == nullptr) return 0;  // the gadget library was not started
  HWND control = CreateWindowExA(extendedStyle, "STATIC", nullptr,
                                 WS_CHILD | WS_VISIBLE | SS_NOTIFY, x, y, width, height,
                                 state->parent, reinterpret_cast<HMENU>(-1), ModuleInstance,
                                 nullptr);
  int32_t result = GadgetCreate(number, control, &imageGadgets);
  if (result != 0) SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image));
  return result;
}

// ---------------------------------------------------------------------------------------------
// The control's procedure
// ---------------------------------------------------------------------------------------------

static LRESULT PassOn(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  return GadgetPassOn(&imageGadgets, control, message, wParam, lParam);
}

// The pixels of the last colour bitmap read out to be painted (or, for a DIB section, the row
// that tells which way round its rows lie), kept for the process and grown as needed; one paint
// at a time uses them.
static uint8_t* paintPixels;
static size_t paintPixelsBytes;
constexpr size_t PaintPixelsLimit = 64 << 20;  // a larger bitmap is drawn by DrawStateA
static SRWLOCK paintPixelsLock = SRWLOCK_INIT;

// Under paintPixelsLock: room for bytes in paintPixels.
static bool ReservePaintPixels(size_t bytes) {
  if (bytes <= paintPixelsBytes) return true;
  if (paintPixels != nullptr) HeapFree(GetProcessHeap(), 0, paintPixels);
  paintPixels = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, bytes));
  paintPixelsBytes = paintPixels != nullptr ? bytes : 0;
  return paintPixels != nullptr;
}

// Do two rows of width pixels of pixelBytes bytes show the same colours (the fourth byte aside)?
static bool SameColours(const uint8_t* a, const uint8_t* b, LONG width, int32_t pixelBytes) {
  for (LONG x = 0; x < width; ++x, a += pixelBytes, b += pixelBytes)
    if (a[0] != b[0] || a[1] != b[1] || a[2] != b[2]) return false;
  return true;
}

// Is a DIB section's top row the first in its memory? GDI does not say (it reports every height
// as positive), so its rows are read through GDI from the bottom, into row, and each is compared
// with both ends of the memory until one end alone matches; a picture that looks the same both
// ways round paints the same either way. False in *known when GDI cannot read a row.
static bool RowsFromTop(HDC dc, HBITMAP bitmap, const DIBSECTION& section, uint8_t* row,
                        bool* known) {
  const BITMAP& measured = section.dsBm;
  BITMAPINFO info{};
  info.bmiHeader = section.dsBmih;
  info.bmiHeader.biHeight = measured.bmHeight;  // scan lines counted from the bottom
  const auto* bits = static_cast<const uint8_t*>(measured.bmBits);
  int32_t pixelBytes = measured.bmBitsPixel / 8;
  *known = true;
  for (LONG scan = 0; scan < measured.bmHeight / 2; ++scan) {
    *known = GetDIBits(dc, bitmap, scan, 1, row, &info, DIB_RGB_COLORS) == 1;
    if (!*known) return false;
    bool first = SameColours(row, bits + scan * measured.bmWidthBytes, measured.bmWidth, pixelBytes);
    bool last = SameColours(row, bits + (measured.bmHeight - 1 - scan) * measured.bmWidthBytes,
                            measured.bmWidth, pixelBytes);
    if (first != last) return last;
  }
  return false;
}

// NOTE: DrawStateA makes and deletes a memory context for every bitmap it draws, and selecting a
// bitmap into any memory context asks the wine server three times whether the display changed.
// Under Wine each request waits for the server, and a waiting core that slept wakes slowly.
// Drawn in its normal state a colour bitmap is a plain copy, so its pixels are set on the
// control, which selects nothing: three requests fewer for every repaint of the lens. A DIB
// section of 24 or 32 bits is set from its own pixels; any other bitmap's are read out first. A
// monochrome bitmap would take the target's colours in such a copy, and stays with DrawStateA.
// True when it was copied.
static bool CopyBitmap(HDC dc, HBITMAP bitmap) {
  DIBSECTION section;
  int described = GetObjectA(bitmap, sizeof section, &section);
  const BITMAP& measured = section.dsBm;
  LONG width = measured.bmWidth, height = measured.bmHeight;
  if (!described || measured.bmBitsPixel == 1 || width <= 0 || height <= 0 ||
      width > static_cast<LONG>(PaintPixelsLimit / 4 / height))
    return false;
  bool ownPixels = described == sizeof section && measured.bmBitsPixel >= 24 &&
                   section.dsBmih.biCompression == BI_RGB;
  AcquireSRWLockExclusive(&paintPixelsLock);
  bool ready = ReservePaintPixels(static_cast<size_t>(width) * 4 * (ownPixels ? 1 : height));
  BITMAPINFO info = ImageTopDownInfo(width, height, 32);
  const void* pixels = paintPixels;
  if (ready && ownPixels) {
    GdiFlush();  // what GDI drew into it is in the pixels
    info.bmiHeader = section.dsBmih;
    info.bmiHeader.biHeight = RowsFromTop(dc, bitmap, section, paintPixels, &ready) ? -height : height;
    pixels = measured.bmBits;
  } else if (ready) {
    ready = GetDIBits(dc, bitmap, 0, height, paintPixels, &info, DIB_RGB_COLORS) == height;
  }
  bool copied = ready && SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, pixels,
                                           &info, DIB_RGB_COLORS) != 0;
  ReleaseSRWLockExclusive(&paintPixelsLock);
  return copied;
}

// Draws the picture at the client origin at its own size; nothing else is painted.
static void PaintPicture(GadgetRecord* gadget, HDC dc) {
  if (gadget->state == 0) return;
  UINT kind = GetObjectType(reinterpret_cast<HGDIOBJ>(gadget->state)) == OBJ_BITMAP ? DST_BITMAP : DST_ICON;
  if (kind == DST_BITMAP && CopyBitmap(dc, reinterpret_cast<HBITMAP>(gadget->state))) return;
  DrawStateA(dc, nullptr, nullptr, static_cast<LPARAM>(gadget->state), 0, 0, 0, 0, 0, kind);
}

// Repaints the part of the owning window that lies under the control.
static void RepaintUnder(HWND control) {
  HWND owner = OwningWindow(control);
  RECT rect;
  GetWindowRect(control, &rect);
  ScreenToClient(owner, reinterpret_cast<POINT*>(&rect.left));
  ScreenToClient(owner, reinterpret_cast<POINT*>(&rect.right));
  RedrawWindow(owner, &rect, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

// Paints the picture on the control's context at once, as its WM_PAINT does; whether there was a
// context to paint on.
static bool PaintNow(GadgetRecord* gadget, HWND control) {
  HDC dc = GetDC(control);
  if (dc == nullptr) return false;
  PaintPicture(gadget, dc);
  ReleaseDC(control, dc);
  return true;
}

// Shows picture: the control takes its size and has repainted when this returns.
static LRESULT ShowPicture(GadgetRecord* gadget, HWND control, HANDLE picture) {
  gadget->state = reinterpret_cast<uintptr_t>(picture);
  bool bitmap = picture != nullptr && GetObjectType(picture) == OBJ_BITMAP;
  if (!bitmap) RepaintUnder(control);
  BITMAP measured;
  if (picture != nullptr && ImageMeasure(picture, &measured)) {
    SIZE size = {measured.bmWidth, measured.bmHeight};
    if (GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) {
      size.cx += 4;
      size.cy += 4;
    }
    // A control already of that size (every frame of the lens) skips the no-op resize.
    RECT now;
    GetWindowRect(control, &now);
    bool resized = now.right - now.left != size.cx || now.bottom - now.top != size.cy;
    if (resized) SetWindowPos(control, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    // NOTE: under Wine an invalidation painted at once (RedrawWindow with RDW_UPDATENOW, then
    // BeginPaint and EndPaint) asks the wine server six times, each a wait for a core that went
    // idle since the last frame; painting on the control's context asks nothing, and what it
    // paints reaches the screen when the thread next waits, as every frame's does. So a bitmap of
    // the control's own size is painted so. A part of the control already waiting to be painted
    // keeps waiting: its WM_PAINT paints the same picture, and validating it would cost a request.
    if (resized || !bitmap || !PaintNow(gadget, control))
      RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_NOCHILDREN);
  }
  return reinterpret_cast<LRESULT>(picture);
}

// ---------------------------------------------------------------------------------------------
// Mouse state
// ---------------------------------------------------------------------------------------------

// Does the control await the release that ends a right double-click?
static bool RightDoubleClickPending(HWND control) {
  return rightDoubleClickControl == control;
}

// Takes the mouse capture for a pending state, unless the control holds it already.
static void HoldCapture(HWND control) {
  if (GetCapture() != control) SetCapture(control);
}

// Lets the capture go once no state of the control is pending.
static void ReleaseCaptureIfIdle(GadgetRecord* gadget, HWND control) {
  if (!gadget->dragPending && !RightDoubleClickPending(control) && GetCapture() == control)
    ReleaseCapture();
}

// Ends a pending right double-click; whether one was pending.
static bool EndRightDoubleClick(HWND control) {
  if (!RightDoubleClickPending(control)) return false;
  rightDoubleClickControl = nullptr;
  return true;
}

// The capture went to another window, or away: no state outlives it.
static void CaptureLost(GadgetRecord* gadget, HWND control) {
  gadget->dragPending = 0;
  EndRightDoubleClick(control);
}

// While a left press is pending: a move with the left button up ends it, a move past the drag
// thresholds starts a drag.
static void DragTest(GadgetRecord* gadget, int32_t number, HWND control, WPARAM wParam,
                     LPARAM lParam) {
  if (!gadget->dragPending) return;
  int32_t dx = static_cast<int16_t>(LOWORD(lParam)) - gadget->pressX;
  int32_t dy = static_cast<int16_t>(HIWORD(lParam)) - gadget->pressY;
  int32_t limitX = GetSystemMetrics(SM_CXDRAG), limitY = GetSystemMetrics(SM_CYDRAG);
  bool beyond = dx > limitX || dx < -limitX || dy > limitY || dy < -limitY;
  if ((wParam & MK_LBUTTON) != 0 && !beyond) return;
  gadget->dragPending = 0;
  ReleaseCaptureIfIdle(gadget, control);
  if ((wParam & MK_LBUTTON) != 0) GadgetPostEvent(control, number, ImageGadgetDragStart);
}

// The window procedure image gadgets are subclassed with, below GadgetSubclassProc.
static LRESULT CALLBACK ImageGadgetProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  int32_t number;
  GadgetRecord* gadget = GadgetOfMessage(control, &number);
  if (gadget == nullptr) return PassOn(control, message, wParam, lParam);
  switch (message) {
    case WM_ENABLE: {
      RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(control, &ps);
      if (dc != nullptr) {
        PaintPicture(gadget, dc);
        EndPaint(control, &ps);
      }
      return 0;
    }
    case WM_PRINT: {
      if (wParam != 0) PaintPicture(gadget, reinterpret_cast<HDC>(wParam));
      return 0;
    }
    case STM_SETICON:
    case STM_SETIMAGE: {
      return ShowPicture(gadget, control, reinterpret_cast<HANDLE>(lParam));
    }
    case STM_GETICON:
    case STM_GETIMAGE: {
      return static_cast<LRESULT>(gadget->state);
    }
    case WM_MOUSEMOVE: {
      DragTest(gadget, number, control, wParam, lParam);
      return PassOn(control, message, wParam, lParam);
    }
    case WM_LBUTTONDOWN: {
      gadget->dragPending = 1;
      gadget->pressX = static_cast<int16_t>(LOWORD(lParam));
      gadget->pressY = static_cast<int16_t>(HIWORD(lParam));
      HoldCapture(control);
      return PassOn(control, message, wParam, lParam);
    }
    case WM_LBUTTONUP: {
      if (gadget->dragPending) {
        gadget->dragPending = 0;
        ReleaseCaptureIfIdle(gadget, control);
      }
      return PassOn(control, message, wParam, lParam);
    }
    case WM_LBUTTONDBLCLK: {
      GadgetPostEvent(control, number, ImageGadgetLeftDoubleClick);
      return 0;
    }
    case WM_RBUTTONUP: {
      if (EndRightDoubleClick(control)) ReleaseCaptureIfIdle(gadget, control);
      else GadgetPostEvent(control, number, ImageGadgetRightClick);
      return 0;
    }
    case WM_RBUTTONDBLCLK: {
      GadgetPostEvent(control, number, ImageGadgetRightDoubleClick);
      rightDoubleClickControl = control;
      HoldCapture(control);
      return 0;
    }
    case WM_CAPTURECHANGED: {
      if (reinterpret_cast<HWND>(lParam) != control) CaptureLost(gadget, control);
      return PassOn(control, message, wParam, lParam);
    }
  }
  return PassOn(control, message, wParam, lParam);
}
