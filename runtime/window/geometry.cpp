// Window geometry: where a window stands, and where a new one is placed.
#include "window_internal.h"

// ---------------------------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------------------------

// The outer top-left corner of window number (an MDI child's in its MDI client); (0, 0) for none.
static POINT OuterCorner(int32_t number) {
  POINT corner = {0, 0};
  WindowRecord* record = WindowFind(number);
  RECT frame;
  if (record == nullptr || !GetWindowRect(record->handle, &frame)) return corner;
  corner = {frame.left, frame.top};
  if (record->mdiClient != nullptr) ScreenToClient(record->mdiClient, &corner);
  return corner;
}

int32_t WindowGetX(int32_t number) { return OuterCorner(number).x; }

int32_t WindowGetY(int32_t number) { return OuterCorner(number).y; }

// ---------------------------------------------------------------------------------------------
// Placement of a new window
// ---------------------------------------------------------------------------------------------

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

Placement PlaceWindow(int32_t x, int32_t y, int32_t width, int32_t height,
                             uint32_t flags, HWND parent) {
  RECT outer = {0, 0, width, height};
  AdjustWindowRect(&outer, flags & ~WindowPlacementBits, FALSE);
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
