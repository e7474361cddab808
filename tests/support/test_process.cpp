// What a test executable's process gets before its first test: the runtime's start-up in the
// program's own order, cut down to the parts the executable names, and whether its tests may
// share the process. Built into each executable by lunetrix_add_tests, whose START list becomes
// the LUNETRIX_START_<PART> definitions and whose OWN_PROCESS reason LUNETRIX_OWN_PROCESS.
#include "test_support.h"

#if LUNETRIX_START_FRAMES
#include "platform.h"
#endif
#if LUNETRIX_START_CORE
#include "core.h"
#endif
#if LUNETRIX_START_IMAGE
#include "image.h"
#endif
#if LUNETRIX_START_WINDOW
#include "gadget_kind.h"
#include "window.h"
#endif
#if LUNETRIX_START_GADGET
#include "gadget.h"
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
  PrepareLunetrix();  // all the program does before its main loop
#elif LUNETRIX_START_CORE
  CoreStart();
  StringInit();
  BlockHeapInit();
#if LUNETRIX_START_IMAGE
  DrawingLibraryInit();
#endif
#if LUNETRIX_START_WINDOW
  WindowSystemInit();
#if LUNETRIX_START_GADGET
  GadgetLibraryInit();
#else
  // The gadget table without the common controls: measured, their start-up left the runtime's
  // heap counts of the window tests unsteady (one run in three counted two blocks more).
  GadgetTableInit();
#endif
#endif
#if LUNETRIX_START_IMAGE
  DecoderListReset();
  ImageLibraryInit();
#endif
  MemoryInit();
#if LUNETRIX_START_IMAGE
  PngDecoderRegister();
#endif
#endif
#if LUNETRIX_START_WINDOW || LUNETRIX_START_APP
  SetPumpTurn(RecordedTurn);  // PumpUntil delivers and records the window system's events too
#endif
}
