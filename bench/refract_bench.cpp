// Refraction benchmark: RefractFrame against a plain loop over the table and a plain copy.
//
// The three variants run side by side in one process, interleaved repetition by repetition (the
// order rotates), so a noisy shared machine slows them alike; medians are reported. The table is
// built the way the program builds it, from a rippled bump map that spans every displacement and
// a colour map of varied tints, and the capture is a structured picture.
//
//   refract     RefractFrame, the kernel the program runs.
//   naive       the refraction as the table states it: x outer, y inner, the cell's floats read
//               from lensTable, one rounding per product of byte and factor.
//   copy bound  memcpy of the bytes a frame touches: the table's whole array block, and the
//               capture's 400,000 bytes into a 400,000-byte output.
#include <fcntl.h>
#include <io.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <emmintrin.h>

#include <algorithm>
#include <vector>

#include "lunetrix.h"

constexpr int WarmupRounds = 20;   // untimed repetitions of each variant first
constexpr int TimedRounds = 500;   // timed repetitions of each variant
constexpr double Pi = 3.14159265358979323846;

enum Variant { Refract, Naive, Copy, VariantCount };
static const char* const VariantNames[VariantCount] = {"refract", "naive", "copy bound"};

static uint8_t* naiveOutput;  // the naive loop's frame; starts as outputBuffer does
static uint8_t* tableScratch; // destination of the copy bound's table copy
static uint8_t* copyOutput;   // destination of the copy bound's capture copy

// ---------------------------------------------------------------------------------------------
// Inputs
// ---------------------------------------------------------------------------------------------

// A byte from a wave value in −1 … 1: the full 0 … 255 range.
static uint8_t WaveByte(double wave) {
  double byte = nearbyint(127.5 + 127.5 * wave);
  return static_cast<uint8_t>(std::min(255.0, std::max(0.0, byte)));
}

// Bump map: crossing sine ripples whose extremes reach 0 and 255 in blue and green, so every
// displacement −6 … +6 occurs in both directions. Red and byte 3 carry noise the table ignores.
static void MakeBumpMap(uint8_t* pixels) {
  for (int32_t y = 0; y < LensHeight; ++y)
    for (int32_t x = 0; x < LensWidth; ++x) {
      uint8_t* p = pixels + (x + y * LensWidth) * 4;
      p[0] = WaveByte(sin(2 * Pi * x / 37.0 + 1.3 * sin(2 * Pi * y / 90.0)));
      p[1] = WaveByte(sin(2 * Pi * y / 23.0 + 1.1 * sin(2 * Pi * x / 140.0)));
      p[2] = static_cast<uint8_t>(x * 7 + y * 13);
      p[3] = static_cast<uint8_t>(x ^ y);
    }
}

// Colour map: slow tints that wander independently through each channel's whole range.
static void MakeColourMap(uint8_t* pixels) {
  for (int32_t y = 0; y < LensHeight; ++y)
    for (int32_t x = 0; x < LensWidth; ++x) {
      uint8_t* p = pixels + (x + y * LensWidth) * 4;
      p[0] = WaveByte(sin(2 * Pi * (x / 311.0 + y / 157.0)));
      p[1] = WaveByte(cos(2 * Pi * (x / 173.0 - y / 241.0)));
      p[2] = WaveByte(sin(2 * Pi * (x + y) / 419.0 + 2.0));
      p[3] = 0xFF;  // what the colour map's read-out leaves for byte 3 of every frame
    }
}

// A structured capture: gradients, a checkerboard and thin lines, like a desktop with windows.
static void MakeCapture(uint8_t* pixels) {
  for (int32_t y = 0; y < LensHeight; ++y)
    for (int32_t x = 0; x < LensWidth; ++x) {
      uint8_t* p = pixels + (x + y * LensWidth) * 4;
      bool check = ((x >> 4) ^ (y >> 4)) & 1;
      bool line = x % 50 == 0 || y % 40 == 0;
      p[0] = line ? 0 : static_cast<uint8_t>(x * 255 / 499);
      p[1] = line ? 0 : static_cast<uint8_t>(y * 255 / 199);
      p[2] = check ? 0xF0 : static_cast<uint8_t>((x * y) >> 6);
      p[3] = 0;
    }
}

// The smallest and largest displacement the built table holds, in x and in y.
static void DisplacementSpan(int32_t* minDx, int32_t* maxDx, int32_t* minDy, int32_t* maxDy) {
  *minDx = *minDy = 1000;
  *maxDx = *maxDy = -1000;
  for (int32_t x = 0; x < LensWidth; ++x)
    for (int32_t y = 0; y < LensHeight; ++y) {
      const LensEntry* cell = LensCell(x, y);
      // Cells near the edges are clamped; the displacement shows inside only.
      if (x < 6 || x >= LensWidth - 6 || y < 6 || y >= LensHeight - 6) continue;
      int32_t dx = static_cast<int32_t>(cell->sourceX) - x;
      int32_t dy = static_cast<int32_t>(cell->sourceY) - y;
      *minDx = std::min(*minDx, dx);
      *maxDx = std::max(*maxDx, dx);
      *minDy = std::min(*minDy, dy);
      *maxDy = std::max(*maxDy, dy);
    }
}

// After the program's start-up has allocated the buffers and the table: the two maps read into
// the buffers the build uses, the table filled from them, then the capture. False when something
// is missing.
static bool PrepareFrame(void) {
  naiveOutput = static_cast<uint8_t*>(MemoryAlloc(LensBufferBytes));
  copyOutput = static_cast<uint8_t*>(MemoryAlloc(LensBufferBytes));
  if (lensTable.data == nullptr || captureBuffer == nullptr || outputBuffer == nullptr ||
      naiveOutput == nullptr || copyOutput == nullptr)
    return false;
  MakeBumpMap(captureBuffer);
  MakeColourMap(outputBuffer);
  FillLensTable(captureBuffer, LensWidth, outputBuffer, LensWidth);
  MakeCapture(captureBuffer);
  memcpy(naiveOutput, outputBuffer, LensBufferBytes);  // same byte 3 in both frames
  return true;
}

// ---------------------------------------------------------------------------------------------
// Variants
// ---------------------------------------------------------------------------------------------

// One product rounded to the nearest whole number, ties to even, stored as a byte. The rounding
// is SSE2's cvtsd2si under the default rounding mode: the same result as nearbyint, without the
// library call that mingw-w64 makes for nearbyint (an x87 routine), so the comparison measures
// the algorithm rather than the C library.
static inline uint8_t Tint(uint8_t byte, float factor) {
  return static_cast<uint8_t>(_mm_cvtsd_si32(_mm_set_sd(static_cast<double>(byte) * factor)));
}

// The refraction written out plainly over the table's floats.
static void NaiveFrame(void) {
  const LensEntry* table = static_cast<const LensEntry*>(lensTable.data);
  const uint32_t stride = lensTable.dims[0];
  for (int32_t x = 0; x < LensWidth; ++x)
    for (int32_t y = 0; y < LensHeight; ++y) {
      const LensEntry& cell = table[x * stride + y];
      int32_t sx = static_cast<int32_t>(cell.sourceX);
      int32_t sy = static_cast<int32_t>(cell.sourceY);
      const uint8_t* source = captureBuffer + (sx + sy * LensWidth) * 4;
      uint8_t* target = naiveOutput + (x + y * LensWidth) * 4;
      target[0] = Tint(source[0], cell.blueFactor);
      target[1] = Tint(source[1], cell.greenFactor);
      target[2] = Tint(source[2], cell.redFactor);
    }
}

// The table's array block: its header sits directly in front of element 0.
static uint32_t TableBlockBytes(void) {
  const ArrayHeader* header = ArrayHeaderOf(lensTable.data);
  return sizeof(ArrayHeader) + header->elementSize * (header->elementCount + 1);
}

// Copies exactly the bytes a frame reads and writes, with nothing computed.
static void CopyFrame(void) {
  memcpy(tableScratch, ArrayHeaderOf(lensTable.data), TableBlockBytes());
  memcpy(copyOutput, captureBuffer, LensBufferBytes);
}

static void RunVariant(int variant) {
  switch (variant) {
    case Refract: RefractFrame(); break;
    case Naive: NaiveFrame(); break;
    case Copy: CopyFrame(); break;
  }
}

// ---------------------------------------------------------------------------------------------
// Checking and timing
// ---------------------------------------------------------------------------------------------

// Whether RefractFrame's frame equals the naive frame byte for byte; prints the first few
// differences when it does not.
static bool SameFrames(void) {
  int reported = 0;
  for (int32_t i = 0; i < LensBufferBytes; ++i) {
    if (outputBuffer[i] == naiveOutput[i]) continue;
    if (reported++ < 5)
      fprintf(stderr, "refract_bench: pixel (%d, %d) byte %d: naive %u, RefractFrame %u\n",
              i / 4 % LensWidth, i / 4 / LensWidth, i % 4, naiveOutput[i], outputBuffer[i]);
  }
  if (reported > 5) fprintf(stderr, "refract_bench: %d bytes differ in all\n", reported);
  return reported == 0;
}

static double TicksPerMillisecond(void) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(frequency.QuadPart) / 1000.0;
}

// Milliseconds one run of the variant takes.
static double TimeVariant(int variant, double ticksPerMs) {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  RunVariant(variant);
  QueryPerformanceCounter(&end);
  return static_cast<double>(end.QuadPart - start.QuadPart) / ticksPerMs;
}

// The value at fraction q of the sorted samples (nearest rank).
static double Quantile(const std::vector<double>& sorted, double q) {
  size_t index = static_cast<size_t>(q * (sorted.size() - 1) + 0.5);
  return sorted[index];
}

// Every variant TimedRounds times, interleaved; the order rotates each repetition so none
// always runs on caches the one before it left.
static void Measure(std::vector<double> samples[VariantCount]) {
  double ticksPerMs = TicksPerMillisecond();
  for (int round = 0; round < WarmupRounds; ++round)
    for (int v = 0; v < VariantCount; ++v) RunVariant(v);
  for (int round = 0; round < TimedRounds; ++round)
    for (int k = 0; k < VariantCount; ++k) {
      int v = (round + k) % VariantCount;
      samples[v].push_back(TimeVariant(v, ticksPerMs));
    }
  for (int v = 0; v < VariantCount; ++v) std::sort(samples[v].begin(), samples[v].end());
}

static void PrintInputs(void) {
  int32_t minDx, maxDx, minDy, maxDy;
  DisplacementSpan(&minDx, &maxDx, &minDy, &maxDy);
  printf("table: %u x %u cells, displacement x %+d..%+d, y %+d..%+d; block %u bytes\n",
         LensTableSizeX, LensTableSizeY, minDx, maxDx, minDy, maxDy, TableBlockBytes());
  printf("check: RefractFrame and the naive loop agree on all %d bytes\n", LensBufferBytes);
  printf("rounds: %d warm-up, %d timed per variant, interleaved\n", WarmupRounds, TimedRounds);
}

static void PrintResults(const std::vector<double> samples[VariantCount]) {
  double median[VariantCount];
  for (int v = 0; v < VariantCount; ++v) {
    median[v] = Quantile(samples[v], 0.5);
    printf("%-10s p10 %.3f ms  median %.3f ms  p90 %.3f ms\n", VariantNames[v],
           Quantile(samples[v], 0.1), median[v], Quantile(samples[v], 0.9));
  }
  printf("naive/refract: %.2f\n", median[Naive] / median[Refract]);
  printf("refract: %.3f ms; naive: %.3f ms; copy bound: %.3f ms; refract/copy: %.2f\n",
         median[Refract], median[Naive], median[Copy], median[Refract] / median[Copy]);
}

int main(void) {
  // NOTE: text-mode streams would end every line with "\r" when read on Linux through Wine.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  StartLunetrix();
  if (!PrepareFrame()) {
    fprintf(stderr, "refract_bench: could not allocate the buffers or the lens table\n");
    return 1;
  }
  tableScratch = static_cast<uint8_t*>(MemoryAlloc(static_cast<int32_t>(TableBlockBytes())));
  if (tableScratch == nullptr) {
    fprintf(stderr, "refract_bench: could not allocate the copy's scratch block\n");
    return 1;
  }
  RefractFrame();
  NaiveFrame();
  if (!SameFrames()) {
    fprintf(stderr, "refract_bench: RefractFrame differs from the naive loop\n");
    return 1;
  }
  PrintInputs();
  std::vector<double> samples[VariantCount];
  Measure(samples);
  PrintResults(samples);
  return 0;
}
