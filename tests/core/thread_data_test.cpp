// Per-thread data: registration, each thread's block and inits, ThreadWatcher's frees, the
// 64-entry wait limit, the string buffer, and start-up failures.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core.h"
#include "startup.h"
#include "test_support.h"

namespace {

// Slices shaped like the program's five registrations: two with init and free, one with a free
// only, two with neither.
struct DrawingSlice { DWORD owner; int inits; uint8_t rest[16]; };
struct WindowSlice { DWORD owner; uint8_t rest[36]; };
struct SizingSlice { uint8_t bytes[24]; };
struct GadgetSlice { DWORD owner; int inits; void* list; uint8_t rest[48]; };
struct ImageSlice { uint8_t bytes[8]; };

int32_t drawingOffset, windowOffset, sizingOffset, gadgetOffset, imageOffset;

// What the operations saw, appended under a lock (frees run on ThreadWatcher's thread).
CRITICAL_SECTION logLock;
std::vector<std::string> log;
std::set<DWORD> freedOwners;
volatile LONG freesSeen, freesOnLiveThreads, nonZeroSlices;

void Note(const std::string& entry) {
  EnterCriticalSection(&logLock);
  log.push_back(entry);
  LeaveCriticalSection(&logLock);
}

bool IsZero(const void* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (static_cast<const uint8_t*>(p)[i]) return false;
  return true;
}

// Did the thread with this id end? (An id that no longer opens has ended too.)
bool HasEnded(DWORD id) {
  HANDLE h = OpenThread(SYNCHRONIZE, FALSE, id);
  if (h == nullptr) return true;
  bool ended = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
  CloseHandle(h);
  return ended;
}

void DrawingInit(void* p) {
  auto* s = static_cast<DrawingSlice*>(p);
  if (!IsZero(s, sizeof *s)) InterlockedIncrement(&nonZeroSlices);
  s->owner = GetCurrentThreadId();
  s->inits += 1;
  Note("init drawing");
}
void DrawingFree(void* p) {
  auto* s = static_cast<DrawingSlice*>(p);
  if (!HasEnded(s->owner)) InterlockedIncrement(&freesOnLiveThreads);
  Note("free drawing");
  EnterCriticalSection(&logLock);
  freedOwners.insert(s->owner);
  LeaveCriticalSection(&logLock);
  InterlockedIncrement(&freesSeen);
}
void WindowFree(void*) { Note("free window"); }
void GadgetInit(void* p) {
  auto* s = static_cast<GadgetSlice*>(p);
  if (!IsZero(s, sizeof *s)) InterlockedIncrement(&nonZeroSlices);
  s->owner = GetCurrentThreadId();
  s->inits += 1;
  s->list = HeapAlloc(GetProcessHeap(), 0, 40);  // something the free must release
  Note("init gadget");
}
void GadgetFree(void* p) {
  HeapFree(GetProcessHeap(), 0, static_cast<GadgetSlice*>(p)->list);
  Note("free gadget");
}

// The registrations, in the program's order, on the main thread before any other thread.
void RegisterLikeTheProgram() {
  InitializeCriticalSection(&logLock);
  drawingOffset = ThreadDataRegister(sizeof(DrawingSlice), DrawingInit, DrawingFree);
  windowOffset = ThreadDataRegister(sizeof(WindowSlice), nullptr, WindowFree);
  sizingOffset = ThreadDataRegister(sizeof(SizingSlice), nullptr, nullptr);
  gadgetOffset = ThreadDataRegister(sizeof(GadgetSlice), GadgetInit, GadgetFree);
  imageOffset = ThreadDataRegister(sizeof(ImageSlice), nullptr, nullptr);
}

void ClearLog() {
  EnterCriticalSection(&logLock);
  log.clear();
  LeaveCriticalSection(&logLock);
}

std::vector<std::string> Log() {
  EnterCriticalSection(&logLock);
  std::vector<std::string> copy = log;
  LeaveCriticalSection(&logLock);
  return copy;
}

TEST(ThreadData, SlicesLieOneAfterAnotherInOrderOfRegistration) {
  int running = ThreadsRunning();
  RegisterLikeTheProgram();
  // ThreadWatcher runs already: a program may end at once without ending it half-started.
  EXPECT_EQ(ThreadsRunning(), running + 1);
  EXPECT_EQ(
      std::vector<int32_t>({drawingOffset, windowOffset, sizingOffset, gadgetOffset, imageOffset}),
      std::vector<int32_t>({0, 24, 24 + 40, 24 + 40 + 24, 24 + 40 + 24 + 60}));
  // The main thread's block exists from registration on; each init ran once on its slice.
  auto* block = static_cast<uint8_t*>(ThreadDataGet(0));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(ThreadDataGet(gadgetOffset), block + gadgetOffset);
  EXPECT_GE(BlockSize(MainHeap, block), static_cast<SIZE_T>(imageOffset + 8));
  ExpectSequence({"init drawing", "init gadget"}, Log());
  EXPECT_EQ(static_cast<DrawingSlice*>(ThreadDataGet(drawingOffset))->inits, 1);
  EXPECT_TRUE(IsZero(ThreadDataGet(windowOffset), sizeof(WindowSlice)));
  EXPECT_TRUE(IsZero(ThreadDataGet(imageOffset), sizeof(ImageSlice)));
}

// What a thread saw of its own block (read while it ran: the block is gone once it ends).
struct ThreadResult {
  void* first;
  void* second;
  void* gadget;
  DWORD id;
  int inits;
};

DWORD WINAPI UseTwice(void* arg) {
  auto* r = static_cast<ThreadResult*>(arg);
  r->first = ThreadDataGet(drawingOffset);
  r->second = ThreadDataGet(drawingOffset);
  r->gadget = ThreadDataGet(gadgetOffset);
  r->id = GetCurrentThreadId();
  r->inits = static_cast<DrawingSlice*>(r->first)->inits;
  return 0;
}

// Runs fn on a new thread and returns what it returned (0xDEAD when it did not end).
DWORD RunThread(LPTHREAD_START_ROUTINE fn) {
  DWORD code = 0xDEAD;
  RunOnThread([&] { code = fn(nullptr); });
  return code;
}

DWORD WINAPI UsePlainSlices(void*) {
  return IsZero(ThreadDataGet(sizingOffset), sizeof(SizingSlice)) &&
         IsZero(ThreadDataGet(imageOffset), sizeof(ImageSlice));
}

TEST(ThreadData, NewThreadGetsInitsNewestFirstAndFreesAfterItEnds) {
  RegisterLikeTheProgram();
  ClearLog();
  ThreadResult r{};
  ASSERT_TRUE(RunOnThread([&] { UseTwice(&r); }));
  ASSERT_TRUE(WaitUntil([] { return freesSeen == 1; }));
  EXPECT_EQ(r.first, r.second);
  EXPECT_EQ(static_cast<uint8_t*>(r.gadget) - static_cast<uint8_t*>(r.first), gadgetOffset);
  EXPECT_NE(r.first, ThreadDataGet(drawingOffset));  // a block of its own
  EXPECT_EQ(freedOwners, std::set<DWORD>({r.id}));
  // A thread that asks only for slices without operations gets them zeroed, and only the
  // three parts with operations ever run, for either thread.
  EXPECT_EQ(RunThread(UsePlainSlices), 1u);
  ASSERT_TRUE(WaitUntil([] { return freesSeen == 2; }));
  ExpectSequence({"init gadget", "init drawing", "free gadget", "free window", "free drawing",
                  "init gadget", "init drawing", "free gadget", "free window", "free drawing"},
                 Log());
  EXPECT_EQ(nonZeroSlices, 0);
  EXPECT_EQ(freesOnLiveThreads, 0);
}

// 200 short-lived threads, at most 20 alive at a time: each gets its inits once, and each
// block is freed once, after its thread ended, with nothing left behind in MainHeap.
TEST(ThreadData, ManyShortLivedThreadsAreEachFreedOnceWithoutLeaks) {
  RegisterLikeTheProgram();
  constexpr int Total = 200, Batch = 20;
  for (int start = 0; start < Total; start += Batch) {
    std::vector<ThreadResult> results(Batch);
    HANDLE threads[Batch];
    for (int i = 0; i < Batch; ++i)
      threads[i] = CreateThread(nullptr, 0, UseTwice, &results[i], 0, nullptr);
    ASSERT_EQ(WaitForMultipleObjects(Batch, threads, TRUE, 20000), WAIT_OBJECT_0);
    for (HANDLE h : threads) CloseHandle(h);
    for (const auto& r : results) {
      ASSERT_EQ(r.first, r.second);
      EXPECT_EQ(r.inits, 1);  // once, though asked twice
    }
    ASSERT_TRUE(WaitUntil([&] { return freesSeen == start + Batch; })) << freesSeen;
  }
  EXPECT_EQ(freesSeen, Total);
  EXPECT_EQ(freedOwners.size(), static_cast<size_t>(Total));  // every thread, none twice
  EXPECT_EQ(freesOnLiveThreads, 0);
  EXPECT_EQ(nonZeroSlices, 0);
}

// Threads that park after their first use, so that many are alive at once.
HANDLE goEvent;
volatile LONG registered;
const bool goEventClosed = AtTestEnd([] {
  if (goEvent != nullptr) CloseHandle(goEvent);
});

DWORD WINAPI UseAndPark(void*) {
  ThreadDataGet(windowOffset);
  InterlockedIncrement(&registered);
  WaitForSingleObject(goEvent, 30000);
  return 0;
}

std::vector<HANDLE> StartParked(int count) {
  std::vector<HANDLE> threads;
  for (int i = 0; i < count; ++i)
    threads.push_back(CreateThread(nullptr, 0, UseAndPark, nullptr, 0, nullptr));
  return threads;
}

void Release(std::vector<HANDLE>& threads) {
  SetEvent(goEvent);
  for (HANDLE h : threads) {
    WaitForSingleObject(h, 30000);
    CloseHandle(h);
  }
  threads.clear();
  ResetEvent(goEvent);
}

// Swaps MainHeap for a heap whose only room is a hole of size bytes for each of count blocks,
// the holes apart; returns the heap's busy blocks with the holes free.
int SwapInHoledHeap(SIZE_T size, int count) {
  HANDLE heap = HeapCreate(0, 0x10000, 0x10000);
  std::vector<void*> room;
  while (void* p = HeapAlloc(heap, 0, size)) room.push_back(p);
  for (SIZE_T crumb = size; crumb > 0; crumb /= 2) while (HeapAlloc(heap, 0, crumb)) {}
  for (int i = 0; i < count; ++i) HeapFree(heap, 0, room.at(2 * i));
  MainHeap = heap;
  return HeapBusyBlocks(heap);
}

// The wait set holds ThreadWatcher's own event and 63 threads; a 64th live thread is
// acknowledged but never watched. Entries free up as watched threads end. Handing a thread over
// needs no memory: the blocks take a heap's last room, and every thread within the limit is freed.
TEST(ThreadData, MoreThanSixtyThreeLiveThreadsLeaveTheRestUnwatched) {
  RegisterLikeTheProgram();
  goEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SIZE_T blockSize = 0;
  ASSERT_TRUE(RunOnThread([&] { blockSize = HeapSize(MainHeap, 0, ThreadDataGet(0)); }));
  ASSERT_TRUE(WaitUntil([] { return freesSeen == 1; }));
  freesSeen = 0;
  HANDLE mainHeap = MainHeap;
  LONG kept = CoreKept.mainHeap;
  int busy = SwapInHoledHeap(blockSize, 70);
  std::vector<HANDLE> threads = StartParked(70);
  ASSERT_TRUE(WaitUntil([] { return registered == 70; }, 60000)) << registered;
  Release(threads);
  ASSERT_TRUE(WaitUntil([] { return freesSeen >= 63; })) << freesSeen;
  Sleep(300);  // give a wrongly watched 64th thread the chance to show up
  EXPECT_EQ(freesSeen, 63);
  EXPECT_EQ(HeapBusyBlocks(MainHeap), busy + 7);  // the unwatched threads' blocks stay
  EXPECT_EQ(CoreKept.mainHeap, kept + 7);           // and count as kept for the process's life

  // With the set empty again, new threads are watched.
  busy = SwapInHoledHeap(blockSize, 5);
  threads = StartParked(5);
  ASSERT_TRUE(WaitUntil([] { return registered == 75; }));
  Release(threads);
  ASSERT_TRUE(WaitUntil([] { return freesSeen == 68; })) << freesSeen;
  EXPECT_EQ(HeapBusyBlocks(MainHeap), busy);
  MainHeap = mainHeap;
  CoreKept.mainHeap = kept;  // they stay in the heap swapped in, not in MainHeap
}

DWORD WINAPI UseStringBuffer(void*) {
  StringBufferAdvance();
  return StringBufferCursor() == nullptr && StringBufferPosition() == 0 &&
         StringBufferSeek(3) == nullptr;
}

// ---------------------------------------------------------------------------------------------
// Late registrations, and the end of ThreadWatcher
// ---------------------------------------------------------------------------------------------

constexpr int32_t ExtraSize = 48;
int32_t extraOffset;
volatile LONG extraSliceFits;  // threads whose block held the whole extra slice

DWORD WINAPI RegisterWithoutBlock(void*) {
  return ThreadDataRegister(16, nullptr, nullptr) == ThreadDataRefused;
}

// Writes over the whole extra slice, then parks: its block stays while the main thread registers.
DWORD WINAPI FillExtraSliceAndPark(void*) {
  auto* slice = static_cast<uint8_t*>(ThreadDataGet(extraOffset));
  memset(slice, 0x5A, ExtraSize);
  auto* block = static_cast<uint8_t*>(ThreadDataGet(0));
  if (HeapSize(MainHeap, 0, block) >= static_cast<SIZE_T>(extraOffset + ExtraSize))
    InterlockedIncrement(&extraSliceFits);
  InterlockedIncrement(&registered);
  WaitForSingleObject(goEvent, 30000);
  return 0;
}

void LateInit(void*) { Note("init late"); }

// Only the registering thread's block can grow: once another thread has a block, a new slice
// would lie past that block's end, so the registration is refused and says so.
TEST(ThreadData, RegistrationOnceAnotherBlockExistsIsRefused) {
  RegisterLikeTheProgram();
  EXPECT_EQ(RunThread(RegisterWithoutBlock), 1u);
  EXPECT_EQ(ThreadDataRegister(-4, LateInit, nullptr), ThreadDataRefused);
  EXPECT_EQ(ThreadDataRegister(INT32_MAX, LateInit, nullptr), ThreadDataRefused);
  extraOffset = ThreadDataRegister(ExtraSize, nullptr, nullptr);  // no other block yet
  EXPECT_EQ(extraOffset, imageOffset + static_cast<int32_t>(sizeof(ImageSlice)));

  goEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<HANDLE> threads;
  threads.push_back(CreateThread(nullptr, 0, FillExtraSliceAndPark, nullptr, 0, nullptr));
  ASSERT_TRUE(WaitUntil([] { return registered == 1; }));
  ClearLog();
  EXPECT_EQ(ThreadDataRegister(64, LateInit, DrawingFree), ThreadDataRefused);
  EXPECT_EQ(ThreadDataGet(ThreadDataRefused), nullptr);
  threads.push_back(CreateThread(nullptr, 0, FillExtraSliceAndPark, nullptr, 0, nullptr));
  ASSERT_TRUE(WaitUntil([] { return registered == 2; }));
  Release(threads);
  ASSERT_TRUE(WaitUntil([] { return freesSeen == 2; })) << freesSeen;
  EXPECT_EQ(extraSliceFits, 2);
  // The refused slice's operations never run: inits and frees are those of the five slices.
  ExpectSequence({"init gadget", "init drawing", "free gadget", "free window", "free drawing",
                  "free gadget", "free window", "free drawing"},
                 Log());
  EXPECT_TRUE(HeapValidate(MainHeap, 0, nullptr));
}

// A free operation that is still running when the program ends; says whether MainHeap was
// still whole when it finished.
HANDLE freeStarted;

void SlowFree(void*) {
  SetEvent(freeStarted);
  Sleep(500);
  fputs(HeapValidate(MainHeap, 0, nullptr) ? "free finished, heap whole\n" : "heap broken\n",
        stderr);
  fflush(stderr);
}

DWORD WINAPI TouchFirstSlice(void*) { return ThreadDataGet(0) != nullptr; }

void EndWhileAFreeRuns() {
  freeStarted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ThreadDataRegister(8, nullptr, SlowFree);
  RunThread(TouchFirstSlice);
  WaitForSingleObject(freeStarted, 10000);
  CoreEnd();
}

// ThreadWatcher frees into MainHeap: the end of the program waits for the free it has begun,
// then destroys the heap; once stopped, it frees no thread that ends later.
TEST(ThreadData, WatcherIsStoppedBeforeTheHeapGoes) {
  EXPECT_EXIT(EndWhileAFreeRuns(), testing::ExitedWithCode(0), "free finished, heap whole");

  RegisterLikeTheProgram();
  goEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<HANDLE> threads = StartParked(3);
  ASSERT_TRUE(WaitUntil([] { return registered == 3; }));
  EXPECT_TRUE(ThreadDataEnd());
  EXPECT_TRUE(ThreadDataEnd());  // stopped once, stays stopped
  Release(threads);
  EXPECT_EQ(RunThread(UsePlainSlices), 1u);  // a new thread still gets its slices, unwatched
  Sleep(300);  // time for a watcher that still ran to free the ended threads
  EXPECT_EQ(freesSeen, 0);
  EXPECT_TRUE(HeapValidate(MainHeap, 0, nullptr));
}

TEST(StringBuffer, MainThreadHasOneAndOtherThreadsNone) {
  char* start = StringBufferCursor();
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(StringBufferPosition(), 0);
  EXPECT_GE(BlockSize(StringHeap, start), 16u);
  StringBufferAdvance();
  StringBufferAdvance();
  EXPECT_EQ(StringBufferPosition(), 2);
  EXPECT_EQ(StringBufferCursor(), start + 2);
  EXPECT_EQ(StringBufferSeek(9), start + 9);
  StringBufferSetPosition(4);
  EXPECT_EQ(StringBufferCursor(), start + 4);

  EXPECT_EQ(RunThread(UseStringBuffer), 1u);

  // Once freed, the thread's buffer is gone for good rather than left dangling.
  StringBufferFree();
  EXPECT_EQ(StringBufferCursor(), nullptr);
  StringBufferAdvance();
  EXPECT_EQ(StringBufferPosition(), 0);
  StringBufferCreate();  // the main thread's, kept for the process's life
}

// ---------------------------------------------------------------------------------------------
// Start-up failures end the process at once with STATUS_NO_MEMORY; nothing runs on.
// ---------------------------------------------------------------------------------------------

// Reserves every free range of the address space, so no new heap can be created.
void ExhaustAddressSpace() {
  for (SIZE_T size = SIZE_T{1} << 30; size >= 4096; size /= 2)
    while (VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS) != nullptr) {
    }
}

const auto OutOfResources = testing::ExitedWithCode(static_cast<int>(CoreOutOfResourcesExitCode));

TEST(StartupFailure, HeapThatCannotBeCreatedStopsTheProcess) {
  EXPECT_EXIT({ ExhaustAddressSpace(); BlockHeapInit(); fputs("ran on", stderr); exit(0); },
              OutOfResources, "");
  EXPECT_EXIT({ ExhaustAddressSpace(); MemoryInit(); exit(0); }, OutOfResources, "");
}

TEST(StartupFailure, MissingTlsSlotStopsTheProcess) {
  EXPECT_EXIT({ ExhaustTlsSlots(); ThreadDataRegister(8, nullptr, nullptr); exit(0); },
              OutOfResources, "");
  EXPECT_EXIT({ ExhaustTlsSlots(); StringInit(); exit(0); }, OutOfResources, "");
}

// The end steps end the parts that were started, and only those: here the core alone.
TEST(StartupFailure, EndingAfterAPartialStartIsClean) {
  EXPECT_EXIT(EndRuntime(), testing::ExitedWithCode(0), "");
}

}  // namespace
