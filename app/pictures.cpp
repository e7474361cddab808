// Picture loading: the bump map and the colour map read into the lens buffers, scaled to the
// lens when they have another size, and the lens table filled from them.
#include "image.h"
#include "lunetrix.h"

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
