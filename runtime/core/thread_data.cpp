// Per-thread data: one MainHeap block per thread holding every library's slice, and
// ThreadWatcher, which frees a thread's slices and block once the thread has ended.
//
// Invariants:
// - Registrations grow only the registering thread's block, so the layout (total size and part
//   list) is final once ThreadDataGet has made any block: a later registration, or one from a
//   thread without a block, is refused. Under layoutLock either the registration or the first
//   block comes first; afterwards the part list is read by every thread unlocked.
// - A thread's block is made on its first ThreadDataGet; its inits run newest registration first,
//   and, once the thread has ended, its frees run on ThreadWatcher, newest first as well.
// - A registration is handed to ThreadWatcher through a queue, not through single fields: each
//   request is consumed exactly once, even after its registrant gave up waiting, so a handle never
//   stands twice in the wait set and never pairs with another thread's block.
// - Every handle in the wait set (entries 1 and up) is a duplicate owned by ThreadWatcher and is
//   closed when its entry is removed or its request is dropped.
// - Handing a thread over allocates nothing: its request lies in its own block, behind the
//   slices, and the wait set has room for all 64 entries from the start. So every thread that
//   got its block is watched, up to the 64-entry limit; a request dropped at the limit leaves
//   its block (request included) to the process's end.
// - ThreadWatcher frees into MainHeap, so it is stopped (ThreadDataEnd) and has ended before
//   MainHeap is destroyed; threads that end after that are left to the process's end.
// - ThreadWatcher runs before the first registration returns: a process that ends at any time
//   after start-up never ends it while it is still being started.
#include "core_internal.h"

// ---------------------------------------------------------------------------------------------
// Process-wide state
// ---------------------------------------------------------------------------------------------

// One registration that has an init or a free operation (payload of a LinkedBlock).
struct ThreadDataPart {
  int32_t offset;             // where the slice begins in every thread's block
  ThreadDataOperation init;   // prepares a fresh slice, or null
  ThreadDataOperation free;   // releases what the slice holds, or null
};

static bool started;                             // has the first registration run?
static DWORD threadDataSlot = TLS_OUT_OF_INDEXES;  // TLS index of each thread's block
static CRITICAL_SECTION layoutLock;              // guards the three fields below
static int32_t totalSize;                        // size of every block made from now on
static LinkedBlock* partList;                    // ThreadDataPart records, newest first
static bool layoutFixed;                         // has ThreadDataGet made a block?
static CRITICAL_SECTION RegisterLock;            // one registration with ThreadWatcher at a time
static HANDLE RegisterRequestEvent;              // wakes ThreadWatcher (request or stop); it resets
static HANDLE RegisterDoneEvent;                 // set by ThreadWatcher once running; acknowledges
static DWORD watcherThreadId;                    // ThreadWatcher's own id: never registered
static HANDLE watcherThread;                     // ThreadWatcher's handle, until it has ended
static volatile LONG watcherStopping;            // set by ThreadDataEnd; ThreadWatcher then ends

// One thread handed to ThreadWatcher: its duplicated handle and its block. It lies in that
// block, at HandOverOffset, so it lives exactly as long as the block.
struct HandOver {
  HandOver* next;  // the next request in arrival order, or null
  HANDLE thread;   // real handle of the registering thread, owned by whoever holds the request
  void* block;     // that thread's ThreadData block
};

static CRITICAL_SECTION handOverLock;  // guards the queue below (held only for a few stores)
static HandOver* pendingFirst;         // oldest request not yet taken by ThreadWatcher
static HandOver* pendingLast;          // newest request, or null when the queue is empty

static const DWORD RegisterWaitMs = 2000;  // also for ThreadWatcher to begin running
static const DWORD StopWaitMs = 2000;  // for ThreadWatcher to finish the thread it is freeing
static const DWORD WatchLimit = MAXIMUM_WAIT_OBJECTS;  // 64 entries, the request event included

static DWORD WINAPI ThreadWatcher(void*);

// ---------------------------------------------------------------------------------------------
// Registration of slices
// ---------------------------------------------------------------------------------------------

// The first registration: the TLS slot, the main thread's block, the hand-over and the watcher.
static void StartThreadData(void) {
  threadDataSlot = TlsAlloc();
  if (threadDataSlot == TLS_OUT_OF_INDEXES) CoreOutOfResources();
  void* block = HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, 0);
  if (block == nullptr) CoreOutOfResources();
  InterlockedIncrement(&CoreKept.mainHeap);  // the main thread's block, never handed to the watcher
  TlsSetValue(threadDataSlot, block);
  InitializeCriticalSection(&layoutLock);
  InitializeCriticalSection(&RegisterLock);
  InitializeCriticalSection(&handOverLock);
  RegisterRequestEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  RegisterDoneEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (RegisterRequestEvent == nullptr || RegisterDoneEvent == nullptr) CoreOutOfResources();
  watcherThread = CreateThread(nullptr, 0, ThreadWatcher, nullptr, 0, &watcherThreadId);
  if (watcherThread == nullptr) CoreOutOfResources();
  InterlockedExchangeAdd(&CoreKept.events, 2);
  InterlockedIncrement(&CoreKept.threads);
  // NOTE: Wine crashes the whole process (SIGSEGV) when it ends while one of its threads is still
  // being started, so a program that ends right after start-up must find ThreadWatcher running.
  WaitForSingleObject(RegisterDoneEvent, RegisterWaitMs);
  started = true;
}

// Under layoutLock: can a slice of size bytes still be added? Only the calling thread's block
// would grow, so no other block may exist, and the caller must have one.
static bool MayRegister(int32_t size) {
  if (size < 0 || size > INT32_MAX - totalSize) return false;
  return !layoutFixed && TlsGetValue(threadDataSlot) != nullptr;
}

// Under layoutLock: adds the slice to the calling thread's block and to the layout.
static int32_t AddSlice(int32_t size, ThreadDataOperation init, ThreadDataOperation free) {
  int32_t offset = totalSize;
  void* block = HeapReAlloc(MainHeap, HEAP_ZERO_MEMORY, TlsGetValue(threadDataSlot), offset + size);
  if (block == nullptr) CoreOutOfResources();
  TlsSetValue(threadDataSlot, block);
  totalSize = offset + size;
  if (init != nullptr || free != nullptr) {
    auto* part = static_cast<ThreadDataPart*>(LinkedBlockAlloc(&partList, sizeof(ThreadDataPart)));
    if (part == nullptr) CoreOutOfResources();
    InterlockedIncrement(&CoreKept.blockHeap);
    part->offset = offset;
    part->init = init;
    part->free = free;
    if (init != nullptr) init(static_cast<uint8_t*>(block) + offset);
  }
  return offset;
}

int32_t ThreadDataRegister(int32_t size, ThreadDataOperation init, ThreadDataOperation free) {
  if (!started) StartThreadData();
  EnterCriticalSection(&layoutLock);
  int32_t offset = MayRegister(size) ? AddSlice(size, init, free) : ThreadDataRefused;
  LeaveCriticalSection(&layoutLock);
  return offset;
}

// ---------------------------------------------------------------------------------------------
// A thread's first use: its block, its inits, and its hand-over to ThreadWatcher
// ---------------------------------------------------------------------------------------------

// Runs one operation of every part that has it, newest registration first, on a block.
static void RunParts(void* block, bool inits) {
  for (LinkedBlock* b = partList; b != nullptr; b = b->next) {
    auto* part = static_cast<ThreadDataPart*>(LinkedBlockPayload(b));
    ThreadDataOperation op = inits ? part->init : part->free;
    if (op != nullptr) op(static_cast<uint8_t*>(block) + part->offset);
  }
}

static void QueueHandOver(HandOver* request) {
  EnterCriticalSection(&handOverLock);
  if (pendingLast != nullptr) pendingLast->next = request;
  else pendingFirst = request;
  pendingLast = request;
  LeaveCriticalSection(&handOverLock);
}

// Where a block made by ThreadDataGet holds its hand-over: behind the slices, aligned. Read
// once the layout is final.
static SIZE_T HandOverOffset(void) {
  return (static_cast<SIZE_T>(totalSize) + alignof(HandOver) - 1) & ~(alignof(HandOver) - 1);
}

// Hands the calling thread to ThreadWatcher and waits (at most 2000 ms) for its acknowledgement.
static void WatchCallingThread(uint8_t* block) {
  if (watcherStopping) {  // nobody would answer: the thread goes on unwatched
    InterlockedIncrement(&CoreKept.mainHeap);  // and its block stays with the process
    return;
  }
  EnterCriticalSection(&RegisterLock);
  HANDLE self = nullptr;
  if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0,
                      FALSE, DUPLICATE_SAME_ACCESS)) {
    auto* request = reinterpret_cast<HandOver*>(block + HandOverOffset());
    request->next = nullptr;
    request->thread = self;
    request->block = block;
    QueueHandOver(request);
    ResetEvent(RegisterDoneEvent);
    SetEvent(RegisterRequestEvent);
    WaitForSingleObject(RegisterDoneEvent, RegisterWaitMs);
  } else {
    InterlockedIncrement(&CoreKept.mainHeap);  // unwatched: its block stays with the process
  }
  LeaveCriticalSection(&RegisterLock);
}

// The calling thread's first block: the final layout's slices, then room for its hand-over.
static uint8_t* MakeBlock(void) {
  EnterCriticalSection(&layoutLock);
  layoutFixed = true;
  void* block = HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, HandOverOffset() + sizeof(HandOver));
  LeaveCriticalSection(&layoutLock);
  if (block == nullptr) CoreOutOfResources();
  return static_cast<uint8_t*>(block);
}

void* ThreadDataGet(int32_t offset) {
  // Before any registration, or for a refused one, there is no slice.
  if (!started || offset < 0) return nullptr;
  auto* block = static_cast<uint8_t*>(TlsGetValue(threadDataSlot));
  if (block != nullptr) return block + offset;
  block = MakeBlock();
  TlsSetValue(threadDataSlot, block);
  RunParts(block, true);
  // NOTE: a free operation running on ThreadWatcher may reach ThreadDataGet; the watcher must
  // not wait for its own acknowledgement, nor watch itself.
  if (GetCurrentThreadId() != watcherThreadId) WatchCallingThread(block);
  return block + offset;
}

// ---------------------------------------------------------------------------------------------
// ThreadWatcher
// ---------------------------------------------------------------------------------------------

// The wait set, private to ThreadWatcher's thread, at its full size from the start: taking a
// thread never needs memory.
struct WaitSet {
  HANDLE handles[WatchLimit];  // entry 0 RegisterRequestEvent, then watched threads
  void* blocks[WatchLimit];    // parallel to handles; entry 0 unused
  DWORD count;                 // entries in use, entry 0 included
};

// Takes every queued request: added to the wait set while it has room for it, dropped (its
// handle closed; the thread goes on unwatched) once 64 entries are in use. A request lies in its
// thread's block, which from here on only ThreadEnded frees.
static void TakeRequests(WaitSet* set) {
  // Reset first: a request queued from now on sets the event again and is not missed.
  ResetEvent(RegisterRequestEvent);
  EnterCriticalSection(&handOverLock);
  HandOver* request = pendingFirst;
  pendingFirst = pendingLast = nullptr;
  LeaveCriticalSection(&handOverLock);
  while (request != nullptr) {
    HandOver* next = request->next;
    if (set->count < WatchLimit) {
      set->handles[set->count] = request->thread;
      set->blocks[set->count] = request->block;
      set->count += 1;
    } else {
      CloseHandle(request->thread);
      InterlockedIncrement(&CoreKept.mainHeap);  // the thread's block stays with the process
    }
    request = next;
  }
  SetEvent(RegisterDoneEvent);
}

// Entry i's thread has ended: free its slices and block, close its handle, close the gap.
static void ThreadEnded(WaitSet* set, DWORD i) {
  RunParts(set->blocks[i], false);
  HeapFree(MainHeap, 0, set->blocks[i]);
  CloseHandle(set->handles[i]);
  for (DWORD j = i; j + 1 < set->count; ++j) {
    set->handles[j] = set->handles[j + 1];
    set->blocks[j] = set->blocks[j + 1];
  }
  set->count -= 1;
  set->handles[set->count] = nullptr;
  set->blocks[set->count] = nullptr;
}

// The entry a wait result names, or -1 for a failure or a value naming no entry.
static int32_t SignalledEntry(DWORD result, DWORD count) {
  if (result < WAIT_OBJECT_0 + count) return static_cast<int32_t>(result - WAIT_OBJECT_0);
  if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count)
    return static_cast<int32_t>(result - WAIT_ABANDONED_0);
  return -1;
}

// ThreadWatcher is ending: the handles it owns are closed. The blocks of threads still running
// stay; they go with MainHeap.
static void CloseWaitSet(WaitSet* set) {
  for (DWORD i = 1; i < set->count; ++i) CloseHandle(set->handles[i]);
  InterlockedExchangeAdd(&CoreKept.mainHeap, static_cast<LONG>(set->count) - 1);
}

static DWORD WINAPI ThreadWatcher(void*) {
  WaitSet set{};
  set.handles[0] = RegisterRequestEvent;
  set.count = 1;
  SetEvent(RegisterDoneEvent);  // running: the first registration may return
  for (;;) {
    DWORD result = WaitForMultipleObjects(set.count, set.handles, FALSE, INFINITE);
    int32_t entry = SignalledEntry(result, set.count);
    // Entry 0 is seen first when several are signalled, so a stop waits for no other thread.
    if (entry == 0 && watcherStopping) break;
    if (entry == 0) TakeRequests(&set);
    else if (entry > 0) ThreadEnded(&set, static_cast<DWORD>(entry));
  }
  CloseWaitSet(&set);
  return 0;
}

bool ThreadDataEnd(void) {
  if (!started || watcherThread == nullptr) return true;
  InterlockedExchange(&watcherStopping, 1);
  SetEvent(RegisterRequestEvent);
  if (WaitForSingleObject(watcherThread, StopWaitMs) != WAIT_OBJECT_0) return false;
  CloseHandle(watcherThread);
  watcherThread = nullptr;
  InterlockedDecrement(&CoreKept.threads);
  return true;
}
