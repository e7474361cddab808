// Frame refraction: every view pixel fetched through the lens table and tinted, with SSE2.
//
// The table stays as it is defined (x-major floats). Once, when it has been filled,
// LensTablePrepare derives a row-major working form: for each view pixel its source pixel index
// (the cell's coordinates rounded to the nearest whole number, ties to even, and kept inside the
// capture) and its three factor bytes (factor × 256). Per frame the kernel then reads the
// working form and the capture in view order and writes the output sequentially: four pixels
// at a time, twelve 16-bit products source × factor byte, each rounded as
// (p + 127 + ((p >> 8) & 1)) >> 8, which is round(p / 256) with ties to even.
//
// Factor bytes hold a factor exactly only when it is a multiple of 1/256 in 0 … 255/256, as
// every factor of a table built from pictures is (a negative or not-a-number factor counts as
// 0). A table with any other factor, written cell by cell, is rendered by the definition
// instead, product by product in double precision, and a product past 255 gives 255: a factor
// of 1 passes a byte unchanged.
#include "lens.h"

#include <emmintrin.h>

// The working form, row-major (view pixel x + y × 500). Zero until the first prepare: every
// pixel then fetches pixel 0 with factors 0, which gives a black frame.
alignas(16) static uint32_t sourceIndex[LensPixels];  // sx + sy × 500, always inside the capture
alignas(16) static uint32_t factorBytes[LensPixels];  // blue, green, red factor × 256; byte 3 zero
static bool factorsExact = true;  // factorBytes holds every factor of the table exactly
static uint32_t preparedVersion;  // LensTablePrepare calls that found a table

// A source coordinate as the nearest whole number (ties to even) inside 0 … last, whatever the
// cell holds.
static uint32_t SourceCoordinate(float value, int32_t last) {
  if (!(value >= 0.0f)) return 0;  // also catches NaN
  if (value >= static_cast<float>(last)) return static_cast<uint32_t>(last);
  return static_cast<uint32_t>(_mm_cvtss_si32(_mm_set_ss(value)));
}

// The factor as a factor byte (factor × 256, whole part; 0 for a negative or not-a-number
// factor); true when that is exact, which a factor of 1 or more never is.
static bool FactorByte(float factor, uint32_t* byte) {
  float scaled = factor > 0.0f ? factor * 256.0f : 0.0f;  // exact: a power of two
  *byte = scaled < 256.0f ? static_cast<uint32_t>(scaled) : 0;
  return static_cast<float>(*byte) == scaled;
}

void LensTablePrepare(void) {
  if (lensTable.data == nullptr) return;
  bool exact = true;
  for (int32_t x = 0; x < LensWidth; ++x) {
    for (int32_t y = 0; y < LensHeight; ++y) {
      const LensEntry* cell = LensCell(x, y);
      uint32_t sx = SourceCoordinate(cell->sourceX, LensWidth - 1);
      uint32_t sy = SourceCoordinate(cell->sourceY, LensHeight - 1);
      uint32_t blue, green, red;
      exact = FactorByte(cell->blueFactor, &blue) && exact;
      exact = FactorByte(cell->greenFactor, &green) && exact;
      exact = FactorByte(cell->redFactor, &red) && exact;
      int32_t view = x + y * LensWidth;
      sourceIndex[view] = sx + sy * LensWidth;
      factorBytes[view] = blue | green << 8 | red << 16;
    }
  }
  factorsExact = exact;
  ++preparedVersion;
}

uint32_t LensTableVersion(void) { return preparedVersion; }

// Eight 16-bit products p (each at most 255 × 255) divided by 256, rounded with ties to even.
static inline __m128i RoundProducts(__m128i p) {
  const __m128i bias = _mm_set1_epi16(127);
  const __m128i one = _mm_set1_epi16(1);
  __m128i odd = _mm_and_si128(_mm_srli_epi16(p, 8), one);
  return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(p, bias), odd), 8);
}

// The fast kernel: the working form's factor bytes, four pixels at a time, view row y written at
// firstRow + y × rowStride.
static void RefractByFactorBytes(const uint32_t* source, uint32_t* firstRow, int32_t rowStride) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i fourthByte = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  static_assert(LensWidth % 4 == 0, "the kernel works on four pixels at a time");
  for (int32_t y = 0; y < LensHeight; ++y) {
    uint32_t* row = firstRow + y * rowStride;
    int32_t rowStart = y * LensWidth;
    for (int32_t i = rowStart; i < rowStart + LensWidth; i += 4) {
      __m128i pixels = _mm_setr_epi32(
          static_cast<int>(source[sourceIndex[i]]), static_cast<int>(source[sourceIndex[i + 1]]),
          static_cast<int>(source[sourceIndex[i + 2]]),
          static_cast<int>(source[sourceIndex[i + 3]]));
      __m128i factors = _mm_load_si128(reinterpret_cast<const __m128i*>(factorBytes + i));
      __m128i low = _mm_mullo_epi16(_mm_unpacklo_epi8(pixels, zero),
                                    _mm_unpacklo_epi8(factors, zero));
      __m128i high = _mm_mullo_epi16(_mm_unpackhi_epi8(pixels, zero),
                                     _mm_unpackhi_epi8(factors, zero));
      __m128i tinted = _mm_packus_epi16(RoundProducts(low), RoundProducts(high));
      __m128i* out = reinterpret_cast<__m128i*>(row + (i - rowStart));
      __m128i kept = _mm_and_si128(_mm_loadu_si128(out), fourthByte);
      _mm_storeu_si128(out, _mm_or_si128(kept, _mm_andnot_si128(fourthByte, tinted)));
    }
  }
}

// A byte times a factor, rounded to the nearest whole number with ties to even (SSE2's
// conversion under the default rounding mode); the double product is exact. A negative or
// not-a-number factor gives 0, a product past 255 gives 255. A factor past 256 counts as 256,
// which already takes every byte but 0 past 255, so that 0 times infinity gives 0.
static inline uint8_t Tint(uint8_t byte, float factor) {
  if (!(factor > 0.0f)) return 0;
  double product = byte * static_cast<double>(factor < 256.0f ? factor : 256.0f);
  return static_cast<uint8_t>(_mm_cvtsd_si32(_mm_set_sd(product < 255.0 ? product : 255.0)));
}

// The definition, for tables whose factors factor bytes cannot hold: each pixel's source from
// the working form, its factors read from the table's cell. Kept out of line: inlined, it
// crowds the kernel's registers and slows every frame.
__attribute__((noinline)) static void RefractByDefinition(const uint32_t* source,
                                                          uint32_t* firstRow, int32_t rowStride) {
  if (lensTable.data == nullptr) return;
  for (int32_t x = 0; x < LensWidth; ++x) {
    for (int32_t y = 0; y < LensHeight; ++y) {
      const LensEntry* cell = LensCell(x, y);
      int32_t view = x + y * LensWidth;
      const auto* s = reinterpret_cast<const uint8_t*>(source + sourceIndex[view]);
      auto* t = reinterpret_cast<uint8_t*>(firstRow + y * rowStride + x);
      t[0] = Tint(s[0], cell->blueFactor);
      t[1] = Tint(s[1], cell->greenFactor);
      t[2] = Tint(s[2], cell->redFactor);
    }
  }
}

void RefractFrameInto(uint32_t* firstRow, int32_t rowStride) {
  const uint32_t* source = reinterpret_cast<const uint32_t*>(captureBuffer);
  if (source == nullptr || firstRow == nullptr) return;
  if (factorsExact) {
    RefractByFactorBytes(source, firstRow, rowStride);
  } else {
    RefractByDefinition(source, firstRow, rowStride);
  }
}

void RefractFrame(void) { RefractFrameInto(reinterpret_cast<uint32_t*>(outputBuffer), LensWidth); }
