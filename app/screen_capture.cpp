// Screen capture: the screen beneath the program's own window, copied into a device context.
//
// NOTE: under Wine a screen copy with SRCCOPY includes the program's own layered window, and X11
// keeps no pixels of what lies under a window. So on Wine the screen is copied into a cache
// once, before the window is first shown; each copy refreshes from the screen only the part
// of its rectangle that the window does not cover, and takes the rest from the cache. While
// the window is dragged, every WM_MOVING asks for a rectangle partly outside the window's
// present place, and exactly that part is fresh on the screen. On Windows the copy from the
// desktop leaves layered windows out, and a single BitBlt does it.
//
// The cache also says when a copy cannot have changed: its version counts the refreshes that
// read the screen, so two copies of one rectangle at the same version hold the same pixels.
// While the window stands still nothing beneath it is read again, and the version stays.
//
// The cache is a DIB section, so a frame reads its rectangle in place instead of copying it
// out first: on Wine every frame's capture is one copy fewer of 400,000 bytes.
#include "screen_capture.h"

#include "image.h"

#include <initializer_list>

struct ScreenCache {
  bool active;             // running on Wine: copies come through the cache
  HDC dc;                  // memory context holding the cache bitmap, for the program's life
  HBITMAP bitmap;          // the virtual screen as last seen outside the window: a DIB section
  const uint32_t* pixels;  // its pixels, rows from the top
  int32_t left, top;       // virtual screen origin (the cache's 0, 0)
  int32_t width, height;   // virtual screen size, the cache's
  HRGN frame;              // scratch regions, made once: the copy's rectangle,
  HRGN window;             //   the window's outer rectangle,
  HRGN fresh;              //   and the part of the copy outside the window, in cache coordinates
  uint32_t version;        // refreshes that read the screen, from 1; never 0 while active
};
static ScreenCache cache;

static bool RunningOnWine(void) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void ScreenCaptureInit(void) {
  if (!RunningOnWine()) return;
  cache.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  cache.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  int32_t width = cache.width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  int32_t height = cache.height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  HWND desktop = GetDesktopWindow();
  HDC screen = GetDC(desktop);
  cache.dc = CreateCompatibleDC(screen);
  BITMAPINFO info = ImageTopDownInfo(width, height, 32);
  void* pixels = nullptr;
  cache.bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  cache.pixels = static_cast<const uint32_t*>(pixels);
  cache.frame = CreateRectRgn(0, 0, 0, 0);
  cache.window = CreateRectRgn(0, 0, 0, 0);
  cache.fresh = CreateRectRgn(0, 0, 0, 0);
  // A cache whose bitmap could not be selected would copy into the context's own 1 × 1 bitmap.
  if (cache.dc && cache.bitmap && cache.frame && cache.window && cache.fresh &&
      SelectObject(cache.dc, cache.bitmap) != nullptr) {
    BitBlt(cache.dc, 0, 0, width, height, screen, cache.left, cache.top, SRCCOPY);
    cache.version = 1;
    cache.active = true;
  }
  ReleaseDC(desktop, screen);
}

void ScreenCaptureEnd(void) {
  if (cache.dc != nullptr) DeleteDC(cache.dc);  // which lets the bitmap go
  if (cache.bitmap != nullptr) DeleteObject(cache.bitmap);
  for (HRGN region : {cache.frame, cache.window, cache.fresh})
    if (region != nullptr) DeleteObject(region);
  cache = ScreenCache{};
}

uint32_t ScreenCaptureRefresh(int32_t x, int32_t y, int32_t width, int32_t height,
                              HWND ownWindow) {
  if (!cache.active) return 0;
  int32_t cx = x - cache.left, cy = y - cache.top;
  RECT outer{};
  GetWindowRect(ownWindow, &outer);
  SetRectRgn(cache.frame, cx, cy, cx + width, cy + height);
  SetRectRgn(cache.window, outer.left - cache.left, outer.top - cache.top,
             outer.right - cache.left, outer.bottom - cache.top);
  if (CombineRgn(cache.fresh, cache.frame, cache.window, RGN_DIFF) == NULLREGION)
    return cache.version;  // all of it lies beneath the window: nothing to read again
  HWND desktop = GetDesktopWindow();
  HDC screen = GetDC(desktop);
  SelectClipRgn(cache.dc, cache.fresh);
  BitBlt(cache.dc, cx, cy, width, height, screen, x, y, SRCCOPY);
  SelectClipRgn(cache.dc, nullptr);
  ReleaseDC(desktop, screen);
  if (++cache.version == 0) cache.version = 1;  // 0 stays "cannot tell"
  return cache.version;
}

// Does the rectangle lie on the cached screen? The cache holds nothing beyond it.
static bool InsideCache(int32_t x, int32_t y, int32_t width, int32_t height) {
  int32_t cx = x - cache.left, cy = y - cache.top;
  return cx >= 0 && cy >= 0 && width <= cache.width - cx && height <= cache.height - cy;
}

void ScreenCaptureTake(HDC target, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (cache.active) {
    // Beyond the screen a copy shows black, whatever the target held.
    if (!InsideCache(x, y, width, height)) PatBlt(target, 0, 0, width, height, BLACKNESS);
    BitBlt(target, 0, 0, width, height, cache.dc, x - cache.left, y - cache.top, SRCCOPY);
  } else {
    HDC screen = GetDC(GetDesktopWindow());
    BitBlt(target, 0, 0, width, height, screen, x, y, SRCCOPY);
    ReleaseDC(GetDesktopWindow(), screen);
  }
}

const uint32_t* ScreenCapturePixels(int32_t x, int32_t y, int32_t width, int32_t height,
                                    int32_t* stride) {
  // Only Wine has the cache, and Wine batches no drawing: the refresh is in the pixels.
  if (!cache.active || !InsideCache(x, y, width, height)) return nullptr;
  *stride = cache.width;
  return cache.pixels + (x - cache.left) + (y - cache.top) * cache.width;
}

void ScreenCaptureCopy(HDC target, int32_t x, int32_t y, int32_t width, int32_t height,
                       HWND ownWindow) {
  ScreenCaptureRefresh(x, y, width, height, ownWindow);
  ScreenCaptureTake(target, x, y, width, height);
}
