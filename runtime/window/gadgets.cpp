// Gadgets as the window system keeps them: the gadget table and each thread's gadget state, and
// the plumbing that every kind of gadget shares (attaching controls to gadget records, the
// subclass procedure that keeps the table in step with the controls' lives, releasing,
// notifications and gadget events). Kinds of gadget live in the gadget library above.
//
// Invariants:
// - GadgetTable and gadgetThreadSlice are written once, by GadgetTableInit at start-up on the
//   main thread, and only read afterwards.
// - A thread's list block is owned by its gadget state from the slice's init to its free.
// - A gadget is live from GadgetAttach until its control's WM_NCDESTROY. While live, its
//   control's "XR_ID" holds its number and its record's handle is the control; so does GWL_ID,
//   unless someone changed it, which nothing depends on: GadgetOfControl, the one way from a
//   control to its gadget, takes GWL_ID only when that number's record names the control, and
//   "XR_ID" otherwise.
// - After WM_NCDESTROY the control's GWL_ID is -1 and "XR_ID" is gone, so late messages go to
//   DefWindowProcA and no gadget operation is ever handed the control again.
// - A control is handed to a gadget operation only when its record names that very control: a
//   missing "XR_ID" reads as 0 and would otherwise match every control whose identifier is 0.
// - A record stays while its control lives: a control of another thread, which cannot be
//   destroyed from here, keeps its number, and attaching another control under it fails. A
//   control that died with its thread got no WM_NCDESTROY: the end of any thread's gadget state
//   releases it, and so does releasing its number before that.
#include "window_internal.h"

#include <assert.h>
#include <ole2.h>

ObjectTable* GadgetTable;
HFONT DefaultGuiFont;

// Offset of every thread's GadgetThreadState; none before GadgetTableInit.
static int32_t gadgetThreadSlice = ThreadDataRefused;

// The gadget GadgetSubclassProc found for the message it is passing on to a kind's procedure,
// kept in a thread-local slot for the kind's GadgetOfMessage; a message sent while that one is
// handled stacks its own in front and takes it away again.
struct GadgetMessage {
  HWND control;          // the control the message is for
  GadgetRecord* record;  // its gadget
  int32_t number;        // the gadget's number
  void* outer;           // the message handled around this one, or null
};
static DWORD gadgetMessageSlot = TLS_OUT_OF_INDEXES;  // TlsAlloc'd by GadgetTableInit

static const int32_t GadgetListEntries = 10;  // entries of every thread's list block

// ---------------------------------------------------------------------------------------------
// The table and each thread's gadget state
// ---------------------------------------------------------------------------------------------

// Init operation of the gadget slice: the default font and a zeroed list block.
static void GadgetThreadStateInit(void* slice) {
  auto* state = static_cast<GadgetThreadState*>(slice);
  state->font = DefaultGuiFont;
  state->second = 0;
  state->list = static_cast<int32_t*>(
      HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, GadgetListEntries * sizeof(int32_t)));
  state->listCapacity = state->list != nullptr ? GadgetListEntries : 0;
}

// Free operation of the gadget slice, on ThreadWatcher once the thread has ended: the list block
// goes back to MainHeap, and the gadgets whose controls died with the thread (which sends them
// no WM_NCDESTROY) release their numbers and records.
static void GadgetThreadStateFree(void* slice) {
  auto* state = static_cast<GadgetThreadState*>(slice);
  if (state->list != nullptr) HeapFree(MainHeap, 0, state->list);
  state->list = nullptr;
  state->listCapacity = 0;
  int32_t number;
  ObjectEnumStart(GadgetTable);
  while (auto* record = static_cast<GadgetRecord*>(ObjectEnumNext(GadgetTable, &number)))
    if (record->handle != nullptr && !IsWindow(record->handle)) GadgetRelease(number);
}

void GadgetTableInit(void) {
  DefaultGuiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  GadgetTable = ObjectTableCreate(sizeof(GadgetRecord), 50, GadgetRelease);
  gadgetThreadSlice =
      ThreadDataRegister(sizeof(GadgetThreadState), GadgetThreadStateInit, GadgetThreadStateFree);
  gadgetMessageSlot = TlsAlloc();
  if (gadgetMessageSlot == TLS_OUT_OF_INDEXES) CoreOutOfResources();
}

GadgetThreadState* GadgetThreadStateGet(void) {
  return static_cast<GadgetThreadState*>(ThreadDataGet(gadgetThreadSlice));
}

HWND GadgetListSelect(HWND window) {
  GadgetThreadState* state = GadgetThreadStateGet();
  if (state == nullptr) return nullptr;
  state->parent = window;
  state->second = 0;
  return window;
}

GadgetRecord* GadgetFind(int32_t number) {
  if (GadgetTable == nullptr) return nullptr;
  return static_cast<GadgetRecord*>(ObjectFind(GadgetTable, number));
}

// The live gadget whose control is control with number id, or null.
static GadgetRecord* LiveGadget(HWND control, int32_t id) {
  GadgetRecord* record = GadgetFind(id);
  return record != nullptr && record->handle == control ? record : nullptr;
}

// The gadget number that control carries in "XR_ID" (0 when it has none).
static int32_t GadgetNumberOf(HWND control) {
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(GetPropA(control, GadgetIdProperty)));
}

GadgetRecord* GadgetOfControl(HWND control, int32_t* number) {
  // GWL_ID is read in the process; "XR_ID", which holds even when someone changed GWL_ID, costs a
  // round trip to the wine server for every message, so it is asked only when GWL_ID fails.
  int32_t id = GetWindowLongA(control, GWL_ID);
  GadgetRecord* record = LiveGadget(control, id);
  if (record == nullptr) {
    id = GadgetNumberOf(control);
    record = LiveGadget(control, id);
  }
  *number = record != nullptr ? id : -1;
  return record;
}

// ---------------------------------------------------------------------------------------------
// Attaching, and the control's life
// ---------------------------------------------------------------------------------------------

int32_t GadgetAttach(int32_t number, GadgetRecord* record, HWND control, const GadgetType* type) {
  if (record->handle != nullptr) return 0;  // its control outlived the release of its number
  bool chosen = number == -1;
  if (chosen) number = static_cast<int32_t>(reinterpret_cast<uintptr_t>(record));
  record->handle = control;
  record->type = type;
  // The table hands out a scratch record, never found, for a number it cannot hold.
  if (GadgetFind(number) != record) {
    record->handle = nullptr;
    return 0;
  }
  record->previousProc = reinterpret_cast<WNDPROC>(
      SetWindowLongA(control, GWL_WNDPROC, reinterpret_cast<LONG>(GadgetSubclassProc)));
  SetWindowLongA(control, GWL_ID, number);
  SetPropA(control, GadgetIdProperty, reinterpret_cast<HANDLE>(static_cast<intptr_t>(number)));
  GadgetThreadState* state = GadgetThreadStateGet();
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(state->font), TRUE);
  state->second = 0;
  assert(GadgetFind(number) == record && record->handle == control);
  return chosen ? number : static_cast<int32_t>(reinterpret_cast<uintptr_t>(control));
}

// The control is gone: its type releases what it holds, and its number and properties go.
static void ReleaseGadget(GadgetRecord* record, HWND control, int32_t id) {
  assert(record->handle == control && GadgetFind(id) == record);
  if (record->type != nullptr && record->type->release != nullptr) record->type->release(record);
  RemovePropA(control, GadgetIdProperty);
  if (RemovePropA(control, DropAcceptProperty) != nullptr) RevokeDragDrop(control);
  SetWindowLongA(control, GWL_ID, -1);
  ObjectRelease(GadgetTable, id);
}

GadgetRecord* GadgetOfMessage(HWND control, int32_t* number) {
  auto* message = static_cast<const GadgetMessage*>(TlsGetValue(gadgetMessageSlot));
  bool handed = message != nullptr && message->control == control;
  *number = handed ? message->number : -1;
  return handed ? message->record : nullptr;
}

int32_t GadgetCreate(int32_t number, HWND control, GadgetKind* kind) {
  if (control == nullptr) return 0;
  // The gadget that holds the number goes here, not under the table's lock in its free callback,
  // where its destruction's callbacks would hold up every other thread. Only a number below the
  // capacity is a slot: any other is refused or fresh, and a dynamic gadget it may name stays.
  GadgetRecord* previous = ObjectIsSlot(GadgetTable, number) ? GadgetFind(number) : nullptr;
  if (previous != nullptr) DestroyWindow(previous->handle);
  kind->classProcedure = reinterpret_cast<WNDPROC>(
      SetWindowLongA(control, GWL_WNDPROC, reinterpret_cast<LONG>(kind->procedure)));
  auto* record = static_cast<GadgetRecord*>(ObjectAllocate(GadgetTable, number));
  int32_t result = GadgetAttach(number, record, control, &kind->type);
  if (result == 0) DestroyWindow(control);  // no number could be given to it: no half-made gadget
  return result;
}

LRESULT GadgetPassOn(const GadgetKind* kind, HWND control, UINT message, WPARAM wParam,
                     LPARAM lParam) {
  return CallWindowProcA(kind->classProcedure, control, message, wParam, lParam);
}

LRESULT CALLBACK GadgetSubclassProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  int32_t id;
  GadgetRecord* record = GadgetOfControl(control, &id);
  // Released, or a record of another control: no procedure to pass on to.
  if (record == nullptr) return DefWindowProcA(control, message, wParam, lParam);
  // The previous procedure gets the gadget in hand (GadgetOfMessage).
  GadgetMessage here = {control, record, id, TlsGetValue(gadgetMessageSlot)};
  TlsSetValue(gadgetMessageSlot, &here);
  LRESULT result = CallWindowProcA(record->previousProc, control, message, wParam, lParam);
  TlsSetValue(gadgetMessageSlot, here.outer);
  if (message == WM_NCDESTROY) {
    // Looked up again: the previous procedure may have released the gadget itself.
    record = LiveGadget(control, id);
    if (record != nullptr) ReleaseGadget(record, control, id);
  }
  return result;
}

void GadgetRelease(int32_t number) {
  GadgetRecord* record = GadgetFind(number);
  if (record == nullptr) return;
  if (IsWindow(record->handle)) {
    DestroyWindow(record->handle);  // its WM_NCDESTROY releases it; another thread's lives on
    return;
  }
  if (record->type != nullptr && record->type->release != nullptr) record->type->release(record);
  ObjectRelease(GadgetTable, number);
}

// ---------------------------------------------------------------------------------------------
// Notifications and gadget events
// ---------------------------------------------------------------------------------------------

LRESULT GadgetNotify(HWND control, HWND parent, UINT message, WPARAM wParam, LPARAM lParam,
                     int32_t* gadget) {
  int32_t id = -1;
  GadgetRecord* record = control != nullptr ? GadgetOfControl(control, &id) : nullptr;
  if (gadget != nullptr) *gadget = id;
  if (record == nullptr || record->type == nullptr || record->type->notify == nullptr)
    return NotHandled;
  return record->type->notify(record, parent, message, wParam, lParam);
}

HWND OwningWindow(HWND window) { return FindRuntimeWindow(window).window; }

void GadgetPostEvent(HWND control, int32_t number, int32_t type) {
  // A gadget's control is no runtime window: the search starts at its parent, without asking the
  // control's "XR_WindowID" (under Wine a request to the wine server).
  PostMessageA(OwningWindow(GetParent(control)), GadgetEventMessage, static_cast<WPARAM>(number),
               type);
}
