// Object tables: numbered slots in blocks that never move, and dynamic records numbered by
// their own address.
//
// Invariants:
// - A record exists while its first field (the system handle) is non-zero; all zero is free.
// - Block k (in order of creation) holds numbers k × blockCapacity … (k + 1) × blockCapacity − 1.
//   It is reached from firstBlock by following prev k times, and at once through blockIndex[k].
// - A block is linked, zeroed and indexed before capacity grows, and capacity is published with
//   release ordering: a lookup that reads the new capacity (acquire) finds the new block in the
//   index, which never moves.
// - Capacity never passes capacityLimit (ObjectSlotBytesLimit bytes of slots), and no live
//   dynamic record lies below capacity: a number is taken as a slot exactly when it is below
//   capacity, so a growth that would cover a dynamic record, and a dynamic record that the heap
//   places below capacity, are refused.
// - Every live dynamic record's address is in dynamicSet; a number is read through only after
//   it was found there, so lookups never dereference an arbitrary address.
// - A lookup counts itself in finders[epoch parity] while it reads. A released dynamic record
//   (and a replaced set array) goes back to its heap only after findEpoch has moved on and the
//   lookups of the old parity have drained, so a lookup never reads freed memory.
// - The lock guards creation, dynamic release and enumeration; lookups and numbered release take
//   no lock.
#include "core_internal.h"

#include <assert.h>
#include <string.h>

struct DynamicSet;

// A table as its own code sees it: the public fields, then how lookups recognise live dynamic
// records without the lock. ObjectTableCreate makes every table as one of these.
struct TableState : ObjectTable {
  DynamicSet* volatile dynamicSet;  // addresses of the live dynamic records, or null
  volatile LONG finders[2];         // lookups in progress, per parity of findEpoch
  volatile LONG findEpoch;          // advanced before a dynamic record is returned to its heap
  void* scratch;                    // handed out when no record can be had; never found
  int32_t capacityLimit;            // capacity never grows past this: a multiple of blockCapacity
  LinkedBlock** blockIndex;         // block k at entry k; room for every block up to the limit
};

static TableState* StateOf(ObjectTable* table) { return static_cast<TableState*>(table); }

// ---------------------------------------------------------------------------------------------
// The set of live dynamic addresses: open addressing with linear probing
// ---------------------------------------------------------------------------------------------

// Written only under the table's lock; read by lookups without it.
struct DynamicSet {
  uint32_t mask;        // slots − 1; slots is a power of two
  uint32_t used;        // slots holding an address or a tombstone
  uint32_t live;        // slots holding an address
  uintptr_t slots[1];   // 0 empty, Tombstone removed, otherwise a live record's address
};

static const uintptr_t Tombstone = 1;  // records are aligned, so 1 is never an address
static const uint32_t InitialSetSlots = 16;

static uint32_t SlotOf(const DynamicSet* set, uintptr_t address) {
  return static_cast<uint32_t>((address >> 3) * 2654435761u) & set->mask;
}

static DynamicSet* NewSet(uint32_t slots) {
  size_t bytes = offsetof(DynamicSet, slots) + slots * sizeof(uintptr_t);
  auto* set = static_cast<DynamicSet*>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, bytes));
  if (set != nullptr) set->mask = slots - 1;
  return set;
}

// Is address in the set? Safe without the lock while the caller counts as a finder.
static bool SetContains(const DynamicSet* set, uintptr_t address) {
  if (set == nullptr) return false;
  for (uint32_t i = SlotOf(set, address);; i = (i + 1) & set->mask) {
    uintptr_t slot = __atomic_load_n(&set->slots[i], __ATOMIC_ACQUIRE);
    if (slot == address) return true;
    if (slot == 0) return false;
  }
}

static void SetPut(DynamicSet* set, uintptr_t address) {
  uint32_t i = SlotOf(set, address);
  while (set->slots[i] != 0 && set->slots[i] != Tombstone) i = (i + 1) & set->mask;
  if (set->slots[i] == 0) ++set->used;
  ++set->live;
  __atomic_store_n(&set->slots[i], address, __ATOMIC_RELEASE);
  // At most half full, so that a probe always meets an empty slot and ends.
  assert(set->live <= set->used && set->used * 2 <= set->mask + 1);
}

static void SetRemove(DynamicSet* set, uintptr_t address) {
  for (uint32_t i = SlotOf(set, address);; i = (i + 1) & set->mask) {
    if (set->slots[i] == address) {
      __atomic_store_n(&set->slots[i], Tombstone, __ATOMIC_RELEASE);
      --set->live;
      return;
    }
    if (set->slots[i] == 0) return;
  }
}

// ---------------------------------------------------------------------------------------------
// Grace periods: when may memory that lookups could be reading go back to its heap?
// ---------------------------------------------------------------------------------------------

// Enters a lookup; returns the parity to leave with.
static LONG EnterFind(TableState* table) {
  for (;;) {
    LONG epoch = __atomic_load_n(&table->findEpoch, __ATOMIC_ACQUIRE);
    InterlockedIncrement(&table->finders[epoch & 1]);
    // Did a release move the epoch on before we were counted? Then it may not wait for us.
    if (__atomic_load_n(&table->findEpoch, __ATOMIC_SEQ_CST) == epoch) return epoch & 1;
    InterlockedDecrement(&table->finders[epoch & 1]);
  }
}

static void LeaveFind(TableState* table, LONG parity) {
  InterlockedDecrement(&table->finders[parity]);
}

// Under the lock: waits until no lookup that began before this call can still be reading.
static void WaitForFinders(TableState* table) {
  LONG old = InterlockedIncrement(&table->findEpoch) - 1;
  while (__atomic_load_n(&table->finders[old & 1], __ATOMIC_ACQUIRE) != 0) SwitchToThread();
}

// Under the lock: room for one more address, replacing the array when it is half full.
static bool SetReserve(TableState* table) {
  DynamicSet* set = table->dynamicSet;
  if (set != nullptr && (set->used + 1) * 2 <= set->mask + 1) return true;
  uint32_t slots = InitialSetSlots;
  while (set != nullptr && slots < (set->live + 1) * 4) slots *= 2;
  DynamicSet* fresh = NewSet(slots);
  if (fresh == nullptr) return false;
  if (set != nullptr) {
    for (uint32_t i = 0; i <= set->mask; ++i)
      if (set->slots[i] > Tombstone) SetPut(fresh, set->slots[i]);
  }
  __atomic_store_n(&table->dynamicSet, fresh, __ATOMIC_RELEASE);
  if (set != nullptr) {
    WaitForFinders(table);
    HeapFree(MainHeap, 0, set);
  } else {
    InterlockedIncrement(&CoreKept.mainHeap);  // the table's first set, kept from now on
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Numbered slots
// ---------------------------------------------------------------------------------------------

bool ObjectIsSlot(const ObjectTable* table, int32_t n) {
  return n >= 0 && n < __atomic_load_n(&table->capacity, __ATOMIC_ACQUIRE);
}

// Slot n, which lies below capacity: block n >> shift, record n & (blockCapacity − 1). Read
// capacity first: the index entry is written before capacity covers it.
static uint8_t* LocateSlot(const TableState* table, int32_t n) {
  LinkedBlock* block =
      __atomic_load_n(&table->blockIndex[n >> table->blockShift], __ATOMIC_RELAXED);
  auto* records = static_cast<uint8_t*>(LinkedBlockPayload(block));
  return records + (n & (table->blockCapacity - 1)) * table->recordSize;
}

// The most numbered slots a table of these records may cover: what fits in
// ObjectSlotBytesLimit, in whole blocks, and never less than the first block.
static int32_t CapacityLimit(int32_t recordSize, int32_t blockCapacity) {
  int32_t slots = (ObjectSlotBytesLimit / recordSize) & ~(blockCapacity - 1);
  return slots > blockCapacity ? slots : blockCapacity;
}

// Under the lock: may capacity grow to cover n (at or above capacity)? Not past the limit, and
// not over a live dynamic record, whose number would then read as a slot.
static bool MayCover(const TableState* table, int32_t n) {
  if (n >= table->capacityLimit) return false;
  uint32_t covered = (static_cast<uint32_t>(n) | (table->blockCapacity - 1)) + 1;
  for (LinkedBlock* b = table->dynamicList; b != nullptr; b = b->next)
    if (reinterpret_cast<uintptr_t>(LinkedBlockPayload(b)) < covered) return false;
  return true;
}

// Under the lock: links and indexes blocks until n is below capacity; false when n may not be
// covered or BlockHeap runs dry.
static bool GrowToCover(TableState* table, int32_t n) {
  if (n < table->capacity) return true;
  if (!MayCover(table, n)) return false;
  uint32_t blockBytes = static_cast<uint32_t>(table->recordSize) * table->blockCapacity;
  while (n >= table->capacity) {
    void* payload = LinkedBlockAlloc(&table->blockList, blockBytes);
    if (payload == nullptr) return false;
    InterlockedIncrement(&CoreKept.blockHeap);
    int32_t k = table->capacity >> table->blockShift;
    __atomic_store_n(&table->blockIndex[k], LinkedBlockOf(payload), __ATOMIC_RELAXED);
    __atomic_store_n(&table->capacity, table->capacity + table->blockCapacity, __ATOMIC_RELEASE);
  }
  assert(table->capacity <= table->capacityLimit && table->capacity % table->blockCapacity == 0);
  return true;
}

// Under the lock: the record handed out for a number that no slot can hold (below −1, past the
// limit, over a live dynamic record, or past what the heaps can give). Creators may write to
// it; lookups never find it. Made with the table: a refusal must not need memory of its own.
static void* ScratchRecord(TableState* table) {
  memset(table->scratch, 0, table->recordSize);
  return table->scratch;
}

static bool RecordExists(const void* record) {
  return __atomic_load_n(static_cast<const uintptr_t*>(record), __ATOMIC_ACQUIRE) != 0;
}

// ---------------------------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------------------------

ObjectTable* ObjectTableCreate(int32_t recordSize, int32_t initialCount,
                               ObjectFreeCallback freeCallback) {
  assert(recordSize >= static_cast<int32_t>(sizeof(uintptr_t)));
  uint32_t shift = 0;
  while (shift < 30 && (int32_t{1} << shift) < initialCount) ++shift;
  uint64_t blockBytes = uint64_t(recordSize) << shift;
  auto* table = static_cast<TableState*>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, sizeof(TableState)));
  if (table == nullptr || recordSize <= 0 || blockBytes > INT32_MAX) CoreOutOfResources();
  table->recordSize = recordSize;
  table->blockShift = shift;
  table->freeCallback = freeCallback;
  table->blockCapacity = int32_t{1} << shift;
  table->capacity = table->blockCapacity;
  table->capacityLimit = CapacityLimit(recordSize, table->blockCapacity);
  size_t indexBytes = (table->capacityLimit >> shift) * sizeof(LinkedBlock*);
  table->blockIndex = static_cast<LinkedBlock**>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, indexBytes));
  table->scratch = HeapAlloc(MainHeap, 0, recordSize);
  void* first = LinkedBlockAlloc(&table->blockList, static_cast<uint32_t>(blockBytes));
  if (table->blockIndex == nullptr || table->scratch == nullptr || first == nullptr)
    CoreOutOfResources();
  InterlockedExchangeAdd(&CoreKept.mainHeap, 3);  // the table, its index and its scratch record
  InterlockedIncrement(&CoreKept.blockHeap);      // and its first block
  table->firstBlock = LinkedBlockOf(first);
  table->blockIndex[0] = table->firstBlock;
  InitializeCriticalSection(&table->lock);
  return table;
}

// Under the lock: a new zeroed dynamic record, known to lookups; null when the heaps run dry or
// place it below capacity, where its number would read as a slot.
static void* NewDynamicRecord(TableState* table) {
  if (!SetReserve(table)) return nullptr;
  void* record = LinkedBlockAlloc(&table->dynamicList, table->recordSize);
  if (record == nullptr) return nullptr;
  auto address = reinterpret_cast<uintptr_t>(record);
  if (address < static_cast<uint32_t>(table->capacity)) {
    LinkedBlockFree(&table->dynamicList, record);
    return nullptr;
  }
  SetPut(table->dynamicSet, address);
  assert(SetContains(table->dynamicSet, address) && !RecordExists(record));
  return record;
}

void* ObjectAllocate(ObjectTable* table, int32_t n) {
  EnterCriticalSection(&table->lock);
  void* record;
  if (n == -1) {
    record = NewDynamicRecord(StateOf(table));
  } else if (n < -1 || !GrowToCover(StateOf(table), n)) {
    record = nullptr;
  } else {
    if (table->freeCallback != nullptr) table->freeCallback(n);
    record = LocateSlot(StateOf(table), n);
  }
  if (record == nullptr) record = ScratchRecord(StateOf(table));
  LeaveCriticalSection(&table->lock);
  return record;
}

bool ObjectRefused(ObjectTable* table, const void* record) {
  return record == StateOf(table)->scratch;
}

void* ObjectFind(ObjectTable* table, int32_t n) {
  if (ObjectIsSlot(table, n)) {
    uint8_t* record = LocateSlot(StateOf(table), n);
    return RecordExists(record) ? record : nullptr;
  }
  TableState* state = StateOf(table);
  LONG parity = EnterFind(state);
  auto address = static_cast<uintptr_t>(n);
  void* record = nullptr;
  if (SetContains(__atomic_load_n(&state->dynamicSet, __ATOMIC_ACQUIRE), address) &&
      RecordExists(reinterpret_cast<void*>(address)))
    record = reinterpret_cast<void*>(address);
  LeaveFind(state, parity);
  return record;
}

void ObjectRelease(ObjectTable* table, int32_t n) {
  if (ObjectIsSlot(table, n)) {
    uint8_t* record = LocateSlot(StateOf(table), n);
    __atomic_store_n(reinterpret_cast<uintptr_t*>(record), uintptr_t{0}, __ATOMIC_RELEASE);
    memset(record, 0, table->recordSize);
    return;
  }
  TableState* state = StateOf(table);
  EnterCriticalSection(&table->lock);
  auto address = static_cast<uintptr_t>(n);
  // Only a live dynamic record is unlinked; any other number names nothing to release.
  if (SetContains(state->dynamicSet, address)) {
    SetRemove(state->dynamicSet, address);
    if (table->enumCursor == LinkedBlockOf(reinterpret_cast<void*>(address)))
      table->enumCursor = table->enumCursor->prev;
    WaitForFinders(state);
    LinkedBlockFree(&table->dynamicList, reinterpret_cast<void*>(address));
    assert(!SetContains(state->dynamicSet, address));
  }
  LeaveCriticalSection(&table->lock);
}

void ObjectEnumStart(ObjectTable* table) {
  EnterCriticalSection(&table->lock);
  table->enumIndex = 0;
  LinkedBlock* oldest = table->dynamicList;
  while (oldest != nullptr && oldest->next != nullptr) oldest = oldest->next;
  table->enumCursor = oldest;
}

void* ObjectEnumNext(ObjectTable* table, int32_t* number) {
  while (table->enumIndex >= 0 && table->enumIndex < table->capacity) {
    int32_t n = table->enumIndex++;
    uint8_t* record = LocateSlot(StateOf(table), n);
    if (RecordExists(record)) {
      *number = n;
      return record;
    }
  }
  if (table->enumCursor != nullptr) {
    void* record = LinkedBlockPayload(table->enumCursor);
    table->enumCursor = table->enumCursor->prev;
    *number = static_cast<int32_t>(reinterpret_cast<uintptr_t>(record));
    return record;
  }
  LeaveCriticalSection(&table->lock);
  return nullptr;
}
