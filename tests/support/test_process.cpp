// What a test executable's process gets before its first test: the runtime's start-up, cut down
// to the parts the executable names, and whether its tests may share the process. Built into
// each executable by lunetrix_add_tests, whose START list becomes LUNETRIX_START_PARTS (the
// runtime's parts, by their names in startup.h) and the LUNETRIX_START_<PART> definitions, and
// whose OWN_PROCESS reason LUNETRIX_OWN_PROCESS.
#include "test_support.h"

#ifdef LUNETRIX_START_PARTS
#include "startup.h"
#endif
#if LUNETRIX_START_FRAMES
#include "platform.h"
#endif
#if LUNETRIX_START_APP
#include "lunetrix.h"
#endif
#if LUNETRIX_START_WINDOW || LUNETRIX_START_APP
#include "window_test_support.h"
#endif

#ifdef LUNETRIX_OWN_PROCESS
const char* const TestsNeedOwnProcess = LUNETRIX_OWN_PROCESS;
#else
const char* const TestsNeedOwnProcess = nullptr;
#endif

void TestStartup(void) {
#if LUNETRIX_START_FRAMES
  UseWineDrawnFrames();  // before the process's first window
#endif
#if LUNETRIX_START_APP
  PrepareLunetrix();  // all the program does before its main loop, the whole runtime first
#elif defined(LUNETRIX_START_PARTS)
  StartRuntime(LUNETRIX_START_PARTS);
#endif
#if LUNETRIX_START_WINDOW || LUNETRIX_START_APP
  SetPumpTurn(RecordedTurn);  // PumpUntil delivers and records the window system's events too
#endif
}
