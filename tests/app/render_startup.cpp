// Start-up for the application's tests: Wine draws window frames, then the runtime starts in the
// program's own order, and the lens buffers and screen copy are prepared as the program does.
#include "lunetrix.h"
#include "test_support.h"
#include "window_test_support.h"

void TestStartup(void) {
  UseWineDrawnFrames();
  StartRuntime();
  AllocateLensBuffers();
  ScreenCaptureInit();
}
