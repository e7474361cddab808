// Heaps, memory blocks and linked-block lists.
#include <algorithm>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "core.h"
#include "test_support.h"

namespace {

TEST(Heaps, StartupCreatesFourDistinctHeaps) {
  HANDLE heaps[] = {MainHeap, StringHeap, BlockHeap, MemoryHeap};
  for (int i = 0; i < 4; ++i) {
    ASSERT_NE(heaps[i], nullptr) << "heap " << i;
    for (int j = 0; j < i; ++j) EXPECT_NE(heaps[i], heaps[j]);
  }
  EXPECT_EQ(ModuleInstance, GetModuleHandleA(nullptr));
  // None of them is the C library's or the process's heap.
  EXPECT_NE(MainHeap, GetProcessHeap());
}

// Zero or negative sizes, and 2 GiB, which cannot exist in a 32-bit process beside the program.
TEST(MemoryAlloc, SizesItCannotSupplyReturnNullWithoutTouchingTheHeap) {
  int before = HeapBusyBlocks(MemoryHeap);
  for (int32_t size : {0, -5, INT32_MIN, INT32_MAX}) EXPECT_EQ(MemoryAlloc(size), nullptr) << size;
  EXPECT_EQ(HeapBusyBlocks(MemoryHeap), before);
}

TEST(MemoryAlloc, GivesZeroedBlocksFromMemoryHeap) {
  // Dirty the heap first, so that a block that merely happens to be fresh cannot pass.
  for (int i = 0; i < 8; ++i) {
    void* scratch = HeapAlloc(MemoryHeap, 0, 400000);
    ASSERT_NE(scratch, nullptr);
    memset(scratch, 0xA5, 400000);
    HeapFree(MemoryHeap, 0, scratch);
  }
  auto* block = static_cast<uint8_t*>(MemoryAlloc(400000));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::count(block, block + 400000, 0), 400000);
  EXPECT_GE(BlockSize(MemoryHeap, block), 400000u);
  auto* small = static_cast<uint8_t*>(MemoryAlloc(1));
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(small[0], 0);
}

// What guards other programs' pointers: every byte of the range must lie in committed, readable
// (for a reply, writable), unguarded memory, across as many regions as the range spans.
TEST(MemoryReadable, EveryByteMustBeCommittedReadableAndUnguarded) {
  // Pages: read-write, read-only, guard, read-write, then one only reserved.
  auto* base = static_cast<uint8_t*>(VirtualAlloc(nullptr, 5 * 4096, MEM_RESERVE, PAGE_NOACCESS));
  const DWORD kinds[] = {PAGE_READWRITE, PAGE_READONLY, PAGE_READWRITE | PAGE_GUARD, PAGE_READWRITE};
  for (int page = 0; page < 4; ++page)
    ASSERT_NE(VirtualAlloc(base + page * 4096, 4096, MEM_COMMIT, kinds[page]), nullptr);
  const int32_t rect = sizeof(RECT);
  const std::vector<std::tuple<const char*, uint8_t*, int32_t, bool, bool>> cases = {
      {"a read-write page, whole", base, 4096, true, true},
      {"a range across it and the read-only page", base + 4096 - 8, 16, true, false},
      {"a guard page", base + 2 * 4096, 4, false, false},
      {"a range running on into the guard page", base + 2 * 4096 - 8, 9, false, false},
      {"a reserved page after a committed one", base + 4 * 4096, 4, false, false},
      {"a RECT ending one byte into the reserved page", base + 4 * 4096 - rect + 1, rect, false, false},
      {"the RECT a byte earlier", base + 4 * 4096 - rect, rect, true, true},
      {"null", nullptr, 4, false, false}, {"no bytes", base, 0, false, false},
      {"past the top of the address space", reinterpret_cast<uint8_t*>(0xFFFFFFF0), 32, false, false}};
  for (auto [what, at, size, readable, writable] : cases) {
    EXPECT_EQ(MemoryReadable(at, size), readable) << what;
    EXPECT_EQ(MemoryWritable(at, size), writable) << what;
  }
  VirtualFree(base, 0, MEM_RELEASE);
}

// A list of blocks with one byte of payload each, labelled so the walks can be read back.
struct List {
  LinkedBlock* head = nullptr;
  ~List() {
    while (head != nullptr) LinkedBlockFree(&head, LinkedBlockPayload(head));
  }
  void* Link(char label) {
    auto* payload = static_cast<char*>(LinkedBlockAlloc(&head, 16));
    EXPECT_NE(payload, nullptr);
    if (payload) payload[0] = label;
    return payload;
  }
  static char Label(LinkedBlock* block) {
    return *static_cast<char*>(LinkedBlockPayload(block));
  }
  std::string NewestFirst() const {
    std::string s;
    for (LinkedBlock* b = head; b; b = b->next) s += Label(b);
    return s;
  }
  std::string OldestFirst() const {
    LinkedBlock* b = head;
    while (b && b->next) b = b->next;
    std::string s;
    for (; b; b = b->prev) s += Label(b);
    return s;
  }
};

TEST(LinkedBlock, NewestBlockIsHeadAndBothWalksAgree) {
  List list;
  void* a = list.Link('A');
  EXPECT_TRUE(HeapValidate(BlockHeap, 0, LinkedBlockOf(a)));  // a block of BlockHeap's own
  list.Link('B');
  void* c = list.Link('C');
  EXPECT_EQ(LinkedBlockPayload(list.head), c);
  EXPECT_EQ(list.head->prev, nullptr);
  EXPECT_EQ(list.NewestFirst(), "CBA");
  EXPECT_EQ(list.OldestFirst(), "ABC");
  EXPECT_EQ(LinkedBlockOf(a)->next, nullptr);
  // The payload is zeroed beyond what the test wrote, and lies right after the header.
  EXPECT_EQ(static_cast<char*>(c) - reinterpret_cast<char*>(LinkedBlockOf(c)), 8);
  for (int i = 1; i < 16; ++i) EXPECT_EQ(static_cast<char*>(c)[i], 0);
}

TEST(LinkedBlock, FreeingHeadMiddleAndOnlyBlockKeepsTheListWhole) {
  List list;
  void* a = list.Link('A');
  void* b = list.Link('B');
  void* c = list.Link('C');

  LinkedBlockFree(&list.head, c);  // the head
  EXPECT_EQ(list.NewestFirst(), "BA");
  EXPECT_EQ(list.OldestFirst(), "AB");
  EXPECT_EQ(list.head->prev, nullptr);

  void* d = list.Link('D');
  LinkedBlockFree(&list.head, b);  // the middle
  EXPECT_EQ(list.NewestFirst(), "DA");
  EXPECT_EQ(list.OldestFirst(), "AD");

  LinkedBlockFree(&list.head, d);
  LinkedBlockFree(&list.head, a);  // the only block
  EXPECT_EQ(list.head, nullptr);
}

TEST(LinkedBlock, FailedAllocationLeavesTheListUnchanged) {
  List list;
  list.Link('A');
  LinkedBlock* head = list.head;
  EXPECT_EQ(LinkedBlockAlloc(&list.head, 0x7FFFFFF0u), nullptr);
  EXPECT_EQ(LinkedBlockAlloc(&list.head, 0xFFFFFFFFu), nullptr);  // header would not fit
  EXPECT_EQ(list.head, head);
  EXPECT_EQ(head->prev, nullptr);
  EXPECT_EQ(list.NewestFirst(), "A");
}

}  // namespace
