// Lens table: allocation at start-up and the build of every cell from the two pictures.
#include "lens.h"

#include <math.h>

ArrayVariable<2> lensTable;
uint8_t* captureBuffer;
uint8_t* outputBuffer;

void AllocateLensBuffers(void) {
  captureBuffer = static_cast<uint8_t*>(MemoryAlloc(LensBufferBytes));
  outputBuffer = static_cast<uint8_t*>(MemoryAlloc(LensBufferBytes));
  lensTable.dims[0] = LensTableSizeX;
  lensTable.dims[1] = LensTableSizeY;
  ArrayFree(lensTable.data);
  ArrayAllocate(sizeof(LensEntry), 2, 0, &lensTable, LensTableTypeCode);
}

// The displacement a bump byte gives: round((byte − 128) × 0.05) in double precision, ties to
// even (so 118 and 138 give 0, 78 gives −2, 178 gives +2); −6 … +6.
static int32_t Displacement(uint8_t bump) {
  return static_cast<int32_t>(nearbyint((static_cast<int32_t>(bump) - 128) * 0.05));
}

static float Clamp(int32_t value, int32_t last) {
  if (value < 0) value = 0;
  if (value > last) value = last;
  return static_cast<float>(value);
}

void FillLensTable(const uint8_t* bumpPixels, int32_t bumpWidth, const uint8_t* colourPixels,
                   int32_t colourWidth) {
  // Start-up could not allocate the table, or the pixels to build it from.
  if (lensTable.data == nullptr || bumpPixels == nullptr || colourPixels == nullptr) return;
  for (int32_t x = 0; x < LensWidth; ++x) {
    for (int32_t y = 0; y < LensHeight; ++y) {
      const uint8_t* bump = bumpPixels + (x + y * bumpWidth) * 4;
      const uint8_t* colour = colourPixels + (x + y * colourWidth) * 4;
      LensEntry* cell = LensCell(x, y);
      cell->sourceX = Clamp(x + Displacement(bump[0]), LensWidth - 1);
      cell->sourceY = Clamp(y + Displacement(bump[1]), LensHeight - 1);
      cell->blueFactor = colour[0] / 256.0f;
      cell->greenFactor = colour[1] / 256.0f;
      cell->redFactor = colour[2] / 256.0f;
    }
  }
  LensTablePrepare();
}
