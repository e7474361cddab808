// Window records: the window table, one window class per window, opening and closing windows.
//
// Invariants:
// - A window is open while its record's handle is non-null. Its record is found by its number
//   only once the window exists, and "XR_WindowID" (number + 1) is set only after that, so the
//   messages of creation itself find no window number.
// - A window's class "WindowClass_<number>" is registered before the window is created and
//   unregistered after it is destroyed (an MDI child's class is left to whoever made the child).
// - An open window's record owns its accelerator entries (a MainHeap block), its accelerator
//   table and its background brush. Closing takes them out of the record before destroying the
//   window, and a close asked again from the window's own destruction does nothing.
// - Opening either completes or leaves nothing behind: no window, class, number or accelerator.
#include "window_internal.h"

#include <ole2.h>
#include <stdio.h>
#include <string.h>

ObjectTable* WindowTable;
int32_t WindowThreadSlice;
int32_t SizingThreadSlice;

static HICON classIcon;      // icon resource 1 of the module, or null (this program has none)
static HCURSOR classCursor;  // the system's arrow

// The two entries of every window's accelerator table: Tab and Shift+Tab.
static const ACCEL FocusAccelerators[2] = {
    {FVIRTKEY | FNOINVERT, VK_TAB, FocusNextCommand},
    {FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, FocusPreviousCommand},
};

static const uint32_t LibraryFlagBits = WindowCentreOnScreen | WindowCentreOnParent;
static const uint32_t StyleFreeMask = 0xEFFFFFFC;  // flags other than the library's three bits
static const int ClassNameSize = 32;               // "WindowClass_" and a signed 32-bit number

// ---------------------------------------------------------------------------------------------
// Start-up and end
// ---------------------------------------------------------------------------------------------

// Free operation of the window thread slice: a thread's queue and drop data go with it.
static void WindowThreadStateFree(void* slice) {
  WindowThreadStateRelease(static_cast<WindowThreadState*>(slice));
}

void WindowSystemInit(void) {
  WindowTable = ObjectTableCreate(sizeof(WindowRecord), 16, WindowClose);
  WindowThreadSlice = ThreadDataRegister(sizeof(WindowThreadState), nullptr, WindowThreadStateFree);
  classIcon = LoadIconA(ModuleInstance, MAKEINTRESOURCEA(1));
  classCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  SizingThreadSlice = ThreadDataRegister(sizeof(SizingState), nullptr, nullptr);
}

void WindowSystemEnd(void) {
  WindowThreadState* state = WindowThreadStateGet();
  ObjectEnumStart(WindowTable);
  int32_t number = 0;
  while (ObjectEnumNext(WindowTable, &number) != nullptr) WindowClose(number);
  WindowThreadStateRelease(state);
}

// ---------------------------------------------------------------------------------------------
// Classes and accelerators
// ---------------------------------------------------------------------------------------------

// Writes the class name of window number into name.
static void FormatClassName(char (&name)[ClassNameSize], int32_t number) {
  snprintf(name, sizeof name, "WindowClass_%ld", static_cast<long>(number));
}

// Registers one window's class; a failure shows as the creation that follows failing.
static void RegisterWindowClass(const char* name) {
  WNDCLASSA windowClass = {};
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = WindowClassProc;
  windowClass.hInstance = ModuleInstance;
  windowClass.hIcon = classIcon;
  windowClass.hCursor = classCursor;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = name;
  RegisterClassA(&windowClass);
}

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
// Placement
// ---------------------------------------------------------------------------------------------

// Where and how large the outer frame is created.
struct Placement {
  int32_t x, y;           // outer top-left corner
  int32_t width, height;  // outer size
};

// Centres the outer frame on the screen, first shrinking it to the screen where it is larger.
static void CentreOnScreen(Placement* place) {
  int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
  int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
  if (place->width > screenWidth) place->width = screenWidth;
  if (place->height > screenHeight) place->height = screenHeight;
  place->x = (screenWidth - place->width) / 2;
  place->y = (screenHeight - place->height) / 2;
}

// Centres the outer frame on the parent, or on the active window when there is no parent; with
// neither the position stays as given.
static void CentreOnParent(Placement* place, HWND parent) {
  HWND reference = parent != nullptr ? parent : GetActiveWindow();
  RECT frame;
  if (reference == nullptr || !GetWindowRect(reference, &frame)) {
    // A position left to the system stays so: without this, (-65535, -65535) would put the
    // window far off the screen.
    if (place->x == WindowDefaultPosition || place->y == WindowDefaultPosition)
      place->x = place->y = CW_USEDEFAULT;
    return;
  }
  place->x = frame.left + (frame.right - frame.left - place->width) / 2;
  place->y = frame.top + (frame.bottom - frame.top - place->height) / 2;
  if (place->x < 0) place->x = 0;
  if (place->y < 0) place->y = 0;
}

// The outer frame for a client area of width × height at (x, y) under the caller's flags.
static Placement PlaceWindow(int32_t x, int32_t y, int32_t width, int32_t height,
                             uint32_t flags, HWND parent) {
  RECT outer = {0, 0, width, height};
  AdjustWindowRect(&outer, flags & ~LibraryFlagBits, FALSE);
  Placement place = {x, y, outer.right - outer.left, outer.bottom - outer.top};
  if (flags & WindowCentreOnScreen) {
    CentreOnScreen(&place);
  } else if (flags & WindowCentreOnParent) {
    CentreOnParent(&place, parent);
  } else if (x == WindowDefaultPosition || y == WindowDefaultPosition) {
    place.x = place.y = CW_USEDEFAULT;
  }
  return place;
}

// The ShowWindow command for a style: maximised wins over minimised, else shown normally.
static int ShowCommand(uint32_t style) {
  if (style & WS_MAXIMIZE) return SW_SHOWMAXIMIZED;
  if (style & WS_MINIMIZE) return SW_SHOWMINIMIZED;
  return SW_SHOWNORMAL;
}

// ---------------------------------------------------------------------------------------------
// Opening and closing
// ---------------------------------------------------------------------------------------------

// Undoes an opening that cannot complete: the window (if made), its class, its accelerators and
// its number go.
static void AbandonOpening(WindowRecord* record, int32_t number, const char* className) {
  HWND handle = record->handle;
  record->handle = nullptr;
  if (handle != nullptr) DestroyWindow(handle);
  UnregisterClassA(className, ModuleInstance);
  FreeAccelerators(record);
  ObjectRelease(WindowTable, number);
}

int32_t WindowOpenChild(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                        const char* title, uint32_t flags, HWND parent) {
  auto* record = static_cast<WindowRecord*>(ObjectAllocate(WindowTable, number));
  bool chosen = number == -1;
  if (chosen) number = static_cast<int32_t>(reinterpret_cast<uintptr_t>(record));
  if (!MakeAccelerators(record)) {
    ObjectRelease(WindowTable, number);
    return 0;
  }
  char className[ClassNameSize];
  FormatClassName(className, number);
  RegisterWindowClass(className);
  if ((flags & StyleFreeMask) == 0) flags |= WS_CAPTION;
  bool show = (flags & WindowHidden) == 0;
  flags &= ~WindowHidden;
  Placement place = PlaceWindow(x, y, width, height, flags, parent);
  uint32_t style = flags & ~LibraryFlagBits;
  record->handle = CreateWindowExA(0, className, title != nullptr ? title : "", style, place.x,
                                   place.y, place.width, place.height, parent, nullptr,
                                   ModuleInstance, nullptr);
  // The table hands out a scratch record, never found, for a number it cannot hold.
  if (record->handle == nullptr || WindowFind(number) != record) {
    AbandonOpening(record, number, className);
    return 0;
  }
  SetPropA(record->handle, WindowIdProperty, reinterpret_cast<HANDLE>(intptr_t{number} + 1));
  if (show) ShowWindow(record->handle, ShowCommand(style));
  return chosen ? number : static_cast<int32_t>(reinterpret_cast<uintptr_t>(record->handle));
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
  char className[ClassNameSize];
  FormatClassName(className, number);
  UnregisterClassA(className, ModuleInstance);
}

// Is the window's close under way already (asked again from the window's own destruction)? Its
// property goes first; a native window destroyed by other means is closed as usual.
static bool IsBeingClosed(const WindowRecord* record) {
  return IsWindow(record->handle) && WindowNumberOf(record->handle) == -1;
}

void WindowClose(int32_t number) {
  WindowRecord* record = WindowFind(number);
  if (record == nullptr || IsBeingClosed(record)) return;
  WindowRecord closing = *record;
  record->acceleratorEntries = nullptr;
  record->acceleratorTable = nullptr;
  record->backgroundBrush = nullptr;
  HWND owner = GetWindow(closing.handle, GW_OWNER);
  if (owner != nullptr && closing.mdiClient == nullptr) SetActiveWindow(owner);
  RemovePropA(closing.handle, WindowIdProperty);
  if (RemovePropA(closing.handle, DropAcceptProperty) != nullptr) RevokeDragDrop(closing.handle);
  DestroyNativeWindow(&closing, number);
  FreeAccelerators(&closing);
  if (closing.backgroundBrush != nullptr) DeleteObject(closing.backgroundBrush);
  // A close re-entered while the window was destroyed may have released the number already,
  // and the number may even have been opened again since.
  if (WindowFind(number) == record && record->handle == closing.handle)
    ObjectRelease(WindowTable, number);
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
