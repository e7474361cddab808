// The MDI rules: a frame's messages and its MDI client, an MDI child's close through its client,
// with a real MDI client and child window.
#include <vector>

#include <gtest/gtest.h>

#include "core.h"
#include "frames.h"
#include "test_support.h"
#include "window.h"
#include "window_internal.h"
#include "window_test_support.h"

namespace {

std::vector<UINT> clientLog;  // MDI messages that reached the MDI client
WNDPROC clientProc;           // the MDICLIENT class procedure
bool clientKeepsChildren;     // the client ignores WM_MDIDESTROY

LRESULT CALLBACK LoggingClient(HWND client, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_MDIACTIVATE || message == WM_MDIDESTROY || message == WM_NCACTIVATE)
    clientLog.push_back(message);
  if (message == WM_MDIDESTROY && clientKeepsChildren) return 0;
  return CallWindowProcA(clientProc, client, message, wParam, lParam);
}

LRESULT CALLBACK ChildProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefMDIChildProcA(window, message, wParam, lParam);
}

// A runtime window as MDI frame, with a real MDI client and one MDI child of "MDI_ChildClass".
struct MdiTest : RecordedWindowTest {
  HWND frame = nullptr, client = nullptr, child = nullptr;
  void SetUp() override {
    Open(WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 500, 400);
    frame = window;
    CLIENTCREATESTRUCT create = {nullptr, 50000};
    client = CreateWindowExA(0, "MDICLIENT", nullptr, WS_CHILD | WS_CLIPCHILDREN | WS_VISIBLE, 0,
                             0, 200, 150, frame, nullptr, ModuleInstance, &create);
    ASSERT_NE(client, nullptr);
    clientProc = reinterpret_cast<WNDPROC>(
        SetWindowLongA(client, GWL_WNDPROC, reinterpret_cast<LONG>(LoggingClient)));
    SetPropA(frame, "XR_MDI_Gadget", client);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ChildProc;
    wc.hInstance = ModuleInstance;
    wc.lpszClassName = "MDI_ChildClass";
    RegisterClassA(&wc);
    child = CreateMDIWindowA("MDI_ChildClass", "doc", 0, 0, 0, 100, 80, client, ModuleInstance, 0);
    ASSERT_NE(child, nullptr);
    Flush();
    clientLog.clear();
  }
};

TEST_F(MdiTest, MenuCommandsAreRecordedThenGoToTheFramesDefault) {
  PostMessageA(frame, WM_COMMAND, MAKEWPARAM(50000, 0), 0);
  EXPECT_EQ(EventWait(0), MenuCommand);
  EXPECT_EQ(EventGetItem(), 50000);
  // The default frame procedure activates the child whose menu command that is.
  EXPECT_EQ(clientLog, std::vector<UINT>{WM_MDIACTIVATE});
}

TEST_F(MdiTest, TheFramesSizeNeverReachesTheFramesDefault) {
  RECT before = FrameOf(client);
  EXPECT_EQ(SendMessageA(frame, WM_SIZE, SIZE_RESTORED, MAKELPARAM(480, 380)), 0);
  EXPECT_EQ(FrameOf(client), before);  // the default would fill the frame with the client
  DrainEvents();
  ExpectSequence({Ev(WindowSized, number)});
}

TEST_F(MdiTest, FocusAndActivationGivenToTheFrameGoToTheClient) {
  SetFocus(nullptr);
  SendMessageA(frame, WM_SETFOCUS, 0, 0);
  HWND focus = GetFocus();
  EXPECT_TRUE(focus == client || IsChild(client, focus));
  // The client hands the frame's activation on to its active child's caption.
  clientLog.clear();
  SendMessageA(frame, WM_NCACTIVATE, FALSE, 0);
  EXPECT_EQ(clientLog, std::vector<UINT>{WM_NCACTIVATE});
}

TEST_F(MdiTest, AnMdiChildIsClosedThroughItsClientAndKeepsItsClass) {
  int32_t runtimeChild = WindowOpenChild(-1, 0, 0, 80, 60, "", WS_CHILD, client);
  HWND handle = WindowGetHandle(runtimeChild);
  ASSERT_NE(handle, nullptr);
  WindowSetMdiClient(runtimeChild, client);
  std::string className = ClassOf(handle);
  HWND active = GetActiveWindow();
  WindowClose(runtimeChild);
  EXPECT_EQ(clientLog, std::vector<UINT>{WM_MDIDESTROY});
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_EQ(WindowGetHandle(runtimeChild), nullptr);
  WNDCLASSA info;
  EXPECT_TRUE(GetClassInfoA(ModuleInstance, className.c_str(), &info));
  EXPECT_EQ(GetActiveWindow(), active);
  // A client that keeps its child: the window stays, a runtime window under its number.
  int32_t kept = WindowOpenChild(-1, 0, 0, 80, 60, "", WS_CHILD, client);
  WindowSetMdiClient(kept, client);
  clientKeepsChildren = true;
  WindowClose(kept);
  clientKeepsChildren = false;
  ASSERT_TRUE(IsWindow(WindowGetHandle(kept)));
  EXPECT_EQ(GetPropA(WindowGetHandle(kept), "XR_WindowID"), reinterpret_cast<HANDLE>(kept + 1));
  WindowMessageHandler(WindowGetHandle(kept), WM_CLOSE, 0, 0);
  EXPECT_EQ(EventGetWindow(), kept);
}

}  // namespace
