// Window system: numbered top-level windows, the event queue and wait, window callbacks, window
// geometry, and the parent of new gadgets. The gadget table and the plumbing that every kind of
// gadget shares are in gadget_kind.h; the window procedure, live sizing and Tab navigation work
// behind these operations.
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

// Event types of IconClick: the mouse action on the icon.
constexpr int32_t IconLeftClick = 0;
constexpr int32_t IconRightClick = 1;
constexpr int32_t IconLeftDoubleClick = 2;
constexpr int32_t IconRightDoubleClick = 3;

// A window callback's result that lets the window system go on with the message.
constexpr LRESULT ProcessDefaultEvents = static_cast<LRESULT>(0xE0E0E0E1u);

// Messages that hand the window system a drop record made by DropDataCreate (wParam, lParam).
constexpr UINT WindowDropMessage = 13105;     // unused, drop data record (ownership passes)
constexpr UINT GadgetDropMessage = 13106;     // gadget number, drop data record (ownership passes)

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
// Gadgets
// ---------------------------------------------------------------------------------------------

// Makes window the calling thread's parent for new gadgets; returns window, or null when the
// gadget library was not started. The gadget table and what a kind of gadget plugs in are in
// gadget_kind.h.
HWND GadgetListSelect(HWND window);
