// Arrays behind their header, and string variables.
#include <string.h>

#include <gtest/gtest.h>

#include "core.h"
#include "test_support.h"

namespace {

TEST(Array, LensTableShapeRewritesSizesIntoStrides) {
  ArrayVariable<2> table{};
  table.dims[0] = 501;
  table.dims[1] = 201;
  void* data = ArrayAllocate(20, 2, 0, &table, 7);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(table.data, data);
  EXPECT_EQ(table.dims[0], 201u);
  EXPECT_EQ(table.dims[1], 201u);

  const ArrayHeader* header = ArrayHeaderOf(data);
  EXPECT_EQ(reinterpret_cast<const char*>(data) - reinterpret_cast<const char*>(header), 20);
  EXPECT_EQ(header->elementSize, 20u);
  EXPECT_EQ(header->passThrough, 0u);
  EXPECT_EQ(header->owner, reinterpret_cast<uint32_t>(&table));
  EXPECT_EQ(header->elementCount, 100701u);
  EXPECT_EQ(header->typeCode, 7u);
  // The block is the header plus count + 1 elements, from MainHeap.
  EXPECT_GE(HeapSize(MainHeap, 0, const_cast<ArrayHeader*>(header)), 2014060u);

  // Element (500, 200) is the last one; it and the spare element after it are zero.
  auto* bytes = static_cast<uint8_t*>(data);
  EXPECT_EQ(500 * table.dims[0] + 200, 100700u);
  for (uint32_t i = 0; i < 2 * 20; ++i) EXPECT_EQ(bytes[100700 * 20 + i], 0) << i;
  ArrayFree(data);
}

TEST(Array, ThreeDimensionsGiveProductStrides) {
  ArrayVariable<3> a{};
  a.dims[0] = 4;
  a.dims[1] = 3;
  a.dims[2] = 2;
  void* data = ArrayAllocate(4, 3, 0x1234, &a, 3);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(a.dims[0], 6u);
  EXPECT_EQ(a.dims[1], 2u);
  EXPECT_EQ(a.dims[2], 2u);
  EXPECT_EQ(ArrayHeaderOf(data)->elementCount, 24u);
  EXPECT_EQ(ArrayHeaderOf(data)->passThrough, 0x1234u);
  EXPECT_EQ(3 * a.dims[0] + 2 * a.dims[1] + 1, 23u);  // element (3, 2, 1) is the last
  ArrayFree(data);
}

TEST(Array, ReallocatingAsStartupDoesFreesTheOldBlock) {
  ArrayVariable<2> v{};
  v.dims[0] = 10;
  v.dims[1] = 10;
  void* first = ArrayAllocate(8, 2, 0, &v, 1);
  ASSERT_NE(first, nullptr);
  static_cast<uint8_t*>(first)[0] = 0xFF;
  v.dims[0] = 10;
  v.dims[1] = 10;
  ArrayFree(v.data);  // (the books show a block left)
  void* second = ArrayAllocate(8, 2, 0, &v, 1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(static_cast<uint8_t*>(second)[0], 0);  // fresh arrays are zero even in reused memory
  ArrayFree(second);
  ArrayFree(nullptr);  // nothing to free
}

// Sizes whose element count does not fit in 32 bits used to wrap around and hand out a block far
// smaller than the array; they must allocate nothing.
TEST(Array, CountOverflowAllocatesNothing) {
  ArrayVariable<2> v{};
  v.data = reinterpret_cast<void*>(0x12345678);
  v.dims[0] = 65536;
  v.dims[1] = 65537;  // 2^32 + 65536 elements: wraps to 65536 in 32-bit arithmetic
  EXPECT_EQ(ArrayAllocate(1, 2, 0, &v, 1), nullptr);
  EXPECT_EQ(v.data, nullptr);
  EXPECT_EQ(v.dims[0], 65537u);  // the strides are still written

  ArrayVariable<3> w{};
  w.dims[0] = 0x10000;
  w.dims[1] = 0x10000;
  w.dims[2] = 0x10000;  // the product wraps to exactly 0
  EXPECT_EQ(ArrayAllocate(4, 3, 0, &w, 1), nullptr);
  EXPECT_EQ(w.data, nullptr);
}

TEST(Array, BlockSizeOverflowAllocatesNothing) {
  ArrayVariable<2> v{};
  v.dims[0] = 0x4000;
  v.dims[1] = 0x4000;  // 2^28 elements fit, but 16 bytes each do not
  EXPECT_EQ(ArrayAllocate(16, 2, 0, &v, 1), nullptr);
  EXPECT_EQ(v.data, nullptr);

  ArrayVariable<1> b{};
  b.data = reinterpret_cast<void*>(0x12345678);
  EXPECT_EQ(ArrayBlockAllocate(0xFFFFFFFFu, 1, 0, &b, 1), nullptr);  // count + 1 wraps to 0
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(ArrayBlockAllocate(0x20000000u, 8, 0, &b, 1), nullptr);  // 4 GiB + 8 wraps to 28
  EXPECT_EQ(b.data, nullptr);
}

TEST(Array, HeapThatCannotSupplyTheBlockGivesNull) {
  ArrayVariable<2> v{};
  v.dims[0] = 0x8000;
  v.dims[1] = 0x8000;  // 1 GiB of 1-byte elements, 2 GiB of 2-byte ones: no room in 32 bits
  EXPECT_EQ(ArrayAllocate(2, 2, 0, &v, 1), nullptr);
  EXPECT_EQ(v.data, nullptr);
}

TEST(Array, OneDimensionCountsItsSizeAndNoDimensionsIsRefused) {
  ArrayVariable<1> v{};
  v.dims[0] = 7;
  void* data = ArrayAllocate(4, 1, 0, &v, 1);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(v.dims[0], 7u);
  EXPECT_EQ(ArrayHeaderOf(data)->elementCount, 7u);
  ArrayFree(data);

  ArrayVariable<1> none{};
  none.data = reinterpret_cast<void*>(0x12345678);
  EXPECT_EQ(ArrayAllocate(4, 0, 0, &none, 1), nullptr);
  EXPECT_EQ(none.data, nullptr);
}

TEST(String, CopyTakesLengthPlusFiveBytesFromStringHeap) {
  char* name = nullptr;
  char* copy = StringCreate(&name, "Color.png");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(copy, name);
  EXPECT_EQ(HeapSize(StringHeap, 0, name), 14u);
  EXPECT_EQ(memcmp(name, "Color.png", 10), 0);

  char* empty = nullptr;
  StringCreate(&empty, "");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(HeapSize(StringHeap, 0, empty), 5u);
  EXPECT_EQ(empty[0], '\0');

  StringRelease(name);
  StringRelease(empty);
  StringRelease(nullptr);
}

TEST(String, NullTextKeepsTheVariableAndANewCopyReplacesIt) {
  char* v = nullptr;
  StringCreate(&v, "Bumpmap.png");
  char* first = v;
  StringCreate(&v, nullptr);
  EXPECT_EQ(v, first);
  StringCreate(&v, "x");
  EXPECT_NE(v, first);
  EXPECT_STREQ(v, "x");
  EXPECT_STREQ(first, "Bumpmap.png");  // the earlier buffer is not freed
  StringRelease(first);
  StringRelease(v);
}

}  // namespace
