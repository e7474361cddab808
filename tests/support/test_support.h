// Shared by every test executable: its process's start-up, and small helpers (test data, heap
// counts, other threads, temporary folders, whole-sequence comparison).
#pragma once

#include <windows.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// The test process
// ---------------------------------------------------------------------------------------------

// Runs the runtime start-up steps that the executable's libraries need, once per process before
// its first test (test_process.cpp, built into each executable with its START list).
void TestStartup(void);
// Why the executable's tests need a process each, or null when they may share one; the shared
// main then refuses to run more than one test in a process and prints this.
extern const char* const TestsNeedOwnProcess;
// Can the executable's tests open windows, or draw? (Not when it starts the runtime without its
// window system, or without its window system and images.)
extern const bool TestsUseWindows, TestsUseGdi;

// Ends what the runtime parts started hold: their end steps but the core's, which would end the
// process (test_process.cpp).
void TestEndRuntime(void);
// MainHeap, StringHeap and BlockHeap as they are now (null before their start-up steps and in an
// executable without the runtime), with what the runtime keeps for the process's life: blocks of
// each, thread and event handles (test_process.cpp).
struct RuntimeKeeps {
  HANDLE heaps[3];
  LONG blocks[3], threads, events;
};
RuntimeKeeps RuntimeKept(void);
// Has end run when the process's last test ends, before the runtime's end steps: what a test's
// own library would free at its end (books.cpp).
bool AtTestEnd(void (*end)(void));
// The process's open handles (Wine leaves GetProcessHandleCount 0).
std::vector<HANDLE> ProcessHandles(void);
// The kind of a handle, as the system names it ("File", "Event").
std::string HandleKind(HANDLE handle);
// Keeps the books of the process's tests (books.cpp): after the last one, the runtime's end steps
// (TestEndRuntime) must leave what the first one began with.
void KeepBooks(void);

// ---------------------------------------------------------------------------------------------
// Test data, heaps and threads
// ---------------------------------------------------------------------------------------------

// A file of libpng's own test corpus (contrib/<relative>), as a path the program can open.
inline std::string PngContribPath(const std::string& relative) {
  return std::string(LUNETRIX_PNG_CONTRIB) + "/" + relative;
}

// A small deterministic generator for test data (xorshift32), so failures reproduce.
struct TestRandom {
  uint32_t state;
  explicit TestRandom(uint32_t seed) : state(seed ? seed : 1) {}
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  uint8_t Byte() { return static_cast<uint8_t>(Next() >> 24); }
};

// The size of the block of heap that starts at block; 0 when no block starts there (HeapSize
// gives (SIZE_T)-1 then, which passes any check that a block is large enough).
inline SIZE_T BlockSize(HANDLE heap, const void* block) {
  SIZE_T size = HeapSize(heap, 0, block);
  return size == static_cast<SIZE_T>(-1) ? 0 : size;
}

// Busy blocks of a heap, counted with HeapWalk: shows whether a call touched the heap.
inline int HeapBusyBlocks(HANDLE heap) {
  PROCESS_HEAP_ENTRY entry{};
  int busy = 0;
  HeapLock(heap);
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++busy;
  }
  HeapUnlock(heap);
  return busy;
}

// How many more GDI objects the process can make, counted by making pens until the system
// refuses one (all deleted again). NOTE: Wine reports no GDI counts (GetGuiResources is 0), so
// a leaked bitmap, icon or context shows only as room that is gone.
inline int GdiRoom() {
  std::vector<HPEN> pens;
  for (HPEN pen; (pen = CreatePen(PS_SOLID, 0, RGB(0, 0, 0))) != nullptr;) pens.push_back(pen);
  for (HPEN pen : pens) DeleteObject(pen);
  return static_cast<int>(pens.size());
}

// A thread beside the test that runs work from its start; joined, at the latest, when it goes.
class TestThread {
 public:
  explicit TestThread(std::function<void()> work);
  ~TestThread();
  TestThread(const TestThread&) = delete;
  // Waits for the thread to end (at most 10 s), delivering what it sends to this thread's
  // windows meanwhile unless told not to; whether it ended.
  bool Join(bool deliverSent = true);

 private:
  std::function<void()> work_;
  HANDLE thread_;
};
// Runs work on a TestThread and joins it; whether it ended.
inline bool RunOnThread(const std::function<void()>& work, bool deliverSent = true) {
  return TestThread(work).Join(deliverSent);
}
// Waits, delivering nothing, until done() holds (at most timeoutMs); whether it held. What
// ThreadWatcher frees of an ended thread is counted once it is done: the watcher runs when it can.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 20000);

// Takes every free TLS index.
inline void ExhaustTlsSlots(void) {
  while (TlsAlloc() != TLS_OUT_OF_INDEXES) {
  }
}

// Threads of this process other than the main one that run the program's code: started, and
// not yet ending.
int ThreadsRunning(void);
// Other threads of this process that do not run the program's code yet (still being started) or
// any more (ending). A process must not end while one of them is still being started.
int ThreadsStartingOrEnding(void);
// Waits until no other thread of this process is starting or ending (at most timeoutMs); whether
// none is.
bool WaitForThreadsToSettle(DWORD timeoutMs);

// ---------------------------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------------------------

// Text of this process's code page (a path, say) as UTF-16.
std::wstring Widen(const std::string& text);

// A fresh empty folder under the temporary folder, removed with everything in it at the end. A
// folder that cannot be made is a test failure, and path() is then empty.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  // A name inside the folder.
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// ---------------------------------------------------------------------------------------------
// Sequences
// ---------------------------------------------------------------------------------------------

// Both sequences in full, one step a line, for a failure message.
std::string SequenceMismatch(const std::vector<std::string>& expected,
                             const std::vector<std::string>& actual);
// Compares two sequences of steps as a whole, printing both on a mismatch.
void ExpectSequence(const std::vector<std::string>& expected,
                    const std::vector<std::string>& actual);
