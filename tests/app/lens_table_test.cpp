// The lens table: its allocation at start-up and the build of every cell from two pictures.
#include <algorithm>

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
  EXPECT_EQ(std::count(captureBuffer, captureBuffer + LensBufferBytes, 0), LensBufferBytes);
  EXPECT_EQ(std::count(outputBuffer, outputBuffer + LensBufferBytes, 0), LensBufferBytes);
  EXPECT_GE(BlockSize(MemoryHeap, captureBuffer), 400000u);
  const ArrayHeader* h = ArrayHeaderOf(lensTable.data);
  EXPECT_EQ(std::make_tuple(lensTable.dims[0], lensTable.dims[1], h->elementSize, h->passThrough,
                            h->owner, h->elementCount, h->typeCode),
            std::make_tuple(201u, 201u, 20u, 0u, reinterpret_cast<uint32_t>(&lensTable), 100701u, 7u));
  EXPECT_EQ(LensCell(1, 0) - LensCell(0, 0), 201);  // x-major
}

TEST_F(LensTest, EveryBumpByteGivesItsTabulatedDisplacement) {
  Picture bump(500, 200, 128), colour(500, 200);
  // Byte b sits at cell (120 + b, 100) in both the blue and the green byte.
  for (int b = 0; b < 256; ++b)
    bump.At(120 + b, 100)[0] = bump.At(120 + b, 100)[1] = static_cast<uint8_t>(b);
  FillLensTable(bump.bytes.data(), 500, colour.bytes.data(), 500);
  // The exact ties round to even: bytes 118 (-0.5), 138 (+0.5), 78 (-2.5) and 218 (+4.5).
  for (int b = 0; b < 256; ++b) {
    float d = static_cast<float>(ExpectedDisplacement(b));
    EXPECT_EQ(Source(120 + b, 100), std::make_pair(120 + b + d, 100 + d)) << "byte " << b;
  }
}

TEST_F(LensTest, SourcesAreClampedAtTheEdgesOfTheCapture) {
  Picture bump(500, 200, 128), colour(500, 200);
  bump.At(0, 0)[0] = bump.At(0, 0)[1] = 0;
  bump.At(499, 199)[0] = bump.At(499, 199)[1] = 255;
  bump.At(3, 197)[0] = 0;    // -6 from x = 3
  bump.At(3, 197)[1] = 255;  // +6 from y = 197
  FillLensTable(bump.bytes.data(), 500, colour.bytes.data(), 500);
  EXPECT_EQ(Source(0, 0), std::make_pair(0.0f, 0.0f));
  EXPECT_EQ(Source(499, 199), std::make_pair(499.0f, 199.0f));
  EXPECT_EQ(Source(3, 197), std::make_pair(0.0f, 199.0f));
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
    for (int32_t x = 0; x < 500; ++x)
      ASSERT_EQ(Cell(x, y), std::make_tuple(float(x), float(y), (x & 255) / 256.0f,
                                            (y & 255) / 256.0f, ((x + y) & 255) / 256.0f));
  colour.Fill(255, 255, 255);
  FillLensTable(bump.bytes.data(), 500, colour.bytes.data(), 500);
  EXPECT_EQ(LensCell(7, 7)->redFactor, 0.99609375f);
}

TEST_F(LensTest, EachPictureIsReadWithItsOwnRowStride) {
  Picture bump(640, 200, 128), colour(501, 200);
  bump.At(5, 2)[0] = 255;   // cell (5, 2) of a 640-wide bump map
  colour.At(5, 2)[1] = 64;  // cell (5, 2) of a 501-wide colour map
  FillLensTable(bump.bytes.data(), 640, colour.bytes.data(), 501);
  EXPECT_EQ(Cell(5, 2), std::make_tuple(11.0f, 2.0f, 0.0f, 0.25f, 0.0f));
  EXPECT_EQ(Source(5, 1), std::make_pair(5.0f, 1.0f));
}

TEST_F(LensTest, WidthZeroReadsRowZeroForEveryCell) {
  Picture bump(500, 200), colour(500, 200);  // zeros, as a picture that failed to load leaves
  colour.Fill(10, 20, 30);
  FillLensTable(bump.bytes.data(), 0, colour.bytes.data(), 0);
  for (int32_t x = 0; x < 500; x += 7)
    for (int32_t y = 0; y < 200; y += 3) {
      ASSERT_EQ(Source(x, y), std::make_pair(float(x < 6 ? 0 : x - 6), float(y < 6 ? 0 : y - 6)));
      ASSERT_EQ(LensCell(x, y)->blueFactor, 10.0f / 256.0f);
    }
  // No pixels at all (start-up could not have the buffers) leave the table as it was.
  FillLensTable(nullptr, 0, colour.bytes.data(), 0);
  FillLensTable(bump.bytes.data(), 0, nullptr, 0);
  EXPECT_EQ(Cell(100, 50), std::make_tuple(94.0f, 44.0f, 10 / 256.0f, 20 / 256.0f, 30 / 256.0f));
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
