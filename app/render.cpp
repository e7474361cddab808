// Picture loading, screen capture and rendering: the lens joined to the image system.
#include <string.h>

#include "gadget.h"
#include "image.h"
#include "lunetrix.h"

// ---------------------------------------------------------------------------------------------
// Pixel transfer
// ---------------------------------------------------------------------------------------------

// A header for whole-picture transfers: 32 bits a pixel, rows from the top.
struct TransferInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colours[1];  // one zero entry, unused at 32 bits
};

static void DescribeTransfer(TransferInfo* info, int32_t width, int32_t height) {
  memset(info, 0, sizeof *info);
  info->header.biSize = sizeof(BITMAPINFOHEADER);
  info->header.biWidth = width;
  info->header.biHeight = -height;
  info->header.biPlanes = 1;
  info->header.biBitCount = 32;
  info->header.biCompression = BI_RGB;
}

// NOTE: GetDIBits and SetDIBits require that the bitmap is not selected into any device
// context while they run; taking the context from the image's drawing output would do exactly
// that (and selecting a device-dependent bitmap costs a fifth of a millisecond under Wine). The
// transfers use a memory context of their own, made once, in which nothing is ever selected.
static HDC TransferContext(void) {
  static HDC dc = CreateCompatibleDC(nullptr);
  return dc;
}

// Moves a whole image's pixels to (read) or from (write) a buffer; 1 when GDI reports success.
static int32_t TransferPixels(int32_t image, uint8_t* buffer, bool read) {
  int32_t width = ImageGetWidth(image), height = ImageGetHeight(image);
  HBITMAP bitmap = reinterpret_cast<HBITMAP>(ImageGetHandle(image));
  if (bitmap == nullptr) return 0;
  TransferInfo info;
  DescribeTransfer(&info, width, height);
  auto* header = reinterpret_cast<BITMAPINFO*>(&info);
  int lines = read ? GetDIBits(TransferContext(), bitmap, 0, height, buffer, header, DIB_RGB_COLORS)
                   : SetDIBits(TransferContext(), bitmap, 0, height, buffer, header, DIB_RGB_COLORS);
  return lines != 0;
}

int32_t ReadImagePixels(int32_t image, uint8_t* buffer) { return TransferPixels(image, buffer, true); }

int32_t WriteImagePixels(const uint8_t* buffer, int32_t image) {
  return TransferPixels(image, const_cast<uint8_t*>(buffer), false);
}

// ---------------------------------------------------------------------------------------------
// Picture loading
// ---------------------------------------------------------------------------------------------

// Reads a picture into a 500 × 200 buffer and returns the width to read it with: its own pixels
// when it is 500 × 200; a nearest-neighbour scaling, pixel (x × W / 500, y × H / 200), when it
// has another size, so that any picture covers the whole lens and nothing is read outside a
// buffer; 0 (the buffer untouched) when there is no picture.
static int32_t ReadPicture(int32_t image, uint8_t* buffer) {
  int32_t width = ImageGetWidth(image), height = ImageGetHeight(image);
  if (width <= 0 || height <= 0) return 0;
  if (width == LensWidth && height == LensHeight) {
    ReadImagePixels(image, buffer);
    return LensWidth;
  }
  size_t bytes = size_t(width) * height * 4;
  auto* whole = static_cast<uint8_t*>(HeapAlloc(MainHeap, 0, bytes));
  if (whole == nullptr) return 0;
  if (ReadImagePixels(image, whole)) {
    auto* pixels = reinterpret_cast<uint32_t*>(buffer);
    const auto* source = reinterpret_cast<const uint32_t*>(whole);
    for (int32_t y = 0; y < LensHeight; ++y) {
      const uint32_t* row = source + size_t(y * height / LensHeight) * width;
      for (int32_t x = 0; x < LensWidth; ++x) pixels[y * LensWidth + x] = row[x * width / LensWidth];
    }
  }
  HeapFree(MainHeap, 0, whole);
  return LensWidth;
}

int32_t BuildLensTable(const char* bumpName, const char* colourName) {
  char* bumpFile = nullptr;
  char* colourFile = nullptr;
  StringCreate(&bumpFile, bumpName);
  StringCreate(&colourFile, colourName);
  int32_t bump = ImageLoad(-1, bumpFile, 0);
  int32_t colour = ImageLoad(-1, colourFile, 0);
  int32_t bumpWidth = ReadPicture(bump, captureBuffer);
  int32_t colourWidth = ReadPicture(colour, outputBuffer);
  FillLensTable(captureBuffer, bumpWidth, outputBuffer, colourWidth);
  ImageFree(bump);
  ImageFree(colour);
  StringRelease(bumpFile);
  StringRelease(colourFile);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Screen capture
// ---------------------------------------------------------------------------------------------
//
// NOTE: under Wine a screen copy with SRCCOPY includes the program's own layered window, and X11
// keeps no pixels of what lies under a window. So on Wine the screen is copied into a cache
// once, before the window is first shown; each frame refreshes from the screen only the part
// of its rectangle that the window does not cover, and takes the frame from the cache. While
// the window is dragged, every WM_MOVING asks for a rectangle partly outside the window's
// present place, and exactly that part is fresh on the screen. On Windows the copy from the
// desktop leaves layered windows out, and a single BitBlt does it.

struct ScreenCache {
  bool active;         // running on Wine: frames come through the cache
  HDC dc;              // memory context holding the cache bitmap, for the program's life
  HBITMAP bitmap;      // the virtual screen as last seen outside the window
  int32_t left, top;   // virtual screen origin (the cache's 0, 0)
  HRGN frame;          // scratch regions, made once: the frame's rectangle,
  HRGN window;         //   the window's outer rectangle,
  HRGN fresh;          //   and the part of the frame outside the window, in cache coordinates
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
  int32_t width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  HWND desktop = GetDesktopWindow();
  HDC screen = GetDC(desktop);
  cache.dc = CreateCompatibleDC(screen);
  cache.bitmap = CreateCompatibleBitmap(screen, width, height);
  cache.frame = CreateRectRgn(0, 0, 0, 0);
  cache.window = CreateRectRgn(0, 0, 0, 0);
  cache.fresh = CreateRectRgn(0, 0, 0, 0);
  if (cache.dc && cache.bitmap && cache.frame && cache.window && cache.fresh) {
    SelectObject(cache.dc, cache.bitmap);
    BitBlt(cache.dc, 0, 0, width, height, screen, cache.left, cache.top, SRCCOPY);
    cache.active = true;
  }
  ReleaseDC(desktop, screen);
}

// Brings the cache up to date for a frame at (x, y): the part outside the window, from the screen.
static void RefreshCache(int32_t x, int32_t y, int32_t width, int32_t height) {
  int32_t cx = x - cache.left, cy = y - cache.top;
  RECT outer{};
  GetWindowRect(WindowGetHandle(app.mainWindow), &outer);
  SetRectRgn(cache.frame, cx, cy, cx + width, cy + height);
  SetRectRgn(cache.window, outer.left - cache.left, outer.top - cache.top,
             outer.right - cache.left, outer.bottom - cache.top);
  if (CombineRgn(cache.fresh, cache.frame, cache.window, RGN_DIFF) == NULLREGION) return;
  HWND desktop = GetDesktopWindow();
  HDC screen = GetDC(desktop);
  SelectClipRgn(cache.dc, cache.fresh);
  BitBlt(cache.dc, cx, cy, width, height, screen, x, y, SRCCOPY);
  SelectClipRgn(cache.dc, nullptr);
  ReleaseDC(desktop, screen);
}

int32_t CaptureScreen(int32_t x, int32_t y, int32_t width, int32_t height) {
  HDC target = DrawingBegin(ImageDrawingOutput(app.displayImage));
  if (cache.active) {
    RefreshCache(x, y, width, height);
    BitBlt(target, 0, 0, width, height, cache.dc, x - cache.left, y - cache.top, SRCCOPY);
  } else {
    HDC screen = GetDC(GetDesktopWindow());
    BitBlt(target, 0, 0, width, height, screen, x, y, SRCCOPY);
    ReleaseDC(GetDesktopWindow(), screen);
  }
  DrawingEnd();
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Rendering
// ---------------------------------------------------------------------------------------------

int32_t RenderFrame(int32_t x, int32_t y) {
  if (app.renderBusy) return 0;
  app.renderBusy = 1;
  CaptureScreen(x, y, LensWidth, LensHeight);
  ReadImagePixels(app.displayImage, captureBuffer);
  RefractFrame();
  WriteImagePixels(outputBuffer, app.displayImage);
  GadgetSetState(app.imageGadget, ImageGetHandle(app.displayImage));
  app.renderBusy = 0;
  return 0;
}
