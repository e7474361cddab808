// Frame refraction against a plain statement of the formula, bit for bit: tables built from
// pictures, and tables written cell by cell with values no picture gives.
#include <math.h>

#include "lens_fixture.h"
#include "test_support.h"

namespace {

// The formula as written: the product of byte and factor in double precision (exact for factors
// of byte / 256), rounded to the nearest whole number with ties to even.
uint8_t Tint(uint8_t source, float factor) {
  return static_cast<uint8_t>(nearbyint(static_cast<double>(source) * factor));
}

// The whole frame by the formula, from the table's floats, x outer and y inner: the nearest
// source pixel (ties to even) of cells inside the capture, factors within 0 … 255 / 256.
std::vector<uint8_t> ReferenceFrame(const uint8_t* capture, const uint8_t* previousOutput) {
  std::vector<uint8_t> out(previousOutput, previousOutput + LensBufferBytes);
  for (int32_t x = 0; x < 500; ++x)
    for (int32_t y = 0; y < 200; ++y) {
      const LensEntry* cell = LensCell(x, y);
      const uint8_t* s = capture + (static_cast<int32_t>(nearbyint(cell->sourceX)) +
                                    static_cast<int32_t>(nearbyint(cell->sourceY)) * 500) * 4;
      uint8_t* t = &out[(x + y * 500) * 4];
      t[0] = Tint(s[0], cell->blueFactor);
      t[1] = Tint(s[1], cell->greenFactor);
      t[2] = Tint(s[2], cell->redFactor);
    }
  return out;
}

// round(source × colour / 256) with ties to even, by integer reasoning alone. A factor one float
// step below (hair −1) or above (+1) colour / 256 settles a tie its own way instead.
uint32_t ExpectedTint(uint32_t source, uint32_t colour, int hair = 0) {
  uint32_t product = source * colour, q = product >> 8, r = product & 255;
  if (r != 128) return q + (r > 128);
  if (hair != 0) return q + (hair > 0);
  return q + (q & 1);
}

// A coordinate a hand-written cell may hold for whole number v that still rounds to v (ties to
// even): v ± 0.5 where v is even, v + 0.25 or v − 0.375 where it is odd.
float NearCoordinate(int32_t v, int32_t other) {
  if (v % 2 == 0) return v + (other % 2 ? -0.5f : 0.5f);
  return v + (other % 2 ? -0.375f : 0.25f);
}

TEST_F(LensTest, EveryPairOfSourceByteAndColourByte) {
  // Cells fetch themselves; pixel i carries source byte i % 256 and colour byte i / 256 in blue,
  // and the same pair crossed over in green and red, so all 65,536 pairs are met three times.
  // First as built from a colour map, then written cell by cell: coordinates off by up to a
  // half, and factors one float step off the colour byte / 256.
  Picture bump(500, 200, 128), colour(500, 200);
  for (int32_t i = 0; i < LensPixels; ++i) {
    uint8_t s = static_cast<uint8_t>(i), c = static_cast<uint8_t>(i >> 8);
    const uint8_t colourBytes[3] = {c, s, c}, captureBytes[3] = {s, c, s};
    memcpy(&colour.bytes[i * 4], colourBytes, 3);
    memcpy(captureBuffer + i * 4, captureBytes, 3);
  }
  FillLensTable(bump.bytes.data(), 500, colour.bytes.data(), 500);
  RefractFrame();
  for (int32_t i = 0; i < 65536; ++i) {
    uint32_t s = i & 255, c = i >> 8;
    uint32_t expected = ExpectedTint(s, c);
    const uint8_t* out = outputBuffer + i * 4;
    ASSERT_EQ(out[0], expected) << "source " << s << ", colour " << c;
    ASSERT_EQ(out[1], expected) << "source " << c << ", colour " << s;
    ASSERT_EQ(out[2], expected) << "source " << s << ", colour " << c;
  }
  for (int32_t x = 0; x < 500; ++x)
    for (int32_t y = 0; y < 200; ++y) {
      uint32_t i = x + y * 500, s = i & 255, c = (i >> 8) & 255;
      *LensCell(x, y) = LensEntry{NearCoordinate(x, y), NearCoordinate(y, x),
                                  nextafterf(c / 256.0f, 0.0f), nextafterf(s / 256.0f, 1.0f),
                                  nextafterf(c / 256.0f, 1.0f)};
    }
  LensTablePrepare();
  RefractFrame();
  for (int32_t i = 0; i < 65536; ++i) {
    uint32_t s = i & 255, c = i >> 8;
    const uint8_t* out = outputBuffer + i * 4;
    ASSERT_EQ(out[0], ExpectedTint(s, c, -1)) << "source " << s << ", colour " << c << " less a hair";
    ASSERT_EQ(out[1], ExpectedTint(c, s, +1)) << "source " << c << ", colour " << s << " and a hair";
    ASSERT_EQ(out[2], ExpectedTint(s, c, +1)) << "source " << s << ", colour " << c << " and a hair";
  }
}

// A built table is refracted from its prepared form alone (its cells may be out of reach), and
// so is one whose other factors are negative or not a number, which give 0. Then the same by the
// definition, beside factors no colour byte gives: 1 passes a byte unchanged, and a product past
// 255 gives 255.
TEST_F(LensTest, RoundingEdgesOfTheProduct) {
  struct { uint8_t source, colour, expected; } cases[] = {
      {255, 255, 254}, {1, 128, 0}, {3, 128, 2}, {255, 128, 128}, {200, 0, 0}, {0, 255, 0}};
  struct { uint8_t source; float factor; uint8_t expected; } handWritten[] = {
      {206, 1.0f, 206}, {255, 1.0f, 255}, {200, 2.0f, 255}, {100, 2.0f, 200}, {1, 254.4f, 254},
      {0, INFINITY, 0}, {1, INFINITY, 255}, {200, -1.0f, 0}, {200, -0.0f, 0}, {200, NAN, 0}};
  Picture bump(500, 200, 128), colour(500, 200);
  int i = 0;
  for (const auto& c : cases) {
    colour.bytes[i * 4 + 2] = c.colour;
    captureBuffer[i * 4 + 2] = c.source;
    ++i;
  }
  auto writeCells = [&](bool positive) {
    for (int j = 0; j < static_cast<int>(std::size(handWritten)); ++j) {
      if ((handWritten[j].factor > 0.0f) != positive) continue;
      LensCell(i + j, 0)->redFactor = handWritten[j].factor;
      captureBuffer[(i + j) * 4 + 2] = handWritten[j].source;
    }
    LensTablePrepare();
  };
  FillLensTable(bump.bytes.data(), 500, colour.bytes.data(), 500);
  writeCells(false);
  void* cells = lensTable.data;
  lensTable.data = nullptr;
  RefractFrame();
  lensTable.data = cells;
  std::vector<uint8_t> fast = Frame();
  writeCells(true);
  RefractFrame();
  i = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(fast[i * 4 + 2], c.expected) << int(c.source) << " x " << int(c.colour);
    EXPECT_EQ(outputBuffer[i++ * 4 + 2], c.expected) << int(c.source) << " x " << int(c.colour);
  }
  for (const auto& c : handWritten) {
    if (!(c.factor > 0.0f)) {
      EXPECT_EQ(fast[i * 4 + 2], c.expected) << c.factor;
    }
    EXPECT_EQ(outputBuffer[i++ * 4 + 2], c.expected) << c.factor;
  }
}

TEST_F(LensTest, RandomTablesAndCapturesMatchTheFormula) {
  TestRandom random(20261207);
  // A factor no colour byte gives: any float in 0 … 255 / 256.
  auto anyFactor = [&] { return static_cast<float>(random.Next() >> 8) / 16777216.0f * (255 / 256.0f); };
  // Rounds 0 to 3 hold the values a build gives; rounds 4 to 7 add what only a hand-written
  // table holds: half and hundredth coordinates, factors of any value.
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    bool handWritten = round >= 4;
    for (int32_t x = 0; x < 500; ++x)
      for (int32_t y = 0; y < 200; ++y) {
        LensEntry* cell = LensCell(x, y);
        cell->sourceX = static_cast<float>(random.Next() % 500);
        cell->sourceY = static_cast<float>(random.Next() % 200);
        cell->blueFactor = random.Byte() / 256.0f;
        cell->greenFactor = random.Byte() / 256.0f;
        cell->redFactor = random.Byte() / 256.0f;
        if (!handWritten) continue;
        bool halves = random.Next() & 1;
        cell->sourceX = halves ? (random.Next() % 999) / 2.0f : (random.Next() % 49901) / 100.0f;
        cell->sourceY = halves ? (random.Next() % 399) / 2.0f : (random.Next() % 19901) / 100.0f;
        if (random.Next() & 1) cell->blueFactor = anyFactor();
        if (random.Next() & 1) cell->greenFactor = anyFactor();
        if (random.Next() & 1) cell->redFactor = anyFactor();
      }
    LensTablePrepare();
    for (int32_t i = 0; i < LensBufferBytes; ++i) captureBuffer[i] = random.Byte();
    std::vector<uint8_t> expected = ReferenceFrame(captureBuffer, outputBuffer);
    RefractFrame();
    EXPECT_EQ(ComparePixels(expected, Frame(), LensWidth, LensHeight, 4), "");  // all four bytes
  }
}

TEST_F(LensTest, RealisticBuildAndFrameMatchTheFormula) {
  // Ripples in both bump bytes, varied tints, and a capture with structure.
  Picture bump(500, 200), colour(500, 200);
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 500; ++x) {
      bump.At(x, y)[0] = static_cast<uint8_t>(128 + 120 * sin(x * 0.07 + y * 0.02));
      bump.At(x, y)[1] = static_cast<uint8_t>(128 + 120 * cos(y * 0.09 - x * 0.03));
      colour.At(x, y)[0] = static_cast<uint8_t>(x * 255 / 499);
      colour.At(x, y)[1] = static_cast<uint8_t>(y * 255 / 199);
      colour.At(x, y)[2] = static_cast<uint8_t>(255 - (x + y) % 256);
      colour.At(x, y)[3] = static_cast<uint8_t>(x ^ y);
    }
  memcpy(outputBuffer, colour.bytes.data(), LensBufferBytes);  // as the colour map's read-out
  FillLensTable(bump.bytes.data(), 500, outputBuffer, 500);
  for (int32_t i = 0; i < LensBufferBytes; ++i) captureBuffer[i] = static_cast<uint8_t>(i * 7 + i / 2000);
  std::vector<uint8_t> expected = ReferenceFrame(captureBuffer, outputBuffer);
  RefractFrame();
  EXPECT_EQ(ComparePixels(expected, Frame(), LensWidth, LensHeight, 4), "");  // all four bytes
}

TEST_F(LensTest, FlatLensShowsTheCaptureUnmovedAndScaled) {
  Picture bump(500, 200, 128), colour(500, 200);
  colour.Fill(64, 128, 255);
  FillLensTable(bump.bytes.data(), 500, colour.bytes.data(), 500);
  for (int32_t i = 0; i < LensBufferBytes; ++i) captureBuffer[i] = static_cast<uint8_t>(i / 4 * 13);
  RefractFrame();
  std::vector<uint8_t> expected(LensBufferBytes);  // every pixel fetches its own place
  for (int32_t i = 0; i < LensBufferBytes; ++i)
    expected[i] = Tint(captureBuffer[i], i % 4 == 0 ? 0.25f : i % 4 == 1 ? 0.5f : 255 / 256.0f);
  EXPECT_EQ(ComparePixels(expected, Frame(), LensWidth, LensHeight, 3), "");
}

TEST_F(LensTest, MissingPicturesShiftByMinusSixAndBlackenTheView) {
  Picture zeros(500, 200), colour(500, 200);
  colour.Fill(255, 255, 255);
  for (int32_t i = 0; i < LensBufferBytes; ++i) captureBuffer[i] = static_cast<uint8_t>(i / 4 % 251);
  FillLensTable(zeros.bytes.data(), 0, colour.bytes.data(), 500);  // no bump map
  RefractFrame();
  for (int32_t y = 0; y < 200; y += 5)
    for (int32_t x = 0; x < 500; x += 3) {
      const uint8_t* s = CapturePixel(x < 6 ? 0 : x - 6, y < 6 ? 0 : y - 6);
      ASSERT_EQ(OutputPixel(x, y)[1], Tint(s[1], 255 / 256.0f)) << x << "," << y;
    }
  FillLensTable(zeros.bytes.data(), 0, zeros.bytes.data(), 0);  // neither picture
  RefractFrame();
  EXPECT_EQ(ComparePixels(std::vector<uint8_t>(LensBufferBytes), Frame(), LensWidth, LensHeight, 3), "");
}

TEST_F(LensTest, FourthByteOfTheOutputSurvivesEveryFrame) {
  for (int32_t i = 0; i < LensPixels; ++i) outputBuffer[i * 4 + 3] = static_cast<uint8_t>(i * 31);
  Picture bump(500, 200, 90), colour(500, 200, 255);
  FillLensTable(bump.bytes.data(), 500, colour.bytes.data(), 500);
  TestRandom random(7);
  for (int frame = 0; frame < 20; ++frame) {
    for (int32_t i = 0; i < LensBufferBytes; ++i) captureBuffer[i] = random.Byte();
    RefractFrame();
  }
  for (int32_t i = 0; i < LensPixels; ++i)
    ASSERT_EQ(outputBuffer[i * 4 + 3], static_cast<uint8_t>(i * 31)) << "pixel " << i;
}

// Buffers that end exactly at an inaccessible page: a single byte read or written beyond the
// 500 × 200 pixels would fault.
struct FencedBuffer {
  uint8_t* base = nullptr;
  uint8_t* data = nullptr;
  FencedBuffer() {
    const SIZE_T page = 4096, span = (LensBufferBytes + page - 1) / page * page;
    base = static_cast<uint8_t*>(VirtualAlloc(nullptr, span + 2 * page, MEM_RESERVE, PAGE_NOACCESS));
    VirtualAlloc(base + page, span, MEM_COMMIT, PAGE_READWRITE);
    data = base + page + span - LensBufferBytes;
  }
  ~FencedBuffer() { VirtualFree(base, 0, MEM_RELEASE); }
};

TEST_F(LensTest, NoFetchOrStoreLiesOutsideTheBuffers) {
  FencedBuffer capture, output;
  ASSERT_NE(capture.base, nullptr);
  uint8_t* savedCapture = captureBuffer;
  uint8_t* savedOutput = outputBuffer;
  captureBuffer = capture.data;
  outputBuffer = output.data;
  for (int32_t i = 0; i < LensBufferBytes; ++i) captureBuffer[i] = static_cast<uint8_t>(i);
  // Every cell fetches the last pixel; then cells that hold values no build makes (far out of
  // range, negative, not a number) are kept inside the capture as well.
  for (int32_t x = 0; x < 500; ++x)
    for (int32_t y = 0; y < 200; ++y) *LensCell(x, y) = LensEntry{499, 199, 1, 1, 1};
  LensTablePrepare();
  RefractFrame();
  EXPECT_EQ(OutputPixel(0, 0)[0], CapturePixel(499, 199)[0]);
  *LensCell(0, 0) = LensEntry{1e9f, -5, NAN, 2, -1};
  *LensCell(1, 0) = LensEntry{NAN, 1e30f, 0.5f, 0.5f, 0.5f};
  LensTablePrepare();
  RefractFrame();
  // Factors beyond the colour bytes' range: not a number and negative give 0, a product past 255
  // gives 255; the same again once a factor of 0.3 joins them.
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    EXPECT_EQ(std::vector<uint8_t>(OutputPixel(0, 0), OutputPixel(0, 0) + 3),
              std::vector<uint8_t>({0, 255, 0}));
    EXPECT_EQ(OutputPixel(1, 0)[0], Tint(CapturePixel(0, 199)[0], 0.5f));
    *LensCell(2, 0) = LensEntry{498.5f, 198.75f, 0.3f, 0.3f, 0.3f};
    LensTablePrepare();
    RefractFrame();
    EXPECT_EQ(OutputPixel(2, 0)[2], Tint(CapturePixel(498, 199)[2], 0.3f));
  }
  captureBuffer = savedCapture;
  outputBuffer = savedOutput;
}

}  // namespace
