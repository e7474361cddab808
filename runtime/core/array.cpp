// Arrays: fixed-size elements behind a 20-byte ArrayHeader in MainHeap, and their variables.
//
// An array block holds the header, then elementCount + 1 zeroed elements: the spare element
// after the last one is always zero. An element's number is the sum over all dimensions but
// the last of index × that dimension's stride word, plus the last index.
//
// Sizes whose element count or block size would not fit in 32 bits allocate nothing: the
// variable's data pointer becomes null, as for a heap that cannot supply the block.
#include "core.h"

// Rewrites each dimension word but the last into the product of the sizes after it; returns
// the product of all sizes, or a value above UINT32_MAX when that does not fit in 32 bits.
static uint64_t RewriteStrides(uint32_t* dims, int32_t count) {
  uint64_t after = 1;  // product of the sizes after the dimension being rewritten
  for (int32_t i = count - 1; i >= 0; --i) {
    uint32_t size = dims[i];
    if (i < count - 1) dims[i] = static_cast<uint32_t>(after);
    after *= size;
    if (after > UINT32_MAX) after = uint64_t{UINT32_MAX} + 1;  // saturate: stays "too big"
  }
  return after;
}

void* ArrayAllocate(uint32_t elementSize, int32_t dimensions, uint32_t passThrough,
                    void* variable, uint32_t typeCode) {
  auto* words = static_cast<uint32_t*>(variable);
  if (dimensions < 1) {
    words[0] = 0;
    return nullptr;
  }
  uint64_t count = RewriteStrides(words + 1, dimensions);
  if (count > UINT32_MAX) {
    words[0] = 0;
    return nullptr;
  }
  return ArrayBlockAllocate(static_cast<uint32_t>(count), elementSize, passThrough, variable,
                            typeCode);
}

void* ArrayBlockAllocate(uint32_t count, uint32_t elementSize, uint32_t passThrough,
                         void* variable, uint32_t typeCode) {
  auto* words = static_cast<uint32_t*>(variable);
  uint64_t bytes = sizeof(ArrayHeader) + uint64_t{elementSize} * (uint64_t{count} + 1);
  void* block = nullptr;
  if (bytes <= UINT32_MAX) block = HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(bytes));
  if (block == nullptr) {
    words[0] = 0;
    return nullptr;
  }
  auto* header = static_cast<ArrayHeader*>(block);
  header->elementSize = elementSize;
  header->passThrough = passThrough;
  header->owner = reinterpret_cast<uint32_t>(variable);
  header->elementCount = count;
  header->typeCode = typeCode;
  void* data = header + 1;
  words[0] = reinterpret_cast<uint32_t>(data);
  return data;
}

void ArrayFree(void* data) {
  if (data != nullptr) HeapFree(MainHeap, 0, ArrayHeaderOf(data));
}
