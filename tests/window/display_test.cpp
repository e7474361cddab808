// Shown windows: the lens window's frame and client area, the show state the flags ask for and
// what minimising and maximising report, and closing an owned window.
#include <gtest/gtest.h>

#include "core.h"
#include "frames.h"
#include "gadget.h"
#include "test_support.h"
#include "window.h"
#include "window_internal.h"
#include "window_test_support.h"

namespace {

TEST(WindowDisplay, TheLensWindowHasExactlyTheClientAreaAskedAtItsPlace) {
  int32_t number = WindowOpen(-1, 100, 100, 520, 220, "Lunetrix", 0x00C80000);
  HWND window = WindowGetHandle(number);
  ASSERT_NE(window, nullptr);
  Flush();
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_FALSE(IsIconic(window));
  EXPECT_FALSE(IsZoomed(window));
  RECT client, frame = FrameOf(window);
  GetClientRect(window, &client);
  EXPECT_EQ(client, (RECT{0, 0, 520, 220}));
  EXPECT_EQ(frame.left, 100);
  EXPECT_EQ(frame.top, 100);
  EXPECT_EQ(WindowGetX(number), 100);
  EXPECT_EQ(WindowGetY(number), 100);
  LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX),
            WS_CAPTION | WS_SYSMENU);
  // The client area lies inside the frame on the screen, wherever the frame's edges are.
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  EXPECT_GT(origin.x, frame.left);
  EXPECT_GT(origin.y, frame.top);
  EXPECT_EQ(origin.x + 520 + (origin.x - frame.left), frame.right);
  // Started without the gadget library: no gadget table and no gadget state to select a parent in.
  EXPECT_EQ(GadgetTable, nullptr);
  EXPECT_EQ(GadgetListSelect(window), nullptr);
  EXPECT_EQ(ImageGadgetCreate(-1, 10, 10, 50, 50, nullptr), 0);
}

TEST(WindowDisplay, FlagsChooseTheShowStateAndMaximisedWinsOverMinimised) {
  HWND plain = WindowGetHandle(WindowOpen(-1, 40, 40, 200, 100, "plain", 0));
  HWND both = WindowGetHandle(
      WindowOpen(-1, 50, 50, 200, 100, "", WS_OVERLAPPEDWINDOW | WS_MAXIMIZE | WS_MINIMIZE));
  HWND minimised =
      WindowGetHandle(WindowOpen(-1, 60, 60, 200, 100, "", WS_OVERLAPPEDWINDOW | WS_MINIMIZE));
  HWND maximised =
      WindowGetHandle(WindowOpen(-1, 70, 70, 200, 100, "", WS_OVERLAPPEDWINDOW | WS_MAXIMIZE));
  Flush();
  EXPECT_TRUE(IsWindowVisible(plain));  // no style given: captioned and shown normally
  EXPECT_EQ(GetWindowLongA(plain, GWL_STYLE) & WS_CAPTION, WS_CAPTION);
  EXPECT_FALSE(IsZoomed(plain) || IsIconic(plain));
  EXPECT_TRUE(IsZoomed(both));
  EXPECT_TRUE(IsIconic(minimised));
  EXPECT_TRUE(IsZoomed(maximised));
  EXPECT_FALSE(IsIconic(maximised));
  // Minimising and maximising a shown window: the callback sees each WM_SIZE, and every size
  // but the minimised one becomes an event. The other windows go first, with their events.
  for (HWND other : {both, minimised, maximised}) WindowClose(WindowNumberOf(other));
  int32_t number = WindowNumberOf(plain);
  EventSetCallback(RecordingCallback);
  recorder.watched = {WM_SIZE};
  recorder.events = {WindowSized};
  DrainEvents();
  recorder.log.clear();
  ShowWindow(plain, SW_MINIMIZE);
  DrainEvents();
  ExpectSequence({Msg(WM_SIZE, SIZE_MINIMIZED)});
  ShowWindow(plain, SW_MAXIMIZE);
  DrainEvents();
  ExpectSequence({Msg(WM_SIZE, SIZE_MAXIMIZED), Ev(WindowSized, number)});
  ShowWindow(plain, SW_RESTORE);
  DrainEvents();
  ExpectSequence({Msg(WM_SIZE, SIZE_RESTORED), Ev(WindowSized, number)});
}

TEST(WindowDisplay, ClosingAnOwnedWindowActivatesItsOwner) {
  int32_t owner = WindowOpen(-1, 50, 50, 300, 200, "owner", 0x00C80000);
  int32_t owned =
      WindowOpenChild(-1, 80, 80, 150, 100, "owned", 0x00C80000, WindowGetHandle(owner));
  Flush();
  EXPECT_EQ(GetWindow(WindowGetHandle(owned), GW_OWNER), WindowGetHandle(owner));
  EXPECT_EQ(GetActiveWindow(), WindowGetHandle(owned));
  WindowClose(owned);
  Flush();
  EXPECT_EQ(GetActiveWindow(), WindowGetHandle(owner));
}

}  // namespace
