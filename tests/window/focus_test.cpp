// Tab and Shift+Tab: the order of tab stops both ways, what is never focused, the key being
// swallowed, rich edit controls, MDI children as navigation roots, and threads without an active
// window. Keys are real input (SendInput) into a shown, active window.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core.h"
#include "test_support.h"
#include "window.h"
#include "window_internal.h"
#include "window_test_support.h"

namespace {

std::vector<std::string> controlLog;  // key messages that reached a subclassed control
WNDPROC buttonProc;                   // the BUTTON class procedure

LRESULT CALLBACK KeyLoggingButton(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN || message == WM_CHAR)
    controlLog.push_back((message == WM_KEYDOWN ? "keydown " : "char ") + std::to_string(wParam));
  return CallWindowProcA(buttonProc, control, message, wParam, lParam);
}

// A shown window with controls A, B, F (no WS_TABSTOP), C, D (disabled) and E (hidden), in
// that Z order.
struct FocusTest : RecordedWindowTest {
  HWND a = nullptr, b = nullptr, c = nullptr, d = nullptr, e = nullptr, f = nullptr;
  HWND Button(const char* name, DWORD style, int y, HWND parent = nullptr) {
    HWND button = CreateWindowExA(0, "BUTTON", name, WS_CHILD | WS_VISIBLE | style, 10, y, 80, 20,
                                  parent ? parent : window, nullptr, nullptr, nullptr);
    buttonProc = reinterpret_cast<WNDPROC>(
        SetWindowLongA(button, GWL_WNDPROC, reinterpret_cast<LONG>(KeyLoggingButton)));
    return button;
  }
  void SetUp() override {
    Open(0x00C80000, 400, 300);
    a = Button("A", WS_TABSTOP, 10);
    b = Button("B", WS_TABSTOP, 40);
    f = Button("F", 0, 70);
    c = Button("C", WS_TABSTOP, 100);
    d = Button("D", WS_TABSTOP | WS_DISABLED, 130);
    e = Button("E", WS_TABSTOP, 160);
    ShowWindow(e, SW_HIDE);
    ASSERT_TRUE(BringToFront(window));
    Flush(100);
    ASSERT_EQ(GetActiveWindow(), window);
    ASSERT_EQ(ChildOrder(window), (std::vector<HWND>{a, b, f, c, d, e}));
  }
  static BOOL CALLBACK Collect(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
  }
  static std::vector<HWND> ChildOrder(HWND parent) {
    std::vector<HWND> order;
    EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&order));
    return order;
  }
  // Presses Tab (Shift+Tab when backward) with the focus where the test put it, and delivers
  // events until the focus has moved on to another window, or 2 s pass; the focus then.
  HWND Tab(bool backward = false) {
    HWND from = GetFocus();
    BringToFront(window);
    if (GetFocus() != from) SetFocus(from);
    PressKey(VK_TAB, backward);
    PumpUntil([&] { return GetFocus() != from && GetFocus() != nullptr; }, 2000);
    Flush();
    return GetFocus();
  }
  // Sends the accelerator's command for Tab or Shift+Tab straight to the window.
  HWND Command(bool backward) {
    WORD command = backward ? FocusPreviousCommand : FocusNextCommand;
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(command, 1), 0);
    return GetFocus();
  }
};

TEST_F(FocusTest, TabAndShiftTabCycleThroughTheTabStopsInOrder) {
  SetFocus(c);
  EXPECT_EQ(Tab(), a);  // the last wraps to the first
  EXPECT_EQ(Tab(), b);
  EXPECT_EQ(Tab(), c);  // F has no WS_TABSTOP
  EXPECT_EQ(Tab(), a);  // D is disabled, E hidden
  EXPECT_EQ(Tab(true), c);  // the first wraps back to the last
  EXPECT_EQ(Tab(true), b);
  EXPECT_EQ(Tab(true), a);
}

TEST_F(FocusTest, TheTabKeyIsTranslatedAndNeverDispatched) {
  SetFocus(a);
  BringToFront(window);
  controlLog.clear();
  recorder.watched = {WM_COMMAND, WM_KEYDOWN};
  recorder.events = {WM_KEYDOWN, WM_KEYUP, WM_CHAR};
  PressKey(VK_TAB);
  PumpUntil([&] { return GetFocus() == b; }, 2000);
  DrainEvents();
  // EventWait returns the key's message number; the window got the command instead; the
  // control never saw the key go down, only come up.
  ExpectSequence({Msg(WM_COMMAND, MAKEWPARAM(FocusNextCommand, 1), 0), EvAny(WM_KEYDOWN),
                  EvAny(WM_KEYUP)});
  EXPECT_TRUE(controlLog.empty()) << controlLog.front();
  EXPECT_EQ(GetFocus(), b);
}

// From a focused control without WS_TABSTOP, Tab and Shift+Tab lead to its neighbours; from
// outside the controls (the window itself is no child of itself, or no focus at all), to the
// first and the last tab stop.
TEST_F(FocusTest, FromAControlWithoutTabStopOrOutsideTheControlsTheNeighboursOrTheEndsAreNext) {
  const struct { HWND from; bool backward, command; HWND to; } steps[] = {
      {f, false, false, c},      {f, true, false, b},      {window, false, false, a},
      {window, true, false, c},  {nullptr, false, true, a}, {nullptr, true, true, c}};
  for (const auto& step : steps) {
    SetFocus(step.from);
    EXPECT_EQ(step.command ? Command(step.backward) : Tab(step.backward), step.to)
        << step.from << (step.backward ? " backward" : " forward");
  }
}

TEST_F(FocusTest, AnEditableRichEditControlKeepsPlainTabButNotShiftTab) {
  ASSERT_NE(LoadLibraryA("riched20.dll"), nullptr);
  HWND rich = CreateWindowExA(0, "RichEdit20A", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP |
                              ES_MULTILINE | ES_WANTRETURN, 100, 10, 200, 100, window, nullptr,
                              nullptr, nullptr);
  ASSERT_NE(rich, nullptr);
  SetFocus(rich);
  EXPECT_EQ(WindowGetAccelerators(window), WindowFind(number)->acceleratorTable);
  BringToFront(window);
  PressKey(VK_TAB);
  PumpUntil([&] { return GetWindowTextLengthA(rich) > 0; }, 2000);
  Flush();
  EXPECT_EQ(GetFocus(), rich);
  char text[8] = "";
  GetWindowTextA(rich, text, sizeof text);
  EXPECT_STREQ(text, "\t");  // the control took the key itself
  EXPECT_EQ(Tab(true), c);  // Shift+Tab is translated even there: back to the tab stop before
  SetFocus(rich);
  SendMessageA(rich, EM_SETREADONLY, TRUE, 0);
  EXPECT_EQ(Tab(), a);  // read-only: Tab moves on, past the last tab stop to the first
}

TEST_F(FocusTest, AForeignActiveWindowHasNoAccelerators) {
  HWND foreign = CreatePlain("FocusForeign", DefWindowProcA, WS_POPUP, nullptr, 0, 0, 10, 10);
  EXPECT_EQ(WindowGetAccelerators(foreign), nullptr);
  EXPECT_EQ(WindowGetAccelerators(nullptr), nullptr);
  EXPECT_NE(WindowGetAccelerators(window), nullptr);
  DestroyWindow(foreign);
}

TEST_F(FocusTest, AnMdiChildAroundTheFocusIsTheNavigationRoot) {
  HWND outer = CreatePlain("MDI_ChildClass", DefWindowProcA, WS_CHILD | WS_VISIBLE, window, 150,
                           10, 200, 250);
  HWND inner = CreatePlain("MDI_ChildClass", DefWindowProcA, WS_CHILD | WS_VISIBLE, outer, 0, 0,
                           200, 200);
  HWND m1 = Button("M1", WS_TABSTOP, 10, inner);
  HWND m2 = Button("M2", WS_TABSTOP, 40, inner);
  HWND m3 = Button("M3", WS_TABSTOP, 210, outer);  // in the outer child, after the inner one
  SetFocus(m2);
  EXPECT_EQ(Tab(), m3);  // the outermost MDI child is the root: A, B and C are out of reach
  EXPECT_EQ(Tab(), m1);
  EXPECT_EQ(Tab(true), m3);
  SetFocus(outer);  // the MDI child itself is no current position
  EXPECT_EQ(Tab(), m1);
}

// A thread that has a shown top-level window with WS_MAXIMIZEBOX (which is WS_TABSTOP's bit)
// but no active window steps the focus forward.
DWORD WINAPI StepWithoutActiveWindow(void* result) {
  HWND own = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_MAXIMIZEBOX, 600, 500, 50, 50,
                             nullptr, nullptr, nullptr, nullptr);
  ShowWindow(own, SW_SHOWNOACTIVATE);
  bool noneActive = GetActiveWindow() == nullptr;
  FocusStep(0);
  *static_cast<int*>(result) = noneActive ? (GetActiveWindow() == nullptr ? 1 : 2) : 3;
  DestroyWindow(own);
  return 0;
}

TEST_F(FocusTest, AThreadWithoutAnActiveWindowMovesNoFocus) {
  SetFocus(b);
  int result = 0;
  ASSERT_TRUE(RunOnThread([&] { StepWithoutActiveWindow(&result); }));
  EXPECT_EQ(result, 1);  // 2: the step activated a top-level window; 3: the set-up failed
  EXPECT_EQ(GetForegroundWindow(), window);
  EXPECT_EQ(GetFocus(), b);
}

}  // namespace
