// Start-up for these tests: the entry point's heap and the core's heaps, as the program has them.
#include "core.h"
#include "test_support.h"

void TestStartup(void) {
  CoreStart();
  StringInit();
  BlockHeapInit();
  MemoryInit();
}
