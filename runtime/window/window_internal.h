// The window system's records, per-thread states and the operations its own files share; not
// part of the runtime's interface (tests of the internals include it on purpose).
#pragma once

#include "gadget_kind.h"
#include "window.h"

// Private window messages (wParam, lParam as noted); the drop messages are in window.h and the
// gadget forward message in gadget_kind.h.
constexpr UINT IconCallbackMessage = 12501;   // item number, a mouse message number
constexpr UINT IconEventMessage = 12502;      // item number, a mouse message number
constexpr UINT GadgetEventMessage = 13103;    // gadget number, gadget event type

// Window properties that tie native windows to runtime objects.
constexpr const char* WindowIdProperty = "XR_WindowID";    // window number + 1
constexpr const char* GadgetIdProperty = "XR_ID";          // gadget number
constexpr const char* DropAcceptProperty = "XR_DropAccept";  // a registered drop target
constexpr const char* MdiFrameProperty = "XR_MDI_Gadget";  // the MDI client of an MDI frame

// One open window. A slot whose handle is null is free.
struct WindowRecord {
  HWND handle;                      // the native window; non-null while the window is open
  int32_t acceleratorCount;         // entries in acceleratorEntries: always 2
  ACCEL* acceleratorEntries;        // MainHeap block of two entries, owned
  HACCEL acceleratorTable;          // made from the entries, owned
  WindowCallback callback;          // asked instead of the thread's callback, or null
  HBRUSH backgroundBrush;           // fills the client area on WM_ERASEBKGND, owned, or null
  HWND mdiClient;                   // the MDI client when the window is an MDI child, or null
  WindowEraseHandler eraseHandler;  // asked on WM_ERASEBKGND when no brush is set, or null
};
static_assert(sizeof(WindowRecord) == 32, "a window record is eight 32-bit fields");
static_assert(offsetof(WindowRecord, callback) == 16, "window record layout is fixed");
static_assert(offsetof(WindowRecord, eraseHandler) == 28, "window record layout is fixed");

// One event waiting in a thread's queue (a MainHeap block).
struct QueuedEvent {
  QueuedEvent* next;  // the next newer event, or null at the tail
  int32_t code;       // event code
  int32_t window;     // window number, or -1
};
static_assert(sizeof(QueuedEvent) == 12, "a queued event is three 32-bit fields");

// A thread's event state, zero-filled on the thread's first use. The first ten fields keep the
// event record's fixed layout; the rest keeps what a call could not hand out yet.
struct WindowThreadState {
  int32_t eventItem;        // item of the last event: gadget, menu command or icon number
  int32_t eventWindow;      // window number of the last examined message or event; -1 none
  int32_t eventType;        // sub-kind of the last event; -1 from the start of every EventWait
  int32_t pendingEvent;     // event produced by a message handled since the last result, or 0
  WPARAM messageWParam;     // wParam of the last message returned as itself
  LPARAM messageLParam;     // lParam of that message
  QueuedEvent* queueHead;   // oldest queued event, or null
  QueuedEvent* queueTail;   // newest queued event; null exactly when queueHead is
  WindowCallback callback;  // the thread's window callback, or null
  void* dropData;           // data record of the last drop event returned (owned), or null
  void* pendingDropData;    // data record of the pending drop event (owned), or null
  int32_t messageHeld;      // heldMessage waits: its wait also produced an event
  MSG heldMessage;          // taken from the thread's queue, delivered by the next EventWait
};
static_assert(offsetof(WindowThreadState, queueHead) == 24, "thread state layout is fixed");
static_assert(offsetof(WindowThreadState, dropData) == 36, "the fixed ten fields come first");

// A drop data record is six 32-bit fields; the sixth names a second block owned with it.
constexpr int32_t DropDataFields = 6;
constexpr int32_t DropDataSecondBlock = 5;  // index of the field naming the second block

// A thread's live sizing, zero-filled on the thread's first use.
struct SizingState {
  int32_t active;        // a sizing is under way
  int32_t keyboardMode;  // began without an edge and no mouse movement seen since
  POINT savedCursor;     // cursor position when a keyboard sizing began
  RECT rectangle;        // the window rectangle being shaped, screen coordinates
  int32_t edge;          // WMSZ_ code of the moving edge or corner; 0 none chosen yet
  MINMAXINFO limits;     // track limits, filled when the sizing began
  HWND window;           // the window being sized: messages of other windows pass untouched
};
static_assert(offsetof(SizingState, limits) == 36, "sizing state layout is fixed");

extern ObjectTable* WindowTable;  // WindowRecords, 16 numbered slots to begin with
extern int32_t WindowThreadSlice;  // offset of every thread's WindowThreadState
extern int32_t SizingThreadSlice;  // offset of every thread's SizingState
extern HFONT DefaultGuiFont;       // the system's default GUI font, taken by GadgetTableInit

// The handle of a record whose window is being opened: it keeps the number from every other
// opening, and no other operation sees the record until the window exists.
static HWND const WindowOpeningMark = reinterpret_cast<HWND>(1);

// The record of open window number, or null.
inline WindowRecord* WindowFind(int32_t number) {
  auto* record = static_cast<WindowRecord*>(ObjectFind(WindowTable, number));
  return record != nullptr && record->handle != WindowOpeningMark ? record : nullptr;
}
// The calling thread's event state.
inline WindowThreadState* WindowThreadStateGet(void) {
  return static_cast<WindowThreadState*>(ThreadDataGet(WindowThreadSlice));
}
// The calling thread's sizing state.
inline SizingState* SizingStateGet(void) {
  return static_cast<SizingState*>(ThreadDataGet(SizingThreadSlice));
}
// A runtime window carries its number + 1 twice: in "XR_WindowID", for other programs and as the
// fallback, and in GWLP_USERDATA, for the runtime's own look-ups. NOTE: under Wine every GetPropA
// is a request to the wine server, while GetWindowLongA of a window of this process is answered
// in the process. Marks window as runtime window number, or (number -1) unmarks it.
void WindowMark(HWND window, int32_t number);
// The record of open window number when it is window's own, else null.
inline WindowRecord* WindowRecordNaming(HWND window, int32_t number) {
  WindowRecord* record = number == -1 ? nullptr : WindowFind(number);
  return record != nullptr && record->handle == window ? record : nullptr;
}
// The record of the runtime window that window is, its number in *number; null and -1 for any
// other window. Any window may carry any user data and property (another thread's or another
// program's): a number counts only when its record names the very window. The user data is the
// program's too (Win32 leaves it to whoever made the window): when it names no such record, the
// property is asked.
inline WindowRecord* WindowRecordOf(HWND window, int32_t* number) {
  *number = static_cast<int32_t>(GetWindowLongA(window, GWL_USERDATA)) - 1;
  WindowRecord* record = WindowRecordNaming(window, *number);
  if (record == nullptr && window != nullptr) {
    *number = static_cast<int32_t>(reinterpret_cast<intptr_t>(GetPropA(window, WindowIdProperty))) - 1;
    record = WindowRecordNaming(window, *number);
  }
  if (record == nullptr) *number = -1;
  return record;
}
// The number of the runtime window that window is, or -1.
inline int32_t WindowNumberOf(HWND window) {
  int32_t number;
  WindowRecordOf(window, &number);
  return number;
}
// The window a message or a control belongs to: the nearest from window upwards that is a runtime
// window, its number and record; with none, the topmost ancestor, number -1 and no record.
struct RuntimeWindow {
  HWND window;
  int32_t number;
  WindowRecord* record;
};
inline RuntimeWindow FindRuntimeWindow(HWND window) {
  HWND last = window;
  for (HWND w = window; w != nullptr; w = GetParent(w)) {
    int32_t number;
    if (WindowRecord* record = WindowRecordOf(w, &number)) return {w, number, record};
    last = w;
  }
  return {last, -1, nullptr};
}

// ---------------------------------------------------------------------------------------------
// Window records
// ---------------------------------------------------------------------------------------------

// A runtime window's final message (WM_NCDESTROY) arrived and WindowClose is not what destroys
// it: its record, number and accelerators go now, its class as soon as the window is gone.
void WindowDestroyed(HWND window);

// ---------------------------------------------------------------------------------------------
// Window classes
// ---------------------------------------------------------------------------------------------

constexpr int WindowClassNameSize = 32;  // "WindowClass_" and a signed 32-bit number

// Start-up: the icon and cursor every window class gets.
void WindowClassesInit(void);
// Registers the class of window number and writes its name into name; a failure shows as the
// creation that follows failing.
void WindowClassRegister(char (&name)[WindowClassNameSize], int32_t number);
// Unregisters the class of window number, whose window is gone.
void WindowClassUnregister(int32_t number);
// The window of number was destroyed by other means and is in its last message: its class goes
// once the window is gone.
void WindowClassUnregisterLater(int32_t number);
// Unregisters the classes waiting for their windows, now that they are gone.
void UnregisterWaitingClasses(void);

// ---------------------------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------------------------

// Bits of the caller's window flags that choose where a new window stands.
constexpr uint32_t WindowPlacementBits = WindowCentreOnScreen | WindowCentreOnParent;

// Where and how large a new window's outer frame is created.
struct Placement {
  int32_t x, y;           // outer top-left corner
  int32_t width, height;  // outer size
};
// The outer frame for a client area of width × height at (x, y) under the caller's flags (its
// styles and placement bits) and parent.
Placement PlaceWindow(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags,
                      HWND parent);

// ---------------------------------------------------------------------------------------------
// The window procedure
// ---------------------------------------------------------------------------------------------

// The window procedure of every runtime window class.
LRESULT CALLBACK WindowClassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Turns a message into an event or a gadget notification; the message's result or NotHandled.
LRESULT WindowMessageHandler(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Sends WM_SYSCOLORCHANGE to child; TRUE (an EnumChildWindows visitor).
BOOL CALLBACK SysColorForward(HWND child, LPARAM ignored);

// ---------------------------------------------------------------------------------------------
// Gadget plumbing
// ---------------------------------------------------------------------------------------------

// The window procedure that every gadget control is subclassed with.
LRESULT CALLBACK GadgetSubclassProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
// Free callback of the gadget table: destroys gadget number's control (which releases it).
void GadgetRelease(int32_t number);
// Hands a message about control to its gadget's notification operation; its result, or
// NotHandled when control is no live gadget or its type has no such operation (*gadget, if any:
// the gadget's number, or -1).
LRESULT GadgetNotify(HWND control, HWND parent, UINT message, WPARAM wParam, LPARAM lParam,
                     int32_t* gadget = nullptr);

// ---------------------------------------------------------------------------------------------
// The event queue
// ---------------------------------------------------------------------------------------------

// Appends an event to the thread's queue unless the newest one is identical; the tail, or null
// when no node could be allocated (the event is lost).
QueuedEvent* EventQueueAppend(WindowThreadState* state, int32_t code, int32_t window);
// Frees the drop data of the last drop event returned, and its second block.
void EventDropDataFree(WindowThreadState* state);
// Takes ownership of a drop data record handed over by a message for the pending drop event;
// only a record that DropDataCreate made and no drop took yet is taken. The record a drop
// pending before held is freed: its event is replaced.
void EventDropDataTake(WindowThreadState* state, LPARAM data);
// Frees everything a thread's event state owns: queued events, drop data, a held message.
void WindowThreadStateRelease(WindowThreadState* state);

// ---------------------------------------------------------------------------------------------
// Live sizing
// ---------------------------------------------------------------------------------------------

// Runs first for every message of a runtime window: takes over SC_SIZE when full-window dragging
// is on and then sizes the window from mouse and key messages; a result, or NotHandled.
LRESULT SizingFilter(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
// Reshapes the state's rectangle for its edge with the cursor at (x, y) on the screen.
void SizingTrack(SizingState* state, int32_t x, int32_t y);
// One keyboard step: the cursor to (x, y), the rectangle reshaped, offered and applied.
void SizingKeyStep(SizingState* state, HWND window, int32_t x, int32_t y);
// Moves the window to the screen rectangle (a child window in its parent's coordinates).
void SizingApply(HWND window, int32_t left, int32_t top, int32_t right, int32_t bottom);
// Puts the cursor at (x, y) on the screen with the shared system cursor shape (an IDC_ name).
void CursorPlace(LPCSTR shape, int32_t x, int32_t y);

// ---------------------------------------------------------------------------------------------
// Keyboard navigation
// ---------------------------------------------------------------------------------------------

// The accelerator table to translate the current message with for the active window, or null
// (a foreign or null window, or a plain Tab that an editable rich edit control keeps).
HACCEL WindowGetAccelerators(HWND active);
// Moves the keyboard focus to the next (backward 0) or previous tab stop of the active window,
// or of the MDI child that holds the focus.
void FocusStep(int32_t backward);
