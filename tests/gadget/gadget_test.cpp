// The gadget table and per-thread gadget state: their shape after start-up, each
// thread's own state and list block, and selecting the parent window for new gadgets.
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "core.h"
#include "gadget.h"
#include "test_support.h"
#include "window.h"
#include "window_internal.h"

namespace {

TEST(GadgetTable, StartUpMakesATableOfFiftySlotsThatFreesThroughGadgetRelease) {
  ASSERT_NE(GadgetTable, nullptr);
  // The capacity is 50, rounded up to a power of two.
  EXPECT_EQ(std::make_tuple(GadgetTable->recordSize, GadgetTable->blockCapacity,
                            GadgetTable->freeCallback),
            std::make_tuple(28, 64, &GadgetRelease));
  EXPECT_EQ(DefaultGuiFont, GetStockObject(DEFAULT_GUI_FONT));
  EXPECT_EQ(GadgetFind(0), nullptr);
  EXPECT_EQ(GadgetFind(-1), nullptr);
  // Without the thread-local slot that hands each message's gadget on, start-up stops.
  EXPECT_EXIT({ ExhaustTlsSlots(); GadgetLibraryInit(); exit(0); },
              testing::ExitedWithCode(static_cast<int>(CoreOutOfResourcesExitCode)), "");
}

TEST(GadgetTable, TheFirstThreadsStateHasTheDefaultFontAndATenEntryList) {
  GadgetThreadState* state = GadgetThreadStateGet();
  EXPECT_EQ(std::make_tuple(state->parent, state->second, state->font, state->listCapacity),
            std::make_tuple(HWND{}, 0u, GetStockObject(DEFAULT_GUI_FONT), 10));
  ASSERT_NE(state->list, nullptr);
  EXPECT_EQ(HeapSize(MainHeap, 0, state->list), 40u);
  EXPECT_EQ(std::vector<int32_t>(state->list, state->list + 10), std::vector<int32_t>(10, 0));
}

// What a second thread saw of its own gadget state.
struct ThreadView {
  GadgetThreadState state;  // a copy of the thread's state
  GadgetThreadState* where;  // where the thread's state lies
  HWND selected;             // what GadgetListSelect returned there
};

// (The thread's state and list go when the watcher has seen it end: the books show any left.)
TEST(GadgetTable, EveryThreadHasItsOwnStateWhoseListGoesWithTheThread) {
  HWND mine = reinterpret_cast<HWND>(0x5678);
  EXPECT_EQ(GadgetListSelect(mine), mine);
  ThreadView view = {};
  ASSERT_TRUE(RunOnThread([&] {
    view.where = GadgetThreadStateGet();
    view.state = *view.where;
    view.selected = GadgetListSelect(reinterpret_cast<HWND>(0x1234));
  }));
  EXPECT_NE(view.where, GadgetThreadStateGet());
  // Selecting on this thread did not reach that one.
  EXPECT_EQ(std::make_tuple(view.state.parent, view.state.second, view.state.font,
                            view.state.listCapacity),
            std::make_tuple(HWND{}, 0u, GetStockObject(DEFAULT_GUI_FONT), 10));
  EXPECT_NE(view.state.list, GadgetThreadStateGet()->list);
  EXPECT_EQ(view.selected, reinterpret_cast<HWND>(0x1234));
  EXPECT_EQ(GadgetThreadStateGet()->parent, mine);
}

TEST(GadgetTable, SelectingAParentClearsTheSecondField) {
  GadgetThreadStateGet()->second = 9;
  HWND window = WindowGetHandle(WindowOpen(-1, 0, 0, 50, 50, "", WindowHidden));
  EXPECT_EQ(GadgetListSelect(window), window);
  EXPECT_EQ(GadgetThreadStateGet()->parent, window);
  EXPECT_EQ(GadgetThreadStateGet()->second, 0u);
  EXPECT_EQ(GadgetListSelect(nullptr), nullptr);  // not checked: null is taken as given
  EXPECT_EQ(GadgetThreadStateGet()->parent, nullptr);
}

}  // namespace
