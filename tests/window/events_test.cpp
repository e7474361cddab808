// The event queue and EventWait: queued, pending and message results, collapsing, close
// requests, time-outs, the fields each call leaves, and drop data ownership. Hidden windows only.
#include <string.h>

#include <gtest/gtest.h>

#include "core.h"
#include "test_support.h"
#include "window.h"
#include "window_internal.h"
#include "window_test_support.h"

namespace {

// A hidden window with the recording callback installed and the queues flushed.
struct EventTest : RecordedWindowTest {
  void SetUp() override { Open(); }
  // Moves or sizes the window synchronously (WM_MOVE and WM_SIZE are sent, not posted).
  void MoveTo(int x, int y) {
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void SizeTo(int w, int h) {
    SetWindowPos(window, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
};

TEST_F(EventTest, NothingPendingReturnsZeroAndChangesOnlyTheEventType) {
  PostMessageA(window, WM_APP + 3, 0x11, 0x22);
  EXPECT_EQ(EventWait(0), WM_APP + 3);
  WindowThreadState before = *WindowThreadStateGet();
  before.eventType = 1234;
  WindowThreadStateGet()->eventType = 1234;
  EXPECT_EQ(EventWait(0), 0);
  EXPECT_EQ(EventGetType(), -1);
  EXPECT_EQ(EventWait(10), 0);
  WindowThreadState after = *WindowThreadStateGet();
  EXPECT_EQ(after.eventType, -1);
  after.eventType = before.eventType;
  EXPECT_EQ(memcmp(&before, &after, sizeof after), 0);
  EXPECT_EQ(EventGetWParam(), 0x11u);
  EXPECT_EQ(EventGetLParam(), 0x22);
}

TEST_F(EventTest, NegativeTimeOutsOtherThanMinusOneDoNotWait) {
  // On a thread of its own, so that a wait without end cannot hold the test: the thread's
  // queue stays empty, and only a call that does not wait returns.
  int32_t result = -1;
  ASSERT_TRUE(RunOnThread([&] { result = EventWait(-7); }));
  EXPECT_EQ(result, 0);
}

TEST_F(EventTest, WaitWithoutLimitReturnsAMessagePostedFromAnotherThread) {
  TestThread poster([&] { PostMessageA(window, WM_APP + 9, 77, 88); });
  EXPECT_EQ(EventWait(-1), WM_APP + 9);
  EXPECT_EQ(EventGetWParam(), 77u);
  EXPECT_EQ(EventGetLParam(), 88);
}

TEST_F(EventTest, MessagesWithoutEventsAreReturnedAsTheirNumbers) {
  PostMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(12, 34));
  EXPECT_EQ(EventWait(0), WM_MOUSEMOVE);
  EXPECT_EQ(EventGetWParam(), static_cast<WPARAM>(MK_LBUTTON));
  EXPECT_EQ(EventGetLParam(), MAKELPARAM(12, 34));
  EXPECT_EQ(EventGetType(), -1);
  SetTimer(window, 1, 1, nullptr);
  EXPECT_TRUE(PumpUntil([] { return EventGetWParam() == 1 && EventGetLParam() == 0; }, 3000));
  KillTimer(window, 1);
  bool sawTimer = false;
  for (const Step& s : recorder.log) sawTimer |= s.kind == Step::Event && s.code == WM_TIMER;
  EXPECT_TRUE(sawTimer);
}

TEST_F(EventTest, IdenticalMovesCollapseIntoOneEvent) {
  recorder.watched = {WM_MOVE, WM_SIZE};
  MoveTo(60, 60);
  MoveTo(70, 70);
  DrainEvents();
  ExpectSequence({Msg(WM_MOVE), Msg(WM_MOVE), Ev(WindowMoved, number)});
  // Events of other kinds in between keep their places, a close request among them.
  MoveTo(80, 80);
  SizeTo(300, 200);
  MoveTo(90, 90);
  SendMessageA(window, WM_CLOSE, 0, 0);
  DrainEvents();
  ExpectSequence({Msg(WM_MOVE), Msg(WM_SIZE, SIZE_RESTORED), Msg(WM_MOVE), Ev(WindowMoved, number),
                  Ev(WindowSized, number), Ev(WindowMoved, number), Ev(CloseRequest, number)});
}

TEST_F(EventTest, QueuedEventsComeBeforeMessagesAndKeepTheOtherFields) {
  PostMessageA(window, WM_APP + 1, 5, 6);
  EXPECT_EQ(EventWait(0), WM_APP + 1);
  WindowThreadStateGet()->eventItem = 4321;
  PostMessageA(window, WM_APP + 2, 7, 8);
  MoveTo(120, 120);
  SizeTo(250, 150);
  EXPECT_EQ(EventWait(0), WindowMoved);
  EXPECT_EQ(EventGetWindow(), number);
  EXPECT_EQ(EventWait(0), WindowSized);
  EXPECT_EQ(EventGetItem(), 4321);
  EXPECT_EQ(EventGetWParam(), 5u);
  EXPECT_EQ(EventGetLParam(), 6);
  EXPECT_EQ(EventWait(0), WM_APP + 2);
  EXPECT_EQ(EventGetWParam(), 7u);
}

TEST_F(EventTest, ACloseSentDuringADispatchIsQueuedAndReturnedByTheNextCall) {
  recorder.hook = [&](HWND w, UINT message, WPARAM, LPARAM) {
    if (message == WM_APP + 4) SendMessageA(w, WM_CLOSE, 0, 0);
  };
  PostMessageA(window, WM_APP + 4, 0, 0);
  EXPECT_EQ(RecordedWait(0), WM_APP + 4);
  EXPECT_EQ(RecordedWait(0), CloseRequest);
  EXPECT_EQ(RecordedWait(0), 0);
  ExpectSequence({Ev(WM_APP + 4, number), Ev(CloseRequest, number)});
  EXPECT_TRUE(IsWindow(window));  // a close request never destroys the window
}

TEST_F(EventTest, APostedCloseIsReturnedTwice) {
  PostMessageA(window, WM_CLOSE, 0x55, 0x66);
  EXPECT_EQ(EventWait(0), WM_CLOSE);  // the message itself: its parameters are stored
  EXPECT_EQ(EventGetWParam(), 0x55u);
  EXPECT_EQ(EventGetLParam(), 0x66);
  WindowThreadStateGet()->messageWParam = 0;
  EXPECT_EQ(EventWait(0), CloseRequest);  // the queued event: the parameters stay
  EXPECT_EQ(EventGetWParam(), 0u);
  EXPECT_EQ(EventGetWindow(), number);
  EXPECT_EQ(EventWait(0), 0);
}

TEST_F(EventTest, ACallbackReturningZeroForCloseStopsTheCloseRequest) {
  recorder.results[WM_CLOSE] = 0;
  recorder.watched = {WM_CLOSE};
  EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
  DrainEvents();
  ExpectSequence({Msg(WM_CLOSE)});
  recorder.results.clear();  // ProcessDefaultEvents for everything: the runtime's own handling
  SendMessageA(window, WM_CLOSE, 0, 0);
  DrainEvents();
  ExpectSequence({Msg(WM_CLOSE), Ev(CloseRequest, number)});
}

TEST_F(EventTest, TheWindowsOwnCallbackIsAskedInsteadOfTheThreads) {
  static int windowCalls;
  struct Own {
    static LRESULT CALLBACK Callback(HWND, UINT message, WPARAM, LPARAM) {
      if (message == WM_CLOSE) ++windowCalls;
      return message == WM_CLOSE ? 0 : ProcessDefaultEvents;
    }
  };
  recorder.watched = {WM_CLOSE};
  WindowSetCallback(number, Own::Callback);
  SendMessageA(window, WM_CLOSE, 0, 0);
  DrainEvents();
  ExpectSequence({});
  EXPECT_EQ(windowCalls, 1);
  WindowSetCallback(number, nullptr);
  SendMessageA(window, WM_CLOSE, 0, 0);
  DrainEvents();
  ExpectSequence({Msg(WM_CLOSE), Ev(CloseRequest, number)});
}

TEST_F(EventTest, ActivationQueuesAnEventAndDeactivationNone) {
  EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_INACTIVE, 0), 1);
  EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_CLICKACTIVE, 0), 1);
  // A message of no runtime window still queues its activation, with window -1.
  HWND foreign = CreatePlain("ForeignActivate", WindowClassProc, WS_POPUP, nullptr, 0, 0, 10, 10);
  EXPECT_EQ(SendMessageA(foreign, WM_ACTIVATE, WA_ACTIVE, 0), 1);
  EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, TRUE), 0), 1);  // minimised
  DrainEvents();
  ExpectSequence({Ev(Activated, number), Ev(Activated, -1)});
  DestroyWindow(foreign);
}

TEST_F(EventTest, MinimisingQueuesNoSizeEventAndMessagesOfCreationQueueNothing) {
  SendMessageA(window, WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(0, 0));
  SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(10, 10));
  SendMessageA(window, WM_MOVE, 0, 0);
  DrainEvents();
  ExpectSequence({Ev(WindowSized, number), Ev(WindowMoved, number)});
  // Creation's own WM_SIZE and WM_MOVE come before the window has its number.
  int32_t fresh = OpenHidden();
  ASSERT_NE(fresh, 0);
  DrainEvents();
  ExpectSequence({});
}

// Erases a 4 × 4 memory bitmap through the window; the result and the colour of pixel (1, 1).
std::pair<LRESULT, COLORREF> Erase(HWND window) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all = {0, 0, 4, 4};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  LRESULT result = SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  COLORREF colour = GetPixel(dc, 1, 1);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return {result, colour};
}

TEST_F(EventTest, EraseUsesTheBrushThenTheHandlerThenTheClassBrushAndAlwaysQueues) {
  auto byClass = Erase(window);
  EXPECT_NE(byClass.first, 0);
  EXPECT_EQ(byClass.second, GetSysColor(COLOR_BTNFACE));
  static HWND handlerWindow;
  struct Handler {
    static LRESULT CALLBACK Erase(HDC dc, HWND w) {
      handlerWindow = w;
      SetPixel(dc, 1, 1, RGB(0, 0, 255));
      return 77;
    }
  };
  WindowSetEraseHandler(number, Handler::Erase);
  EXPECT_EQ(Erase(window), (std::pair<LRESULT, COLORREF>(77, RGB(0, 0, 255))));
  EXPECT_EQ(handlerWindow, window);
  WindowSetBackground(number, CreateSolidBrush(RGB(255, 0, 0)));
  EXPECT_EQ(Erase(window), (std::pair<LRESULT, COLORREF>(1, RGB(255, 0, 0))));
  DrainEvents();  // three erases in a row collapse into one
  ExpectSequence({Ev(RepaintNeeded, number)});
}

TEST_F(EventTest, CommandsAndGadgetEventsBecomeGadgetActionsOrMenuCommands) {
  HWND control = CreateWindowExA(0, "BUTTON", "b", WS_CHILD, 0, 0, 20, 20, window,
                                 reinterpret_cast<HMENU>(42), nullptr, nullptr);
  HWND commandControl = CreateWindowExA(0, "BUTTON", "c", WS_CHILD, 0, 0, 20, 20, window,
                                        reinterpret_cast<HMENU>(static_cast<intptr_t>(-10000)),
                                        nullptr, nullptr);
  struct Case {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int32_t code, item, type;
  } cases[] = {
      {WM_COMMAND, MAKEWPARAM(42, BN_DOUBLECLICKED), reinterpret_cast<LPARAM>(control),
       GadgetAction, 42, BN_DOUBLECLICKED},
      {WM_COMMAND, MAKEWPARAM(900, BN_CLICKED), reinterpret_cast<LPARAM>(commandControl),
       MenuCommand, 900, BN_CLICKED},
      {WM_COMMAND, MAKEWPARAM(301, 0), 0, MenuCommand, 301, -1},  // a menu
      {WM_COMMAND, MAKEWPARAM(302, 1), 0, MenuCommand, 302, -1},  // another accelerator
      {GadgetEventMessage, 17, AGadgetEventType, GadgetAction, 17, AGadgetEventType},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    PostMessageA(window, c.message, c.wParam, c.lParam);
    EXPECT_EQ(EventWait(0), c.code);
    EXPECT_EQ(EventGetItem(), c.item);
    EXPECT_EQ(EventGetType(), c.type);
    EXPECT_EQ(EventGetWindow(), number);
  }
  // Tab's command moves the focus (of no active window here) and makes no event.
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(FocusNextCommand, 1), 0);
  EXPECT_EQ(EventWait(0), WM_COMMAND);
}

TEST_F(EventTest, IconMessagesBecomeIconClicksOnlyForButtonActions) {
  struct Case { LPARAM mouse; int32_t code, type; } cases[] = {
      {WM_LBUTTONDOWN, IconClick, 0}, {WM_RBUTTONDOWN, IconClick, 1},
      {WM_LBUTTONDBLCLK, IconClick, 2}, {WM_RBUTTONDBLCLK, IconClick, 3},
      {WM_MOUSEMOVE, IconEventMessage, -1}};
  int32_t item = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mouse);
    ++item;
    // The callback message is reposted as the event message, which makes the event.
    PostMessageA(window, IconCallbackMessage, item, c.mouse);
    EXPECT_EQ(EventWait(0), static_cast<int32_t>(IconCallbackMessage));
    EXPECT_EQ(EventWait(0), c.code);
    EXPECT_EQ(EventGetItem(), item);  // set even when no event is made
    EXPECT_EQ(EventGetType(), c.type);
  }
}

// A drop record as a sender makes it: six fields, the sixth a block of 100 bytes.
void* MakeDropRecord() { return DropDataCreate(100); }

TEST_F(EventTest, DropDataIsOwnedUntilTheNextWait) {
  int before = HeapBusyBlocks(MainHeap);
  void* record = MakeDropRecord();
  PostMessageA(window, WindowDropMessage, 0, reinterpret_cast<LPARAM>(record));
  EXPECT_EQ(EventWait(0), DropOnWindow);
  EXPECT_EQ(EventGetDropData(), record);
  EXPECT_EQ(HeapBusyBlocks(MainHeap), before + 2);
  EXPECT_EQ(EventWait(0), 0);
  EXPECT_EQ(EventGetDropData(), nullptr);
  EXPECT_EQ(HeapBusyBlocks(MainHeap), before);
  record = MakeDropRecord();
  PostMessageA(window, GadgetDropMessage, 23, reinterpret_cast<LPARAM>(record));
  EXPECT_EQ(EventWait(0), DropOnGadget);
  EXPECT_EQ(EventGetItem(), 23);
  EXPECT_EQ(EventGetDropData(), record);
  WindowSystemEnd();  // the end step frees it as well, and the window's accelerator entries
  EXPECT_EQ(HeapBusyBlocks(MainHeap), before - 1);
}

TEST_F(EventTest, ASecondDropInOneDispatchFreesTheFirst) {
  int before = HeapBusyBlocks(MainHeap);
  recorder.hook = [&](HWND w, UINT message, WPARAM, LPARAM) {
    if (message != WM_APP) return;
    SendMessageA(w, WindowDropMessage, 0, reinterpret_cast<LPARAM>(MakeDropRecord()));
    SendMessageA(w, WindowDropMessage, 0, reinterpret_cast<LPARAM>(MakeDropRecord()));
  };
  PostMessageA(window, WM_APP, 0, 0);
  EXPECT_EQ(EventWait(0), DropOnWindow);
  EXPECT_EQ(HeapBusyBlocks(MainHeap), before + 2);
  EventWait(0);
  EXPECT_EQ(HeapBusyBlocks(MainHeap), before);
  // One record sent twice before the next wait: the second drop finds it taken, and replaces it.
  recorder.hook = [&](HWND w, UINT message, WPARAM, LPARAM) {
    void* record = message == WM_APP ? MakeDropRecord() : nullptr;
    for (int i = 0; record != nullptr && i < 2; ++i)
      SendMessageA(w, WindowDropMessage, 0, reinterpret_cast<LPARAM>(record));
  };
  PostMessageA(window, WM_APP, 0, 0);
  EXPECT_EQ(EventWait(0), DropOnWindow);
  EXPECT_EQ(EventGetDropData(), nullptr);
  EXPECT_EQ(HeapBusyBlocks(MainHeap), before);
}

TEST_F(EventTest, OnlyDropDataTheRuntimeMadeIsTakenAndItIsFreedOnce) {
  void* foreign[6] = {};
  char elsewhere[64];
  foreign[5] = elsewhere;
  // Shaped like the runtime's records, six fields and a second block in MainHeap, but not made
  // by it; and a live block of the runtime's own that a forged message names.
  auto** lookalike = static_cast<void**>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, 6 * sizeof(void*)));
  lookalike[5] = HeapAlloc(MainHeap, 0, 100);
  void* tooSmall = HeapAlloc(MainHeap, 0, 8);
  void* live = GadgetThreadStateGet()->list;
  for (void* data : {static_cast<void*>(foreign), static_cast<void*>(lookalike), tooSmall, live}) {
    PostMessageA(window, WindowDropMessage, 0, reinterpret_cast<LPARAM>(data));
    EXPECT_EQ(EventWait(0), DropOnWindow);
    EXPECT_EQ(EventGetDropData(), nullptr);
    EventWait(0);
  }
  EXPECT_TRUE(HeapValidate(MainHeap, 0, nullptr));
  EXPECT_NE(HeapSize(MainHeap, 0, tooSmall), static_cast<SIZE_T>(-1));  // still the caller's
  for (void* block : {static_cast<void*>(lookalike), lookalike[5], live})
    EXPECT_NE(HeapSize(MainHeap, 0, block), static_cast<SIZE_T>(-1));
  // A record the runtime made, whose sixth field was turned to name the record itself, sent
  // three times: taken once, and exactly its two blocks are freed.
  int before = HeapBusyBlocks(MainHeap);
  auto** made = static_cast<void**>(DropDataCreate(16));
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(HeapSize(MainHeap, 0, made[5]), 16u);  // the sixth field names the data block
  made[5] = made;
  for (int i = 0; i < 2; ++i)
    PostMessageA(window, WindowDropMessage, 0, reinterpret_cast<LPARAM>(made));
  EXPECT_EQ(EventWait(0), DropOnWindow);
  EXPECT_EQ(EventGetDropData(), made);
  EXPECT_EQ(EventWait(0), DropOnWindow);
  EXPECT_EQ(EventGetDropData(), nullptr);
  EXPECT_EQ(HeapBusyBlocks(MainHeap), before);
  PostMessageA(window, GadgetDropMessage, 3, reinterpret_cast<LPARAM>(made));  // freed by now
  EXPECT_EQ(EventWait(0), DropOnGadget);
  EXPECT_EQ(EventGetDropData(), nullptr);
  EXPECT_EQ(HeapBusyBlocks(MainHeap), before);
  EXPECT_TRUE(HeapValidate(MainHeap, 0, nullptr));
  EXPECT_EQ(DropDataCreate(-1), nullptr);
  // A record this thread holds for its pending drop, sent to a window of another thread, is
  // not taken there: it keeps one owner.
  void* held = MakeDropRecord();
  SendMessageA(window, WindowDropMessage, 0, reinterpret_cast<LPARAM>(held));
  void* takenThere = held;
  EXPECT_TRUE(RunOnThread([&] {
    int32_t other = OpenHidden();
    SendMessageA(WindowGetHandle(other), WindowDropMessage, 0, reinterpret_cast<LPARAM>(held));
    EventWait(0);
    takenThere = EventGetDropData();
    WindowClose(other);
  }));
  EXPECT_EQ(takenThere, nullptr);
  EXPECT_EQ(EventWait(0), DropOnWindow);
  EXPECT_EQ(EventGetDropData(), held);
  for (void* block : {lookalike[5], static_cast<void*>(lookalike), tooSmall}) HeapFree(MainHeap, 0, block);
}

TEST_F(EventTest, EventsMadeOutsideItsDispatchAreReturnedAsSoonAsAWaitSeesThem) {
  // Sent by another thread while EventWait waits, with or without a limit: the event ends it.
  for (int32_t timeout : {5000, -1}) {
    SCOPED_TRACE(timeout);
    TestThread sender([&] {
      Sleep(50);
      SendMessageA(window, GadgetEventMessage, 17, 2);
    });
    DWORD start = GetTickCount();
    EXPECT_EQ(EventWait(timeout), GadgetAction);
    EXPECT_LT(GetTickCount() - start, 4000u);
    EXPECT_EQ(EventGetItem(), 17);
    EXPECT_EQ(EventGetType(), 2);
    EXPECT_EQ(EventGetWindow(), number);
  }
  // A message posted and another sent while this thread does not look: one wait sees both.
  // The sent one's event comes first, then the posted message, then nothing.
  ASSERT_TRUE(RunOnThread([&] {
    PostMessageA(window, WM_APP + 5, 1, 2);
    SendNotifyMessageA(window, GadgetEventMessage, 18, 3);
  }, false));
  EXPECT_EQ(EventWait(0), GadgetAction);
  EXPECT_EQ(EventGetItem(), 18);
  EXPECT_EQ(EventWait(0), WM_APP + 5);
  EXPECT_EQ(EventGetWParam(), 1u);
  EXPECT_EQ(EventGetLParam(), 2);
  EXPECT_EQ(EventWait(0), 0);
  // A drop the program sends itself between two waits, a close request queued and a message
  // posted meanwhile: the drop first, its data intact, then the queue, then the message.
  void* data = DropDataCreate(8);
  PostMessageA(window, WM_APP + 6, 0, 0);
  SendMessageA(window, WindowDropMessage, 0, reinterpret_cast<LPARAM>(data));
  SendMessageA(window, WM_CLOSE, 0, 0);
  DrainEvents();
  ExpectSequence({Ev(DropOnWindow, number), Ev(CloseRequest, number), Ev(WM_APP + 6, number)});
  EXPECT_TRUE(HeapValidate(MainHeap, 0, nullptr));
}

TEST_F(EventTest, AnEndingThreadsQueuedEventsAreFreed) {
  // A thread opens a window, queues a move and a close request, closes the window and ends with
  // two events still queued, which go with the thread's state (the books show any left).
  int queued = 0;
  EXPECT_TRUE(RunOnThread([&] {
    int32_t own = OpenHidden();
    SendMessageA(WindowGetHandle(own), WM_MOVE, 0, 0);
    SendMessageA(WindowGetHandle(own), WM_CLOSE, 0, 0);
    WindowClose(own);
    for (QueuedEvent* e = WindowThreadStateGet()->queueHead; e != nullptr; e = e->next) ++queued;
  }));
  EXPECT_EQ(queued, 2);
}

TEST_F(EventTest, NotifyWithoutAHeaderIsLeftToTheDefault) {
  EXPECT_EQ(SendMessageA(window, WM_NOTIFY, 0, 0), 0);
  DrainEvents();
  ExpectSequence({});
}

}  // namespace
