// The lens: the lens table built from a bump map and a colour map, and the per-frame refraction
// that bends and tints a 500 × 200 screen capture through it.
//
// Pixel buffers hold 4 bytes per pixel (blue, green, red, a fourth byte the lens never uses),
// rows from the top, pixel (x, y) of a picture of width W at byte (x + y × W) × 4, no gaps.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core.h"

constexpr int32_t LensWidth = 500;   // view width in pixels; also the buffers' row stride
constexpr int32_t LensHeight = 200;  // view height in pixels
constexpr int32_t LensPixels = LensWidth * LensHeight;
constexpr int32_t LensBufferBytes = LensPixels * 4;     // 400,000
constexpr uint32_t LensTableTypeCode = 7;               // type word of the table's array header
constexpr uint32_t LensTableSizeX = LensWidth + 1;      // 501: x runs 0 … 500
constexpr uint32_t LensTableSizeY = LensHeight + 1;     // 201: y runs 0 … 200

// One cell of the lens table: where a view pixel fetches its screen pixel, and how strongly
// each colour channel passes. Every value is exact in single precision.
struct LensEntry {
  float sourceX;      // column of the capture to fetch: whole number 0 … 499
  float sourceY;      // row of the capture to fetch: whole number 0 … 199
  float blueFactor;   // colour-map blue / 256: scales byte 0 of the fetched pixel
  float greenFactor;  // colour-map green / 256: scales byte 1
  float redFactor;    // colour-map red / 256: scales byte 2
};
static_assert(sizeof(LensEntry) == 20, "a lens cell is five 32-bit floats");
static_assert(offsetof(LensEntry, blueFactor) == 8, "lens cell layout is fixed");
static_assert(offsetof(LensEntry, redFactor) == 16, "lens cell layout is fixed");

// The lens table, x-major: cell (x, y) is element x × dims[0] + y (dims[0] is 201 once
// allocated). Cells with x = 500 or y = 200 exist but are never written or read.
extern ArrayVariable<2> lensTable;
// The capture (and, while the table is built, the bump map's pixels): 500 × 200 pixels.
extern uint8_t* captureBuffer;
// The rendered frame (and, while the table is built, the colour map's pixels); byte 3 of each
// pixel is never rewritten by the refraction.
extern uint8_t* outputBuffer;

// Start-up: the two zeroed 400,000-byte pixel buffers from MemoryAlloc, then the zeroed
// 501 × 201 lens table (any table the variable held before is freed first).
void AllocateLensBuffers(void);

// Cell (x, y) of the lens table.
inline LensEntry* LensCell(int32_t x, int32_t y) {
  return static_cast<LensEntry*>(lensTable.data) + x * lensTable.dims[0] + y;
}

// Fills cells (0 … 499, 0 … 199) from the bump map's pixels (blue and green bytes displace by
// round((byte − 128) × 0.05), clamped to the capture) and the colour map's pixels (blue, green
// and red bytes / 256), each picture read with its own row stride; then prepares the table for
// RefractFrame. A width of 0 reads row 0 for every cell. Each buffer must hold 200 rows of its
// width; a null buffer leaves the table as it was.
void FillLensTable(const uint8_t* bumpPixels, int32_t bumpWidth, const uint8_t* colourPixels,
                   int32_t colourWidth);

// Derives RefractFrame's working form of the lens table, once, after the table was written.
// FillLensTable calls it; code that writes cells directly calls it after its last write.
void LensTablePrepare(void);
// How many times the table was prepared: RefractFrame gives the same frame for the same capture
// while this stays the same.
uint32_t LensTableVersion(void);

// Writes every view pixel of outputBuffer: the capture's pixel at the cell's source position
// (rounded to the nearest whole number, ties to even, and kept inside the capture), each colour
// byte times its factor, rounded to nearest with ties to even: a negative or not-a-number factor
// gives 0, a product past 255 gives 255, so a factor of 1 passes the byte unchanged. Byte 3
// untouched.
void RefractFrame(void);
// The same frame written elsewhere: view row y at firstRow + y × rowStride pixels (a negative
// stride for rows from the bottom, as a bottom-up DIB section holds them).
void RefractFrameInto(uint32_t* firstRow, int32_t rowStride);
