// Picture loading: the bump map and the colour map read into the lens buffers, scaled to the
// lens when they have another size, and the lens table filled from them.
#include "image.h"
#include "lunetrix.h"

// Reads a picture of another size than the lens into a 500 × 200 buffer by nearest neighbour:
// view pixel (x, y) takes pixel (x × W / 500, y × H / 200), so that any picture covers the whole
// lens and nothing is read outside a buffer. True when the buffer was filled.
static bool ReadScaledPicture(int32_t image, int32_t width, int32_t height, uint8_t* buffer) {
  size_t bytes = size_t(width) * height * 4;
  auto* whole = static_cast<uint8_t*>(HeapAlloc(MainHeap, 0, bytes));
  if (whole == nullptr) return false;
  bool filled = ReadImagePixels(image, whole) != 0;
  if (filled) {
    auto* pixels = reinterpret_cast<uint32_t*>(buffer);
    const auto* source = reinterpret_cast<const uint32_t*>(whole);
    for (int32_t y = 0; y < LensHeight; ++y) {
      const uint32_t* row = source + size_t(y * height / LensHeight) * width;
      for (int32_t x = 0; x < LensWidth; ++x) pixels[y * LensWidth + x] = row[x * width / LensWidth];
    }
  }
  HeapFree(MainHeap, 0, whole);
  return filled;
}

// Fills a 500 × 200 buffer with a picture's pixels, scaled when it has another size. True when
// the buffer was filled; false, the buffer untouched, when there is no picture or it could not
// be read.
static bool ReadPicture(int32_t image, uint8_t* buffer) {
  int32_t width = ImageGetWidth(image), height = ImageGetHeight(image);
  if (width <= 0 || height <= 0) return false;
  if (width == LensWidth && height == LensHeight) return ReadImagePixels(image, buffer) != 0;
  return ReadScaledPicture(image, width, height, buffer);
}

int32_t BuildLensTable(const char* bumpName, const char* colourName) {
  // Without the pixel buffers there is nowhere to read the pictures into: the table keeps its
  // zero fill and no frame is rendered (RenderFrame).
  if (captureBuffer == nullptr || outputBuffer == nullptr) return 0;
  char* bumpFile = nullptr;
  char* colourFile = nullptr;
  StringCreate(&bumpFile, bumpName);
  StringCreate(&colourFile, colourName);
  int32_t bump = ImageLoad(-1, bumpFile, 0);
  int32_t colour = ImageLoad(-1, colourFile, 0);
  bool bumpRead = ReadPicture(bump, captureBuffer);
  bool colourRead = ReadPicture(colour, outputBuffer);
  // A buffer that was not filled is read as a missing picture's is: row 0 for every cell.
  FillLensTable(captureBuffer, bumpRead ? LensWidth : 0, outputBuffer, colourRead ? LensWidth : 0);
  ImageFree(bump);
  ImageFree(colour);
  StringRelease(bumpFile);
  StringRelease(colourFile);
  return 0;
}
