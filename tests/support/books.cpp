// The books every test process keeps: what the runtime's heaps, GDI and the kernel hold for it is
// counted before its first test and again after its last one (under CTest its only one), once
// the runtime's end steps have run. A test that leaves anything behind fails and says what.
//
// Kept for the process's life, and so left out of the books:
// - The blocks the runtime keeps (CoreKept: object tables and per-thread data), and MemoryHeap's:
//   a memory block is never returned (MemoryAlloc).
// - What the system keeps once it was first asked for it: Wine's caches of display contexts, of
//   the regions, bitmaps and brushes they hold, and of fonts, which grow to a high-water mark and
//   never shrink. They are warmed before the first count (WarmSystemCaches), to the mark the tests
//   reach.
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform.h"
#include "test_support.h"

namespace {

// How many of each kind of thing the process holds.
using Census = std::map<std::string, int>;

// Wine's GDI handle table: one 24-byte entry a handle, in memory the process can read.
#pragma pack(push, 1)
struct GdiEntry {
  uint64_t object;
  USHORT process, count;
  USHORT unique;
  UCHAR type, flags;
  uint64_t user;
};
#pragma pack(pop)
static_assert(sizeof(GdiEntry) == 24, "Wine's GDI_HANDLE_ENTRY");

const char* GdiTypeName(UCHAR type) {
  switch (type) {
    case 0x01: return "GDI context";
    case 0x04: return "GDI region";
    case 0x05: return "GDI surface";
    case 0x09: return "GDI bitmap";
    case 0x08: return "GDI palette";
    case 0x0a: return "GDI font";
    case 0x10: return "GDI brush";
    case 0x30: return "GDI pen";
    default: return "GDI object";
  }
}

// Has a window of the main thread been activated since the first count?
bool windowActivated = false;

LRESULT CALLBACK NoteActivation(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) windowActivated = true;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// GDI objects by kind. NOTE: Wine counts none (GetGuiResources is 0), but keeps its handle table
// where the process reads it (PEB's GdiSharedHandleTable); Windows counts them all together. At
// a process's first activation of a window Wine makes three 16 × 16 bitmaps of the default small
// icon and keeps them: once a window was activated, up to three such bitmaps that are not in
// *earlier (GDI handles as they were at the first count) are left out.
void CountGdi(Census& census, std::vector<uint32_t>* earlier) {
  if (!IsWine()) {
    census["GDI object"] = static_cast<int>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
    return;
  }
  PROCESS_BASIC_INFORMATION basic{};
  typedef NTSTATUS(NTAPI * Query)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof basic, nullptr);
  auto* peb = reinterpret_cast<uint8_t*>(basic.PebBaseAddress);
  auto* table = *reinterpret_cast<const GdiEntry* const*>(peb + 0x94);
  bool first = earlier->empty();
  int iconCopies = 0;
  for (uint32_t i = 0; i < 0x10000; ++i) {
    if (table[i].type == 0) continue;
    uint32_t handle = i | uint32_t{table[i].unique} << 16;
    if (first) earlier->push_back(handle);
    BITMAP measured;
    if (!first && windowActivated && iconCopies < 3 && table[i].type == 0x09 &&
        !std::binary_search(earlier->begin(), earlier->end(), handle) &&
        GetObjectA(reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(handle)), sizeof measured,
                   &measured) == sizeof measured &&
        measured.bmWidth == 16 && measured.bmHeight == 16) {
      ++iconCopies;
      continue;
    }
    ++census[GdiTypeName(table[i].type)];
  }
  std::sort(earlier->begin(), earlier->end());
}

}  // namespace

std::string HandleKind(HANDLE handle) {
  typedef NTSTATUS(NTAPI * Query)(HANDLE, OBJECT_INFORMATION_CLASS, void*, ULONG, ULONG*);
  static auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
  ULONG information[256];
  auto* name = reinterpret_cast<const UNICODE_STRING*>(information);
  if (query(handle, ObjectTypeInformation, information, sizeof information, nullptr) != 0)
    return "?";
  return std::string(name->Buffer, name->Buffer + name->Length / 2);
}

std::vector<HANDLE> ProcessHandles(void) {
  // NOTE: Wine leaves GetProcessHandleCount 0, and asked for every process's handles
  // (SystemHandleInformation) its server can stall while another process starts. Handle values
  // are given out lowest first, so the table is walked until a long run of unused values.
  std::vector<HANDLE> handles;
  DWORD flags;
  for (uintptr_t value = 4, unused = 0; unused < 64; value += 4) {
    auto handle = reinterpret_cast<HANDLE>(value);
    if (GetHandleInformation(handle, &flags)) {
      handles.push_back(handle);
      unused = 0;
    } else {
      ++unused;
    }
  }
  return handles;
}

namespace {

// What GoogleTest and Wine make once and keep, asked for as the tests ask them: GoogleTest's
// trace; where the tests draw, a display context, the screen's and a window's; with
// windows, the mouse's settings and cursors, 24 cached contexts held at once, a caption drawn
// active and inactive, an MDI client with a child, and the default icons. The windows are
// children of a popup shown without activation, which no window manager would manage (and Wine
// waits for none when they go).
void WarmSystemCaches(void) {
  { SCOPED_TRACE("GoogleTest keeps a trace per thread, and a thread that watches the main one"); }
  // That thread starts on its own time: a test that counts threads must not see it arrive.
  WaitForThreadsToSettle(2000);
  if (!TestsUseGdi) return;
  DeleteDC(CreateDCA("DISPLAY", nullptr, nullptr, nullptr));
  ReleaseDC(nullptr, GetDC(nullptr));
  if (!TestsUseWindows) {  // a window's context all the same
    HWND window = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ReleaseDC(window, GetDC(window));
    DestroyWindow(window);
    return;
  }
  UINT mouse;
  SystemParametersInfoA(SPI_GETMOUSEHOVERTIME, 0, &mouse, 0);
  for (LPCSTR cursor : {IDC_SIZEWE, IDC_SIZENS, IDC_SIZENWSE, IDC_SIZENESW, IDC_SIZEALL, IDC_ARROW})
    SetCursor(LoadCursorA(nullptr, cursor));
  for (LPCSTR icon : {IDI_WINLOGO, IDI_APPLICATION}) {
    LoadIconA(nullptr, icon);
    LoadImageA(nullptr, icon, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
               GetSystemMetrics(SM_CYSMICON), LR_SHARED);
  }
  // In the screen's bottom left corner, which no test reads back.
  HWND popup = CreateWindowExA(WS_EX_NOACTIVATE, "STATIC", "warm", WS_POPUP, 0,
                               GetSystemMetrics(SM_CYSCREEN) - 200, 300, 200, nullptr, nullptr,
                               nullptr, nullptr);
  ShowWindow(popup, SW_SHOWNOACTIVATE);
  HWND children[2];
  for (int i = 0; i < 2; ++i) {
    children[i] = CreateWindowA(i ? "BUTTON" : "STATIC", "warm",
                                WS_CHILD | WS_VISIBLE | (i == 0 ? WS_OVERLAPPEDWINDOW : 0), 0, 0,
                                200, 100, popup, nullptr, nullptr, nullptr);
    UpdateWindow(children[i]);
  }
  for (BOOL active : {TRUE, FALSE}) SendMessageA(children[0], WM_NCACTIVATE, active, 0);
  HDC contexts[24];  // a cached context each while the others are held
  for (int i = 0; i < 24; ++i) contexts[i] = GetDC(children[i % 2]);
  for (int i = 0; i < 24; ++i) ReleaseDC(children[i % 2], contexts[i]);
  CLIENTCREATESTRUCT client = {nullptr, 1};
  HWND mdi = CreateWindowA("MDICLIENT", nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 100, 60, popup,
                           nullptr, nullptr, &client);
  CreateMDIWindowA("STATIC", "warm", 0, 0, 0, 50, 40, mdi, nullptr, 0);
  DispatchTurn(0);
  DestroyWindow(popup);
  DispatchTurn(0);
}

std::vector<void (*)(void)> testEnds;  // AtTestEnd's

class BooksCheck : public testing::EmptyTestEventListener {
  Census Count() {
    Census census;
    if (TestsUseGdi) CountGdi(census, &gdiBefore_);
    RuntimeKeeps kept = RuntimeKept();
    handles_ = ProcessHandles();
    census["handle"] = static_cast<int>(handles_.size()) - kept.threads - kept.events;
    static const char* const names[3] = {"MainHeap block", "StringHeap block", "BlockHeap block"};
    for (int i = 0; i < 3; ++i)
      if (heaps_[i] != nullptr && heaps_[i] == kept.heaps[i])
        census[names[i]] = HeapBusyBlocks(kept.heaps[i]) - kept.blocks[i];
    return census;
  }
  // What the census shows more or fewer of than before; empty when the books balance.
  std::string Difference(const Census& after) {
    std::string text;
    Census all = before_;
    all.insert(after.begin(), after.end());
    for (const auto& entry : all) {
      const std::string& kind = entry.first;
      int change = (after.count(kind) ? after.at(kind) : 0) - (before_.count(kind) ? before_.at(kind) : 0);
      if (change != 0) text += " " + kind + (change > 0 ? " +" : " ") + std::to_string(change) + ",";
    }
    if (!text.empty())  // which handles are new, by kind; the runtime's own threads among them
      for (HANDLE handle : handles_)
        if (std::find(handlesBefore_.begin(), handlesBefore_.end(), handle) == handlesBefore_.end())
          text += " new " + HandleKind(handle) + " handle,";
    return text;
  }
  void OnTestStart(const testing::TestInfo&) override {
    if (started_++ != 0) return;
    WarmSystemCaches();
    if (TestsUseWindows) SetWindowsHookExA(WH_CBT, NoteActivation, nullptr, GetCurrentThreadId());
    std::copy_n(RuntimeKept().heaps, 3, heaps_);
    before_ = Count();
    handlesBefore_ = handles_;
  }
  void OnTestEnd(const testing::TestInfo&) override {
    if (++ended_ != testing::UnitTest::GetInstance()->test_to_run_count()) return;
    for (auto end : testEnds) end();
    TestEndRuntime();
    // ThreadWatcher frees an ended thread's slices when it can.
    std::string left;
    WaitUntil([&] { return WaitForThreadsToSettle(0) && (left = Difference(Count())).empty(); }, 2000);
    if (!left.empty()) ADD_FAILURE() << "the books do not balance: the test left behind" << left;
  }
  HANDLE heaps_[3] = {};
  std::vector<uint32_t> gdiBefore_;  // GDI handles at the first count, in order
  Census before_;
  std::vector<HANDLE> handles_, handlesBefore_;  // at the last count, at the first
  int started_ = 0, ended_ = 0;
};

}  // namespace

bool AtTestEnd(void (*end)(void)) {
  testEnds.push_back(end);
  return true;
}

void KeepBooks(void) {
  testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
  // Ahead of the printer, so that a test that leaks is reported as failed.
  testing::TestEventListener* printer = listeners.Release(listeners.default_result_printer());
  listeners.Append(new BooksCheck);
  listeners.Append(printer);
}
