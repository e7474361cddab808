// The event queue and the wait for events: per-thread queued events, pending events and the
// one-message-per-call event loop.
//
// Invariants:
// - Every field here belongs to the calling thread's WindowThreadState; nothing is locked, apart
//   from the process-wide list of drop records made and not yet freed.
// - queueTail is null exactly when queueHead is; queued nodes are MainHeap blocks owned by the
//   queue until EventWait hands their event out or the thread's state is released.
// - While the queue holds events, EventWait looks at no message.
// - A pending event is handed out by the first EventWait that can: one that finds it set on
//   entry (it came from a message handled outside EventWait), or the one whose wait handled its
//   message. A message taken by a wait that also produced an event is held, not dispatched, and
//   delivered by the next call that looks at messages. So every pending event is returned once,
//   with the item, type and drop data it set, unless another event of the same dispatch
//   replaced it.
// - Drop data is a record that DropDataCreate made. A drop message takes it once (it is marked
//   taken) into pendingDropData; returning the drop event moves it to dropData, which the next
//   EventWait frees. Only the record and the block made with it are ever freed.
#include "window_internal.h"

// What MsgWaitForMultipleObjects wakes for: keys, mouse moves and buttons, posted messages,
// timers, paints, sent messages, hot keys and all posted messages.
static const DWORD WakeMask = QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE | QS_TIMER |
                              QS_PAINT | QS_SENDMESSAGE | QS_HOTKEY | QS_ALLPOSTMESSAGE;
static_assert(WakeMask == 0x1FF, "the wait wakes on every kind of input");

// ---------------------------------------------------------------------------------------------
// Drop data
// ---------------------------------------------------------------------------------------------

// A drop record as DropDataCreate makes it: the fields a receiver reads, then the runtime's own.
struct DropRecord {
  void* fields[DropDataFields];  // what travels with the message; the sixth names block at first
  DropRecord* next;              // the next record made and not yet freed
  void* block;                   // the second block made with the record, or null
  int32_t taken;                 // a drop message has taken the record
};

static SRWLOCK dropLock = SRWLOCK_INIT;  // guards dropRecords and every record's next and taken
static DropRecord* dropRecords;          // records made and not yet freed, newest first

void* DropDataCreate(int32_t dataSize) {
  if (dataSize < 0) return nullptr;
  auto* record =
      static_cast<DropRecord*>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, sizeof(DropRecord)));
  if (record == nullptr) return nullptr;
  if (dataSize > 0) {
    record->block = HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, dataSize);
    if (record->block == nullptr) {
      HeapFree(MainHeap, 0, record);
      return nullptr;
    }
  }
  record->fields[DropDataSecondBlock] = record->block;
  AcquireSRWLockExclusive(&dropLock);
  record->next = dropRecords;
  dropRecords = record;
  ReleaseSRWLockExclusive(&dropLock);
  return record;
}

// The record made by DropDataCreate at data that no drop has taken yet, now taken; else null.
// Only addresses are compared: data may be anything a message carried.
static DropRecord* TakeDropRecord(LPARAM data) {
  AcquireSRWLockExclusive(&dropLock);
  DropRecord* found = dropRecords;
  while (found != nullptr && reinterpret_cast<LPARAM>(found) != data) found = found->next;
  if (found != nullptr && found->taken) found = nullptr;
  if (found != nullptr) found->taken = 1;
  ReleaseSRWLockExclusive(&dropLock);
  return found;
}

// Unlinks a taken record and frees it with its block; null does nothing.
static void FreeDropRecord(void* data) {
  auto* record = static_cast<DropRecord*>(data);
  if (record == nullptr) return;
  AcquireSRWLockExclusive(&dropLock);
  DropRecord** link = &dropRecords;
  while (*link != record) link = &(*link)->next;
  *link = record->next;
  ReleaseSRWLockExclusive(&dropLock);
  if (record->block != nullptr) HeapFree(MainHeap, 0, record->block);
  HeapFree(MainHeap, 0, record);
}

void EventDropDataFree(WindowThreadState* state) {
  FreeDropRecord(state->dropData);
  state->dropData = nullptr;
}

void EventDropDataTake(WindowThreadState* state, LPARAM data) {
  FreeDropRecord(state->pendingDropData);
  state->pendingDropData = TakeDropRecord(data);
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
  state->queueHead = node->next;
  if (state->queueHead == nullptr) state->queueTail = nullptr;
  HeapFree(MainHeap, 0, node);
  return code;
}

// Hands out the pending event (0 for none). A drop event's record becomes the returned drop
// data; any other event's leaves a pending drop record behind, which goes with its lost event.
static int32_t TakePendingEvent(WindowThreadState* state) {
  int32_t code = state->pendingEvent;
  state->pendingEvent = 0;
  if (code == 0) return 0;
  EventDropDataFree(state);
  if (code == DropOnWindow || code == DropOnGadget) state->dropData = state->pendingDropData;
  else FreeDropRecord(state->pendingDropData);
  state->pendingDropData = nullptr;
  return code;
}

void WindowThreadStateRelease(WindowThreadState* state) {
  for (QueuedEvent* node = state->queueHead; node != nullptr;) {
    QueuedEvent* next = node->next;
    HeapFree(MainHeap, 0, node);
    node = next;
  }
  state->queueHead = state->queueTail = nullptr;
  EventDropDataFree(state);
  FreeDropRecord(state->pendingDropData);
  state->pendingDropData = nullptr;
  state->pendingEvent = 0;
  state->messageHeld = 0;
}

// ---------------------------------------------------------------------------------------------
// The wait
// ---------------------------------------------------------------------------------------------

// Has a message handled while waiting (one sent to the thread) produced an event?
static bool EventsArrived(const WindowThreadState* state) {
  return state->pendingEvent != 0 || state->queueHead != nullptr;
}

// Takes one message of the thread's queue into msg within timeout milliseconds (-1: without
// limit, until a message comes or a message sent meanwhile produces an event); false for none.
static bool NextMessage(const WindowThreadState* state, int32_t timeout, MSG* msg) {
  if (PeekMessageA(msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) return true;
  if (timeout == -1) {
    while (!EventsArrived(state)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, WakeMask);
      if (PeekMessageA(msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) return true;
    }
    return false;
  }
  if (timeout <= 0) return false;
  if (MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeout), WakeMask) ==
      WAIT_TIMEOUT)
    return false;
  return PeekMessageA(msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD) != 0;
}

// Takes the message held by the last call, else one of the thread's queue (see NextMessage);
// false for none.
static bool TakeMessage(WindowThreadState* state, int32_t timeout, MSG* msg) {
  if (!state->messageHeld) return NextMessage(state, timeout, msg);
  *msg = state->heldMessage;
  state->messageHeld = 0;
  return true;
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
  UnregisterWaitingClasses();
  // Made by a message handled outside EventWait (a send, a modal loop the program ran): first.
  if (state->pendingEvent != 0) return TakePendingEvent(state);
  EventDropDataFree(state);
  state->eventType = -1;
  if (state->queueHead != nullptr) return TakeQueuedEvent(state);
  MSG msg = {};
  if (!TakeMessage(state, timeout, &msg)) {
    // Messages sent to the thread were handled while it waited: their events end the wait.
    if (state->pendingEvent != 0) return TakePendingEvent(state);
    return state->queueHead != nullptr ? TakeQueuedEvent(state) : 0;
  }
  if (state->pendingEvent != 0) {
    // NOTE: PeekMessage handles the messages sent to the thread before it takes a posted one,
    // and may do both in one call; the posted message waits for the next call.
    state->heldMessage = msg;
    state->messageHeld = 1;
    return TakePendingEvent(state);
  }
  DeliverMessage(&msg);
  if (state->pendingEvent != 0) return TakePendingEvent(state);
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
