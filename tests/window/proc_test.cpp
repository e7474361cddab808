// The window procedure apart from events: which window a message belongs to, results that reach
// the system, colour changes, geometry of runtime windows, the owning window, and the sizing
// rules. Hidden windows only.
#include <gtest/gtest.h>

#include "core.h"
#include "frames.h"
#include "test_support.h"
#include "window.h"
#include "window_internal.h"
#include "window_test_support.h"

namespace {

std::vector<HWND> colourChanges;  // windows that received WM_SYSCOLORCHANGE, in order

LRESULT CALLBACK ColourChild(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SYSCOLORCHANGE) colourChanges.push_back(window);
  return DefWindowProcA(window, message, wParam, lParam);
}

using WindowProc = RecordedWindowTest;

TEST_F(WindowProc, DescendantsAndForeignWindowsFindTheirRuntimeWindowOrNone) {
  Open();
  HWND child = CreatePlain("ProcChild", DefWindowProcA, WS_CHILD, window, 0, 0, 10, 10);
  HWND grandchild = CreatePlain("ProcChild", DefWindowProcA, WS_CHILD, child, 0, 0, 5, 5);
  // A message handled by the runtime on behalf of a descendant belongs to the runtime window.
  EXPECT_EQ(WindowMessageHandler(grandchild, WM_CLOSE, 0, 0), 0);
  EXPECT_EQ(EventGetWindow(), number);
  // A descendant's WM_SIZE is not the window's own.
  EXPECT_EQ(WindowMessageHandler(child, WM_SIZE, SIZE_RESTORED, 0), 1);
  // A window that carries a runtime window's number (its property and its user data) is none.
  HWND foreign = CreatePlain("ProcForeign", DefWindowProcA, WS_POPUP, nullptr, 0, 0, 10, 10);
  SetPropA(foreign, "XR_WindowID", reinterpret_cast<HANDLE>(intptr_t{number} + 1));
  SetWindowLongA(foreign, GWL_USERDATA, number + 1);
  EXPECT_EQ(WindowMessageHandler(foreign, WM_CLOSE, 0, 0), 0);
  EXPECT_EQ(EventGetWindow(), -1);
  EXPECT_EQ(WindowMessageHandler(foreign, WM_SIZE, SIZE_RESTORED, 0), 1);
  // The user data is the program's own: a runtime window whose user data it set stays one, and
  // its record goes with it.
  SetWindowLongA(window, GWL_USERDATA, 0x5A5A);
  EXPECT_EQ(WindowMessageHandler(window, WM_MOVE, 0, 0), 0);
  DrainEvents();
  // A foreign close queues nothing.
  ExpectSequence({Ev(CloseRequest, number), Ev(WindowMoved, number)});
  DestroyWindow(foreign);
  DestroyWindow(window);
  EXPECT_EQ(WindowGetHandle(number), nullptr);
}

TEST_F(WindowProc, TheCallbackSeesEveryMessageFirstAndItsResultEndsTheMessage) {
  Open();
  recorder.watched = {WM_USER + 1, WM_MOVE, WM_SETTEXT};
  recorder.results[WM_USER + 1] = 0x1234;
  recorder.results[WM_MOVE] = 99;  // the runtime's handling does not run: no event
  EXPECT_EQ(SendMessageA(window, WM_USER + 1, 1, 2), 0x1234);
  EXPECT_EQ(SendMessageA(window, WM_MOVE, 0, MAKELPARAM(3, 4)), 99);
  EXPECT_TRUE(SetWindowTextA(window, "renamed"));  // not handled: the default procedure runs
  char title[16] = "";
  GetWindowTextA(window, title, sizeof title);
  EXPECT_STREQ(title, "renamed");
  DrainEvents();
  ExpectSequence({Msg(WM_USER + 1, 1, 2), Msg(WM_MOVE, 0, MAKELPARAM(3, 4)), Msg(WM_SETTEXT)});
}

TEST_F(WindowProc, NotHandledNeverLeavesTheWindowProcedure) {
  Open();
  recorder.results[WM_USER + 2] = NotHandled;
  EXPECT_EQ(WindowClassProc(window, WM_USER + 2, 0, 0), 0);  // DefWindowProcA's result
  EXPECT_EQ(WindowClassProc(window, WM_USER + 3, 0, 0), 0);
  EXPECT_EQ(WindowMessageHandler(window, WM_USER + 3, 0, 0), NotHandled);
}

TEST_F(WindowProc, ColourChangesReachEveryDescendantExceptUnderAnMdiChild) {
  Open();
  HWND child = CreatePlain("ColourChild", ColourChild, WS_CHILD, window, 0, 0, 10, 10);
  HWND grandchild = CreatePlain("ColourChild", ColourChild, WS_CHILD, child, 0, 0, 5, 5);
  SendMessageA(window, WM_SYSCOLORCHANGE, 0, 0);
  EXPECT_EQ(colourChanges, (std::vector<HWND>{child, grandchild}));
  colourChanges.clear();
  WindowSetMdiClient(number, child);
  SendMessageA(window, WM_SYSCOLORCHANGE, 0, 0);
  EXPECT_TRUE(colourChanges.empty());
  EXPECT_TRUE(SysColorForward(child, 12345));
  EXPECT_EQ(colourChanges, std::vector<HWND>{child});
  WindowSetMdiClient(number, nullptr);  // no client that would keep it at the end
}

TEST(WindowGeometry, PositionIsTheOuterFrameOrZeroForNoWindow) {
  int32_t number = WindowOpen(-1, 100, 100, 520, 220, "", 0x00C80000 | WindowHidden);
  EXPECT_EQ(WindowGetX(number), 100);
  EXPECT_EQ(WindowGetY(number), 100);
  SetWindowPos(WindowGetHandle(number), nullptr, -20, 35, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);  // activating would take the foreground
  EXPECT_EQ(WindowGetX(number), -20);
  EXPECT_EQ(WindowGetY(number), 35);
  EXPECT_EQ(WindowGetX(12), 0);  // a slot that holds no window
  EXPECT_EQ(WindowGetY(12), 0);
  EXPECT_EQ(WindowGetX(-77), 0);
}

TEST(WindowGeometry, AnMdiChildsPositionIsInItsClientsCoordinates) {
  HWND client = WindowGetHandle(WindowOpen(-1, 200, 150, 300, 300, "", WS_POPUP | WindowHidden));
  int32_t child = WindowOpen(-1, 230, 190, 50, 50, "", WS_POPUP | WindowHidden);
  WindowSetMdiClient(child, client);
  EXPECT_EQ(WindowGetX(child), 30);
  EXPECT_EQ(WindowGetY(child), 40);
  WindowSetMdiClient(child, nullptr);  // no client that would keep it at the end
}

TEST(WindowGeometry, OwningWindowIsTheNearestRuntimeWindowOrTheTopmostAncestor) {
  HWND window = WindowGetHandle(OpenHidden());
  HWND child = CreatePlain("OwnChild", DefWindowProcA, WS_CHILD, window, 0, 0, 10, 10);
  HWND grandchild = CreatePlain("OwnChild", DefWindowProcA, WS_CHILD, child, 0, 0, 5, 5);
  EXPECT_EQ(OwningWindow(grandchild), window);
  EXPECT_EQ(OwningWindow(window), window);
  HWND top = CreatePlain("OwnTop", DefWindowProcA, WS_POPUP, nullptr, 0, 0, 10, 10);
  HWND inner = CreatePlain("OwnChild", DefWindowProcA, WS_CHILD, top, 0, 0, 5, 5);
  EXPECT_EQ(OwningWindow(inner), top);
  EXPECT_EQ(OwningWindow(nullptr), nullptr);
  DestroyWindow(top);
}

TEST(SizingTrack, CornersApplyTwoRulesAndEdgesStopAtTheTrackLimits) {
  SizingState state = {};
  state.rectangle = {100, 100, 400, 300};
  state.limits.ptMinTrackSize = {50, 40};
  state.limits.ptMaxTrackSize = {1000, 1000};
  struct Case { int32_t edge, x, y; RECT expected; } cases[] = {
      {WMSZ_TOPLEFT, 152, 132, {150, 130, 400, 300}},
      {WMSZ_TOPRIGHT, 448, 90, {100, 90, 450, 300}},
      {WMSZ_BOTTOMLEFT, 390, 500, {350, 100, 400, 502}},
      {WMSZ_BOTTOMRIGHT, 120, 110, {100, 100, 150, 140}},
      {WMSZ_LEFT, -2000, 7, {-600, 100, 400, 300}},    // wider than the maximum
      {WMSZ_BOTTOM, 7, 5000, {100, 100, 400, 1100}},   // higher than the maximum
      {0, 5, 5, {100, 100, 400, 300}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edge);
    state.rectangle = {100, 100, 400, 300};
    state.edge = c.edge;
    SizingTrack(&state, c.x, c.y);
    EXPECT_EQ(state.rectangle, c.expected);
  }
}

}  // namespace
