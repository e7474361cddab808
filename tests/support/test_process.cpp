// What a test executable's process gets before its first test: window frames that Wine draws,
// the runtime's parts its executable names, and whether its tests may share the process. Built
// into each executable by lunetrix_add_tests, whose START list becomes LUNETRIX_START_PARTS (the
// parts by their names in startup.h) and whose OWN_PROCESS reason LUNETRIX_OWN_PROCESS.
#include "platform.h"
#include "test_support.h"

#ifdef LUNETRIX_START_PARTS
#include "core.h"
#include "startup.h"
#endif

#ifdef LUNETRIX_START_PARTS
const bool TestsUseWindows = ((LUNETRIX_START_PARTS) & RuntimeWindow) != 0;
const bool TestsUseGdi = ((LUNETRIX_START_PARTS) & (RuntimeWindow | RuntimeImage)) != 0;
#else
const bool TestsUseWindows = true, TestsUseGdi = true;
#endif

#ifdef LUNETRIX_OWN_PROCESS
const char* const TestsNeedOwnProcess = LUNETRIX_OWN_PROCESS;
#else
const char* const TestsNeedOwnProcess = nullptr;
#endif

void TestStartup(void) {
  UseWineDrawnFrames();  // before the process's first window
#ifdef LUNETRIX_START_PARTS
  StartRuntime(LUNETRIX_START_PARTS);
#endif
}

void TestEndRuntime(void) {
#ifdef LUNETRIX_START_PARTS
  EndRuntimeLibraries();
#endif
}

RuntimeKeeps RuntimeKept(void) {
#ifdef LUNETRIX_START_PARTS
  return {{MainHeap, StringHeap, BlockHeap},
          {CoreKept.mainHeap, 0, CoreKept.blockHeap},
          CoreKept.threads,
          CoreKept.events};
#else
  return {};
#endif
}
