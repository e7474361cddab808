// The runtime's start-up and end steps. A new library or image format adds its steps here, in
// the one place every process starts from.
#include "startup.h"

#include "core.h"
#include "gadget.h"
#include "image.h"
#include "window.h"

// One step of the runtime's start-up, and the end step that undoes it.
struct RuntimeStep {
  uint32_t part;       // the part it belongs to
  void (*start)(void);
  void (*end)(void);   // or null
};

// The steps in the runtime's order, each one of its documented start-up steps, so that a program
// that calls them by hand in this order starts the same runtime. CoreStart first: it makes MainHeap, which every later step
// allocates from; CoreEnd, last to end, destroys it. The drawing library's registration of
// per-thread data is the first, and starts ThreadWatcher.
static const RuntimeStep RuntimeSteps[] = {
    {RuntimeCore, [] { CoreStart(); }, CoreEnd},
    {RuntimeCore, [] { StringInit(); }, nullptr},
    {RuntimeCore, [] { BlockHeapInit(); }, BlockHeapEnd},
    {RuntimeImage, DrawingLibraryInit, nullptr},
    {RuntimeWindow, WindowSystemInit, WindowSystemEnd},
    {RuntimeGadgets, GadgetLibraryInit, nullptr},
    {RuntimeImage, DecoderListReset, DecoderListEnd},
    {RuntimeImage, ImageLibraryInit, ImageFreeAll},
    {RuntimeCore, [] { MemoryInit(); }, MemoryEnd},
    {RuntimeImage, PngDecoderRegister, PngDecoderEnd},
};
constexpr int32_t RuntimeStepCount = sizeof RuntimeSteps / sizeof RuntimeSteps[0];

static uint32_t startedParts;  // what StartRuntime started, for EndRuntime

void StartRuntime(uint32_t parts) {
  if (startedParts != 0) return;  // once per process
  startedParts = parts;
  for (const RuntimeStep& step : RuntimeSteps)
    if (parts & step.part) step.start();
}

// The end step of the core, the first step, is the process's end.
void EndRuntimeLibraries(void) {
  for (int32_t i = RuntimeStepCount - 1; i > 0; --i)
    if ((startedParts & RuntimeSteps[i].part) && RuntimeSteps[i].end != nullptr) RuntimeSteps[i].end();
}

void EndRuntime(void) {
  EndRuntimeLibraries();
  if (startedParts & RuntimeSteps[0].part) RuntimeSteps[0].end();
  ExitProcess(0);  // without the core there is no heap to destroy
}
