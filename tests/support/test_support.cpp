// Other threads, temporary folders and whole-sequence comparison for every test executable.
#include "test_support.h"

#include <stdio.h>
#include <tlhelp32.h>

#include <utility>

#include <gtest/gtest.h>

// ---------------------------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------------------------

static DWORD WINAPI RunWork(void* work) {
  (*static_cast<const std::function<void()>*>(work))();
  return 0;
}

TestThread::TestThread(std::function<void()> work)
    : work_(std::move(work)), thread_(CreateThread(nullptr, 0, RunWork, &work_, 0, nullptr)) {}

TestThread::~TestThread() {
  Join();
  if (thread_ != nullptr) CloseHandle(thread_);
}

bool TestThread::Join(bool deliverSent) {
  if (thread_ == nullptr) return false;
  // Messages the work sends to this thread's windows are delivered while it waits.
  DWORD start = GetTickCount(), waited;
  MSG message;
  while ((waited = GetTickCount() - start) < 10000 &&
         MsgWaitForMultipleObjects(1, &thread_, FALSE, 10000 - waited,
                                   deliverSent ? QS_SENDMESSAGE : 0) == WAIT_OBJECT_0 + 1)
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  return WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(5);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Threads that are starting or ending
// ---------------------------------------------------------------------------------------------

// NOTE: Wine crashes the whole process (SIGSEGV, after the tests have passed) when it ends while
// one of its threads is still being started, as GoogleTest's own watcher of a thread is when a
// short test's SCOPED_TRACE or failure has just made it. A thread's attach callbacks run once
// Wine has set the thread up, and its detach callbacks before it ends; between the two it runs
// the program's code and may be ended with the process.

// Ids of the threads between their attach and detach; 0 marks a free slot. Plain data, so that
// the callback may run before static construction and after static destruction.
static const int RunningSlots = 1024;
static volatile LONG runningIds[RunningSlots];

static void NoteRunning(LONG id) {
  for (volatile LONG& slot : runningIds)
    if (InterlockedCompareExchange(&slot, id, 0) == 0) return;
}

static void NoteEnding(LONG id) {
  for (volatile LONG& slot : runningIds)
    if (InterlockedCompareExchange(&slot, 0, id) == id) return;
}

static bool IsRunning(LONG id) {
  for (volatile LONG& slot : runningIds)
    if (slot == id) return true;
  return false;
}

static void NTAPI NoteThreadCallback(PVOID, DWORD reason, PVOID) {
  auto id = static_cast<LONG>(GetCurrentThreadId());
  if (reason == DLL_THREAD_ATTACH) NoteRunning(id);
  if (reason == DLL_THREAD_DETACH) NoteEnding(id);
}

// The linker gathers the .CRT$XL* entries into the executable's list of TLS callbacks.
extern "C" __attribute__((section(".CRT$XLT"), used))
const PIMAGE_TLS_CALLBACK LunetrixTestThreadCallback = NoteThreadCallback;

int ThreadsRunning(void) {
  int count = 0;
  for (volatile LONG& slot : runningIds)
    if (slot != 0) ++count;
  return count;
}

int ThreadsStartingOrEnding(void) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  DWORD process = GetCurrentProcessId(), self = GetCurrentThreadId();
  int count = 0;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != process || entry.th32ThreadID == self) continue;
    if (!IsRunning(static_cast<LONG>(entry.th32ThreadID))) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

bool WaitForThreadsToSettle(DWORD timeoutMs) {
  return WaitUntil([] { return ThreadsStartingOrEnding() == 0; }, timeoutMs);
}

// ---------------------------------------------------------------------------------------------
// Temporary folders
// ---------------------------------------------------------------------------------------------

TempFolder::TempFolder() {
  char base[MAX_PATH];
  if (!GetTempPathA(MAX_PATH, base)) {
    ADD_FAILURE() << "no temporary folder";
    return;
  }
  // A folder left by an earlier process of the same id is skipped, never reused.
  static int serial = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%slunetrix-test-%lu-%d", base, GetCurrentProcessId(), ++serial);
    if (CreateDirectoryA(name, nullptr)) {
      path_ = name;
      return;
    }
  }
  ADD_FAILURE() << "could not make a folder under " << base;
}

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                  &wide[0], static_cast<int>(wide.size())));
  return wide;
}

// Removes a folder and everything in it, whatever the names inside (UTF-16, so that names
// outside the code page go too).
static void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

TempFolder::~TempFolder() {
  if (!path_.empty()) RemoveTree(Widen(path_));
}

// ---------------------------------------------------------------------------------------------
// Sequences
// ---------------------------------------------------------------------------------------------

std::string SequenceMismatch(const std::vector<std::string>& expected,
                             const std::vector<std::string>& actual) {
  std::string text = "sequence mismatch\n  expected:\n";
  for (const std::string& step : expected) text += "    " + step + "\n";
  text += "  actual:\n";
  for (const std::string& step : actual) text += "    " + step + "\n";
  return text;
}

void ExpectSequence(const std::vector<std::string>& expected,
                    const std::vector<std::string>& actual) {
  if (expected != actual) ADD_FAILURE() << SequenceMismatch(expected, actual);
}
