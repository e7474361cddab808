// Start-up for these tests: the core's heaps, the window system, the gadget table, as the program
// has them (its drawing library, which would come before the window system, is not needed here).
#include "core.h"
#include "test_support.h"
#include "window.h"

void TestStartup(void) {
  CoreStart();
  StringInit();
  BlockHeapInit();
  WindowSystemInit();
  GadgetTableInit();
  MemoryInit();
}
