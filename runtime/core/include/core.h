// Runtime core: private heaps, linked blocks, memory blocks, arrays and string variables, the
// numbered object tables that every library keeps, and per-thread data.
//
// Everything the runtime stores lives in four private heaps created once at start-up, never in
// the C library's allocator. Failures are reported only as a null result.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

static_assert(sizeof(void*) == 4, "the runtime's record layouts are those of 32-bit Windows");

// ---------------------------------------------------------------------------------------------
// Heaps and start-up
// ---------------------------------------------------------------------------------------------

extern HANDLE MainHeap;        // arrays, table control records, per-thread blocks; destroyed last
extern HANDLE StringHeap;      // strings and string buffers; lives as long as the process
extern HANDLE BlockHeap;       // linked blocks; lives as long as the process
extern HANDLE MemoryHeap;      // MemoryAlloc blocks; lives as long as the process
extern HINSTANCE ModuleInstance;  // the program's module, for window classes

// Entry-point step: records the module handle and creates MainHeap; returns the heap.
HANDLE CoreStart(void);
// Creates StringHeap (the first library start-up step); returns the heap.
HANDLE StringInit(void);
// Creates BlockHeap (the second library start-up step); returns the heap.
HANDLE BlockHeapInit(void);
// End step of the linked-block allocator: nothing to do, BlockHeap goes with the process.
void BlockHeapEnd(void);
// Creates MemoryHeap; returns the heap.
HANDLE MemoryInit(void);
// End step of the memory-block library: nothing to do, blocks live until the process ends.
void MemoryEnd(void);
// After every end step: stops ThreadWatcher (ThreadDataEnd), destroys MainHeap once it has
// ended, and ends the process with exit code 0. A watcher that does not end in time keeps the
// heap, which then goes with the process.
[[noreturn]] void CoreEnd(void);

// What the runtime keeps for the process's life, which no end step gives back, counted as it is
// made: each object table's control record, index, scratch record and numbered-slot blocks, and
// its set of dynamic numbers once it had one; each per-thread data part record, the main
// thread's block and the block of a thread that goes unwatched; ThreadWatcher's thread and its
// two events. (Every MemoryHeap block stays too: MemoryAlloc.)
struct CoreKeptObjects {
  volatile LONG mainHeap;   // blocks of MainHeap
  volatile LONG blockHeap;  // blocks of BlockHeap
  volatile LONG threads;    // thread handles
  volatile LONG events;     // event handles
};
extern CoreKeptObjects CoreKept;

// The exit code of a process whose runtime could not make a heap, handle or block it cannot work
// without (a start-up step's heap, a TLS slot, an event, the watcher thread): nothing may run on
// with a null handle, so the process stops at once.
constexpr UINT CoreOutOfResourcesExitCode = STATUS_NO_MEMORY;
// Stops the process so, for any library's start-up step.
[[noreturn]] inline void CoreOutOfResources(void) { ExitProcess(CoreOutOfResourcesExitCode); }

// ---------------------------------------------------------------------------------------------
// Memory blocks
// ---------------------------------------------------------------------------------------------

// A zeroed block of size bytes from MemoryHeap, or null (always null for a size of 0 or below).
// Blocks are never returned; they live until the process ends.
void* MemoryAlloc(int32_t size);
// Are the bytes address … address + size − 1 committed memory of this process that may be read?
// For a pointer that arrived in a message another process may have sent: it is read only when
// this says yes. False for null and for a size of 0 or below.
bool MemoryReadable(const void* address, int32_t size);
// As MemoryReadable, for bytes a reply is written into: every byte may also be written.
bool MemoryWritable(void* address, int32_t size);

// ---------------------------------------------------------------------------------------------
// Linked blocks
// ---------------------------------------------------------------------------------------------

// Header of a BlockHeap block on a doubly linked list; the payload follows it directly.
struct LinkedBlock {
  LinkedBlock* next;  // older neighbour: the head when this block was linked, or null
  LinkedBlock* prev;  // newer neighbour: the block linked after this one, or null
};
static_assert(sizeof(LinkedBlock) == 8, "payload begins two pointers after the block");

// Links a zeroed block with size bytes of payload at the head of *list; the payload, or null
// (the list unchanged) when BlockHeap cannot supply it.
void* LinkedBlockAlloc(LinkedBlock** list, uint32_t size);
// Unlinks the block whose payload is given from *list and returns it to BlockHeap.
void LinkedBlockFree(LinkedBlock** list, void* payload);

// The block that holds a payload, and the payload of a block: a fixed step either way.
inline LinkedBlock* LinkedBlockOf(void* payload) {
  return reinterpret_cast<LinkedBlock*>(payload) - 1;
}
inline void* LinkedBlockPayload(LinkedBlock* block) { return block + 1; }

// ---------------------------------------------------------------------------------------------
// Arrays
// ---------------------------------------------------------------------------------------------

// An array variable: the data pointer, then one 32-bit word per dimension. Before allocation
// the words hold the dimensions' sizes; allocation rewrites them into strides.
template <int Dimensions>
struct ArrayVariable {
  void* data;                  // element 0, or null when the variable holds no array
  uint32_t dims[Dimensions];   // sizes before allocation, strides after
};

// The five words directly in front of element 0.
struct ArrayHeader {
  uint32_t elementSize;   // bytes per element
  uint32_t passThrough;   // the allocation's third argument, kept as it came
  uint32_t owner;         // address of the array variable that holds the array
  uint32_t elementCount;  // product of all dimension sizes (one spare element follows)
  uint32_t typeCode;      // the allocation's type argument
};
static_assert(sizeof(ArrayHeader) == 20, "element 0 lies 20 bytes into the block");
static_assert(offsetof(ArrayHeader, elementCount) == 12, "header layout is fixed");

// Rewrites the variable's dimension words into strides and allocates the array (see
// ArrayBlockAllocate); the data pointer, also stored in the variable, or null.
void* ArrayAllocate(uint32_t elementSize, int32_t dimensions, uint32_t passThrough,
                    void* variable, uint32_t typeCode);
// Allocates count + 1 zeroed elements behind an ArrayHeader in MainHeap; stores the data
// pointer in the variable's first word and returns it, or null when the heap cannot supply the
// block or its size does not fit in 32 bits.
void* ArrayBlockAllocate(uint32_t count, uint32_t elementSize, uint32_t passThrough,
                         void* variable, uint32_t typeCode);
// Returns the array whose element 0 is data to MainHeap; null does nothing.
void ArrayFree(void* data);
// The header in front of an array's element 0.
inline ArrayHeader* ArrayHeaderOf(void* data) {
  return reinterpret_cast<ArrayHeader*>(data) - 1;
}

// ---------------------------------------------------------------------------------------------
// String variables
// ---------------------------------------------------------------------------------------------

// Copies text into a fresh StringHeap buffer of strlen + 5 bytes and stores it in *variable
// (an earlier buffer is not freed). Null text changes nothing. Returns the new buffer, or null
// when the heap cannot supply it (the variable then holds null).
char* StringCreate(char** variable, const char* text);
// Returns a string buffer to StringHeap; null does nothing.
void StringRelease(char* string);

// ---------------------------------------------------------------------------------------------
// Object tables
// ---------------------------------------------------------------------------------------------

// Frees object n of a library (its release operation); given to the table at creation.
typedef void (*ObjectFreeCallback)(int32_t number);

// Maps object numbers to fixed-size records of one library. Numbers 0 … capacity − 1 are
// numbered slots in blocks that never move; −1 asks for a dynamic object, whose number is its
// record's address. A record exists while its first field (the system handle) is non-zero.
// Tables are made only by ObjectTableCreate: behind these fields lies the state of the lock-free
// lookups, private to the table's code.
//
// A table's numbered slots never take more than ObjectSlotBytesLimit bytes: the numbers below
// (ObjectSlotBytesLimit / record size), rounded down to whole blocks and never fewer than the
// first block, can be taken. For the program's tables that is 0 … 131071 for windows (32-byte
// records), 0 … 149759 for gadgets (28 bytes) and 0 … 349519 for images (12 bytes). A larger
// number is refused, as a failed growth is, and so is a number whose growth would cover the
// address of a live dynamic object (which would then read as a slot).
struct ObjectTable {
  int32_t recordSize;              // bytes per record, fixed at creation
  int32_t blockCapacity;           // records per block: a power of two, at least 1
  volatile int32_t capacity;       // numbered slots covered: a multiple of blockCapacity
  LinkedBlock* dynamicList;        // dynamic records, newest first
  ObjectFreeCallback freeCallback; // frees object n before its number is reused, or null
  int32_t enumIndex;               // next numbered slot an enumeration looks at
  LinkedBlock* enumCursor;         // next dynamic record an enumeration yields, or null
  uint32_t blockShift;             // log2(blockCapacity)
  LinkedBlock* blockList;          // blocks of numbered slots, newest first
  LinkedBlock* firstBlock;         // block 0, made with the table; prev leads to block 1
  CRITICAL_SECTION lock;           // re-entrant: creation, dynamic release, enumeration
};

// A table of records of recordSize bytes whose first block holds initialCount records
// (rounded up to a power of two).
ObjectTable* ObjectTableCreate(int32_t recordSize, int32_t initialCount,
                               ObjectFreeCallback freeCallback);
// The most bytes of numbered slots a table links (4 MiB); see ObjectTable.
constexpr int32_t ObjectSlotBytesLimit = 4 << 20;

// The record for number n (−1: a new dynamic record); an object that had n is freed first. A
// refused number (below −1, past the limit, over a dynamic object), a failed growth or a dynamic
// record the heaps cannot give gets the table's scratch record instead, made with the table:
// zeroed and writable, never found, the same for every refusal.
void* ObjectAllocate(ObjectTable* table, int32_t n);
// Is record the one ObjectAllocate hands every refused number? A creator asks first, before
// anything a refusal must not leave behind, and then writes nothing into it.
bool ObjectRefused(ObjectTable* table, const void* record);
// Is n a numbered slot the table covers now? Only there can a live numbered object be; any other
// number names a dynamic object or none. Takes no lock.
bool ObjectIsSlot(const ObjectTable* table, int32_t n);
// The record of a live object n, or null. Takes no lock.
void* ObjectFind(ObjectTable* table, int32_t n);
// Clears numbered slot n, or unlinks and frees dynamic record n.
void ObjectRelease(ObjectTable* table, int32_t n);
// Starts an enumeration; the table's lock is held until ObjectEnumNext returns null.
void ObjectEnumStart(ObjectTable* table);
// The next live object's record (numbered in rising order, then dynamic oldest first), its
// number in *number; null at the end, which releases the lock. A whole enumeration costs one
// step per slot and per dynamic object.
void* ObjectEnumNext(ObjectTable* table, int32_t* number);

// ---------------------------------------------------------------------------------------------
// Per-thread data
// ---------------------------------------------------------------------------------------------

// Prepares a fresh (all-zero) slice, or releases what a slice holds.
typedef void (*ThreadDataOperation)(void* slice);

// The result of a refused registration.
constexpr int32_t ThreadDataRefused = -1;

// Registers a slice of size bytes in every thread's block (main thread, at start-up, before any
// other thread exists); returns its offset. The first registration starts ThreadWatcher and
// waits (at most 2000 ms) until it runs. Since only the caller's block can grow, a registration
// is refused once ThreadDataGet has made any block, from a thread without a block, and for a
// negative or overflowing size.
int32_t ThreadDataRegister(int32_t size, ThreadDataOperation init, ThreadDataOperation free);
// The calling thread's slice at offset; a thread's first call makes its block and has it watched.
// Null before any registration and for a negative (refused) offset.
void* ThreadDataGet(int32_t offset);
// Stops ThreadWatcher and waits (at most 2000 ms) for it to end; the frees of a thread it has
// begun still run, threads ending later are no longer freed. True once it has ended (or never
// started). The end step that must precede the destruction of MainHeap; CoreEnd calls it.
bool ThreadDataEnd(void);

// The calling thread's string scratch buffer (the main thread's is made by StringInit): a
// StringHeap block and a position in it. On a thread without one, or after StringBufferFree, the
// operations below do nothing and give null or 0.

// Gives the calling thread a fresh buffer at position 0.
void StringBufferCreate(void);
// Returns the calling thread's buffer to StringHeap.
void StringBufferFree(void);
// The buffer at the position.
char* StringBufferCursor(void);
// The position, or sets it.
int32_t StringBufferPosition(void);
void StringBufferSetPosition(int32_t position);
// Sets the position; the buffer there.
char* StringBufferSeek(int32_t position);
// Moves the position on by one.
void StringBufferAdvance(void);
