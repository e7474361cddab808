// Start-up for the image gadget tests: Wine draws window frames (real input needs a caption),
// then the runtime's start-up steps in the program's order.
#include "core.h"
#include "gadget.h"
#include "image.h"
#include "test_support.h"
#include "window.h"
#include "window_test_support.h"

void TestStartup(void) {
  UseWineDrawnFrames();
  CoreStart();
  StringInit();
  BlockHeapInit();
  DrawingLibraryInit();
  WindowSystemInit();
  GadgetLibraryInit();
  DecoderListReset();
  ImageLibraryInit();
  MemoryInit();
}
