// Start-up for the tests of shown windows and real input: Wine draws the window frames, then the
// runtime starts as the program has it.
#include "core.h"
#include "test_support.h"
#include "window.h"
#include "window_test_support.h"

void TestStartup(void) {
  UseWineDrawnFrames();
  CoreStart();
  StringInit();
  BlockHeapInit();
  WindowSystemInit();
  GadgetTableInit();
  MemoryInit();
}
