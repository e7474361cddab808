// Live sizing at the message level: which commands start it, what the window may change, child
// windows, other windows' messages, and a sized window that goes away. Full-window dragging is a
// setting of the whole display, so these tests run with the display to themselves.
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "core.h"
#include "frames.h"
#include "test_support.h"
#include "window.h"
#include "window_internal.h"
#include "window_test_support.h"

namespace {

// The sizing filter at the message level, with full-window dragging on unless the test says.
struct SizingFilterTest : RecordedWindowTest {
  std::optional<DragFullWindows> drag;
  void SetUp() override {
    Open(WS_OVERLAPPEDWINDOW, 300, 200);
    Drag(true);
  }
  // The setting before the test comes back first: the old object goes before the new one is made.
  void Drag(bool on) { drag.emplace(on); }
};

TEST_F(SizingFilterTest, OnlySizeCommandsWithFullWindowDraggingAreTakenAndArrowsChooseTheEdge) {
  Drag(false);
  EXPECT_EQ(SizingFilter(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0), NotHandled);
  EXPECT_FALSE(SizingStateGet()->active);
  Drag(true);
  EXPECT_EQ(SizingFilter(window, WM_SYSCOMMAND, SC_MOVE | 2, 0), NotHandled);
  EXPECT_EQ(SizingFilter(window, WM_MOUSEMOVE, 0, 0), NotHandled);
  EXPECT_EQ(SizingFilter(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0), 0);
  EXPECT_TRUE(SizingStateGet()->active);
  EXPECT_EQ(GetCapture(), window);
  ReleaseCapture();
  EXPECT_FALSE(SizingStateGet()->active);
  // An arrow key chooses the edge to size: from none, its own side; across a chosen side, the
  // corner between the two.
  const int32_t L = WMSZ_LEFT, T = WMSZ_TOP, R = WMSZ_RIGHT, B = WMSZ_BOTTOM;
  const std::vector<std::tuple<WPARAM, int32_t, int32_t>> choices = {
      {VK_LEFT, 0, L},  {VK_LEFT, T, WMSZ_TOPLEFT},  {VK_LEFT, B, WMSZ_BOTTOMLEFT},
      {VK_UP, 0, T},    {VK_UP, L, WMSZ_TOPLEFT},    {VK_UP, R, WMSZ_TOPRIGHT},
      {VK_RIGHT, 0, R}, {VK_RIGHT, T, WMSZ_TOPRIGHT}, {VK_RIGHT, B, WMSZ_BOTTOMRIGHT},
      {VK_DOWN, 0, B},  {VK_DOWN, L, WMSZ_BOTTOMLEFT}, {VK_DOWN, R, WMSZ_BOTTOMRIGHT}};
  for (auto [key, from, to] : choices) {
    SCOPED_TRACE(std::to_string(key) + " from " + std::to_string(from));
    EXPECT_EQ(SizingFilter(window, WM_SYSCOMMAND, SC_SIZE | from, 0), 0);
    SizingFilter(window, WM_KEYDOWN, key, 0);
    EXPECT_EQ(SizingStateGet()->edge, to);
    ReleaseCapture();  // ends the sizing
  }
}

TEST_F(SizingFilterTest, OnlyAWindowTheSystemWouldSizeIsSized) {
  // The lens window's flags give no sizing border: a posted size command and a mouse move, as
  // anyone may send them, leave it as it is.
  HWND lens = WindowGetHandle(WindowOpen(-1, 100, 100, 520, 220, "", 0x00C80000));
  RECT start = FrameOf(lens);
  PostMessageA(lens, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0);
  PostMessageA(lens, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(700, 50));
  Flush();
  EXPECT_EQ(FrameOf(lens), start);
  EXPECT_FALSE(SizingStateGet()->active);
  EXPECT_NE(GetCapture(), lens);
  // A window with a sizing border that is hidden, minimised or maximised is not sized either:
  // the command ends in the filter, and no sizing starts.
  for (int show : {SW_HIDE, SW_MINIMIZE, SW_MAXIMIZE}) {
    SCOPED_TRACE(show);
    ShowWindow(window, show);
    EXPECT_EQ(SizingFilter(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0), 0);
    EXPECT_FALSE(SizingStateGet()->active);
    EXPECT_NE(GetCapture(), window);
  }
  ShowWindow(window, SW_RESTORE);
  EXPECT_EQ(SizingFilter(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0), 0);
  ReleaseCapture();
}

TEST_F(SizingFilterTest, AWindowMayChangeItsLimitsAndTheRectangleOffered) {
  EventSetCallback(RecordingCallback);
  recorder.hook = [](HWND, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_GETMINMAXINFO)
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize.y = 150;
    if (message == WM_SIZING) reinterpret_cast<RECT*>(lParam)->left += 7;
  };
  recorder.watched = {WM_GETMINMAXINFO, WM_LBUTTONDOWN, WM_SIZING};
  RECT start = FrameOf(window);
  SendMessageA(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_TOP, 0);
  POINT p = {start.left + 10, start.bottom - 20};
  ScreenToClient(window, &p);
  SendMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  // The top edge took the minimum height, and the left edge the window's 7 pixels.
  EXPECT_EQ(FrameOf(window), (RECT{start.left + 7, start.bottom - 150, start.right, start.bottom}));
  ReleaseCapture();
  // No button was down: the filter pressed it for the window, at its client origin.
  // Moving the window asks for its limits once more.
  ExpectSequence({Msg(WM_GETMINMAXINFO), Msg(WM_LBUTTONDOWN, MK_LBUTTON, 0),
                  Msg(WM_SIZING, WMSZ_TOP), Opt(Msg(WM_GETMINMAXINFO))});
}

TEST_F(SizingFilterTest, AChildWindowIsSizedInItsParentsCoordinates) {
  HWND parent = WindowGetHandle(WindowOpen(-1, 50, 60, 600, 400, "", WS_POPUP));
  HWND child = WindowGetHandle(
      WindowOpenChild(-1, 20, 30, 100, 80, "", WS_CHILD | WS_THICKFRAME, parent));
  RECT start = FrameOf(child);
  SendMessageA(child, WM_SYSCOMMAND, SC_SIZE | WMSZ_BOTTOMRIGHT, 0);
  POINT p = {start.right + 40, start.bottom + 30};
  ScreenToClient(child, &p);
  SendMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  ReleaseCapture();
  // The cursor is 2 pixels inside a right or bottom edge.
  EXPECT_EQ(FrameOf(child), (RECT{start.left, start.top, start.right + 42, start.bottom + 32}));
  POINT origin = {start.left, start.top};
  ScreenToClient(parent, &origin);
  EXPECT_EQ(origin.x, 20);
  EXPECT_EQ(origin.y, 30);
}

TEST_F(SizingFilterTest, MessagesOfOtherWindowsPassWhileAWindowIsSized) {
  HWND other = WindowGetHandle(WindowOpen(-1, 500, 300, 100, 100, "", WS_POPUP | WindowHidden));
  RECT before = FrameOf(other);
  SendMessageA(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0);
  EXPECT_EQ(SizingFilter(other, WM_MOUSEMOVE, 0, MAKELPARAM(500, 500)), NotHandled);
  EXPECT_EQ(SizingFilter(other, WM_KEYDOWN, VK_RIGHT, 0), NotHandled);
  EXPECT_EQ(FrameOf(other), before);
  EXPECT_TRUE(SizingStateGet()->active);
  ReleaseCapture();
}

TEST_F(SizingFilterTest, DestroyingTheSizedWindowEndsTheSizing) {
  SendMessageA(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0);
  ASSERT_TRUE(SizingStateGet()->active);
  WindowClose(number);
  EXPECT_FALSE(SizingStateGet()->active);
  // A new window can be sized.
  HWND next = WindowGetHandle(WindowOpen(-1, 0, 0, 200, 100, "", WS_OVERLAPPEDWINDOW));
  EXPECT_EQ(SizingFilter(next, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0), 0);
  ReleaseCapture();
}

}  // namespace
