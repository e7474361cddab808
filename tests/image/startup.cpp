// Start-up for these tests: the program's start-up order, without the window and gadget libraries.
#include "core.h"
#include "image.h"
#include "test_support.h"

void TestStartup(void) {
  CoreStart();
  StringInit();
  BlockHeapInit();
  DrawingLibraryInit();
  DecoderListReset();
  ImageLibraryInit();
  MemoryInit();
  PngDecoderRegister();
}
