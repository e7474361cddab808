// Gadget library: the gadget table of native controls, the gadget record, the gadget type record
// of operations per kind of gadget, and each thread's gadget state.
//
// The common plumbing of gadgets (attaching a control, the subclass procedure, releasing,
// notifications, posting gadget events) belongs to the window system (window.h).
#pragma once

#include <windows.h>
#include <stdint.h>

#include "core.h"
#include "window.h"

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

constexpr int32_t GadgetListEntries = 10;  // entries of every thread's list block

extern ObjectTable* GadgetTable;     // GadgetRecords, 50 numbered slots to begin with; null
                                     // until GadgetTableInit
extern int32_t GadgetThreadSlice;    // offset of every thread's GadgetThreadState
extern HFONT DefaultGuiFont;         // the system's default GUI font

// Start-up of the gadget table: the default GUI font, the table with GadgetRelease as its free
// callback, and the per-thread gadget state. The gadget library's start-up step runs it first.
void GadgetTableInit(void);
// Makes window the calling thread's parent for new gadgets; returns window.
HWND GadgetListSelect(HWND window);
// The calling thread's gadget state.
GadgetThreadState* GadgetThreadStateGet(void);
// The record of live gadget number, or null (also before GadgetTableInit).
GadgetRecord* GadgetFind(int32_t number);

// ---------------------------------------------------------------------------------------------
// The gadget library's start-up and the image gadget
// ---------------------------------------------------------------------------------------------

constexpr int32_t ImageGadgetKind = 9;

// Gadget event types of the image gadget (they reach the program as GadgetAction).
constexpr int32_t ImageGadgetLeftClick = 0;         // the control's own STN_CLICKED
constexpr int32_t ImageGadgetRightClick = 1;        // right button released, not ending a double-click
constexpr int32_t ImageGadgetLeftDoubleClick = 2;   // WM_LBUTTONDBLCLK
constexpr int32_t ImageGadgetRightDoubleClick = 3;  // WM_RBUTTONDBLCLK
constexpr int32_t ImageGadgetDragStart = 14002;     // moved past the drag thresholds, left button down

// Start-up step of the gadget library: the gadget table and per-thread state, then the common
// controls.
void GadgetLibraryInit(void);
// A "STATIC" control in the thread's selected window that shows image (an HBITMAP or HICON) at
// the image's own size. For number −1 the gadget's dynamic number, otherwise the control's
// HWND; 0 when no control could be made (for instance with no window selected).
int32_t ImageGadgetCreate(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          HANDLE image, DWORD extendedStyle = 0);
// The window procedure image gadgets are subclassed with (below GadgetSubclassProc).
LRESULT CALLBACK ImageGadgetProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
// Sets a gadget's state through its type (an image gadget shows the picture value and repaints
// before returning); the type's result, or 0 when there is no such gadget.
int32_t GadgetSetState(int32_t number, int32_t value);
// A gadget's control, or null when there is no such gadget.
HWND GadgetGetHandle(int32_t number);
