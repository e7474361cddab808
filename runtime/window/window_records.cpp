// Window records: the window table, opening and closing windows.
//
// Invariants:
// - A window is open while its record's handle is non-null. Its record is found by its number
//   only once the window exists, and "XR_WindowID" (number + 1) is set only after that, so the
//   messages of creation itself find no window number.
// - A window's class "WindowClass_<number>" is registered before the window is created and
//   unregistered after it is destroyed (an MDI child's class is left to whoever made the child);
//   window_classes.cpp keeps the class of a window destroyed by other means until it is gone.
// - An open window's record owns its accelerator entries (a MainHeap block), its accelerator
//   table and its background brush. Closing takes them out of the record before destroying the
//   window, and a close asked again from the window's own destruction does nothing.
// - A record lives exactly as long as its window, however the window ends: WindowClose, its
//   WM_NCDESTROY (DestroyWindow, a parent or owner destroyed), or its thread's end, which sends
//   no message (the thread's window state, freed on ThreadWatcher, releases those records). A
//   release first claims the record by clearing its handle atomically, so it happens once.
// - A window that cannot be destroyed from the calling thread keeps its record and number.
// - Destruction never runs under the table's lock: windows are collected under it, in batches,
//   and closed outside it, where their callbacks may open and close windows on other threads.
// - Opening either completes or leaves nothing behind: no window, class, number or accelerator.
//   A refused number makes nothing at all, and an opening first claims its free record
//   (WindowOpeningMark), so of two threads opening one number at once exactly one goes on.
#include "window_internal.h"

#include <ole2.h>
#include <stdio.h>
#include <string.h>

ObjectTable* WindowTable;
// None until WindowSystemInit registers them.
int32_t WindowThreadSlice = ThreadDataRefused;
int32_t SizingThreadSlice = ThreadDataRefused;

// The two entries of every window's accelerator table: Tab and Shift+Tab.
static const ACCEL FocusAccelerators[2] = {
    {FVIRTKEY | FNOINVERT, VK_TAB, FocusNextCommand},
    {FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, FocusPreviousCommand},
};

// The caller's flags that are the window's styles; without any, the window gets a caption.
static const uint32_t StyleBits = ~(WindowPlacementBits | WindowHidden);
static const int32_t Batch = 32;  // windows collected under the lock at a time

static void ReleaseDeadWindow(int32_t number);

// ---------------------------------------------------------------------------------------------
// Walking the open windows outside the table's lock
// ---------------------------------------------------------------------------------------------

static bool AnyWindow(const WindowRecord*) { return true; }

// Has the window died without its record hearing of it (its thread ended)?
static bool IsDeadWindow(const WindowRecord* record) { return !IsWindow(record->handle); }

// Under the table's lock: up to Batch numbers of open windows that select picks, in the table's
// order, after the first skip of them; how many.
static int32_t CollectWindows(bool (*select)(const WindowRecord*), int32_t skip,
                              int32_t (&numbers)[Batch]) {
  int32_t count = 0, number = 0;
  ObjectEnumStart(WindowTable);
  while (auto* record = static_cast<WindowRecord*>(ObjectEnumNext(WindowTable, &number))) {
    // The walk ends to release the lock; a window still being opened is its opener's.
    if (count == Batch || record->handle == WindowOpeningMark || !select(record)) continue;
    if (skip > 0) --skip;
    else numbers[count++] = number;
  }
  return count;
}

// Runs act on every open window that select picks, in the table's order, never under the lock.
// A window that act leaves open is skipped from then on: such windows precede every window
// not yet collected, so a count of them is enough.
static void ForEachWindow(bool (*select)(const WindowRecord*), void (*act)(int32_t number)) {
  int32_t kept = 0;
  for (;;) {
    int32_t numbers[Batch];
    int32_t count = CollectWindows(select, kept, numbers);
    if (count == 0) return;
    for (int32_t i = 0; i < count; ++i) {
      act(numbers[i]);
      const WindowRecord* record = WindowFind(numbers[i]);
      if (record != nullptr && select(record)) ++kept;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Start-up and end
// ---------------------------------------------------------------------------------------------

// Free operation of the window thread slice, on ThreadWatcher once the thread has ended: its
// queue and drop data go, and so do the records of the windows that died with it.
static void WindowThreadStateFree(void* slice) {
  WindowThreadStateRelease(static_cast<WindowThreadState*>(slice));
  ForEachWindow(IsDeadWindow, ReleaseDeadWindow);
  UnregisterWaitingClasses();
}

void WindowSystemInit(void) {
  WindowTable = ObjectTableCreate(sizeof(WindowRecord), 16, WindowClose);
  WindowThreadSlice = ThreadDataRegister(sizeof(WindowThreadState), nullptr, WindowThreadStateFree);
  WindowClassesInit();
  SizingThreadSlice = ThreadDataRegister(sizeof(SizingState), nullptr, nullptr);
}

void WindowSystemEnd(void) {
  WindowThreadState* state = WindowThreadStateGet();
  ForEachWindow(AnyWindow, WindowClose);
  WindowThreadStateRelease(state);
  UnregisterWaitingClasses();
}

// ---------------------------------------------------------------------------------------------
// Accelerators
// ---------------------------------------------------------------------------------------------

// Returns the record's accelerator entries to MainHeap and destroys its table; either may be null.
static void FreeAccelerators(WindowRecord* record) {
  if (record->acceleratorEntries != nullptr) HeapFree(MainHeap, 0, record->acceleratorEntries);
  if (record->acceleratorTable != nullptr) DestroyAcceleratorTable(record->acceleratorTable);
  record->acceleratorEntries = nullptr;
  record->acceleratorTable = nullptr;
}

// Gives the record its two entries and the table made from them; false (nothing kept) when
// either cannot be made.
static bool MakeAccelerators(WindowRecord* record) {
  auto* entries = static_cast<ACCEL*>(HeapAlloc(MainHeap, 0, sizeof FocusAccelerators));
  if (entries == nullptr) return false;
  memcpy(entries, FocusAccelerators, sizeof FocusAccelerators);
  record->acceleratorCount = 2;
  record->acceleratorEntries = entries;
  record->acceleratorTable = CreateAcceleratorTableA(entries, 2);
  if (record->acceleratorTable != nullptr) return true;
  FreeAccelerators(record);
  return false;
}

// ---------------------------------------------------------------------------------------------
// Opening and closing
// ---------------------------------------------------------------------------------------------

// The ShowWindow command for a style: maximised wins over minimised, else shown normally.
static int ShowCommand(uint32_t style) {
  if (style & WS_MAXIMIZE) return SW_SHOWMAXIMIZED;
  if (style & WS_MINIMIZE) return SW_SHOWMINIMIZED;
  return SW_SHOWNORMAL;
}

// Takes a free record for an opening: true for one caller only, whichever threads try. A record
// that holds a window, or another opening, stays as it is.
static bool ClaimForOpening(WindowRecord* record) {
  auto* field = reinterpret_cast<void* volatile*>(&record->handle);
  return InterlockedCompareExchangePointer(field, WindowOpeningMark, nullptr) == nullptr;
}

// Undoes an opening that cannot complete: its class, its accelerators and its number go.
static void AbandonOpening(WindowRecord* record, int32_t number) {
  WindowClassUnregister(number);
  FreeAccelerators(record);
  ObjectRelease(WindowTable, number);
}

int32_t WindowOpenChild(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                        const char* title, uint32_t flags, HWND parent) {
  UnregisterWaitingClasses();
  // The window in the numbered slot is closed here rather than by the table under its lock,
  // where the callbacks of its destruction would hold up every other thread's windows.
  if (ObjectIsSlot(WindowTable, number))
    WindowClose(number);
  auto* record = static_cast<WindowRecord*>(ObjectAllocate(WindowTable, number));
  // A refusal's record is shared with every other refusal: nothing is written into it, and
  // nothing (class, window, accelerators) is made for it.
  if (ObjectRefused(WindowTable, record)) return 0;
  // Another thread's window, or another thread's opening of the number, keeps it.
  if (!ClaimForOpening(record)) return 0;
  bool chosen = number == -1;
  if (chosen) number = static_cast<int32_t>(reinterpret_cast<uintptr_t>(record));
  if (!MakeAccelerators(record)) {
    ObjectRelease(WindowTable, number);
    return 0;
  }
  char className[WindowClassNameSize];
  WindowClassRegister(className, number);
  if ((flags & StyleBits) == 0) flags |= WS_CAPTION;
  bool show = (flags & WindowHidden) == 0;
  flags &= ~WindowHidden;
  Placement place = PlaceWindow(x, y, width, height, flags, parent);
  uint32_t style = flags & ~WindowPlacementBits;
  HWND handle = CreateWindowExA(0, className, title != nullptr ? title : "", style, place.x,
                                place.y, place.width, place.height, parent, nullptr,
                                ModuleInstance, nullptr);
  if (handle == nullptr) {
    AbandonOpening(record, number);
    return 0;
  }
  __atomic_store_n(&record->handle, handle, __ATOMIC_RELEASE);
  WindowMark(record->handle, number);
  if (show) ShowWindow(record->handle, ShowCommand(style));
  return chosen ? number : static_cast<int32_t>(reinterpret_cast<uintptr_t>(record->handle));
}

void WindowMark(HWND window, int32_t number) {
  if (number == -1) RemovePropA(window, WindowIdProperty);
  else SetPropA(window, WindowIdProperty, reinterpret_cast<HANDLE>(intptr_t{number} + 1));
  SetWindowLongA(window, GWL_USERDATA, number + 1);
}

int32_t WindowOpen(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                   const char* title, uint32_t flags) {
  return WindowOpenChild(number, x, y, width, height, title, flags, nullptr);
}

HWND WindowGetHandle(int32_t number) {
  WindowRecord* record = WindowFind(number);
  return record != nullptr ? record->handle : nullptr;
}

// Destroys the native window: an MDI child through its MDI client, any other directly, its
// class going with it.
static void DestroyNativeWindow(const WindowRecord* closing, int32_t number) {
  if (closing->mdiClient != nullptr) {
    SendMessageA(closing->mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(closing->handle), 0);
    return;
  }
  DestroyWindow(closing->handle);
  WindowClassUnregister(number);
}

// Is the window's close under way already (asked again from the window's own destruction)? Its
// property goes first; a native window destroyed by other means is closed as usual.
static bool IsBeingClosed(const WindowRecord* record) {
  return IsWindow(record->handle) && WindowNumberOf(record->handle) == -1;
}

// Takes the record of window handle for its release: true for one caller only, whichever
// threads try; the record is no longer found from then on.
static bool ClaimRecord(WindowRecord* record, HWND handle) {
  auto* field = reinterpret_cast<void* volatile*>(&record->handle);
  return InterlockedCompareExchangePointer(field, nullptr, handle) == handle;
}

// Frees a claimed record's number, then what the record owned.
static void ReleaseClaimed(WindowRecord* record, int32_t number) {
  WindowRecord released = *record;
  ObjectRelease(WindowTable, number);
  FreeAccelerators(&released);
  if (released.backgroundBrush != nullptr) DeleteObject(released.backgroundBrush);
}

// Releases window number's record when its window is gone without a final message (its thread
// ended): nothing is destroyed, and the class can go at once.
static void ReleaseDeadWindow(int32_t number) {
  WindowRecord* record = WindowFind(number);
  if (record == nullptr) return;
  HWND handle = record->handle;
  bool ownClass = record->mdiClient == nullptr;
  if (IsWindow(handle) || !ClaimRecord(record, handle)) return;
  ReleaseClaimed(record, number);
  if (!ownClass) return;
  WindowClassUnregister(number);
}

void WindowDestroyed(HWND window) {
  int32_t number;
  WindowRecord* record = WindowRecordOf(window, &number);
  // WindowClose unmarks a window before it destroys it: its windows do not come here.
  if (record == nullptr) return;
  WindowMark(window, -1);
  if (RemovePropA(window, DropAcceptProperty) != nullptr) RevokeDragDrop(window);
  bool ownClass = record->mdiClient == nullptr;
  if (!ClaimRecord(record, window)) return;
  ReleaseClaimed(record, number);
  if (ownClass) WindowClassUnregisterLater(number);
}

// The window outlived its close (a client that did not destroy its MDI child): the record
// keeps the window and everything it owned.
static void KeepOpen(WindowRecord* record, const WindowRecord& closing, int32_t number) {
  record->acceleratorEntries = closing.acceleratorEntries;
  record->acceleratorTable = closing.acceleratorTable;
  record->backgroundBrush = closing.backgroundBrush;
  WindowMark(closing.handle, number);
}

void WindowClose(int32_t number) {
  WindowRecord* record = WindowFind(number);
  if (record == nullptr || IsBeingClosed(record)) return;
  if (!IsWindow(record->handle)) {
    ReleaseDeadWindow(number);
    return;
  }
  // Only its own thread can destroy a window: from any other, window and record both stay.
  if (GetWindowThreadProcessId(record->handle, nullptr) != GetCurrentThreadId()) return;
  WindowRecord closing = *record;
  record->acceleratorEntries = nullptr;
  record->acceleratorTable = nullptr;
  record->backgroundBrush = nullptr;
  HWND owner = GetWindow(closing.handle, GW_OWNER);
  if (owner != nullptr && closing.mdiClient == nullptr) SetActiveWindow(owner);
  WindowMark(closing.handle, -1);
  if (RemovePropA(closing.handle, DropAcceptProperty) != nullptr) RevokeDragDrop(closing.handle);
  DestroyNativeWindow(&closing, number);
  if (IsWindow(closing.handle)) {
    KeepOpen(record, closing, number);
    return;
  }
  FreeAccelerators(&closing);
  if (closing.backgroundBrush != nullptr) DeleteObject(closing.backgroundBrush);
  // A close re-entered while the window was destroyed may have released the number already,
  // and the number may even have been opened again since.
  if (WindowFind(number) == record && ClaimRecord(record, closing.handle))
    ObjectRelease(WindowTable, number);
  // Runtime windows among its children and owned windows were released as they died.
  UnregisterWaitingClasses();
}

// ---------------------------------------------------------------------------------------------
// Record setters
// ---------------------------------------------------------------------------------------------

void WindowSetCallback(int32_t number, WindowCallback callback) {
  WindowRecord* record = WindowFind(number);
  if (record != nullptr) record->callback = callback;
}

void WindowSetBackground(int32_t number, HBRUSH brush) {
  WindowRecord* record = WindowFind(number);
  if (record == nullptr) return;
  HBRUSH previous = record->backgroundBrush;
  record->backgroundBrush = brush;
  if (previous != nullptr && previous != brush) DeleteObject(previous);
}

void WindowSetEraseHandler(int32_t number, WindowEraseHandler handler) {
  WindowRecord* record = WindowFind(number);
  if (record != nullptr) record->eraseHandler = handler;
}

void WindowSetMdiClient(int32_t number, HWND client) {
  WindowRecord* record = WindowFind(number);
  if (record != nullptr) record->mdiClient = client;
}
