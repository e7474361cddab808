// The gadget table and each thread's gadget state.
//
// Invariants:
// - GadgetTable and GadgetThreadSlice are written once, by GadgetTableInit at start-up on the
//   main thread, and only read afterwards.
// - A thread's list block is owned by its gadget state from the slice's init to its free.
#include "gadget.h"

ObjectTable* GadgetTable;
int32_t GadgetThreadSlice;
HFONT DefaultGuiFont;

// Init operation of the gadget slice: the default font and a zeroed list block.
static void GadgetThreadStateInit(void* slice) {
  auto* state = static_cast<GadgetThreadState*>(slice);
  state->font = DefaultGuiFont;
  state->second = 0;
  state->list = static_cast<int32_t*>(
      HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, GadgetListEntries * sizeof(int32_t)));
  state->listCapacity = state->list != nullptr ? GadgetListEntries : 0;
}

// Free operation of the gadget slice: the list block goes back to MainHeap.
static void GadgetThreadStateFree(void* slice) {
  auto* state = static_cast<GadgetThreadState*>(slice);
  if (state->list != nullptr) HeapFree(MainHeap, 0, state->list);
  state->list = nullptr;
  state->listCapacity = 0;
}

void GadgetTableInit(void) {
  DefaultGuiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  GadgetTable = ObjectTableCreate(sizeof(GadgetRecord), 50, GadgetRelease);
  GadgetThreadSlice =
      ThreadDataRegister(sizeof(GadgetThreadState), GadgetThreadStateInit, GadgetThreadStateFree);
}

HWND GadgetListSelect(HWND window) {
  GadgetThreadState* state = GadgetThreadStateGet();
  state->parent = window;
  state->second = 0;
  return window;
}

GadgetThreadState* GadgetThreadStateGet(void) {
  return static_cast<GadgetThreadState*>(ThreadDataGet(GadgetThreadSlice));
}

GadgetRecord* GadgetFind(int32_t number) {
  if (GadgetTable == nullptr) return nullptr;
  return static_cast<GadgetRecord*>(ObjectFind(GadgetTable, number));
}
