// Real mouse and keyboard input: the close box, dragging the caption, live sizing with the mouse
// and the keyboard, and sizing left to the system when full-window dragging is off.
#include <array>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core.h"
#include "frames.h"
#include "test_support.h"
#include "window.h"
#include "window_internal.h"
#include "window_test_support.h"

namespace {

// A shown, active window with the recording callback installed and the queues flushed.
using InputTest = RecordedWindowTest;

TEST_F(InputTest, ClickingTheCloseBoxQueuesACloseRequest) {
  Open(0x00C80000, 520, 220, true);
  POINT box;
  ASSERT_TRUE(FindCloseBox(window, &box));
  recorder.watched = {WM_NCLBUTTONDOWN, WM_SYSCOMMAND, WM_CLOSE};
  recorder.events = {WM_NCLBUTTONDOWN, CloseRequest};
  ASSERT_TRUE(Xdotool("mousemove " + XdotoolPoint(box.x, box.y) + " sleep 0.2 click 1"));
  DrainEvents();
  // The close box is tracked inside the dispatch of the button press; the close request that
  // follows is queued and handed out by the next call.
  ExpectSequence({Msg(WM_NCLBUTTONDOWN, HTCLOSE), Msg(WM_SYSCOMMAND, SC_CLOSE), Msg(WM_CLOSE),
                  EvAny(WM_NCLBUTTONDOWN), Ev(CloseRequest, number)});
  EXPECT_TRUE(IsWindow(window));
}

TEST_F(InputTest, DraggingTheCaptionMovesTheWindowWithMovingMessagesToTheCallback) {
  DragFullWindows full(true);
  Open(0x00C80000, 520, 220, true);
  // Each WM_MOVING's offered top-left corner, and the position asked for meanwhile.
  std::vector<std::array<LONG, 4>> moves;
  recorder.hook = [&](HWND, UINT message, WPARAM, LPARAM lParam) {
    const RECT* to = reinterpret_cast<RECT*>(lParam);
    if (message == WM_MOVING)
      moves.push_back({to->left, to->top, WindowGetX(number), WindowGetY(number)});
  };
  recorder.watched = {WM_ENTERSIZEMOVE, WM_MOVING, WM_EXITSIZEMOVE};
  recorder.events = {WM_NCLBUTTONDOWN, WindowMoved};
  POINT caption = {160, 110};
  ASSERT_EQ(SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(caption.x, caption.y)), HTCAPTION);
  ASSERT_TRUE(Xdotool("mousemove " + XdotoolPoint(160, 110) + " sleep 0.3 mousedown 1 sleep 0.1" +
                      " mousemove " + XdotoolPoint(190, 140) + " sleep 0.1 mousemove " + XdotoolPoint(220, 170) +
                      " sleep 0.1 mousemove " + XdotoolPoint(250, 200) + " sleep 0.1 mouseup 1"));
  DrainEvents();
  // The move loop runs inside one dispatch; every WM_MOVE it caused collapses into one event.
  ExpectSequence({Msg(WM_ENTERSIZEMOVE), Msg(WM_MOVING), Msg(WM_MOVING), Msg(WM_MOVING),
                  Msg(WM_EXITSIZEMOVE), EvAny(WM_NCLBUTTONDOWN), Ev(WindowMoved, number)});
  // Asked while the loop runs, the position is where the window is: where the last step put it.
  EXPECT_EQ(moves, (std::vector<std::array<LONG, 4>>{
                       {130, 130, 100, 100}, {160, 160, 130, 130}, {190, 190, 160, 160}}));
  EXPECT_EQ(WindowGetX(number), 190);
  EXPECT_EQ(WindowGetY(number), 190);
}

// The screen point in the middle of a window's left sizing border.
POINT LeftBorder(HWND window) {
  RECT frame = FrameOf(window);
  POINT p = {frame.left + 1, (frame.top + frame.bottom) / 2};
  return p;
}

TEST_F(InputTest, LiveSizingFollowsTheMouseAndStopsAtTheMinimumTrackWidth) {
  DragFullWindows full(true);
  Open(WS_OVERLAPPEDWINDOW, 300, 200, true);
  RECT start = FrameOf(window);
  POINT edge = LeftBorder(window);
  ASSERT_EQ(SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(edge.x, edge.y)), HTLEFT);
  recorder.watched = {WM_SYSCOMMAND, WM_ENTERSIZEMOVE, WM_SIZING, WM_EXITSIZEMOVE};
  recorder.events = {WM_MOUSEMOVE, WM_LBUTTONUP};
  std::vector<RECT> sizes;
  recorder.hook = [&](HWND, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_SIZING) sizes.push_back(*reinterpret_cast<RECT*>(lParam));
  };
  ASSERT_TRUE(Xdotool("mousemove " + XdotoolPoint(edge.x, edge.y) + " sleep 0.3 mousedown 1 sleep 0.1" +
                      " mousemove " + XdotoolPoint(edge.x + 40, edge.y) + " sleep 0.1 mousemove " +
                      XdotoolPoint(start.right + 300, edge.y) + " sleep 0.1 mouseup 1"));
  DrainEvents();
  // The moves come through the program's own loop as plain mouse messages, and each one
  // reshapes the window at once.
  // The sizing command itself never reaches the callback: the sizing filter comes first.
  ExpectSequence({Msg(WM_ENTERSIZEMOVE),
                  Msg(WM_SIZING, WMSZ_LEFT), EvAny(WM_MOUSEMOVE), Msg(WM_SIZING, WMSZ_LEFT),
                  EvAny(WM_MOUSEMOVE), EvAny(WM_LBUTTONUP), Msg(WM_EXITSIZEMOVE)});
  ASSERT_EQ(sizes.size(), 2u);
  const LONG narrowest = start.right - GetSystemMetrics(SM_CXMINTRACK);
  EXPECT_EQ(sizes[0].left, edge.x + 40);
  EXPECT_EQ(sizes[1].left, narrowest);
  // The right edge never moved.
  EXPECT_EQ(FrameOf(window), (RECT{narrowest, start.top, start.right, start.bottom}));
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_FALSE(SizingStateGet()->active);
}

TEST_F(InputTest, WithoutFullWindowDraggingTheSystemSizesTheWindow) {
  DragFullWindows full(false);
  Open(WS_OVERLAPPEDWINDOW, 300, 200, true);
  RECT start = FrameOf(window);
  POINT edge = {start.right - 2, (start.top + start.bottom) / 2};
  ASSERT_EQ(SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(edge.x, edge.y)), HTRIGHT);
  recorder.watched = {WM_SYSCOMMAND, WM_ENTERSIZEMOVE, WM_EXITSIZEMOVE};
  recorder.events = {WM_MOUSEMOVE, WM_NCLBUTTONDOWN};
  ASSERT_TRUE(Xdotool("mousemove " + XdotoolPoint(edge.x, edge.y) + " sleep 0.3 mousedown 1 sleep 0.1" +
                      " mousemove " + XdotoolPoint(edge.x + 30, edge.y) + " sleep 0.1 mousemove " +
                      XdotoolPoint(edge.x + 60, edge.y) + " sleep 0.1 mouseup 1"));
  DrainEvents();
  // The command reached the default procedure, whose own loop took every mouse message.
  ExpectSequence({Msg(WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT), Msg(WM_ENTERSIZEMOVE),
                  Msg(WM_EXITSIZEMOVE), EvAny(WM_NCLBUTTONDOWN)});
  EXPECT_EQ(FrameOf(window), (RECT{start.left, start.top, start.right + 60, start.bottom}));
}

// Presses key in window and delivers events until done() holds, or 3 s pass.
bool Key(HWND window, WORD key, const std::function<bool()>& done) {
  BringToFront(window);
  PressKey(key);
  return PumpUntil(done, 3000);
}

TEST_F(InputTest, KeyboardSizingChoosesAnEdgeThenStepsItTenPixels) {
  DragFullWindows full(true);
  Open(WS_OVERLAPPEDWINDOW, 300, 200, true);
  SetFocus(window);
  RECT start = FrameOf(window);
  SizingState* state = SizingStateGet();
  recorder.watched = {WM_KEYDOWN};
  SendMessageA(window, WM_SYSCOMMAND, SC_SIZE, 0);  // the system menu's Size command: no edge
  ASSERT_TRUE(state->active);
  EXPECT_EQ(state->edge, 0);
  EXPECT_EQ(GetCapture(), window);
  // The first arrow chooses the right edge and puts the cursor 2 pixels inside it.
  ASSERT_TRUE(Key(window, VK_RIGHT, [&] { return state->edge == WMSZ_RIGHT; }));
  POINT cursor;
  GetCursorPos(&cursor);
  EXPECT_EQ(cursor.x, start.right - 2);
  EXPECT_EQ(state->rectangle, start);
  EXPECT_EQ(FrameOf(window), start);
  // Each further arrow along that axis moves the edge by 10 pixels.
  ASSERT_TRUE(Key(window, VK_RIGHT, [&] { return FrameOf(window).right == start.right + 10; }));
  ASSERT_TRUE(Key(window, VK_RIGHT, [&] { return FrameOf(window).right == start.right + 20; }));
  ASSERT_TRUE(Key(window, VK_LEFT, [&] { return FrameOf(window).right == start.right + 10; }));
  POINT stepped;
  GetCursorPos(&stepped);
  EXPECT_EQ(stepped.y, cursor.y);  // the cursor went along the axis alone
  // Down from the right edge chooses the bottom-right corner, without resizing.
  ASSERT_TRUE(Key(window, VK_DOWN, [&] { return state->edge == WMSZ_BOTTOMRIGHT; }));
  EXPECT_EQ(FrameOf(window).bottom, start.bottom);
  ASSERT_TRUE(Key(window, VK_DOWN, [&] { return FrameOf(window).bottom == start.bottom + 10; }));
  // Enter ends the sizing where it is.
  ASSERT_TRUE(Key(window, VK_RETURN, [&] { return !state->active; }));
  Flush();
  EXPECT_EQ(FrameOf(window), (RECT{start.left, start.top, start.right + 10, start.bottom + 10}));
  EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(InputTest, EscapeEndsTheSizingAtTheCurrentSizeAndKeysStillReachTheWindow) {
  DragFullWindows full(true);
  Open(WS_OVERLAPPEDWINDOW, 300, 200, true);
  SetFocus(window);
  RECT start = FrameOf(window);
  SetCursorPos((start.left + start.right) / 2, start.top);  // on the edge, as a drag would be
  Flush();
  SizingState* state = SizingStateGet();
  recorder.watched = {WM_KEYDOWN, WM_ENTERSIZEMOVE, WM_EXITSIZEMOVE};
  recorder.events = {CloseRequest};  // none expected: only the callback's messages count here
  SendMessageA(window, WM_SYSCOMMAND, SC_SIZE | WMSZ_TOP, 0);
  ASSERT_TRUE(state->active);
  ASSERT_TRUE(Key(window, VK_UP, [&] { return FrameOf(window).top == start.top - 10; }));
  ASSERT_TRUE(Key(window, VK_ESCAPE, [&] { return !state->active; }));
  DrainEvents();
  // The arrow went on to the window; Escape ended the sizing and was taken.
  ExpectSequence({Msg(WM_ENTERSIZEMOVE), Msg(WM_KEYDOWN, VK_UP), Msg(WM_EXITSIZEMOVE)});
  EXPECT_EQ(FrameOf(window).top, start.top - 10);  // not put back
  EXPECT_EQ(GetCapture(), nullptr);
}

}  // namespace
