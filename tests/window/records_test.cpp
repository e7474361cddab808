// Window records: numbers, classes, properties, accelerators, flags and placement, closing, the
// end step, and openings that cannot complete. Every window here stays hidden.
#include <ole2.h>
#include <string.h>

#include <atomic>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "core.h"
#include "frames.h"
#include "test_support.h"
#include "window.h"
#include "window_internal.h"
#include "window_test_support.h"

namespace {

std::string ClassNameOf(int32_t number) { return "WindowClass_" + std::to_string(number); }

bool ClassRegistered(int32_t number, WNDCLASSA* info = nullptr) {
  WNDCLASSA scratch;
  return GetClassInfoA(ModuleInstance, ClassNameOf(number).c_str(), info ? info : &scratch) != 0;
}

const uint32_t Hidden = WindowHidden;

TEST(WindowRecords, DynamicNumberNamesTheClassPropertyAndRecord) {
  int32_t number = WindowOpen(-1, 40, 30, 200, 100, "dynamic", WS_CAPTION | Hidden);
  ASSERT_NE(number, 0);
  ASSERT_NE(number, -1);
  HWND window = WindowGetHandle(number);
  ASSERT_TRUE(IsWindow(window));
  EXPECT_EQ(ClassOf(window), ClassNameOf(number));
  EXPECT_EQ(GetPropA(window, "XR_WindowID"), reinterpret_cast<HANDLE>(intptr_t{number} + 1));
  WindowRecord* record = WindowFind(number);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(number, static_cast<int32_t>(reinterpret_cast<uintptr_t>(record)));
  EXPECT_EQ(record->handle, window);
  EXPECT_EQ(record->mdiClient, nullptr);
  EXPECT_EQ(record->callback, nullptr);
  char title[32] = "";
  GetWindowTextA(window, title, sizeof title);
  EXPECT_STREQ(title, "dynamic");
}

TEST(WindowRecords, ClassHasTheRuntimeProcedureCursorAndButtonFaceBrush) {
  int32_t number = OpenHidden();
  WNDCLASSA info = {};
  ASSERT_TRUE(ClassRegistered(number, &info));
  EXPECT_EQ(info.style, static_cast<UINT>(CS_DBLCLKS));
  EXPECT_EQ(info.lpfnWndProc, WindowClassProc);
  EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(16));
  EXPECT_EQ(info.hCursor, LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(info.hIcon, nullptr);  // the test program has no icon resource 1
  EXPECT_EQ(info.hInstance, ModuleInstance);
}

TEST(WindowRecords, EveryWindowGetsTheTabAndShiftTabAccelerators) {
  int32_t number = OpenHidden();
  WindowRecord* record = WindowFind(number);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->acceleratorCount, 2);
  ASSERT_NE(record->acceleratorEntries, nullptr);
  ACCEL copied[4] = {};
  ASSERT_EQ(CopyAcceleratorTableA(record->acceleratorTable, copied, 4), 2);
  // The system marks the last entry it copies out in the top bit of fVirt.
  auto entries = [](const ACCEL* accel, int fVirtMask) {
    std::vector<std::tuple<int, int, int>> out;
    for (int i = 0; i < 2; ++i)
      out.emplace_back(accel[i].fVirt & fVirtMask, accel[i].key, accel[i].cmd);
    return out;
  };
  const std::vector<std::tuple<int, int, int>> expected = {{3, VK_TAB, 1212}, {7, VK_TAB, 1213}};
  EXPECT_EQ(entries(record->acceleratorEntries, 0xFF), expected);
  EXPECT_EQ(entries(copied, 0x7F), expected);
  EXPECT_EQ(WindowGetAccelerators(WindowGetHandle(number)), record->acceleratorTable);
}

// Window 0 is numbered like any other: its property is 1. Opening 5 again closes the old window
// 5; opening 0 leaves it alone.
TEST(WindowRecords, NumberedOpenReturnsTheHandleAndReuseClosesTheOldWindow) {
  HWND earlier = nullptr;
  for (int32_t number : {5, 5, 0}) {
    SCOPED_TRACE(number);
    HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(OpenHidden(number)));
    ASSERT_TRUE(IsWindow(window));
    if (earlier != nullptr) {
      EXPECT_EQ(IsWindow(earlier) != FALSE, number != 5);
    }
    EXPECT_EQ(WindowGetHandle(number), window);
    EXPECT_EQ(ClassOf(window), ClassNameOf(number));
    EXPECT_EQ(GetPropA(window, "XR_WindowID"), reinterpret_cast<HANDLE>(intptr_t{number} + 1));
    EXPECT_NE(WindowGetAccelerators(window), nullptr);
    earlier = window;
  }
}

TEST(WindowRecords, CloseDestroysUnregistersAndFreesTheNumber) {
  int32_t number = OpenHidden(3);
  HWND window = WindowGetHandle(3);
  ASSERT_NE(number, 0);
  ASSERT_TRUE(ClassRegistered(3));
  WindowClose(3);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(ClassRegistered(3));
  EXPECT_EQ(WindowGetHandle(3), nullptr);
  WindowClose(3);  // a second close does nothing
  WindowClose(9);  // a slot that never held a window neither
  EXPECT_NE(OpenHidden(3), 0);  // the number can be opened again
  EXPECT_TRUE(ClassRegistered(3));
  int32_t dynamic = OpenHidden();
  WindowClose(dynamic);
  EXPECT_EQ(WindowFind(dynamic), nullptr);
}

TEST(WindowRecords, FlagsWithoutStyleGetACaptionAndTheHiddenBitKeepsTheWindowHidden) {
  int32_t number = WindowOpen(-1, 10, 10, 120, 80, nullptr, Hidden);
  HWND window = WindowGetHandle(number);
  ASSERT_NE(window, nullptr);
  LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(style & WS_VISIBLE, 0);
  EXPECT_FALSE(IsWindowVisible(window));
  char title[8] = "x";
  GetWindowTextA(window, title, sizeof title);
  EXPECT_STREQ(title, "");  // a null title is the empty text
  RECT client;
  GetClientRect(window, &client);  // the caption was known when the frame was measured
  EXPECT_EQ(client, (RECT{0, 0, 120, 80}));
  // The library's own bits never reach the style; a style given keeps WS_CAPTION away.
  number = WindowOpen(-1, 10, 10, 120, 80, "", WS_POPUP | WS_BORDER | Hidden);
  style = GetWindowLongA(WindowGetHandle(number), GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_BORDER);
  EXPECT_EQ(style & 3, 0);
}

TEST(WindowRecords, ClientSizeIsTheSizeAsked) {
  for (uint32_t flags : {0x00C80000u, 0x00CF0000u, 0x80800000u}) {
    SCOPED_TRACE(flags);
    HWND window = WindowGetHandle(WindowOpen(-1, 100, 100, 520, 220, "", flags | Hidden));
    RECT client, frame = FrameOf(window);
    GetClientRect(window, &client);
    EXPECT_EQ(client, (RECT{0, 0, 520, 220}));
    EXPECT_EQ(frame.left, 100);
    EXPECT_EQ(frame.top, 100);
  }
}

TEST(WindowRecords, DefaultPositionLetsTheSystemChooseBothCoordinates) {
  HWND reference = CreateWindowExA(0, "STATIC", "", WS_CAPTION, CW_USEDEFAULT, CW_USEDEFAULT,
                                   150, 100, nullptr, nullptr, nullptr, nullptr);
  RECT expected = FrameOf(reference);
  DestroyWindow(reference);
  // y is given, yet the system chooses it too.
  HWND window = WindowGetHandle(WindowOpen(-1, -65535, 333, 50, 40, "", WS_CAPTION | Hidden));
  RECT placed = FrameOf(window);
  EXPECT_NE(placed.top, 333);
  EXPECT_NE(placed.left, -65535);
  EXPECT_EQ(placed.left, expected.left);
  EXPECT_EQ(placed.top, expected.top);
}

TEST(WindowRecords, CentringOnTheScreenShrinksTheFrameToTheScreen) {
  int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
  HWND huge = WindowGetHandle(WindowOpen(-1, 7, 7, screenWidth * 2, screenHeight * 2, "",
                                         WS_CAPTION | WindowCentreOnScreen | Hidden));
  EXPECT_EQ(FrameOf(huge), (RECT{0, 0, screenWidth, screenHeight}));
  HWND small = WindowGetHandle(
      WindowOpen(-1, 7, 7, 301, 151, "", WS_CAPTION | WindowCentreOnScreen | Hidden));
  RECT frame = FrameOf(small);
  EXPECT_EQ(frame.left, (screenWidth - (frame.right - frame.left)) / 2);
  EXPECT_EQ(frame.top, (screenHeight - (frame.bottom - frame.top)) / 2);
}

TEST(WindowRecords, CentringOnTheParentRaisesNegativeCoordinatesToZero) {
  HWND parent = WindowGetHandle(WindowOpen(-1, 300, 200, 400, 300, "", WS_CAPTION | Hidden));
  RECT p = FrameOf(parent);
  HWND centred = WindowGetHandle(WindowOpenChild(-1, 0, 0, 200, 100, "",
                                                 WS_CAPTION | WindowCentreOnParent | Hidden,
                                                 parent));
  RECT c = FrameOf(centred);
  EXPECT_EQ(c.left, p.left + (p.right - p.left - (c.right - c.left)) / 2);
  EXPECT_EQ(c.top, p.top + (p.bottom - p.top - (c.bottom - c.top)) / 2);
  // A small parent near the corner: the centred frame would start left of and above the screen.
  HWND corner = WindowGetHandle(WindowOpen(-1, 5, 5, 40, 20, "", WS_POPUP | Hidden));
  HWND raised = WindowGetHandle(WindowOpenChild(-1, 99, 99, 300, 200, "",
                                                WS_CAPTION | WindowCentreOnParent | Hidden,
                                                corner));
  EXPECT_EQ(FrameOf(raised).left, 0);
  EXPECT_EQ(FrameOf(raised).top, 0);
}

TEST(WindowRecords, CentringWithoutAnyReferenceWindowKeepsThePositionGiven) {
  ASSERT_EQ(GetActiveWindow(), nullptr);  // hidden windows only: nothing is active
  HWND kept = WindowGetHandle(
      WindowOpen(-1, 123, 45, 80, 40, "", WS_CAPTION | WindowCentreOnParent | Hidden));
  EXPECT_EQ(FrameOf(kept).left, 123);
  EXPECT_EQ(FrameOf(kept).top, 45);
  // A position left to the system is not taken literally: the frame stays on the screen.
  HWND chosen = WindowGetHandle(WindowOpen(-1, -65535, -65535, 80, 40, "",
                                           WS_CAPTION | WindowCentreOnParent | Hidden));
  EXPECT_GT(FrameOf(chosen).left, -1000);
  EXPECT_GT(FrameOf(chosen).top, -1000);
}

TEST(WindowRecords, FailedCreationLeavesNoClassNumberOrBlock) {
  WindowClose(OpenHidden());
  int before = RuntimeHeapBlocks();
  HWND notAWindow = reinterpret_cast<HWND>(0x7FF0);
  EXPECT_EQ(WindowOpenChild(7, 0, 0, 50, 50, "", WS_CHILD | Hidden, notAWindow), 0);
  EXPECT_EQ(WindowGetHandle(7), nullptr);
  EXPECT_FALSE(ClassRegistered(7));
  EXPECT_EQ(WindowOpenChild(-1, 0, 0, 50, 50, "", WS_CHILD | Hidden, notAWindow), 0);
  EXPECT_EQ(RuntimeHeapBlocks(), before);
}

TEST(WindowRecords, ANumberNoSlotCanHoldGivesZeroAndLeavesNoWindow) {
  EXPECT_EQ(OpenHidden(-5), 0);
  EXPECT_EQ(FindWindowA("WindowClass_-5", nullptr), nullptr);
  EXPECT_FALSE(ClassRegistered(-5));
  EXPECT_EQ(WindowGetHandle(-5), nullptr);
  EXPECT_EQ(OpenHidden(-7), 0);
  // A live dynamic window's number is no slot either: refused, and that window stays.
  int32_t dynamic = OpenHidden();
  EXPECT_EQ(OpenHidden(dynamic), 0);
  EXPECT_TRUE(IsWindow(WindowGetHandle(dynamic)));
}

// Two threads open one number at the same moment, round after round: a free number goes to
// exactly one of them, a refused one to neither, and no class, window or block stays behind.
TEST(WindowRecords, TwoThreadsOpeningOneNumberAtOnce) {
  const int Rounds = 30;
  std::atomic<int> arrived{0};
  auto meet = [&](int phase) {  // both threads reach phase before either goes on
    ++arrived;
    while (arrived < 2 * phase) SwitchToThread();
  };
  std::vector<int> opened[2] = {std::vector<int>(Rounds), std::vector<int>(Rounds)};
  auto run = [&](int thread) {
    for (int round = 0, phase = 0; round < Rounds; ++round) {
      int32_t number = round % 2 ? 1 << 30 : 9;
      meet(++phase);
      opened[thread][round] = OpenHidden(number) != 0;
      meet(++phase);
      if (opened[thread][round]) WindowClose(number);
    }
  };
  {
    TestThread first([&] { run(0); }), second([&] { run(1); });
  }
  std::vector<int> winners, expected;
  for (int round = 0; round < Rounds; ++round) {
    winners.push_back(opened[0][round] + opened[1][round]);
    expected.push_back(round % 2 ? 0 : 1);
  }
  EXPECT_EQ(winners, expected);
  EXPECT_FALSE(ClassRegistered(9));
  EXPECT_FALSE(ClassRegistered(1 << 30));
}

TEST(WindowRecords, SystemEndClosesNumberedThenDynamicWindows) {
  std::vector<HWND> destroyed;
  recorder.hook = [&](HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_DESTROY) destroyed.push_back(window);
  };
  EventSetCallback(RecordingCallback);
  int32_t dynamicA = OpenHidden();
  OpenHidden(4);
  int32_t dynamicB = OpenHidden();
  OpenHidden(1);
  std::vector<HWND> expected = {WindowGetHandle(1), WindowGetHandle(4),
                                WindowGetHandle(dynamicA), WindowGetHandle(dynamicB)};
  WindowSystemEnd();
  EXPECT_EQ(destroyed, expected);
  for (HWND window : expected) EXPECT_FALSE(IsWindow(window));
  ObjectEnumStart(WindowTable);
  int32_t number = 0;
  EXPECT_EQ(ObjectEnumNext(WindowTable, &number), nullptr);
}

TEST(WindowRecords, CloseFromTheWindowsOwnDestructionIsHarmless) {
  int32_t number = OpenHidden();
  WindowSetBackground(number, CreateSolidBrush(RGB(1, 2, 3)));
  int closes = 0;
  recorder.hook = [&](HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_DESTROY && closes++ == 0) WindowClose(number);
  };
  EventSetCallback(RecordingCallback);
  WindowClose(number);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(WindowFind(number), nullptr);
}

TEST(WindowRecords, BackgroundBrushIsOwnedByTheWindow) {
  int32_t number = OpenHidden();
  HBRUSH first = CreateSolidBrush(RGB(10, 20, 30));
  HBRUSH second = CreateSolidBrush(RGB(40, 50, 60));
  WindowSetBackground(number, first);
  WindowSetBackground(number, first);  // setting the same brush again keeps it
  EXPECT_EQ(GetObjectType(first), static_cast<DWORD>(OBJ_BRUSH));
  WindowSetBackground(number, second);
  EXPECT_EQ(GetObjectType(first), 0u);  // replaced: deleted
  EXPECT_EQ(GetObjectType(second), static_cast<DWORD>(OBJ_BRUSH));
  WindowClose(number);
  EXPECT_EQ(GetObjectType(second), 0u);  // closed: deleted
  WindowSetBackground(number, nullptr);  // no such window: nothing
}

TEST(WindowRecords, AWindowDestroyedAnyOtherWayGoesWithItsRecordOnce) {
  // Closing a parent: a runtime child and a runtime owned window die with it.
  int32_t parent = OpenHidden();
  int32_t child = WindowOpenChild(-1, 0, 0, 50, 30, "", WS_CHILD | Hidden, WindowGetHandle(parent));
  int32_t owned = WindowOpenChild(-1, 0, 0, 50, 30, "", WS_POPUP | Hidden, WindowGetHandle(parent));
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  WindowSetBackground(child, brush);
  std::vector<HWND> dying = {WindowGetHandle(child), WindowGetHandle(owned)};
  WindowClose(parent);
  for (int32_t number : {child, owned}) {
    EXPECT_EQ(WindowGetHandle(number), nullptr);
    EXPECT_FALSE(ClassRegistered(number));
  }
  for (HWND window : dying) EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(GetObjectType(brush), 0u);
  // DestroyWindow called directly; the class goes with the next call into the window system.
  ASSERT_NE(OpenHidden(6), 0);
  DestroyWindow(WindowGetHandle(6));
  EXPECT_EQ(WindowGetHandle(6), nullptr);
  EventWait(0);
  EXPECT_FALSE(ClassRegistered(6));
  // Once: the number opened again, perhaps on the blocks just freed, keeps all of them when a
  // close of the old window is asked again.
  ASSERT_NE(OpenHidden(6), 0);
  WindowRecord kept = *WindowFind(6);
  WindowClose(child);
  EventWait(0);
  EXPECT_EQ(memcmp(WindowFind(6), &kept, sizeof kept), 0);
  EXPECT_NE(HeapSize(MainHeap, 0, kept.acceleratorEntries), static_cast<SIZE_T>(-1));
  EXPECT_EQ(CopyAcceleratorTableA(kept.acceleratorTable, nullptr, 0), 2);
  EXPECT_TRUE(ClassRegistered(6));
  WindowClose(6);
  // A window that ends with its thread gets no message at all: the thread's end releases it.
  int32_t orphan = 0;
  ASSERT_TRUE(RunOnThread([&] { orphan = OpenHidden(); }));
  ASSERT_NE(orphan, 0);
  EXPECT_TRUE(WaitUntil([&] { return !ClassRegistered(orphan); }));
  EXPECT_EQ(WindowGetHandle(orphan), nullptr);
}

TEST(WindowRecords, AWindowThatCannotBeDestroyedFromHereKeepsItsRecordAndNumber) {
  // Window 8 belongs to another thread, which keeps it until told to close it.
  std::atomic<bool> opened{false}, release{false};
  TestThread owner([&] {
    opened = OpenHidden(8) != 0;
    WaitUntil([&] { return release.load(); }, 10000);
    WindowClose(8);
  });
  ASSERT_TRUE(WaitUntil([&] { return opened.load(); }, 5000));
  HWND window = WindowGetHandle(8);
  ASSERT_TRUE(IsWindow(window));
  WindowRecord* record = WindowFind(8);
  WindowRecord kept = *record;
  // DestroyWindow fails from this thread: closing and opening the number again change nothing.
  WindowClose(8);
  EXPECT_EQ(OpenHidden(8), 0);
  WindowSystemEnd();
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(WindowFind(8), record);
  EXPECT_EQ(memcmp(record, &kept, sizeof kept), 0);
  EXPECT_EQ(GetPropA(window, "XR_WindowID"), reinterpret_cast<HANDLE>(9));
  EXPECT_EQ(CopyAcceleratorTableA(kept.acceleratorTable, nullptr, 0), 2);
  EXPECT_TRUE(ClassRegistered(8));
  // Its own thread closes it.
  release = true;
  EXPECT_TRUE(owner.Join());
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(WindowGetHandle(8), nullptr);
  EXPECT_FALSE(ClassRegistered(8));
}

TEST(WindowRecords, WindowsAreDestroyedOutsideTheTablesLock) {
  // As each window dies, its callback waits for another thread to open and close a window,
  // which needs the table's lock.
  std::vector<bool> ended;
  recorder.hook = [&](HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_DESTROY) ended.push_back(RunOnThread([] { WindowClose(OpenHidden()); }));
  };
  EventSetCallback(RecordingCallback);
  OpenHidden(2);
  OpenHidden(2);  // opening the number again destroys its window
  OpenHidden(3);
  OpenHidden();
  WindowSystemEnd();
  EXPECT_EQ(ended, std::vector<bool>(4, true));
}

// A drop target that counts its references, to see RevokeDragDrop let go of it.
struct CountingDropTarget : IDropTarget {
  LONG references = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDropTarget) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DragLeave() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Drop(IDataObject*, DWORD, POINTL, DWORD*) override { return S_OK; }
};

// NOTE: COM keeps threads, events and keys for the process's life once a drop target was
// registered: this runs in a process of its own, which ends with 0 when the target was let go.
TEST(WindowRecords, ClosingRevokesTheDropTargetOfAWindowThatAcceptsDrops) {
  EXPECT_EXIT({
    OleInitialize(nullptr);
    CountingDropTarget accepting;
    int32_t a = OpenHidden();
    bool registered = RegisterDragDrop(WindowGetHandle(a), &accepting) == S_OK;
    SetPropA(WindowGetHandle(a), "XR_DropAccept", reinterpret_cast<HANDLE>(1));
    LONG held = accepting.references;
    WindowClose(a);
    exit(registered && held > 1 && accepting.references < held ? 0 : 1);
  }, testing::ExitedWithCode(0), "");
}

}  // namespace
