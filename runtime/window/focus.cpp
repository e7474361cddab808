// Keyboard navigation: the accelerator table for Tab and Shift+Tab, and moving the focus between
// the tab stops of the active window or of the MDI child that holds the focus.
//
// Invariants:
// - A tab stop is an enabled, visible descendant with WS_TABSTOP; tab order is the order in which
//   EnumChildWindows visits the navigation root's descendants.
// - Only a tab stop is ever given the focus. The focused window counts as the current position in
//   tab order whether or not it is a tab stop itself, so Tab always leaves it for the next one.
// - A step needs an active window of this thread: without one nothing moves (enumerating the
//   children of a null root would walk every top-level window of the desktop).
#include "window_internal.h"

#include <richedit.h>
#include <string.h>

static const char MdiChildClass[] = "MDI_ChildClass";
static const int FocusClassNameSize = 5;   // "Rich" and the terminating zero
static const int WalkClassNameSize = 50;   // class names of up to 49 characters

// ---------------------------------------------------------------------------------------------
// Accelerators
// ---------------------------------------------------------------------------------------------

// Is key down now?
static bool KeyDown(int key) { return (GetKeyState(key) & 0x80) != 0; }

// Does the focused window keep a plain Tab for itself (an editable rich edit control)?
static bool FocusKeepsPlainTab(void) {
  if (!KeyDown(VK_TAB) || KeyDown(VK_CONTROL) || KeyDown(VK_SHIFT) || KeyDown(VK_MENU))
    return false;
  HWND focus = GetFocus();
  char name[FocusClassNameSize] = "";
  GetClassNameA(focus, name, sizeof name);
  if (strncmp(name, "Rich", 4) != 0) return false;
  return (SendMessageA(focus, EM_GETOPTIONS, 0, 0) & ECO_READONLY) == 0;
}

HACCEL WindowGetAccelerators(HWND active) {
  if (FocusKeepsPlainTab()) return nullptr;
  int32_t number;
  WindowRecord* record = WindowRecordOf(active, &number);
  return record != nullptr ? record->acceleratorTable : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Focus steps
// ---------------------------------------------------------------------------------------------

// What one FocusStep has seen so far.
struct FocusVisit {
  HWND current;   // the focused window where it counts, or null
  HWND previous;  // the last tab stop seen, or null
  bool takeNext;  // current was passed: the next tab stop gets the focus
  bool found;     // the backward step has set the focus
};

// Is window a tab stop?
static bool IsTabStop(HWND window) {
  return IsWindowEnabled(window) && IsWindowVisible(window) &&
         (GetWindowLongA(window, GWL_STYLE) & WS_TABSTOP) != 0;
}

// Forward visitor: the first tab stop after current, or the first of all with no current.
static BOOL CALLBACK ForwardVisitor(HWND child, LPARAM data) {
  auto* visit = reinterpret_cast<FocusVisit*>(data);
  if ((visit->takeNext || visit->current == nullptr) && IsTabStop(child)) {
    SetFocus(child);
    visit->takeNext = false;
    return FALSE;
  }
  if (child == visit->current) visit->takeNext = true;
  return TRUE;
}

// Backward visitor: the last tab stop before current; remembers the last tab stop seen.
static BOOL CALLBACK BackwardVisitor(HWND child, LPARAM data) {
  auto* visit = reinterpret_cast<FocusVisit*>(data);
  if (child == visit->current && visit->previous != nullptr) {
    SetFocus(visit->previous);
    visit->found = true;
    visit->previous = child;
    return FALSE;
  }
  if (IsTabStop(child)) visit->previous = child;
  return TRUE;
}

// Is window of the MDI child class?
static bool IsMdiChild(HWND window) {
  char name[WalkClassNameSize] = "";
  GetClassNameA(window, name, sizeof name);
  return strcmp(name, MdiChildClass) == 0;
}

// The navigation root for a focus inside root: the outermost MDI child around the focus, if any.
// An MDI child that holds the focus itself is no current position.
static HWND NavigationRoot(HWND root, FocusVisit* visit) {
  for (HWND w = visit->current; w != nullptr; w = GetParent(w)) {
    if (!IsMdiChild(w)) continue;
    root = w;
    if (w == visit->current) visit->current = nullptr;
  }
  return root;
}

void FocusStep(int32_t backward) {
  HWND root = GetActiveWindow();
  HWND focus = GetFocus();
  if (root == nullptr) return;
  FocusVisit visit = {};
  if (IsChild(root, focus)) {
    visit.current = focus;
    root = NavigationRoot(root, &visit);
  }
  auto data = reinterpret_cast<LPARAM>(&visit);
  if (backward) {
    EnumChildWindows(root, BackwardVisitor, data);
    if (!visit.found && visit.previous != nullptr) SetFocus(visit.previous);
    return;
  }
  EnumChildWindows(root, ForwardVisitor, data);
  if (visit.takeNext) EnumChildWindows(root, ForwardVisitor, data);
}
