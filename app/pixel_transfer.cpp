// Pixel transfers: a whole image's pixels to and from a pixel buffer, 32 bits a pixel.
#include <string.h>

#include "image.h"
#include "lunetrix.h"

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
  // GetDIBits without a buffer only describes the bitmap, and reports success for it.
  if (bitmap == nullptr || buffer == nullptr) return 0;
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
