// The runtime's start-up and end steps. A new library or image format adds its steps here, in
// the one place every process starts from.
#include "startup.h"

#include "core.h"
#include "gadget.h"
#include "gadget_kind.h"
#include "image.h"
#include "window.h"

namespace {

// One step and the part of the runtime it belongs to.
struct RuntimeStep {
  uint32_t part;
  void (*run)(void);
};

// CoreStart first: it makes MainHeap, which every later step allocates from. The drawing
// library's registration of per-thread data is the first and starts ThreadWatcher.
const RuntimeStep StartSteps[] = {
    {RuntimeCore, [] { CoreStart(); }},
    {RuntimeCore, [] { StringInit(); }},
    {RuntimeCore, [] { BlockHeapInit(); }},
    {RuntimeImage, DrawingLibraryInit},
    {RuntimeWindow, WindowSystemInit},
    {RuntimeGadgets, GadgetLibraryInit},
    {RuntimeGadgetTableAlone, GadgetTableInit},
    {RuntimeImage, DecoderListReset},
    {RuntimeImage, ImageLibraryInit},
    {RuntimeCore, [] { MemoryInit(); }},
    {RuntimeImage, PngDecoderRegister},
};

// CoreEnd last: it destroys MainHeap and ends the process.
const RuntimeStep EndSteps[] = {
    {RuntimeCore, MemoryEnd},
    {RuntimeImage, ImageFreeAll},
    {RuntimeImage, PngDecoderEnd},
    {RuntimeWindow, WindowSystemEnd},
    {RuntimeCore, BlockHeapEnd},
};

}  // namespace

void StartRuntime(uint32_t parts) {
  for (const RuntimeStep& step : StartSteps)
    if ((step.part & parts) != 0) step.run();
}

void EndRuntime(void) {
  for (const RuntimeStep& step : EndSteps) step.run();
  CoreEnd();
}
