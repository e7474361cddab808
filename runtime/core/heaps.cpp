// Heaps: the four private heaps, the memory-block library and the start and end of the runtime.
//
// Each heap handle is written once, by its start-up step on the main thread before any other
// thread exists, and only read afterwards. No heap is created with HEAP_NO_SERIALIZE or
// HEAP_GENERATE_EXCEPTIONS: any thread may use any heap, and exhaustion shows as a null result.
#include "core_internal.h"

HANDLE MainHeap;
HANDLE StringHeap;
HANDLE BlockHeap;
HANDLE MemoryHeap;
CoreKeptObjects CoreKept;
HINSTANCE ModuleInstance;

HANDLE CreatePrivateHeap(SIZE_T initialSize) {
  HANDLE heap = HeapCreate(0, initialSize, 0);
  if (heap == nullptr) CoreOutOfResources();
  return heap;
}

HANDLE CoreStart(void) {
  ModuleInstance = GetModuleHandleA(nullptr);
  MainHeap = CreatePrivateHeap(4096);
  return MainHeap;
}

HANDLE BlockHeapInit(void) {
  BlockHeap = CreatePrivateHeap(1024);
  return BlockHeap;
}

void BlockHeapEnd(void) {}

HANDLE MemoryInit(void) {
  MemoryHeap = CreatePrivateHeap(4096);
  return MemoryHeap;
}

void MemoryEnd(void) {}

void CoreEnd(void) {
  // ThreadWatcher frees ended threads' blocks into MainHeap: it goes first.
  if (ThreadDataEnd()) {
    HeapDestroy(MainHeap);
    MainHeap = nullptr;
  }
  ExitProcess(0);
}

void* MemoryAlloc(int32_t size) {
  if (size <= 0) return nullptr;
  return HeapAlloc(MemoryHeap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(size));
}

// Are the bytes committed, unguarded memory whose every region has one of the protections?
static bool MemoryHasAccess(const void* address, int32_t size, DWORD protections) {
  if (address == nullptr || size <= 0) return false;
  auto at = reinterpret_cast<uintptr_t>(address);
  uintptr_t end = at + static_cast<uint32_t>(size);
  if (end < at) return false;
  // One region at a time: a range may span regions of different protection.
  while (at < end) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == 0) return false;
    if (region.State != MEM_COMMIT || (region.Protect & protections) == 0 ||
        (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0)
      return false;
    at = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    if (at == 0) break;  // the region reaches the top of the address space
  }
  return true;
}

bool MemoryReadable(const void* address, int32_t size) {
  return MemoryHasAccess(address, size,
                         PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                             PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY);
}

bool MemoryWritable(void* address, int32_t size) {
  return MemoryHasAccess(address, size,
                         PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE |
                             PAGE_EXECUTE_WRITECOPY);
}
