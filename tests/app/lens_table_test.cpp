// The lens table: its allocation at start-up and the build of every cell from two pictures.
#include <math.h>

#include "lens_fixture.h"
#include "test_support.h"

namespace {

// The displacement of a bump byte as the design tabulates it, written out independently of the
// code's formula: ranges of bytes and the displacement each gives.
int ExpectedDisplacement(int b) {
  static const struct { int last, d; } ranges[] = {
      {18, -6}, {37, -5}, {58, -4}, {77, -3}, {98, -2}, {117, -1}, {138, 0},
      {157, 1}, {178, 2}, {197, 3}, {218, 4}, {237, 5}, {255, 6}};
  for (const auto& r : ranges)
    if (b <= r.last) return r.d;
  return 99;
}

TEST_F(LensTest, StartupAllocatesZeroedBuffersAndTheTable) {
  for (int32_t i = 0; i < LensBufferBytes; ++i) {
    ASSERT_EQ(captureBuffer[i], 0) << i;
    ASSERT_EQ(outputBuffer[i], 0) << i;
  }
  EXPECT_GE(HeapSize(MemoryHeap, 0, captureBuffer), 400000u);
  EXPECT_EQ(lensTable.dims[0], 201u);
  EXPECT_EQ(lensTable.dims[1], 201u);
  const ArrayHeader* header = ArrayHeaderOf(lensTable.data);
  EXPECT_EQ(header->elementSize, 20u);
  EXPECT_EQ(header->passThrough, 0u);
  EXPECT_EQ(header->owner, reinterpret_cast<uint32_t>(&lensTable));
  EXPECT_EQ(header->elementCount, 100701u);
  EXPECT_EQ(header->typeCode, 7u);
  EXPECT_EQ(LensCell(1, 0) - LensCell(0, 0), 201);  // x-major
}

TEST_F(LensTest, EveryBumpByteGivesItsTabulatedDisplacement) {
  Picture bump(500, 200, 128), colour(500, 200);
  // Byte b sits at cell (120 + b, 100) in both the blue and the green byte.
  for (int b = 0; b < 256; ++b) {
    bump.At(120 + b, 100)[0] = static_cast<uint8_t>(b);
    bump.At(120 + b, 100)[1] = static_cast<uint8_t>(b);
  }
  FillLensTable(bump.bytes.data(), 500, colour.bytes.data(), 500);
  for (int b = 0; b < 256; ++b) {
    const LensEntry* cell = LensCell(120 + b, 100);
    EXPECT_EQ(cell->sourceX, static_cast<float>(120 + b + ExpectedDisplacement(b))) << "byte " << b;
    EXPECT_EQ(cell->sourceY, static_cast<float>(100 + ExpectedDisplacement(b))) << "byte " << b;
  }
  // The exact ties round to even.
  EXPECT_EQ(LensCell(120 + 118, 100)->sourceX, 238.0f);  // -0.5 -> 0
  EXPECT_EQ(LensCell(120 + 138, 100)->sourceX, 258.0f);  // +0.5 -> 0
  EXPECT_EQ(LensCell(120 + 78, 100)->sourceX, 196.0f);   // -2.5 -> -2
  EXPECT_EQ(LensCell(120 + 218, 100)->sourceX, 342.0f);  // +4.5 -> +4
}

TEST_F(LensTest, SourcesAreClampedAtTheEdgesOfTheCapture) {
  Picture bump(500, 200, 128), colour(500, 200);
  bump.At(0, 0)[0] = bump.At(0, 0)[1] = 0;
  bump.At(499, 199)[0] = bump.At(499, 199)[1] = 255;
  bump.At(3, 197)[0] = 0;    // -6 from x = 3
  bump.At(3, 197)[1] = 255;  // +6 from y = 197
  FillLensTable(bump.bytes.data(), 500, colour.bytes.data(), 500);
  EXPECT_EQ(LensCell(0, 0)->sourceX, 0.0f);
  EXPECT_EQ(LensCell(0, 0)->sourceY, 0.0f);
  EXPECT_EQ(LensCell(499, 199)->sourceX, 499.0f);
  EXPECT_EQ(LensCell(499, 199)->sourceY, 199.0f);
  EXPECT_EQ(LensCell(3, 197)->sourceX, 0.0f);
  EXPECT_EQ(LensCell(3, 197)->sourceY, 199.0f);
}

TEST_F(LensTest, FactorsAreColourBytesOver256AndIgnoreTheOtherBytes) {
  Picture bump(500, 200, 128), colour(500, 200);
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 500; ++x) {
      uint8_t* c = colour.At(x, y);
      c[0] = static_cast<uint8_t>(x);
      c[1] = static_cast<uint8_t>(y);
      c[2] = static_cast<uint8_t>(x + y);
      c[3] = 0x5A;                                  // plays no part
      bump.At(x, y)[2] = static_cast<uint8_t>(x);   // the bump's red byte plays no part
      bump.At(x, y)[3] = static_cast<uint8_t>(y);   // nor its fourth byte
    }
  FillLensTable(bump.bytes.data(), 500, colour.bytes.data(), 500);
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 500; ++x) {
      const LensEntry* cell = LensCell(x, y);
      ASSERT_EQ(cell->sourceX, static_cast<float>(x));
      ASSERT_EQ(cell->sourceY, static_cast<float>(y));
      ASSERT_EQ(cell->blueFactor, static_cast<float>(x & 255) / 256.0f);
      ASSERT_EQ(cell->greenFactor, static_cast<float>(y & 255) / 256.0f);
      ASSERT_EQ(cell->redFactor, static_cast<float>((x + y) & 255) / 256.0f);
    }
  colour.Fill(255, 255, 255);
  FillLensTable(bump.bytes.data(), 500, colour.bytes.data(), 500);
  EXPECT_EQ(LensCell(7, 7)->redFactor, 0.99609375f);
}

TEST_F(LensTest, EachPictureIsReadWithItsOwnRowStride) {
  Picture bump(640, 200, 128), colour(501, 200);
  bump.At(5, 2)[0] = 255;   // cell (5, 2) of a 640-wide bump map
  colour.At(5, 2)[1] = 64;  // cell (5, 2) of a 501-wide colour map
  FillLensTable(bump.bytes.data(), 640, colour.bytes.data(), 501);
  EXPECT_EQ(LensCell(5, 2)->sourceX, 11.0f);
  EXPECT_EQ(LensCell(5, 2)->greenFactor, 0.25f);
  EXPECT_EQ(LensCell(5, 1)->sourceX, 5.0f);
}

TEST_F(LensTest, WidthZeroReadsRowZeroForEveryCell) {
  Picture bump(500, 200), colour(500, 200);  // zeros, as a picture that failed to load leaves
  colour.Fill(10, 20, 30);
  FillLensTable(bump.bytes.data(), 0, colour.bytes.data(), 0);
  for (int32_t x = 0; x < 500; x += 7)
    for (int32_t y = 0; y < 200; y += 3) {
      const LensEntry* cell = LensCell(x, y);
      ASSERT_EQ(cell->sourceX, static_cast<float>(x < 6 ? 0 : x - 6));
      ASSERT_EQ(cell->sourceY, static_cast<float>(y < 6 ? 0 : y - 6));
      ASSERT_EQ(cell->blueFactor, 10.0f / 256.0f);
    }
  // No pixels at all (start-up could not have the buffers) leave the table as it was.
  FillLensTable(nullptr, 0, colour.bytes.data(), 0);
  FillLensTable(bump.bytes.data(), 0, nullptr, 0);
  EXPECT_EQ(LensCell(100, 50)->sourceX, 94.0f);
  EXPECT_EQ(LensCell(100, 50)->blueFactor, 10.0f / 256.0f);
}

TEST_F(LensTest, CellsOutsideTheViewAreNeverWritten) {
  auto isZero = [](const LensEntry* e) {
    static const LensEntry zero{};
    return memcmp(e, &zero, sizeof zero) == 0;
  };
  Picture bump(500, 200, 200), colour(500, 200, 200);
  FillLensTable(bump.bytes.data(), 500, colour.bytes.data(), 500);
  for (int32_t y = 0; y <= 200; ++y) ASSERT_TRUE(isZero(LensCell(500, y))) << y;
  for (int32_t x = 0; x <= 500; ++x) ASSERT_TRUE(isZero(LensCell(x, 200))) << x;
  EXPECT_FALSE(isZero(LensCell(499, 199)));
}

}  // namespace
