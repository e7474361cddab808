// Window classes: one class per window, named after its number, registered before the window is
// created and unregistered once it is gone.
//
// A class cannot be unregistered while its window receives its last message (WM_NCDESTROY runs
// inside the window's destruction): the class of a window destroyed by other means than
// WindowClose waits on a list, and the next opening, close or wait that finds the window gone
// unregisters it. An MDI child's class is left to whoever made the child.
#include "window_internal.h"

#include <stdio.h>

static HICON classIcon;      // icon resource 1 of the module, or null (this program has none)
static HCURSOR classCursor;  // the system's arrow

void WindowClassesInit(void) {
  classIcon = LoadIconA(ModuleInstance, MAKEINTRESOURCEA(1));
  classCursor = LoadCursorA(nullptr, IDC_ARROW);
}

// Writes the class name of window number into name.
static void FormatClassName(char (&name)[WindowClassNameSize], int32_t number) {
  snprintf(name, sizeof name, "WindowClass_%ld", static_cast<long>(number));
}

void WindowClassRegister(char (&name)[WindowClassNameSize], int32_t number) {
  FormatClassName(name, number);
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

void WindowClassUnregister(int32_t number) {
  char name[WindowClassNameSize];
  FormatClassName(name, number);
  UnregisterClassA(name, ModuleInstance);
}

// ---------------------------------------------------------------------------------------------
// Classes waiting for their windows to be gone
// ---------------------------------------------------------------------------------------------

// A class whose window was destroyed by other means, waiting for the window to be gone.
struct WaitingClass {
  WaitingClass* next;  // the next waiting class, or null
  int32_t number;      // the window number the class is named after
};

static SRWLOCK waitingLock = SRWLOCK_INIT;  // guards waitingClasses
static WaitingClass* waitingClasses;        // newest first

static void PushWaiting(WaitingClass* entry) {
  AcquireSRWLockExclusive(&waitingLock);
  entry->next = waitingClasses;
  waitingClasses = entry;
  ReleaseSRWLockExclusive(&waitingLock);
}

// Without a block for the entry the class stays registered, which does no harm: opening the
// number again uses it.
void WindowClassUnregisterLater(int32_t number) {
  auto* entry = static_cast<WaitingClass*>(HeapAlloc(MainHeap, 0, sizeof(WaitingClass)));
  if (entry == nullptr) return;
  entry->number = number;
  PushWaiting(entry);
}

// Is window number's class done with: unregistered now, gone already, or serving a window opened
// again under the number (whose close unregisters it)?
static bool ClassDone(int32_t number) {
  if (WindowFind(number) != nullptr) return true;
  char className[WindowClassNameSize];
  FormatClassName(className, number);
  return UnregisterClassA(className, ModuleInstance) ||
         GetLastError() != ERROR_CLASS_HAS_WINDOWS;
}

void UnregisterWaitingClasses(void) {
  if (__atomic_load_n(&waitingClasses, __ATOMIC_ACQUIRE) == nullptr) return;
  AcquireSRWLockExclusive(&waitingLock);
  WaitingClass* list = waitingClasses;
  waitingClasses = nullptr;
  ReleaseSRWLockExclusive(&waitingLock);
  while (list != nullptr) {
    WaitingClass* entry = list;
    list = list->next;
    if (ClassDone(entry->number)) HeapFree(MainHeap, 0, entry);
    else PushWaiting(entry);  // its window is still in its last message
  }
}
