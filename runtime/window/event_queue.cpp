// The event queue and the wait for events: per-thread queued events, pending events and the
// one-message-per-call event loop.
//
// Invariants:
// - Every field here belongs to the calling thread's WindowThreadState; nothing is locked.
// - queueTail is null exactly when queueHead is; queued nodes are MainHeap blocks owned by the
//   queue until EventWait hands their event out.
// - While the queue holds events, EventWait looks at no message.
// - Pending drop data is a MainHeap record of at least six fields whose sixth field names a
//   second MainHeap block or is null; it is owned from its drop message until the next EventWait,
//   the next drop, the thread's end or WindowSystemEnd.
#include "window_internal.h"

// What MsgWaitForMultipleObjects wakes for: keys, mouse moves and buttons, posted messages,
// timers, paints, sent messages, hot keys and all posted messages.
static const DWORD WakeMask = QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE | QS_TIMER |
                              QS_PAINT | QS_SENDMESSAGE | QS_HOTKEY | QS_ALLPOSTMESSAGE;
static_assert(WakeMask == 0x1FF, "the wait wakes on every kind of input");

// ---------------------------------------------------------------------------------------------
// Drop data
// ---------------------------------------------------------------------------------------------

// Is block a live MainHeap block of at least bytes bytes?
static bool IsMainHeapBlock(void* block, SIZE_T bytes) {
  if (block == nullptr || !HeapValidate(MainHeap, 0, block)) return false;
  SIZE_T size = HeapSize(MainHeap, 0, block);
  return size != static_cast<SIZE_T>(-1) && size >= bytes;
}

void EventDropDataFree(WindowThreadState* state) {
  auto* fields = static_cast<void**>(state->dropData);
  if (fields == nullptr) return;
  if (fields[DropDataSecondBlock] != nullptr) HeapFree(MainHeap, 0, fields[DropDataSecondBlock]);
  HeapFree(MainHeap, 0, fields);
  state->dropData = nullptr;
}

void EventDropDataTake(WindowThreadState* state, LPARAM data) {
  EventDropDataFree(state);
  auto* fields = reinterpret_cast<void**>(data);
  // A drop message may come from anywhere: only what this runtime could have made is freed later.
  if (!IsMainHeapBlock(fields, DropDataFields * sizeof(void*))) return;
  void* second = fields[DropDataSecondBlock];
  if (second != nullptr && !IsMainHeapBlock(second, 1)) return;
  state->dropData = fields;
}

// ---------------------------------------------------------------------------------------------
// The queue
// ---------------------------------------------------------------------------------------------

QueuedEvent* EventQueueAppend(WindowThreadState* state, int32_t code, int32_t window) {
  QueuedEvent* tail = state->queueTail;
  if (tail != nullptr && tail->code == code && tail->window == window) return tail;
  auto* node = static_cast<QueuedEvent*>(HeapAlloc(MainHeap, 0, sizeof(QueuedEvent)));
  if (node == nullptr) return nullptr;
  node->next = nullptr;
  node->code = code;
  node->window = window;
  if (tail != nullptr) tail->next = node;
  else state->queueHead = node;
  state->queueTail = node;
  return node;
}

// Hands out the oldest queued event: its code, with its window as the event window.
static int32_t TakeQueuedEvent(WindowThreadState* state) {
  QueuedEvent* node = state->queueHead;
  int32_t code = node->code;
  state->eventWindow = node->window;
  state->pendingEvent = 0;
  state->queueHead = node->next;
  if (state->queueHead == nullptr) state->queueTail = nullptr;
  HeapFree(MainHeap, 0, node);
  return code;
}

// ---------------------------------------------------------------------------------------------
// The wait
// ---------------------------------------------------------------------------------------------

// Takes one message of the thread's queue into msg within timeout milliseconds; false for none.
static bool NextMessage(int32_t timeout, MSG* msg) {
  if (timeout == -1) {
    // GetMessageA's -1 leaves msg unfilled: that is no message, not one to dispatch.
    return GetMessageA(msg, nullptr, 0, 0) != -1;
  }
  if (PeekMessageA(msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) return true;
  if (timeout <= 0) return false;
  if (MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeout), WakeMask) ==
      WAIT_TIMEOUT)
    return false;
  return PeekMessageA(msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD) != 0;
}

// Translates msg with the active window's accelerators, or translates and dispatches it.
static void DeliverMessage(MSG* msg) {
  HWND active = GetActiveWindow();
  HACCEL accelerators = WindowGetAccelerators(active);
  if (accelerators != nullptr && TranslateAcceleratorA(active, accelerators, msg)) return;
  TranslateMessage(msg);
  DispatchMessageA(msg);
}

int32_t EventWait(int32_t timeout) {
  WindowThreadState* state = WindowThreadStateGet();
  EventDropDataFree(state);
  state->eventType = -1;
  if (state->queueHead != nullptr) return TakeQueuedEvent(state);
  MSG msg = {};
  if (!NextMessage(timeout, &msg)) return 0;
  DeliverMessage(&msg);
  if (state->pendingEvent != 0) {
    int32_t code = state->pendingEvent;
    state->pendingEvent = 0;
    return code;
  }
  state->messageWParam = msg.wParam;
  state->messageLParam = msg.lParam;
  return static_cast<int32_t>(msg.message);
}

// ---------------------------------------------------------------------------------------------
// Reading the last event
// ---------------------------------------------------------------------------------------------

int32_t EventGetItem(void) { return WindowThreadStateGet()->eventItem; }

int32_t EventGetWindow(void) { return WindowThreadStateGet()->eventWindow; }

int32_t EventGetType(void) { return WindowThreadStateGet()->eventType; }

WPARAM EventGetWParam(void) { return WindowThreadStateGet()->messageWParam; }

LPARAM EventGetLParam(void) { return WindowThreadStateGet()->messageLParam; }

void* EventGetDropData(void) { return WindowThreadStateGet()->dropData; }

void EventSetCallback(WindowCallback callback) { WindowThreadStateGet()->callback = callback; }
