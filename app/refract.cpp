// Frame refraction: every view pixel fetched through the lens table and tinted, with SSE2.
//
// The table stays as it is defined (x-major floats). Once, when it has been filled,
// LensTablePrepare derives a row-major working form: for each view pixel its source pixel index
// and its three factor bytes (factor × 256, exact for a built table). Per frame the kernel then
// reads the working form and the capture in view order and writes the output sequentially:
// four pixels at a time, twelve 16-bit products source × factor byte, each rounded as
// (p + 127 + ((p >> 8) & 1)) >> 8, which is round(p / 256) with ties to even.
#include "lens.h"

#include <emmintrin.h>

// The working form, row-major (view pixel x + y × 500). Zero until the first prepare: every
// pixel then fetches pixel 0 with factors 0, which gives a black frame.
alignas(16) static uint32_t sourceIndex[LensPixels];  // sx + sy × 500, always inside the capture
alignas(16) static uint32_t factorBytes[LensPixels];  // blue, green, red factor × 256; byte 3 zero

// A source coordinate as a whole number inside 0 … last, whatever the cell holds.
static uint32_t SourceCoordinate(float value, int32_t last) {
  if (!(value >= 0.0f)) return 0;  // also catches NaN
  if (value >= static_cast<float>(last)) return static_cast<uint32_t>(last);
  return static_cast<uint32_t>(value);
}

// A factor as the colour byte it came from (factor × 256), within 0 … 255.
static uint32_t FactorByte(float factor) {
  float scaled = factor * 256.0f;
  if (!(scaled >= 0.0f)) return 0;
  if (scaled >= 255.0f) return 255;
  return static_cast<uint32_t>(__builtin_lrintf(scaled));
}

void LensTablePrepare(void) {
  if (lensTable.data == nullptr) return;
  for (int32_t x = 0; x < LensWidth; ++x) {
    for (int32_t y = 0; y < LensHeight; ++y) {
      const LensEntry* cell = LensCell(x, y);
      uint32_t sx = SourceCoordinate(cell->sourceX, LensWidth - 1);
      uint32_t sy = SourceCoordinate(cell->sourceY, LensHeight - 1);
      int32_t view = x + y * LensWidth;
      sourceIndex[view] = sx + sy * LensWidth;
      factorBytes[view] = FactorByte(cell->blueFactor) | FactorByte(cell->greenFactor) << 8 |
                          FactorByte(cell->redFactor) << 16;
    }
  }
}

// Eight 16-bit products p (each at most 255 × 255) divided by 256, rounded with ties to even.
static inline __m128i RoundProducts(__m128i p) {
  const __m128i bias = _mm_set1_epi16(127);
  const __m128i one = _mm_set1_epi16(1);
  __m128i odd = _mm_and_si128(_mm_srli_epi16(p, 8), one);
  return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(p, bias), odd), 8);
}

void RefractFrame(void) {
  const uint32_t* source = reinterpret_cast<const uint32_t*>(captureBuffer);
  uint32_t* target = reinterpret_cast<uint32_t*>(outputBuffer);
  if (source == nullptr || target == nullptr) return;
  const __m128i zero = _mm_setzero_si128();
  const __m128i fourthByte = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  static_assert(LensPixels % 4 == 0, "the kernel works on four pixels at a time");
  for (int32_t i = 0; i < LensPixels; i += 4) {
    __m128i pixels = _mm_setr_epi32(
        static_cast<int>(source[sourceIndex[i]]), static_cast<int>(source[sourceIndex[i + 1]]),
        static_cast<int>(source[sourceIndex[i + 2]]), static_cast<int>(source[sourceIndex[i + 3]]));
    __m128i factors = _mm_load_si128(reinterpret_cast<const __m128i*>(factorBytes + i));
    __m128i low = _mm_mullo_epi16(_mm_unpacklo_epi8(pixels, zero),
                                  _mm_unpacklo_epi8(factors, zero));
    __m128i high = _mm_mullo_epi16(_mm_unpackhi_epi8(pixels, zero),
                                   _mm_unpackhi_epi8(factors, zero));
    __m128i tinted = _mm_packus_epi16(RoundProducts(low), RoundProducts(high));
    __m128i* out = reinterpret_cast<__m128i*>(target + i);
    __m128i kept = _mm_and_si128(_mm_loadu_si128(out), fourthByte);
    _mm_storeu_si128(out, _mm_or_si128(kept, _mm_andnot_si128(fourthByte, tinted)));
  }
}
