// Pixel transfers: a whole image's pixels to and from a pixel buffer, 32 bits a pixel.
#include "image.h"
#include "lunetrix.h"

// NOTE: GetDIBits and SetDIBits require that the bitmap is not selected into any device
// context while they run; taking the context from the image's drawing output would do exactly
// that (and under Wine selecting a device-dependent bitmap asks the wine server several times).
// The transfers use a memory context of their own, made at start-up, in which nothing is ever
// selected; when start-up could not have it, each transfer makes one for itself.
static HDC transferContext;

void PixelTransferEnd(void) {
  if (transferContext != nullptr) DeleteDC(transferContext);
  transferContext = nullptr;
}

void PixelTransferInit(void) {
  PixelTransferEnd();  // a second start-up replaces the context rather than losing it
  transferContext = CreateCompatibleDC(nullptr);
}

// Moves a whole image's pixels to (read) or from (write) a buffer; 1 when GDI reports success.
static int32_t TransferPixels(int32_t image, uint8_t* buffer, bool read) {
  int32_t width = ImageGetWidth(image), height = ImageGetHeight(image);
  HBITMAP bitmap = reinterpret_cast<HBITMAP>(ImageGetHandle(image));
  // GetDIBits without a buffer only describes the bitmap, and reports success for it.
  if (bitmap == nullptr || buffer == nullptr) return 0;
  HDC dc = transferContext != nullptr ? transferContext : CreateCompatibleDC(nullptr);
  if (dc == nullptr) return 0;  // this transfer fails; the next one tries again
  BITMAPINFO info = ImageTopDownInfo(width, height, 32);
  int lines = read ? GetDIBits(dc, bitmap, 0, height, buffer, &info, DIB_RGB_COLORS)
                   : SetDIBits(dc, bitmap, 0, height, buffer, &info, DIB_RGB_COLORS);
  if (dc != transferContext) DeleteDC(dc);
  return lines != 0;
}

int32_t ReadImagePixels(int32_t image, uint8_t* buffer) { return TransferPixels(image, buffer, true); }

int32_t WriteImagePixels(const uint8_t* buffer, int32_t image) {
  return TransferPixels(image, const_cast<uint8_t*>(buffer), false);
}
