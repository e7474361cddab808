// Window system: numbered top-level windows, the event queue and wait, window callbacks, window
// geometry, and the gadget table with the plumbing that every kind of gadget shares. The window
// procedure, live sizing and Tab navigation work behind these operations (window_internal.h).
//
// Windows are named by number: 0 and up select numbered slots of the window table, -1 asks for a
// dynamic window whose number is then its record's address; gadgets are numbered the same way in
// the gadget table. Failures are reported only as 0 or null. Every operation runs on the thread
// that owns the windows it touches.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "core.h"

// ---------------------------------------------------------------------------------------------
// Event codes returned by EventWait (any other non-zero value is a message number)
// ---------------------------------------------------------------------------------------------

constexpr int32_t WindowMoved = 3;      // WM_MOVE of a runtime window (queued)
constexpr int32_t WindowSized = 5;      // WM_SIZE of a runtime window, not minimised (queued)
constexpr int32_t RepaintNeeded = 15;   // WM_ERASEBKGND (queued)
constexpr int32_t CloseRequest = 16;    // WM_CLOSE: the close box or a close command (queued)
constexpr int32_t GadgetAction = 13100; // a control's notification or a gadget event (pending)
constexpr int32_t MenuCommand = 13101;  // a menu, accelerator or command-control command (pending)
constexpr int32_t IconClick = 13102;    // a mouse action on an icon (pending)
constexpr int32_t Activated = 13104;    // WM_ACTIVATE that activates (queued)
constexpr int32_t DropOnWindow = 13105; // data dropped on a window (pending)
constexpr int32_t DropOnGadget = 13106; // data dropped on a gadget (pending)

// A window callback's result that lets the window system go on with the message.
constexpr LRESULT ProcessDefaultEvents = static_cast<LRESULT>(0xE0E0E0E1u);
// The window system's internal result for "not handled here: run the default procedure".
constexpr LRESULT NotHandled = static_cast<LRESULT>(0xD0D0D0D1u);

// Private window messages (wParam, lParam as noted).
constexpr UINT IconCallbackMessage = 12501;   // item number, a mouse message number
constexpr UINT IconEventMessage = 12502;      // item number, a mouse message number
constexpr UINT GadgetEventMessage = 13103;    // gadget number, gadget event type
constexpr UINT WindowDropMessage = 13105;     // unused, drop data record (ownership passes)
constexpr UINT GadgetDropMessage = 13106;     // gadget number, drop data record (ownership passes)
constexpr UINT GadgetForwardMessage = 13120;  // any, the gadget control's HWND

// Commands of every window's accelerator table.
constexpr WORD FocusNextCommand = 1212;      // Tab
constexpr WORD FocusPreviousCommand = 1213;  // Shift+Tab

// A control whose identifier is this value reports its commands as MenuCommand events.
constexpr int32_t CommandControlId = -10000;

// Bits of the caller's window flags that the library keeps for itself; all others are styles.
constexpr uint32_t WindowCentreOnScreen = 0x00000001;  // centre on the screen
constexpr uint32_t WindowCentreOnParent = 0x00000002;  // centre on the parent (or active window)
constexpr uint32_t WindowHidden = 0x10000000;          // WS_VISIBLE's bit: open without showing
// An x or y of this value lets the system choose the position.
constexpr int32_t WindowDefaultPosition = -65535;

// Asked about every message of a runtime window before the window system handles it; returns
// ProcessDefaultEvents to let the window system go on, any other value to end the message there.
typedef LRESULT(CALLBACK* WindowCallback)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Erases a window's background on WM_ERASEBKGND; returns the message's result.
typedef LRESULT(CALLBACK* WindowEraseHandler)(HDC dc, HWND window);

// ---------------------------------------------------------------------------------------------
// Windows and their records
// ---------------------------------------------------------------------------------------------

// Start-up step: the window table, the per-thread event and sizing slices, the class cursor.
void WindowSystemInit(void);
// End step: closes every window still open and frees the calling thread's pending drop data.
void WindowSystemEnd(void);

// Opens a top-level window whose client area is width × height with its outer frame at (x, y);
// for number -1 the new window's number, otherwise its HWND; 0 on failure (also when the number
// holds a window of another thread, which cannot be closed from here).
int32_t WindowOpen(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                   const char* title, uint32_t flags);
// As WindowOpen, with a parent window (null for a top-level window).
int32_t WindowOpenChild(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                        const char* title, uint32_t flags, HWND parent);
// The HWND of window number, or null when no such window is open.
HWND WindowGetHandle(int32_t number);
// Closes window number (an MDI child through its MDI client); nothing for no such window, nor
// for a window of another thread. A window destroyed any other way (DestroyWindow, with its
// parent or owner, with its thread) releases its number by itself.
void WindowClose(int32_t number);

// Setters of the record fields that the window procedure honours (nothing for no such window):
// the window's own callback, asked instead of the thread's (null: the thread's again);
void WindowSetCallback(int32_t number, WindowCallback callback);
// the brush that erases the client area, owned by the window from now on (a brush set before is
// deleted; null: the class background again);
void WindowSetBackground(int32_t number, HBRUSH brush);
// the erase handler, asked when no brush is set;
void WindowSetEraseHandler(int32_t number, WindowEraseHandler handler);
// the MDI client of a window that is an MDI child (null: not an MDI child).
void WindowSetMdiClient(int32_t number, HWND client);

// ---------------------------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------------------------

// The next event of the calling thread: a queued event, the event that dispatching one message
// produced, that message's number, or 0 when nothing arrived within timeout milliseconds (-1
// waits without limit, 0 does not wait; any other negative value does not wait either).
int32_t EventWait(int32_t timeout);
// The item of the last event (gadget number, menu command, icon number).
int32_t EventGetItem(void);
// The window number of the last event or examined message; -1 for none.
int32_t EventGetWindow(void);
// The sub-kind of the last event; -1 when the last EventWait returned an event without one.
int32_t EventGetType(void);
// wParam and lParam of the last message that EventWait returned as itself.
WPARAM EventGetWParam(void);
LPARAM EventGetLParam(void);
// The data record of the last drop event, valid until the next EventWait; null for none.
void* EventGetDropData(void);
// A data record for one WindowDropMessage or GadgetDropMessage: six zeroed 32-bit fields whose
// sixth names a zeroed block of dataSize bytes (null for 0), both in MainHeap; null when they
// cannot be had or dataSize is negative. A drop message takes only records made here, each
// once; the runtime frees the record and the block made with it, whatever the sixth field holds.
void* DropDataCreate(int32_t dataSize);
// Installs the calling thread's window callback (null removes it).
void EventSetCallback(WindowCallback callback);

// ---------------------------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------------------------

// Left and top edge of window number's outer frame (screen, or MDI client coordinates for an
// MDI child); 0 for no such window.
int32_t WindowGetX(int32_t number);
int32_t WindowGetY(int32_t number);

// ---------------------------------------------------------------------------------------------
// The gadget table and the plumbing of every kind of gadget
// ---------------------------------------------------------------------------------------------

struct GadgetRecord;

// Operations of a gadget type; any of them may be null.
// A message about the gadget's control sent to its window: its result, or NotHandled.
typedef LRESULT (*GadgetNotifyOperation)(GadgetRecord* gadget, HWND parent, UINT message,
                                         WPARAM wParam, LPARAM lParam);
// The gadget's control is being destroyed: release what the gadget holds.
typedef void (*GadgetReleaseOperation)(GadgetRecord* gadget);
// The gadget's state (for an image gadget: the picture shown).
typedef int32_t (*GadgetGetStateOperation)(GadgetRecord* gadget);
// Sets the gadget's state; the type's result.
typedef int32_t (*GadgetSetStateOperation)(GadgetRecord* gadget, int32_t value);

// One kind of gadget: 37 32-bit entries.
struct GadgetType {
  int32_t kind;                        // the kind of gadget (9 for image gadgets)
  int32_t size;                        // this record's size in bytes: 148
  GadgetNotifyOperation notify;        // notification operation, or null
  GadgetReleaseOperation release;      // release operation, or null
  GadgetGetStateOperation getState;    // get-state operation, or null
  GadgetSetStateOperation setState;    // set-state operation, or null
  void* operations[31];                // further operations of other kinds, null here
};
static_assert(sizeof(GadgetType) == 148, "a gadget type record is 37 32-bit entries");
static_assert(offsetof(GadgetType, notify) == 8, "gadget type layout is fixed");
static_assert(offsetof(GadgetType, setState) == 20, "gadget type layout is fixed");

// One gadget: the record of the gadget table. A record whose handle is null is free.
struct GadgetRecord {
  HWND handle;                // the control's HWND; null means no gadget
  const GadgetType* type;     // the gadget type record of the gadget's kind
  uint32_t unused;            // not used by image gadgets
  WNDPROC previousProc;       // the procedure GadgetSubclassProc passes messages on to
  uintptr_t state;            // an image gadget's picture (HBITMAP or HICON), or 0
  int32_t dragPending;        // 1 between a left press and its release or a drag start
  int16_t pressX;             // x of the last left press, client coordinates
  int16_t pressY;             // y of that press
};
static_assert(sizeof(GadgetRecord) == 28, "a gadget record is seven 32-bit fields");
static_assert(offsetof(GadgetRecord, previousProc) == 12, "gadget record layout is fixed");
static_assert(offsetof(GadgetRecord, pressX) == 24, "gadget record layout is fixed");

// A thread's gadget state; prepared on the thread's first use.
struct GadgetThreadState {
  HWND parent;           // window in which this thread's next gadgets are created, or null
  uint32_t second;       // cleared by GadgetListSelect and GadgetAttach; read by nothing here
  HFONT font;            // sent to every new gadget with WM_SETFONT; the default GUI font
  int32_t* list;         // MainHeap block of listCapacity zeroed entries, or null
  int32_t listCapacity;  // entries in list: 10, or 0 when the block could not be had
};
static_assert(sizeof(GadgetThreadState) == 20, "five 32-bit fields");

// GadgetRecords, 50 numbered slots to begin with; null until GadgetTableInit.
extern ObjectTable* GadgetTable;

// Start-up of the gadget table: the default GUI font, the table (whose free callback destroys
// gadget n's control), and the per-thread gadget state. The gadget library's start-up step runs
// it first.
void GadgetTableInit(void);
// Makes window the calling thread's parent for new gadgets; returns window.
HWND GadgetListSelect(HWND window);
// The calling thread's gadget state.
GadgetThreadState* GadgetThreadStateGet(void);
// The record of live gadget number, or null (also before GadgetTableInit).
GadgetRecord* GadgetFind(int32_t number);
// The record of the live gadget whose control is control (found by its GWL_ID), or null while
// the control is being created or destroyed, or is no gadget's.
GadgetRecord* GadgetOfControl(HWND control);
// Last step of creating any gadget: ties control to record under number (-1: the record's
// address), subclasses it and gives it the thread's font; the chosen number for -1, otherwise
// the control; 0 when the record is not one the gadget table hands out for that number (the
// control is then left as it was).
int32_t GadgetAttach(int32_t number, GadgetRecord* record, HWND control, const GadgetType* type);
// Posts gadget event type of control to its owning window; it arrives as GadgetAction.
void GadgetPostEvent(HWND control, int32_t type);
// The nearest window from window upwards that is a runtime window, else the topmost ancestor.
HWND OwningWindow(HWND window);
