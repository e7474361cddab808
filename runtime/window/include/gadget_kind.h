// What a kind of gadget needs to plug into the window system: the gadget table and its records,
// the operations a kind supplies, each thread's gadget state, and the plumbing every kind shares
// (attaching a control to its record, finding the gadget of a control, posting gadget events).
//
// A message about a gadget's control reaches the kind's operations through the window system;
// a kind never keeps its own map from controls to gadgets.
#pragma once

#include "window.h"

// The window system's result for "not handled here: run the default procedure"; a notification
// operation returns it for a message it leaves alone.
constexpr LRESULT NotHandled = static_cast<LRESULT>(0xD0D0D0D1u);

// Sent to a gadget's window to hand a message about the gadget to its kind (wParam any, lParam
// the gadget control's HWND).
constexpr UINT GadgetForwardMessage = 13120;

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

// A kind of gadget: a constant-initialised static of the kind's own file.
struct GadgetKind {
  GadgetType type;         // the kind's type record
  WNDPROC procedure;       // the kind's window procedure, below GadgetSubclassProc
  WNDPROC classProcedure;  // the control class's procedure, set by GadgetCreate for GadgetPassOn
};

// A thread's gadget state; prepared on the thread's first use.
struct GadgetThreadState {
  HWND parent;           // window in which this thread's next gadgets are created, or null
  uint32_t second;       // cleared by GadgetListSelect and GadgetAttach; read by nothing here
  HFONT font;            // sent to every new gadget with WM_SETFONT; the default GUI font
  int32_t* list;         // MainHeap block of listCapacity zeroed entries, or null
  int32_t listCapacity;  // entries in list: 10, or 0 when the block could not be had
};
static_assert(sizeof(GadgetThreadState) == 20, "five 32-bit fields");

// GadgetRecords, 50 numbered slots to begin with; null until GadgetTableInit, which only the
// gadget library's start-up step calls.
extern ObjectTable* GadgetTable;

// The gadget library's first start-up steps (GadgetLibraryInit), after WindowSystemInit: the
// default GUI font, the table (whose free callback destroys gadget n's control), and the
// per-thread gadget state.
void GadgetTableInit(void);
// The calling thread's gadget state; null before GadgetTableInit.
GadgetThreadState* GadgetThreadStateGet(void);
// The record of live gadget number, or null (also before GadgetTableInit).
GadgetRecord* GadgetFind(int32_t number);
// The record of the live gadget whose control is control, its number in *number; null (and -1)
// while the control is being created or destroyed, or is no gadget's. The control's identifier
// is asked first, then "XR_ID", which holds even when someone changed the identifier.
GadgetRecord* GadgetOfControl(HWND control, int32_t* number);
// The gadget of a message that a kind's window procedure is handed, its number in *number: the
// record GadgetSubclassProc found for it, looked up once per message; null and -1 for a message
// that did not come through it (its control is then no live gadget's).
GadgetRecord* GadgetOfMessage(HWND control, int32_t* number);
// Last step of creating any gadget: ties control to record under number (-1: the record's
// address), subclasses it and gives it the thread's font; the chosen number for -1, otherwise
// the control; 0 when the record is not one the gadget table hands out for that number (the
// control is then left as it was).
int32_t GadgetAttach(int32_t number, GadgetRecord* record, HWND control, const GadgetType* type);
// Makes control, just created by a kind in the thread's parent window, gadget number of kind,
// whose procedure gets its messages after the plumbing's; a gadget that held the number goes now
// that its successor exists. The chosen number for -1, otherwise the control; 0 when control is
// null or the table cannot take the number, and then only control changes: it is destroyed.
int32_t GadgetCreate(int32_t number, HWND control, GadgetKind* kind);
// Passes a message on to the class procedure of kind's controls.
LRESULT GadgetPassOn(const GadgetKind* kind, HWND control, UINT message, WPARAM wParam,
                     LPARAM lParam);
// Posts gadget event type of gadget number, whose control is control, to its owning window; it
// arrives as GadgetAction.
void GadgetPostEvent(HWND control, int32_t number, int32_t type);
// The nearest window from window upwards that is a runtime window, else the topmost ancestor.
HWND OwningWindow(HWND window);
