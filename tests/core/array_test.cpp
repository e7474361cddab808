// Arrays behind their header, and string variables.
#include <string.h>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "core.h"
#include "test_support.h"

namespace {

// The first n 32-bit words at p, to compare a header or a variable's strides whole.
std::vector<uint32_t> Words(const void* p, int n) {
  const auto* words = static_cast<const uint32_t*>(p);
  return std::vector<uint32_t>(words, words + n);
}

// Allocation rewrites every size but the last into the product of the sizes after it, and puts
// the header in front of element 0 of a MainHeap block that holds count + 1 zeroed elements.
TEST(Array, StridesHeaderAndBlockFollowTheShape) {
  struct Case {
    uint32_t elementSize;
    int32_t dimensions;
    uint32_t sizes[3], passThrough, typeCode;
    std::vector<uint32_t> strides;
    uint32_t count;
  } cases[] = {
      {20, 2, {501, 201}, 0, 7, {201, 201}, 100701},  // the lens table
      {4, 3, {4, 3, 2}, 0x1234, 3, {6, 2, 2}, 24},
      {4, 1, {7}, 0, 1, {7}, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dimensions);
    ArrayVariable<3> v{nullptr, {c.sizes[0], c.sizes[1], c.sizes[2]}};
    void* data = ArrayAllocate(c.elementSize, c.dimensions, c.passThrough, &v, c.typeCode);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(v.data, data);
    EXPECT_EQ(Words(v.dims, c.dimensions), c.strides);
    ArrayHeader* header = ArrayHeaderOf(data);
    EXPECT_EQ(Words(header, 5), (std::vector<uint32_t>{c.elementSize, c.passThrough,
                                                       reinterpret_cast<uint32_t>(&v), c.count,
                                                       c.typeCode}));
    const uint32_t bytes = (c.count + 1) * c.elementSize;
    EXPECT_GE(BlockSize(MainHeap, header), sizeof(ArrayHeader) + bytes);
    const auto* first = static_cast<const uint8_t*>(data);
    EXPECT_EQ(std::count(first, first + bytes, 0), static_cast<ptrdiff_t>(bytes));
    ArrayFree(data);
  }
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

// Sizes whose element count or block size does not fit in 32 bits used to wrap around and hand
// out a block far smaller than the array; they, sizes no heap can supply and no dimensions at
// all must allocate nothing and leave the variable null. The strides are still written.
TEST(Array, ShapesThatCannotBeAllocatedGiveNull) {
  struct Case {
    uint32_t elementSize;
    int32_t dimensions;
    uint32_t sizes[3];
    std::vector<uint32_t> strides;  // 32-bit words, as the variable holds them
  } cases[] = {
      {1, 2, {65536, 65537}, {65537, 65537}},  // 2^32 + 65536 elements: wraps to 65536
      {4, 3, {0x10000, 0x10000, 0x10000}, {0, 0x10000, 0x10000}},  // the count wraps to 0
      {16, 2, {0x4000, 0x4000}, {0x4000, 0x4000}},  // 2^28 elements fit, 16 bytes each do not
      {2, 2, {0x8000, 0x8000}, {0x8000, 0x8000}},   // 2 GiB: no room in 32 bits
      {4, 0, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(Words(c.sizes, c.dimensions)));
    ArrayVariable<3> v{reinterpret_cast<void*>(0x12345678), {c.sizes[0], c.sizes[1], c.sizes[2]}};
    EXPECT_EQ(ArrayAllocate(c.elementSize, c.dimensions, 0, &v, 1), nullptr);
    EXPECT_EQ(v.data, nullptr);
    EXPECT_EQ(Words(v.dims, c.dimensions), c.strides);
  }
  ArrayVariable<1> b{reinterpret_cast<void*>(0x12345678), {}};
  EXPECT_EQ(ArrayBlockAllocate(0xFFFFFFFFu, 1, 0, &b, 1), nullptr);  // count + 1 wraps to 0
  EXPECT_EQ(b.data, nullptr);
  b.data = reinterpret_cast<void*>(0x12345678);
  EXPECT_EQ(ArrayBlockAllocate(0x20000000u, 8, 0, &b, 1), nullptr);  // 4 GiB + 8 wraps to 28
  EXPECT_EQ(b.data, nullptr);
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
