// The window procedure of every runtime window: the sizing filter, the window callback, then one
// small case per message that turns it into an event or a gadget notification.
//
// Invariants:
// - The handler only translates: it queues events, sets the pending event, or asks a gadget;
//   what it does not handle returns NotHandled, which never leaves WindowClassProc.
// - Any program on the desktop can send these windows any message: a pointer in a message is
//   read only once it is known to be this process's readable memory, and a handle is only
//   looked up, never trusted.
// - A message belongs to the runtime window that the window or its nearest ancestor is
//   (FindRuntimeWindow: its number in the user data, else in "XR_WindowID", and its record
//   naming that very window); with none its number is -1 and it has no record, and it still
//   reaches the thread callback.
// - A record is looked up again after the callback ran: the callback may have closed the window.
// - A runtime window's WM_NCDESTROY releases its record (unless WindowClose is destroying it),
//   after the handler and whatever the callback answered.
#include "window_internal.h"

// ---------------------------------------------------------------------------------------------
// Message cases
// ---------------------------------------------------------------------------------------------

// WM_SIZE: only the runtime window's own size counts, and minimising goes to the default.
static LRESULT OnSize(WindowThreadState* state, const RuntimeWindow& target, HWND hwnd,
                      WPARAM wParam) {
  if (target.number == -1 || hwnd != target.window) return 1;
  if (wParam == SIZE_MINIMIZED) return NotHandled;
  EventQueueAppend(state, WindowSized, target.number);
  return 0;
}

// WM_ERASEBKGND: the window's brush, else its erase handler, else the default; always queued.
static LRESULT OnEraseBackground(WindowThreadState* state, const RuntimeWindow& target,
                                 HWND hwnd, WPARAM wParam) {
  LRESULT result = NotHandled;
  WindowRecord* record = target.record;
  auto dc = reinterpret_cast<HDC>(wParam);
  if (record != nullptr && record->backgroundBrush != nullptr) {
    RECT client;
    GetClientRect(hwnd, &client);
    FillRect(dc, &client, record->backgroundBrush);
    result = 1;
  } else if (record != nullptr && record->handle == hwnd && record->eraseHandler != nullptr) {
    result = record->eraseHandler(dc, hwnd);
  }
  EventQueueAppend(state, RepaintNeeded, target.number);
  return result;
}

// WM_COMMAND: a gadget's own handling first, then a control's action, a menu command, or Tab.
static void OnCommand(WindowThreadState* state, HWND hwnd, WPARAM wParam, LPARAM lParam) {
  auto control = reinterpret_cast<HWND>(lParam);
  int32_t gadget;
  if (GadgetNotify(control, hwnd, WM_COMMAND, wParam, lParam, &gadget) != NotHandled) return;
  WORD id = LOWORD(wParam);
  WORD code = HIWORD(wParam);
  if (control != nullptr) {
    state->pendingEvent = GadgetAction;
    state->eventType = code;
    // A gadget's action carries its number, whatever its identifier holds now.
    if (gadget != -1) {
      state->eventItem = gadget;
      return;
    }
    state->eventItem = GetWindowLongA(control, GWL_ID);
    if (state->eventItem == CommandControlId) {
      state->eventItem = id;
      state->pendingEvent = MenuCommand;
    }
  } else if (code != 0 && (id == FocusNextCommand || id == FocusPreviousCommand)) {
    FocusStep(id == FocusPreviousCommand);
  } else {
    state->eventItem = id;
    state->pendingEvent = MenuCommand;
  }
}

// IconEventMessage: the item always; a click event for the four button actions, else none.
static void OnIconEvent(WindowThreadState* state, WPARAM wParam, LPARAM lParam) {
  state->eventItem = static_cast<int32_t>(wParam);
  int32_t type = -1;
  switch (lParam) {
    case WM_LBUTTONDOWN: type = IconLeftClick; break;
    case WM_RBUTTONDOWN: type = IconRightClick; break;
    case WM_LBUTTONDBLCLK: type = IconLeftDoubleClick; break;
    case WM_RBUTTONDBLCLK: type = IconRightDoubleClick; break;
  }
  state->pendingEvent = type == -1 ? 0 : IconClick;
  if (type != -1) state->eventType = type;
}

// WM_NOTIFY: the control of ours that sent the NMHDR at lParam, or null. Any process can send
// a window WM_NOTIFY with any lParam, and the system passes it on unchecked: the record is read
// only when it lies in this process's readable memory, and names a sender only when that is a
// child of the window in this process.
static HWND NotifySender(HWND hwnd, LPARAM lParam) {
  auto* header = reinterpret_cast<const NMHDR*>(lParam);
  if (!MemoryReadable(header, sizeof *header)) return nullptr;
  HWND sender = header->hwndFrom;
  DWORD process = 0;
  if (!IsChild(hwnd, sender) || GetWindowThreadProcessId(sender, &process) == 0 ||
      process != GetCurrentProcessId())
    return nullptr;
  return sender;
}

// Handles one message for target after the callback let it through; the result or NotHandled.
static LRESULT HandleMessage(WindowThreadState* state, const RuntimeWindow& target, HWND hwnd,
                             UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_MOVE: {
      if (target.number != -1) EventQueueAppend(state, WindowMoved, target.number);
      return 0;
    }
    case WM_SIZE: {
      return OnSize(state, target, hwnd, wParam);
    }
    case WM_ACTIVATE: {
      if (LOWORD(wParam) != WA_INACTIVE) EventQueueAppend(state, Activated, target.number);
      return 1;
    }
    case WM_CLOSE: {
      if (target.number != -1) EventQueueAppend(state, CloseRequest, target.number);
      return 0;
    }
    case WM_ERASEBKGND: {
      return OnEraseBackground(state, target, hwnd, wParam);
    }
    case WM_SYSCOLORCHANGE: {
      if (target.record != nullptr && target.record->mdiClient == nullptr)
        EnumChildWindows(hwnd, SysColorForward, 0);
      return NotHandled;
    }
    case WM_NOTIFY: {
      return GadgetNotify(NotifySender(hwnd, lParam), hwnd, msg, wParam, lParam);
    }
    case WM_COMMAND: {
      OnCommand(state, hwnd, wParam, lParam);
      return 0;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case GadgetForwardMessage: {
      return GadgetNotify(reinterpret_cast<HWND>(lParam), hwnd, msg, wParam, lParam);
    }
    case IconCallbackMessage: {
      PostMessageA(hwnd, IconEventMessage, wParam, lParam);
      return 0;
    }
    case IconEventMessage: {
      OnIconEvent(state, wParam, lParam);
      return 0;
    }
    case GadgetEventMessage: {
      state->pendingEvent = GadgetAction;
      state->eventItem = static_cast<int32_t>(wParam);
      state->eventType = static_cast<int32_t>(lParam);
      return 0;
    }
    case WindowDropMessage: {
      state->pendingEvent = DropOnWindow;
      EventDropDataTake(state, lParam);
      return 0;
    }
    case GadgetDropMessage: {
      state->pendingEvent = DropOnGadget;
      state->eventItem = static_cast<int32_t>(wParam);
      EventDropDataTake(state, lParam);
      return 0;
    }
  }
  return NotHandled;
}

// ---------------------------------------------------------------------------------------------
// The procedures
// ---------------------------------------------------------------------------------------------

LRESULT WindowMessageHandler(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = SizingFilter(hwnd, msg, wParam, lParam);
  if (result != NotHandled) return result;
  RuntimeWindow target = FindRuntimeWindow(hwnd);
  WindowThreadState* state = WindowThreadStateGet();
  // The callback asked: the window's own, else the thread's, else none.
  WindowCallback callback = target.record != nullptr && target.record->callback != nullptr
                                ? target.record->callback
                                : state->callback;
  if (callback != nullptr) {
    result = callback(hwnd, msg, wParam, lParam);
    if (result != ProcessDefaultEvents) return result;
    if (target.number != -1) target.record = WindowFind(target.number);
  }
  state->eventWindow = target.number;
  return HandleMessage(state, target, hwnd, msg, wParam, lParam);
}

// An MDI frame's result: unhandled messages, WM_MENUCHAR and WM_SETFOCUS go to the frame's
// default procedure, and so do menu commands once the handler has recorded them.
static LRESULT MdiFrameResult(HWND hwnd, HWND client, UINT msg, WPARAM wParam, LPARAM lParam,
                              LRESULT result) {
  if (result == NotHandled || msg == WM_MENUCHAR || msg == WM_SETFOCUS)
    return DefFrameProcA(hwnd, client, msg, wParam, lParam);
  if (msg == WM_COMMAND && lParam == 0) return DefFrameProcA(hwnd, client, WM_COMMAND, wParam, 0);
  return result;
}

// Can the message's outcome differ for an MDI frame (MdiFrameResult)? NOTE: DefFrameProcA treats
// only these messages otherwise than DefWindowProcA (WM_SIZE is never passed to it), and a
// handled one other than a menu command reaches it only as WM_MENUCHAR or WM_SETFOCUS; for any
// other, an MDI frame's result is a plain window's, and its "XR_MDI_Gadget", a request to the
// wine server under Wine, need not be asked (a gadget's notification, say).
static bool FrameMessage(UINT msg, LPARAM lParam, LRESULT result) {
  if (msg == WM_MENUCHAR || msg == WM_SETFOCUS || (msg == WM_COMMAND && lParam == 0)) return true;
  return result == NotHandled && (msg == WM_COMMAND || msg == WM_NCACTIVATE ||
                                  msg == WM_NEXTMENU || msg == WM_SETTEXT || msg == WM_SYSCOMMAND);
}

LRESULT CALLBACK WindowClassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = WindowMessageHandler(hwnd, msg, wParam, lParam);
  // Whatever the callback answered: the window is going, and its record with it.
  if (msg == WM_NCDESTROY) WindowDestroyed(hwnd);
  if (FrameMessage(msg, lParam, result)) {
    auto client = static_cast<HWND>(GetPropA(hwnd, MdiFrameProperty));
    if (client != nullptr) return MdiFrameResult(hwnd, client, msg, wParam, lParam, result);
  }
  return result == NotHandled ? DefWindowProcA(hwnd, msg, wParam, lParam) : result;
}

BOOL CALLBACK SysColorForward(HWND child, LPARAM ignored) {
  SendMessageA(child, WM_SYSCOLORCHANGE, 0, 0);
  return TRUE;
}
