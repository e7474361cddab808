// Gadget plumbing: attaching controls, the subclass procedure and the control's end, releasing
// by number, notifications, gadget events, and controls that are not gadgets. Hidden windows.
#include <string>
#include <vector>

#include <atomic>

#include <gtest/gtest.h>

#include "core.h"
#include "gadget.h"
#include "test_support.h"
#include "window.h"
#include "window_internal.h"
#include "window_test_support.h"

namespace {

// What the test gadget type's operations saw.
std::vector<std::string> calls;
LRESULT notifyResult = NotHandled;
GadgetRecord* lastNotified;

LRESULT TestNotify(GadgetRecord* gadget, HWND, UINT message, WPARAM, LPARAM) {
  lastNotified = gadget;
  calls.push_back("notify " + std::to_string(message));
  return notifyResult;
}

void TestRelease(GadgetRecord* gadget) {
  calls.push_back("release " + std::to_string(GetWindowLongA(gadget->handle, GWL_ID)));
}

GadgetType MakeType(bool withOperations) {
  GadgetType type = {};
  type.kind = 77;
  type.size = sizeof(GadgetType);
  if (withOperations) {
    type.notify = TestNotify;
    type.release = TestRelease;
  }
  return type;
}

GadgetType testType = MakeType(true);
GadgetType bareType = MakeType(false);

// A hidden runtime window with a button in it, ready to become a gadget.
struct GadgetPlumbing : RecordedWindowTest {
  void SetUp() override { Open(); }
  HWND Button(int id = 0) {
    return CreateWindowExA(0, "BUTTON", "b", WS_CHILD | WS_VISIBLE, 0, 0, 30, 20, window,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
  }
  // Creates a button and attaches it under gadgetNumber; GadgetAttach's result.
  int32_t Attach(int32_t gadgetNumber, HWND* control, const GadgetType* type = &testType) {
    *control = Button();
    auto* record = static_cast<GadgetRecord*>(ObjectAllocate(GadgetTable, gadgetNumber));
    return GadgetAttach(gadgetNumber, record, *control, type);
  }
};

TEST_F(GadgetPlumbing, AttachSubclassesNumbersAndSetsTheFont) {
  HWND control = Button();
  auto classProc = reinterpret_cast<WNDPROC>(GetWindowLongA(control, GWL_WNDPROC));
  GadgetThreadStateGet()->second = 5;
  auto* record = static_cast<GadgetRecord*>(ObjectAllocate(GadgetTable, 4));
  EXPECT_EQ(GadgetAttach(4, record, control, &testType),
            static_cast<int32_t>(reinterpret_cast<uintptr_t>(control)));
  EXPECT_EQ(record->handle, control);
  EXPECT_EQ(record->type, &testType);
  EXPECT_EQ(record->previousProc, classProc);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongA(control, GWL_WNDPROC)), GadgetSubclassProc);
  EXPECT_EQ(GetWindowLongA(control, GWL_ID), 4);
  EXPECT_EQ(GetPropA(control, "XR_ID"), reinterpret_cast<HANDLE>(4));
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)),
            GetStockObject(DEFAULT_GUI_FONT));
  EXPECT_EQ(GadgetThreadStateGet()->second, 0u);
  EXPECT_EQ(GadgetFind(4), record);
  // Messages pass through to the class procedure.
  SetWindowTextA(control, "passed");
  char text[16] = "";
  GetWindowTextA(control, text, sizeof text);
  EXPECT_STREQ(text, "passed");
}

TEST_F(GadgetPlumbing, AControlLeadsToItsOwnLiveGadgetOnly) {
  HWND control = nullptr;
  Attach(5, &control);
  ASSERT_NE(GadgetFind(5), nullptr);
  int32_t found = 0;
  EXPECT_EQ(GadgetOfControl(control, &found), GadgetFind(5));
  EXPECT_EQ(found, 5);
  // A plain control whose identifier names gadget 5, whose control it is not; and no control.
  EXPECT_EQ(GadgetOfControl(Button(5), &found), nullptr);
  EXPECT_EQ(found, -1);
  EXPECT_EQ(GadgetOfControl(nullptr, &found), nullptr);
  // An identifier changed behind the gadget's back: "XR_ID" still leads to the gadget.
  SetWindowLongA(control, GWL_ID, 12);
  EXPECT_EQ(GadgetOfControl(control, &found), GadgetFind(5));
  EXPECT_EQ(found, 5);
}

TEST_F(GadgetPlumbing, DynamicAttachNumbersTheGadgetByItsRecord) {
  HWND control = nullptr;
  int32_t gadget = Attach(-1, &control);
  ASSERT_NE(gadget, 0);
  GadgetRecord* record = GadgetFind(gadget);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(gadget, static_cast<int32_t>(reinterpret_cast<uintptr_t>(record)));
  EXPECT_EQ(GetWindowLongA(control, GWL_ID), gadget);
  EXPECT_EQ(GetPropA(control, "XR_ID"), reinterpret_cast<HANDLE>(static_cast<intptr_t>(gadget)));
}

TEST_F(GadgetPlumbing, AttachToARecordTheTableCannotHoldFailsAndLeavesTheControl) {
  HWND control = Button(33);
  auto classProc = GetWindowLongA(control, GWL_WNDPROC);
  auto* scratch = static_cast<GadgetRecord*>(ObjectAllocate(GadgetTable, -9));
  EXPECT_EQ(GadgetAttach(-9, scratch, control, &testType), 0);
  EXPECT_EQ(GetWindowLongA(control, GWL_WNDPROC), classProc);
  EXPECT_EQ(GetWindowLongA(control, GWL_ID), 33);
  EXPECT_EQ(GetPropA(control, "XR_ID"), nullptr);
  EXPECT_EQ(scratch->handle, nullptr);
}

TEST_F(GadgetPlumbing, DestroyingTheControlReleasesTheGadgetOnce) {
  HWND control = nullptr;
  Attach(6, &control);
  DestroyWindow(control);
  EXPECT_EQ(calls, std::vector<std::string>{"release 6"});
  EXPECT_EQ(GadgetFind(6), nullptr);
  // Destroying the parent window releases its gadgets too.
  HWND first = nullptr, second = nullptr;
  Attach(7, &first);
  int32_t dynamic = Attach(-1, &second);
  calls.clear();
  WindowClose(number);
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_EQ(GadgetFind(7), nullptr);
  EXPECT_EQ(GadgetFind(dynamic), nullptr);
}

TEST_F(GadgetPlumbing, ReleasingTheGadgetsNumberDestroysItsControl) {
  HWND control = nullptr;
  Attach(8, &control);
  GadgetRelease(8);
  EXPECT_FALSE(IsWindow(control));
  EXPECT_EQ(GadgetFind(8), nullptr);
  GadgetRelease(8);  // nothing left to release
  // Reusing a number destroys the control that had it.
  HWND old = nullptr, replacement = nullptr;
  Attach(9, &old);
  Attach(9, &replacement);
  EXPECT_FALSE(IsWindow(old));
  EXPECT_TRUE(IsWindow(replacement));
  EXPECT_EQ(GadgetFind(9)->handle, replacement);
}

TEST_F(GadgetPlumbing, ATypeWithoutReleaseOperationStillFreesTheNumber) {
  HWND control = nullptr;
  Attach(3, &control, &bareType);
  DestroyWindow(control);
  EXPECT_EQ(GadgetFind(3), nullptr);
  EXPECT_TRUE(calls.empty());
  // A record of a control that is gone, without a type at all.
  static_cast<GadgetRecord*>(ObjectAllocate(GadgetTable, 4))->handle = control;
  GadgetRelease(4);
  EXPECT_EQ(GadgetFind(4), nullptr);
}

TEST_F(GadgetPlumbing, NotificationsGoToTheGadgetWhoseControlSentThem) {
  HWND control = nullptr;
  Attach(2, &control);
  auto from = reinterpret_cast<LPARAM>(control);
  notifyResult = 0x55;
  EXPECT_EQ(SendMessageA(window, WM_CTLCOLORSTATIC, 0, from), 0x55);
  EXPECT_EQ(SendMessageA(window, WM_HSCROLL, 0, from), 0x55);
  EXPECT_EQ(SendMessageA(window, GadgetForwardMessage, 0, from), 0x55);
  NMHDR header = {control, 2, 0};
  EXPECT_EQ(SendMessageA(window, WM_NOTIFY, 2, reinterpret_cast<LPARAM>(&header)), 0x55);
  EXPECT_EQ(lastNotified, GadgetFind(2));
  // A command the gadget handles makes no event; one it does not becomes a gadget action.
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(2, BN_CLICKED), from);
  EXPECT_EQ(EventWait(0), WM_COMMAND);
  notifyResult = NotHandled;
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(2, BN_CLICKED), from);
  EXPECT_EQ(EventWait(0), GadgetAction);
  EXPECT_EQ(EventGetItem(), 2);
  EXPECT_EQ(EventGetType(), BN_CLICKED);
  EXPECT_EQ(calls, (std::vector<std::string>{"notify 312", "notify 276", "notify 13120",
                                             "notify 78", "notify 273", "notify 273"}));
}

TEST_F(GadgetPlumbing, AControlWithoutTheGadgetPropertyIsNeverHandedToAGadget) {
  HWND gadgetZero = nullptr;
  Attach(0, &gadgetZero);
  notifyResult = 0x66;
  // A plain control whose identifier is 0, like gadget 0's: its missing "XR_ID" also reads 0.
  HWND plain = Button(0);
  EXPECT_EQ(GadgetNotify(plain, window, WM_CTLCOLORBTN, 0, 0), NotHandled);
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(plain));
  EXPECT_EQ(EventWait(0), GadgetAction);
  EXPECT_EQ(EventGetItem(), 0);
  EXPECT_EQ(GadgetNotify(nullptr, window, WM_CTLCOLORBTN, 0, 0), NotHandled);
  // Notification records any process could send: no readable record, or one naming a control
  // of another window; from this thread and from another.
  NMHDR stray = {gadgetZero, 0, 0};
  HWND other = WindowGetHandle(OpenHidden());
  for (LPARAM hostile : {LPARAM{0x7FFFFFF0}, LPARAM{1}, reinterpret_cast<LPARAM>(&stray)}) {
    EXPECT_EQ(SendMessageA(other, WM_NOTIFY, 0, hostile), 0);
    EXPECT_TRUE(RunOnThread([&] { SendMessageA(other, WM_NOTIFY, 0, hostile); }));
  }
  EXPECT_EQ(SendMessageA(window, WM_NOTIFY, 0, 0x7FFFFFF0), 0);
  EXPECT_TRUE(calls.empty());
  // Gadget 0 itself, also once its identifier no longer matches its property.
  EXPECT_EQ(GadgetNotify(gadgetZero, window, WM_CTLCOLORBTN, 0, 0), 0x66);
  SetWindowLongA(gadgetZero, GWL_ID, 12);
  EXPECT_EQ(GadgetNotify(gadgetZero, window, WM_CTLCOLORBTN, 0, 0), 0x66);
}

TEST_F(GadgetPlumbing, PostedGadgetEventsReachTheOwningWindow) {
  HWND inner = CreatePlain("PlumbInner", DefWindowProcA, WS_CHILD, window, 0, 0, 50, 50);
  HWND control = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, inner, nullptr,
                                 nullptr, nullptr);
  auto* record = static_cast<GadgetRecord*>(ObjectAllocate(GadgetTable, 11));
  GadgetAttach(11, record, control, &testType);
  GadgetPostEvent(control, 11, AGadgetEventType);
  EXPECT_EQ(EventWait(0), GadgetAction);
  EXPECT_EQ(EventGetItem(), 11);
  EXPECT_EQ(EventGetType(), AGadgetEventType);
  EXPECT_EQ(EventGetWindow(), number);
}

TEST_F(GadgetPlumbing, AGadgetWhoseIdentifierWasChangedIsFoundByItsPropertyToTheEnd) {
  HWND control = nullptr;
  Attach(5, &control);
  LRESULT buttonCode = SendMessageA(Button(), WM_GETDLGCODE, 0, 0);
  ASSERT_NE(buttonCode, 0);  // what a button answers and the default procedure does not
  SetWindowLongA(control, GWL_ID, 40);  // no gadget 40
  EXPECT_EQ(SendMessageA(control, WM_USER + 7, 0, 0), 0);
  EXPECT_EQ(SendMessageA(control, WM_GETDLGCODE, 0, 0), buttonCode);
  SetWindowLongA(control, GWL_ID, 5);
  SetWindowTextA(control, "back");
  char text[8] = "";
  GetWindowTextA(control, text, sizeof text);
  EXPECT_STREQ(text, "back");
  // Destroyed with a changed identifier: released once, by its own number.
  SetWindowLongA(control, GWL_ID, 40);
  DestroyWindow(control);
  EXPECT_EQ(calls, std::vector<std::string>{"release 40"});
  EXPECT_EQ(GadgetFind(5), nullptr);
  // A control whose "XR_ID" names another control's gadget: the record is not its own, so it
  // gets the default procedure and that gadget is left alone.
  HWND real = nullptr;
  Attach(6, &real);
  HWND impostor = Button(6);
  SetPropA(impostor, "XR_ID", reinterpret_cast<HANDLE>(6));
  SetWindowLongA(impostor, GWL_WNDPROC, reinterpret_cast<LONG>(GadgetSubclassProc));
  EXPECT_EQ(SendMessageA(impostor, WM_GETDLGCODE, 0, 0), 0);
  DestroyWindow(impostor);
  ASSERT_NE(GadgetFind(6), nullptr);
  EXPECT_EQ(GadgetFind(6)->handle, real);
  EXPECT_EQ(calls.size(), 1u);
  // An image gadget with a changed identifier still paints its picture, keeps its drag state
  // and reports under its own number.
  HDC screen = GetDC(nullptr), dc = CreateCompatibleDC(screen);
  HBITMAP picture = CreateCompatibleBitmap(screen, 8, 8), canvas = CreateCompatibleBitmap(screen, 8, 8);
  RECT all = {0, 0, 8, 8};
  SelectObject(dc, picture);
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SelectObject(dc, canvas);  // black
  GadgetListSelect(window);
  int32_t image = ImageGadgetCreate(-1, 0, 0, 8, 8, picture);
  HWND shown = GadgetGetHandle(image);
  SetWindowLongA(shown, GWL_ID, 40);
  EXPECT_EQ(SendMessageA(shown, STM_GETIMAGE, IMAGE_BITMAP, 0), reinterpret_cast<LRESULT>(picture));
  SendMessageA(shown, WM_PRINT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  EXPECT_EQ(GetPixel(dc, 4, 4), RGB(255, 255, 255));
  SendMessageA(shown, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
  SendMessageA(shown, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(7, 1));
  for (int32_t type : {ImageGadgetLeftClick, ImageGadgetDragStart}) {
    EXPECT_EQ(EventWait(0), GadgetAction);
    EXPECT_EQ(EventGetItem(), image);
    EXPECT_EQ(EventGetType(), type);
  }
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  for (HBITMAP bitmap : {picture, canvas}) DeleteObject(bitmap);
}

TEST_F(GadgetPlumbing, AControlThatCannotBeDestroyedFromHereKeepsItsNumber) {
  // Gadget 12's control and a dynamic gadget's belong to another thread, which ends when told,
  // taking them along.
  HWND foreign = nullptr;
  int32_t dynamic = 0;
  std::atomic<bool> attached{false}, end{false};
  TestThread owner([&] {
    HWND parent = WindowGetHandle(OpenHidden());
    foreign = CreateWindowExA(0, "BUTTON", "f", WS_CHILD, 0, 0, 30, 20, parent, nullptr, nullptr,
                              nullptr);
    GadgetAttach(12, static_cast<GadgetRecord*>(ObjectAllocate(GadgetTable, 12)), foreign,
                 &testType);
    HWND other = CreateWindowExA(0, "BUTTON", "d", WS_CHILD, 0, 0, 30, 20, parent, nullptr,
                                 nullptr, nullptr);
    dynamic = GadgetAttach(-1, static_cast<GadgetRecord*>(ObjectAllocate(GadgetTable, -1)), other,
                           &bareType);
    attached = true;
    WaitUntil([&] { return end.load(); }, 10000);
  });
  ASSERT_TRUE(WaitUntil([&] { return attached.load(); }, 5000));
  ASSERT_NE(GadgetFind(12), nullptr);
  GadgetRelease(12);
  EXPECT_TRUE(IsWindow(foreign));
  ASSERT_NE(GadgetFind(12), nullptr);
  EXPECT_EQ(GadgetFind(12)->handle, foreign);
  // Attaching another control under the number fails and leaves both controls as they were.
  HWND control = nullptr;
  EXPECT_EQ(Attach(12, &control), 0);
  EXPECT_EQ(GadgetFind(12)->handle, foreign);
  EXPECT_EQ(GetPropA(control, "XR_ID"), nullptr);
  EXPECT_EQ(GetPropA(foreign, "XR_ID"), reinterpret_cast<HANDLE>(12));
  // The thread ends: its controls die without a message, and its end releases both gadgets
  // (the dead control's release reads identifier 0), their records and numbers.
  ASSERT_NE(GadgetFind(dynamic), nullptr);
  calls.clear();
  end = true;
  EXPECT_TRUE(owner.Join());
  EXPECT_FALSE(IsWindow(foreign));
  EXPECT_TRUE(WaitUntil([&] { return GadgetFind(dynamic) == nullptr; }));
  EXPECT_EQ(GadgetFind(12), nullptr);
  EXPECT_EQ(GadgetFind(dynamic), nullptr);
  EXPECT_EQ(GadgetGetHandle(12), nullptr);
  EXPECT_EQ(calls, std::vector<std::string>{"release 0"});
  int32_t again = Attach(12, &control);
  EXPECT_EQ(again, static_cast<int32_t>(reinterpret_cast<uintptr_t>(control)));
  EXPECT_EQ(GadgetFind(12)->handle, control);
  EXPECT_EQ(calls.size(), 1u);
}

}  // namespace
