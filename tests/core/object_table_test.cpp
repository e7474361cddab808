// Object tables: numbered and dynamic objects, the free callback, enumeration, bad numbers.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core.h"
#include "test_support.h"

namespace {

// A library's record: the system handle first, then whatever the library keeps.
struct Record {
  uintptr_t handle;  // non-zero while the object exists
  void* self;        // the record's own address, written by its creator
  uint32_t token;    // a value unique to this object
};

ObjectTable* table;              // the table under test (one per process)
std::vector<int32_t> freeCalls;  // numbers the free callback was called with

// A library's release operation: frees object n if it exists, ending with ObjectRelease.
void FreeRecord(int32_t n) {
  freeCalls.push_back(n);
  if (ObjectFind(table, n) != nullptr) ObjectRelease(table, n);
}

// Creates object n as a library would: a record from ObjectAllocate with a handle stored in it.
Record* Create(int32_t n, uintptr_t handle = 0x1000) {
  auto* r = static_cast<Record*>(ObjectAllocate(table, n));
  r->handle = handle;
  r->self = r;
  return r;
}

int32_t NumberOf(Record* r) { return static_cast<int32_t>(reinterpret_cast<uintptr_t>(r)); }

int BlockCount(const ObjectTable* t) {
  int blocks = 0;
  for (LinkedBlock* b = t->blockList; b; b = b->next) ++blocks;
  return blocks;
}

// Everything an enumeration yields, as text: numbered objects by number, dynamic ones by name.
std::string Enumerate(const std::vector<std::pair<Record*, const char*>>& names = {},
                      bool releaseEach = false) {
  std::string out;
  ObjectEnumStart(table);
  int32_t n = 0;
  while (void* r = ObjectEnumNext(table, &n)) {
    std::string name = std::to_string(n);
    for (const auto& [record, label] : names)
      if (record == r) name = label;
    out += (out.empty() ? "" : " ") + name;
    if (releaseEach) ObjectRelease(table, n);
  }
  return out;
}

// The objects left in the table go at the end, as its library's end step would take them.
const bool releasedAtTheEnd = AtTestEnd([] {
  if (table != nullptr) Enumerate({}, true);
});

// Is the table's lock free? Asked from another thread, since the lock is re-entrant.
bool LockIsFree(ObjectTable* t) {
  bool free = false;
  RunOnThread([&] {
    if (!TryEnterCriticalSection(&t->lock)) return;
    LeaveCriticalSection(&t->lock);
    free = true;
  });
  return free;
}

TEST(ObjectTable, BlockCapacityIsThePowerOfTwoAtOrAboveTheInitialCount) {
  struct { int32_t initial, capacity; uint32_t shift; } cases[] = {
      {50, 64, 6}, {16, 16, 4}, {0, 1, 0}, {1, 1, 0}, {-3, 1, 0}, {17, 32, 5}};
  for (const auto& c : cases) {
    ObjectTable* t = ObjectTableCreate(sizeof(Record), c.initial, nullptr);
    EXPECT_EQ(t->blockCapacity, c.capacity) << c.initial;
    EXPECT_EQ(t->blockShift, c.shift) << c.initial;
    EXPECT_EQ(t->capacity, c.capacity) << c.initial;
    EXPECT_EQ(t->recordSize, static_cast<int32_t>(sizeof(Record)));
    EXPECT_EQ(BlockCount(t), 1);
    EXPECT_EQ(t->firstBlock, t->blockList);
    EXPECT_EQ(t->dynamicList, nullptr);
  }
}

TEST(ObjectTable, NumbersBeyondCapacityAddBlocksOneAtATime) {
  table = ObjectTableCreate(sizeof(Record), 50, FreeRecord);
  Create(64);
  EXPECT_EQ(table->capacity, 128);
  EXPECT_EQ(BlockCount(table), 2);

  table = ObjectTableCreate(sizeof(Record), 16, FreeRecord);
  auto* r = static_cast<Record*>(ObjectAllocate(table, 300));
  EXPECT_EQ(table->capacity, 304);
  EXPECT_EQ(BlockCount(table), 19);
  EXPECT_EQ(ObjectFind(table, 300), nullptr);  // not yet filled by its creator
  r->handle = 0x42;
  EXPECT_EQ(ObjectFind(table, 300), r);
  // Slot 300 is record 12 of the 19th block, walking from the first block along prev.
  LinkedBlock* block = table->firstBlock;
  for (int k = 0; k < 18; ++k) block = block->prev;
  EXPECT_EQ(static_cast<void*>(r), static_cast<Record*>(LinkedBlockPayload(block)) + 12);
}

TEST(ObjectTable, ReusingANumberFreesTheOldObjectFirst) {
  table = ObjectTableCreate(sizeof(Record), 16, FreeRecord);
  Record* first = Create(5, 0x111);
  Record* dynamic = Create(-1);
  EXPECT_EQ(freeCalls, std::vector<int32_t>({5}));  // called for 5, even when it was free
  first->token = 99;
  Record* second = static_cast<Record*>(ObjectAllocate(table, 5));
  EXPECT_EQ(freeCalls, std::vector<int32_t>({5, 5}));
  EXPECT_EQ(second, first);
  EXPECT_EQ(second->handle, 0u);  // the callback's release cleared it
  EXPECT_EQ(second->token, 0u);
  EXPECT_NE(ObjectFind(table, NumberOf(dynamic)), nullptr);
}

TEST(ObjectTable, DynamicObjectsAreNumberedByTheirAddress) {
  table = ObjectTableCreate(sizeof(Record), 16, FreeRecord);
  auto* a = static_cast<Record*>(ObjectAllocate(table, -1));
  auto* b = static_cast<Record*>(ObjectAllocate(table, -1));
  ASSERT_NE(a, b);
  EXPECT_TRUE(freeCalls.empty());
  EXPECT_EQ(a->handle | a->token | b->handle, 0u);  // fresh records are zero
  EXPECT_EQ(ObjectFind(table, NumberOf(a)), nullptr);  // no handle yet
  a->handle = 1;
  b->handle = 2;
  EXPECT_EQ(ObjectFind(table, NumberOf(a)), a);
  EXPECT_EQ(ObjectFind(table, NumberOf(b)), b);
  ObjectRelease(table, NumberOf(a));
  EXPECT_EQ(ObjectFind(table, NumberOf(a)), nullptr);
  EXPECT_EQ(ObjectFind(table, NumberOf(b)), b);
  EXPECT_EQ(LinkedBlockPayload(table->dynamicList), b);
  ObjectRelease(table, NumberOf(b));
  EXPECT_EQ(table->dynamicList, nullptr);
}

TEST(ObjectTable, ReleasingANumberedObjectKeepsCapacityAndTheNumber) {
  table = ObjectTableCreate(sizeof(Record), 16, nullptr);
  Record* r = Create(40);
  ASSERT_EQ(table->capacity, 48);
  ObjectRelease(table, 40);
  EXPECT_EQ(table->capacity, 48);
  EXPECT_EQ(ObjectFind(table, 40), nullptr);
  EXPECT_EQ(r->handle | r->token, 0u);
  EXPECT_EQ(Create(40), r);
  EXPECT_EQ(ObjectFind(table, 40), r);
  // Only the first field says whether the object exists: whatever else its record holds.
  r->handle = 0;
  r->token = 7;
  EXPECT_EQ(ObjectFind(table, 40), nullptr);
}

TEST(ObjectTable, EnumerationYieldsNumberedInOrderThenDynamicOldestFirst) {
  table = ObjectTableCreate(sizeof(Record), 16, FreeRecord);
  Create(7);
  Create(2);
  Record* d1 = Create(-1);
  Record* d2 = Create(-1);
  Create(33);
  EXPECT_EQ(Enumerate({{d1, "D1"}, {d2, "D2"}}), "2 7 33 D1 D2");
  EXPECT_TRUE(LockIsFree(table));
  // Every enumeration starts over.
  EXPECT_EQ(Enumerate({{d1, "D1"}, {d2, "D2"}}), "2 7 33 D1 D2");
}

TEST(ObjectTable, ReleasingEachYieldedObjectStillVisitsEveryObjectOnce) {
  table = ObjectTableCreate(sizeof(Record), 4, FreeRecord);
  Create(0);
  Create(5);
  Create(3);
  Record* d1 = Create(-1);
  Record* d2 = Create(-1);
  Record* d3 = Create(-1);
  EXPECT_EQ(Enumerate({{d1, "D1"}, {d2, "D2"}, {d3, "D3"}}, true), "0 3 5 D1 D2 D3");
  EXPECT_EQ(Enumerate(), "");
  EXPECT_EQ(table->dynamicList, nullptr);
  EXPECT_TRUE(LockIsFree(table));
}

// Releasing an object that the enumeration has not reached yet (as closing a window closes its
// children) must not leave the cursor on freed memory.
TEST(ObjectTable, ReleasingTheNextDynamicObjectDuringEnumerationSkipsIt) {
  table = ObjectTableCreate(sizeof(Record), 4, FreeRecord);
  Record* d1 = Create(-1);
  Record* d2 = Create(-1);
  Record* d3 = Create(-1);
  ObjectEnumStart(table);
  int32_t n = 0;
  EXPECT_EQ(ObjectEnumNext(table, &n), d1);
  ObjectRelease(table, NumberOf(d2));  // the cursor stands on d2
  ObjectRelease(table, NumberOf(d1));
  EXPECT_EQ(ObjectEnumNext(table, &n), d3);
  EXPECT_EQ(ObjectEnumNext(table, &n), nullptr);
  EXPECT_TRUE(LockIsFree(table));
}

TEST(ObjectTable, NumbersThatNameNoObjectAreNeverReadThrough) {
  table = ObjectTableCreate(sizeof(Record), 16, nullptr);
  Record* live = Create(-1);
  // An address that faults if anything reads it, and a released record's number.
  void* noAccess = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
  ASSERT_NE(noAccess, nullptr);
  Record* gone = Create(-1);
  int32_t goneNumber = NumberOf(gone);
  ObjectRelease(table, goneNumber);
  Record onStack{1, nullptr, 0};
  int32_t numbers[] = {NumberOf(static_cast<Record*>(noAccess)), goneNumber,
                       NumberOf(&onStack), 16, 1000000, INT32_MAX, -1, -2, INT32_MIN,
                       NumberOf(live) + 4};
  for (int32_t n : numbers) EXPECT_EQ(ObjectFind(table, n), nullptr) << n;
  // Releasing such numbers changes nothing.
  ObjectRelease(table, NumberOf(static_cast<Record*>(noAccess)));
  ObjectRelease(table, goneNumber);
  ObjectRelease(table, -7);
  EXPECT_EQ(ObjectFind(table, NumberOf(live)), live);
  EXPECT_EQ(LinkedBlockPayload(table->dynamicList), live);
  VirtualFree(noAccess, 0, MEM_RELEASE);
}

// Numbers below −1 get a writable scratch record that nothing can find or enumerate, so a
// creator that writes into it corrupts nothing; so does −1 once no memory is left, even first.
TEST(ObjectTable, NumbersBelowMinusOneGetAScratchRecordThatIsNeverFound) {
  table = ObjectTableCreate(sizeof(Record), 16, FreeRecord);
  Record* kept = Create(0, 0x77);
  HANDLE mainHeap = MainHeap;
  MainHeap = HeapCreate(0, 0x10000, 0x10000);
  for (SIZE_T size = 64; size > 0; size /= 2) while (HeapAlloc(MainHeap, 0, size)) {}
  auto* exhausted = static_cast<Record*>(ObjectAllocate(table, -1));
  MainHeap = mainHeap;
  auto* scratch = static_cast<Record*>(ObjectAllocate(table, -5));
  EXPECT_EQ(exhausted, scratch);
  EXPECT_EQ(table->dynamicList, nullptr);
  ASSERT_NE(scratch, nullptr);
  EXPECT_EQ(scratch->handle | scratch->token, 0u);
  scratch->handle = 0x55;
  scratch->token = 1;
  EXPECT_EQ(ObjectFind(table, -5), nullptr);
  EXPECT_EQ(ObjectFind(table, NumberOf(scratch)), nullptr);
  EXPECT_TRUE(freeCalls.size() == 1 && freeCalls[0] == 0);  // only the creation of 0
  EXPECT_EQ(Enumerate(), "0");
  auto* again = static_cast<Record*>(ObjectAllocate(table, INT32_MIN));
  EXPECT_EQ(again->handle, 0u);  // handed out zeroed each time
  EXPECT_EQ(kept->handle, 0x77u);
  EXPECT_EQ(table->capacity, 16);
}

// A number past the table's limit is refused as a failed growth is, at once and leaving every
// object (a dynamic one whose address it may name included) as it was. A table grown to its
// limit in one-slot blocks still enumerates: a walk from the first block per slot would take
// half a million million steps.
TEST(ObjectTable, NumbersPastTheLimitAreRefusedAndATableAtItsLimitEnumerates) {
  table = ObjectTableCreate(sizeof(Record), 16, FreeRecord);
  Record* dynamic = Create(-1, 0x99);
  void* scratch = ObjectAllocate(table, -5);
  const int32_t limit = (ObjectSlotBytesLimit / sizeof(Record)) & ~15;  // whole blocks of 16
  ASSERT_GT(NumberOf(dynamic), limit) << "the heap placed the record among the numbers";
  for (int32_t n : {NumberOf(dynamic) + 16, NumberOf(dynamic), limit, INT32_MAX}) {
    auto* r = static_cast<Record*>(ObjectAllocate(table, n));
    EXPECT_EQ(r, scratch) << n;
    r->handle = 0x55;
    EXPECT_EQ(ObjectFind(table, n), n == NumberOf(dynamic) ? dynamic : nullptr) << n;
  }
  EXPECT_EQ(table->capacity, 16);
  EXPECT_EQ(BlockCount(table), 1);
  EXPECT_TRUE(freeCalls.empty());  // nothing was freed for a refused number
  EXPECT_EQ(ObjectFind(table, NumberOf(dynamic)), dynamic);
  EXPECT_EQ(dynamic->handle, 0x99u);
  Record* last = Create(limit - 1);
  EXPECT_EQ(table->capacity, limit);
  EXPECT_EQ(ObjectFind(table, limit - 1), last);
  EXPECT_EQ(Enumerate({{dynamic, "D"}}, true), std::to_string(limit - 1) + " D");

  table = ObjectTableCreate(sizeof(uintptr_t), 1, nullptr);
  const int32_t wideLimit = ObjectSlotBytesLimit / sizeof(uintptr_t);
  void* wideScratch = ObjectAllocate(table, -2);
  EXPECT_EQ(ObjectAllocate(table, wideLimit), wideScratch);
  for (int32_t n : {wideLimit - 1, 0, wideLimit / 2, -1})
    *static_cast<uintptr_t*>(ObjectAllocate(table, n)) = 1;
  ASSERT_EQ(table->capacity, wideLimit);
  EXPECT_EQ(BlockCount(table), wideLimit);
  auto* wideDynamic = static_cast<Record*>(LinkedBlockPayload(table->dynamicList));
  EXPECT_EQ(Enumerate({{wideDynamic, "D"}}, true),
            "0 " + std::to_string(wideLimit / 2) + " " + std::to_string(wideLimit - 1) + " D");
  EXPECT_EQ(Enumerate(), "");
  EXPECT_TRUE(LockIsFree(table));
}

// ---------------------------------------------------------------------------------------------
// Under load: several threads create, find and release while another enumerates.
// ---------------------------------------------------------------------------------------------

constexpr int Workers = 4;
constexpr int Rounds = 20000;
constexpr int NumbersPerWorker = 40;

struct Shared {
  volatile LONG published[256];  // numbers of dynamic objects, live or released since
  volatile LONG stop;
  volatile LONG badFinds;         // a lookup that returned a record its number does not name
  volatile LONG badOwnRecords;    // a worker's own live record found altered
  volatile LONG duplicateYields;  // an enumeration that yielded a number twice
  volatile LONG outOfOrder;       // numbered objects not in rising order
  volatile LONG enumerations;
  void* volatile slots[Workers * NumbersPerWorker];  // numbered slots' addresses, once known
  std::vector<int32_t> live[Workers];  // what each worker left alive at its end
} shared;

// What a lookup of another worker's number may return: nothing, or the very record the number
// names (its slot, or for a dynamic number the address itself). The record's contents are not
// looked at: its owner may release it at any moment, which only the owner can know.
void CheckForeignFind(int32_t n, void* found) {
  if (found == nullptr) return;
  bool numbered = n >= 0 && n < Workers * NumbersPerWorker;
  void* named = numbered ? shared.slots[n] : reinterpret_cast<void*>(static_cast<uintptr_t>(n));
  if (found != named) InterlockedIncrement(&shared.badFinds);
}

DWORD WINAPI Worker(void* arg) {
  int w = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  TestRandom random(1234 + w);
  std::vector<int32_t> mine;
  for (int i = 0; i < Rounds; ++i) {
    uint32_t choice = random.Next() % 4;
    if (choice == 0 || mine.size() < 4) {  // create, numbered or dynamic
      bool dynamic = random.Next() & 1;
      int32_t n = dynamic ? -1 : w * NumbersPerWorker + static_cast<int32_t>(random.Next() % NumbersPerWorker);
      auto* r = static_cast<Record*>(ObjectAllocate(table, n));
      r->self = r;
      r->token = 0xA5000000u | (i & 0xFFFFFF);
      if (!dynamic) shared.slots[n] = r;  // slots never move: known before anyone finds it
      __atomic_store_n(&r->handle, uintptr_t{0x1000} + i, __ATOMIC_RELEASE);
      int32_t number = dynamic ? NumberOf(r) : n;
      mine.erase(std::remove(mine.begin(), mine.end(), number), mine.end());  // reuse freed it
      mine.push_back(number);
      if (dynamic) InterlockedExchange(&shared.published[random.Next() % 256], number);
    } else if (choice == 1) {  // release one of mine
      size_t k = random.Next() % mine.size();
      if (ObjectFind(table, mine[k]) != nullptr) ObjectRelease(table, mine[k]);
      mine.erase(mine.begin() + k);
    } else {  // find one of mine (whole and unchanged), and anybody's
      auto* own = static_cast<Record*>(ObjectFind(table, mine[random.Next() % mine.size()]));
      if (own == nullptr || own->self != own || (own->token >> 24) != 0xA5)
        InterlockedIncrement(&shared.badOwnRecords);
      int32_t dynamicNumber = shared.published[random.Next() % 256];
      CheckForeignFind(dynamicNumber, ObjectFind(table, dynamicNumber));
      int32_t numbered = static_cast<int32_t>(random.Next() % (Workers * NumbersPerWorker));
      CheckForeignFind(numbered, ObjectFind(table, numbered));
    }
  }
  shared.live[w] = mine;
  return 0;
}

DWORD WINAPI Enumerator(void*) {
  while (!shared.stop) {
    std::vector<int32_t> seen;
    int32_t last = -1, n = 0;
    bool numbered = true;
    ObjectEnumStart(table);
    while (void* r = ObjectEnumNext(table, &n)) {
      if (std::find(seen.begin(), seen.end(), n) != seen.end()) InterlockedIncrement(&shared.duplicateYields);
      seen.push_back(n);
      bool isNumbered = n >= 0 && n < table->capacity && r != reinterpret_cast<void*>(n);
      if (isNumbered) {
        if (!numbered || n <= last) InterlockedIncrement(&shared.outOfOrder);
        last = n;
      } else {
        numbered = false;
      }
    }
    InterlockedIncrement(&shared.enumerations);
  }
  return 0;
}

TEST(ObjectTable, ConcurrentCreationFindReleaseAndEnumerationLoseNothing) {
  table = ObjectTableCreate(sizeof(Record), 16, [](int32_t n) {
    if (ObjectFind(table, n) != nullptr) ObjectRelease(table, n);
  });
  HANDLE threads[Workers + 1];
  threads[Workers] = CreateThread(nullptr, 0, Enumerator, nullptr, 0, nullptr);
  for (int w = 0; w < Workers; ++w)
    threads[w] = CreateThread(nullptr, 0, Worker, reinterpret_cast<void*>(intptr_t{w}), 0, nullptr);
  ASSERT_EQ(WaitForMultipleObjects(Workers, threads, TRUE, 60000), WAIT_OBJECT_0);
  shared.stop = 1;
  ASSERT_EQ(WaitForSingleObject(threads[Workers], 60000), WAIT_OBJECT_0);
  for (HANDLE h : threads) CloseHandle(h);

  EXPECT_EQ(shared.badFinds, 0);
  EXPECT_EQ(shared.badOwnRecords, 0);
  EXPECT_EQ(shared.duplicateYields, 0);
  EXPECT_EQ(shared.outOfOrder, 0);
  EXPECT_GT(shared.enumerations, 0);
  EXPECT_TRUE(LockIsFree(table));

  // Exactly what the workers left alive is still there: no record lost, none extra.
  std::vector<int32_t> expected, actual;
  for (const auto& v : shared.live) expected.insert(expected.end(), v.begin(), v.end());
  for (int32_t n : expected) EXPECT_NE(ObjectFind(table, n), nullptr) << n;
  ObjectEnumStart(table);
  int32_t n = 0;
  while (ObjectEnumNext(table, &n)) actual.push_back(n);
  std::sort(expected.begin(), expected.end());
  std::sort(actual.begin(), actual.end());
  EXPECT_EQ(actual, expected);
}

}  // namespace
