// Other threads, temporary folders and whole-sequence comparison for every test executable.
#include "test_support.h"

#include <stdio.h>

#include <gtest/gtest.h>

// ---------------------------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------------------------

static DWORD WINAPI RunWork(void* work) {
  (*static_cast<const std::function<void()>*>(work))();
  return 0;
}

bool RunOnThread(const std::function<void()>& work) {
  HANDLE thread = CreateThread(nullptr, 0, RunWork, const_cast<std::function<void()>*>(&work),
                               0, nullptr);
  if (thread == nullptr) return false;
  bool ended = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return ended;
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

// Removes a folder and everything in it.
static void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = folder + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        DeleteFileA(path.c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

TempFolder::~TempFolder() {
  if (!path_.empty()) RemoveTree(path_);
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
