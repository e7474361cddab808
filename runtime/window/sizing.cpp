// Live sizing: a sizing of a window that runs from ordinary mouse and key messages instead of the
// system's modal loop, so that the program's own loop keeps turning while the user sizes.
//
// Invariants:
// - Sizing state is per thread; a thread sizes at most one window at a time, and while it does,
//   only that window's messages are taken (other windows' messages pass untouched).
// - A sizing starts only from SC_SIZE with full-window dragging on, for a window the system's own
//   sizing would size (visible, with a sizing border, neither minimised nor maximised). It holds
//   the mouse capture while active, and ends exactly when the window loses the capture (or is
//   destroyed): every way out (Enter, Escape, button release, another capture) goes through
//   WM_CAPTURECHANGED.
// - The rectangle is in screen coordinates and never narrower or lower than the minimum track
//   size, nor wider or higher than the maximum, on the edges that move.
#include "window_internal.h"

static const int32_t KeyStep = 10;  // pixels an arrow key moves the chosen edge

// ---------------------------------------------------------------------------------------------
// Tracking and applying
// ---------------------------------------------------------------------------------------------

// Which sides of the rectangle an edge code moves.
static bool MovesLeft(int32_t edge) {
  return edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT;
}
static bool MovesRight(int32_t edge) {
  return edge == WMSZ_RIGHT || edge == WMSZ_TOPRIGHT || edge == WMSZ_BOTTOMRIGHT;
}
static bool MovesTop(int32_t edge) {
  return edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT;
}
static bool MovesBottom(int32_t edge) {
  return edge == WMSZ_BOTTOM || edge == WMSZ_BOTTOMLEFT || edge == WMSZ_BOTTOMRIGHT;
}

// Places the moving side *moving so that its span to the fixed side lies within [low, high];
// direction is -1 when the moving side lies before the fixed one (left, top), +1 after it.
static void ClampSpan(LONG* moving, LONG fixed, int32_t direction, LONG low, LONG high) {
  LONG span = (*moving - fixed) * direction;
  if (span < low) *moving = fixed + low * direction;
  else if (span > high) *moving = fixed + high * direction;
}

void SizingTrack(SizingState* state, int32_t x, int32_t y) {
  RECT* r = &state->rectangle;
  const MINMAXINFO& limits = state->limits;
  int32_t edge = state->edge;
  if (MovesLeft(edge)) {
    r->left = edge == WMSZ_TOPLEFT ? x - 2 : x;
    ClampSpan(&r->left, r->right, -1, limits.ptMinTrackSize.x, limits.ptMaxTrackSize.x);
  }
  if (MovesRight(edge)) {
    r->right = x + 2;
    ClampSpan(&r->right, r->left, +1, limits.ptMinTrackSize.x, limits.ptMaxTrackSize.x);
  }
  if (MovesTop(edge)) {
    r->top = edge == WMSZ_TOPLEFT ? y - 2 : y;
    ClampSpan(&r->top, r->bottom, -1, limits.ptMinTrackSize.y, limits.ptMaxTrackSize.y);
  }
  if (MovesBottom(edge)) {
    r->bottom = y + 2;
    ClampSpan(&r->bottom, r->top, +1, limits.ptMinTrackSize.y, limits.ptMaxTrackSize.y);
  }
}

void SizingApply(HWND window, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  POINT corners[2] = {{left, top}, {right, bottom}};
  if (GetWindowLongA(window, GWL_STYLE) & WS_CHILD)
    MapWindowPoints(nullptr, GetParent(window), corners, 2);
  MoveWindow(window, corners[0].x, corners[0].y, corners[1].x - corners[0].x,
             corners[1].y - corners[0].y, TRUE);
}

// Offers the state's rectangle to the window with WM_SIZING, then moves the window to it.
static void OfferAndApply(SizingState* state, HWND window) {
  SendMessageA(window, WM_SIZING, state->edge, reinterpret_cast<LPARAM>(&state->rectangle));
  const RECT& r = state->rectangle;
  SizingApply(window, r.left, r.top, r.right, r.bottom);
}

void SizingKeyStep(SizingState* state, HWND window, int32_t x, int32_t y) {
  SetCursorPos(x, y);
  SizingTrack(state, x, y);
  OfferAndApply(state, window);
}

// The shared system cursor of shape (an IDC_ name).
static HCURSOR SharedCursor(LPCSTR shape) {
  return static_cast<HCURSOR>(
      LoadImageA(nullptr, shape, IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
}

void CursorPlace(LPCSTR shape, int32_t x, int32_t y) {
  SetCursorPos(x, y);
  SetCursor(SharedCursor(shape));
}

// ---------------------------------------------------------------------------------------------
// Keyboard sizing
// ---------------------------------------------------------------------------------------------

// The edge an arrow key chooses from the edge now (0 when it takes a step instead).
struct EdgeChoice {
  WPARAM key;    // VK_LEFT, VK_UP, VK_RIGHT or VK_DOWN
  int32_t from;  // the edge now
  int32_t to;    // the edge chosen
};

static const EdgeChoice EdgeChoices[] = {
    {VK_LEFT, 0, WMSZ_LEFT},    {VK_LEFT, WMSZ_TOP, WMSZ_TOPLEFT},
    {VK_LEFT, WMSZ_BOTTOM, WMSZ_BOTTOMLEFT},
    {VK_UP, 0, WMSZ_TOP},       {VK_UP, WMSZ_LEFT, WMSZ_TOPLEFT},
    {VK_UP, WMSZ_RIGHT, WMSZ_TOPRIGHT},
    {VK_RIGHT, 0, WMSZ_RIGHT},  {VK_RIGHT, WMSZ_TOP, WMSZ_TOPRIGHT},
    {VK_RIGHT, WMSZ_BOTTOM, WMSZ_BOTTOMRIGHT},
    {VK_DOWN, 0, WMSZ_BOTTOM},  {VK_DOWN, WMSZ_LEFT, WMSZ_BOTTOMLEFT},
    {VK_DOWN, WMSZ_RIGHT, WMSZ_BOTTOMRIGHT},
};

// The edge that key chooses from edge, or 0 when the key steps the edge instead.
static int32_t ChosenEdge(WPARAM key, int32_t edge) {
  for (const EdgeChoice& choice : EdgeChoices)
    if (choice.key == key && choice.from == edge) return choice.to;
  return 0;
}

// The sizing cursor of an edge: west-east, north-south, or one of the two diagonals.
static LPCSTR EdgeCursor(int32_t edge) {
  switch (edge) {
    case WMSZ_LEFT: case WMSZ_RIGHT: return IDC_SIZEWE;
    case WMSZ_TOP: case WMSZ_BOTTOM: return IDC_SIZENS;
    case WMSZ_TOPLEFT: case WMSZ_BOTTOMRIGHT: return IDC_SIZENWSE;
  }
  return IDC_SIZENESW;
}

// Puts the cursor where SizingTrack expects it for a newly chosen edge: on a left or top side,
// 2 pixels inside a right or bottom side, 2 inside both for the top-left corner; p gives the
// coordinate along a side.
static void PlaceOnEdge(const RECT& r, int32_t edge, POINT p) {
  int32_t x = MovesLeft(edge) ? r.left : MovesRight(edge) ? r.right - 2 : p.x;
  int32_t y = MovesTop(edge) ? r.top : MovesBottom(edge) ? r.bottom - 2 : p.y;
  if (edge == WMSZ_TOPLEFT) {
    x = r.left + 2;
    y = r.top + 2;
  }
  CursorPlace(EdgeCursor(edge), x, y);
}

// An arrow key: chooses an edge (moving only the cursor), or steps the chosen edge 10 pixels.
static void ArrowKey(SizingState* state, HWND window, WPARAM key) {
  POINT p;
  GetCursorPos(&p);
  int32_t chosen = ChosenEdge(key, state->edge);
  if (chosen != 0) {
    state->edge = chosen;
    PlaceOnEdge(state->rectangle, chosen, p);
    return;
  }
  int32_t dx = key == VK_LEFT ? -KeyStep : key == VK_RIGHT ? KeyStep : 0;
  int32_t dy = key == VK_UP ? -KeyStep : key == VK_DOWN ? KeyStep : 0;
  SizingKeyStep(state, window, p.x + dx, p.y + dy);
}

// ---------------------------------------------------------------------------------------------
// The filter
// ---------------------------------------------------------------------------------------------

// The limits a sizing starts with, before the window may change them.
static void FillLimits(MINMAXINFO* limits, HWND window) {
  *limits = {};
  limits->ptMaxSize = {GetSystemMetrics(SM_CXMAXIMIZED), GetSystemMetrics(SM_CYMAXIMIZED)};
  if (GetWindowLongA(window, GWL_STYLE) & WS_BORDER)
    limits->ptMaxPosition = {GetSystemMetrics(SM_CXBORDER), GetSystemMetrics(SM_CYBORDER)};
  else if (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_WINDOWEDGE)
    limits->ptMaxPosition = {GetSystemMetrics(SM_CXEDGE), GetSystemMetrics(SM_CYEDGE)};
  limits->ptMinTrackSize = {GetSystemMetrics(SM_CXMINTRACK), GetSystemMetrics(SM_CYMINTRACK)};
  limits->ptMaxTrackSize = {GetSystemMetrics(SM_CXMAXTRACK), GetSystemMetrics(SM_CYMAXTRACK)};
}

// Could the system's own sizing size window: visible, with a sizing border, neither minimised
// nor maximised?
static bool IsSizable(HWND window) {
  return IsWindowVisible(window) && (GetWindowLongA(window, GWL_STYLE) & WS_THICKFRAME) &&
         !IsIconic(window) && !IsZoomed(window);
}

// SC_SIZE with full-window dragging on starts a sizing of window, or ends there when the window
// is not one to size (0: the system's loop never starts); anything else is NotHandled.
static LRESULT SizingStart(SizingState* state, HWND window, UINT msg, WPARAM wParam) {
  if (msg != WM_SYSCOMMAND || (wParam & 0xFFF0) != SC_SIZE) return NotHandled;
  BOOL fullWindows = FALSE;
  SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &fullWindows, 0);
  if (!fullWindows) return NotHandled;
  // NOTE: Windows' default procedure ignores SC_SIZE for such a window; Wine's runs its sizing
  // loop anyway, sizing nothing, until a click or a key ends it. Neither sizes: nor do we.
  if (!IsSizable(window)) return 0;
  state->edge = static_cast<int32_t>(wParam & 0xF);
  state->active = 1;
  state->window = window;
  GetWindowRect(window, &state->rectangle);
  FillLimits(&state->limits, window);
  SendMessageA(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&state->limits));
  if (GetKeyState(VK_LBUTTON) == 0) SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, 0);
  SetCapture(window);
  PostMessageA(window, WM_ENTERSIZEMOVE, 0, 0);
  state->keyboardMode = state->edge == 0;
  if (state->keyboardMode) {
    GetCursorPos(&state->savedCursor);
    SetCursor(SharedCursor(IDC_SIZEALL));
  }
  return 0;
}

// The mouse moved while sizing: the edge follows it (the point arrives in client coordinates).
static LRESULT SizingMouseMove(SizingState* state, HWND window, LPARAM lParam) {
  state->keyboardMode = 0;
  POINT p = {static_cast<int16_t>(LOWORD(lParam)), static_cast<int16_t>(HIWORD(lParam))};
  MapWindowPoints(window, nullptr, &p, 1);
  SizingTrack(state, p.x, p.y);
  OfferAndApply(state, window);
  return 0;
}

// A key while sizing: Enter and Escape end it where it is; arrows choose or step an edge and,
// like all other keys, still reach the default procedure.
static LRESULT SizingKeyDown(SizingState* state, HWND window, WPARAM key) {
  if (key == VK_RETURN || key == VK_ESCAPE) {
    ReleaseCapture();
    return 0;
  }
  if (key == VK_LEFT || key == VK_UP || key == VK_RIGHT || key == VK_DOWN)
    ArrowKey(state, window, key);
  return NotHandled;
}

// The capture is gone: the sizing ends, and a keyboard sizing puts the cursor back.
static LRESULT SizingEnd(SizingState* state, HWND window) {
  PostMessageA(window, WM_EXITSIZEMOVE, 0, 0);
  state->active = 0;
  state->window = nullptr;
  if (state->keyboardMode) SetCursorPos(state->savedCursor.x, state->savedCursor.y);
  return 0;
}

// The sized window is destroyed without having lost the capture first: the sizing is over.
static LRESULT SizingAbandon(SizingState* state) {
  state->active = 0;
  state->window = nullptr;
  return NotHandled;
}

LRESULT SizingFilter(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  SizingState* state = SizingStateGet();
  if (!state->active) return SizingStart(state, window, msg, wParam);
  if (window != state->window) return NotHandled;
  switch (msg) {
    case WM_MOUSEMOVE: return SizingMouseMove(state, window, lParam);
    case WM_KEYDOWN: return SizingKeyDown(state, window, wParam);
    case WM_LBUTTONUP: ReleaseCapture(); return 0;
    case WM_CAPTURECHANGED: return SizingEnd(state, window);
    case WM_NCDESTROY: return SizingAbandon(state);
  }
  return NotHandled;
}
