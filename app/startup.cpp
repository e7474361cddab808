// The runtime's start-up and end steps. A new library or image format adds its steps here, in
// the one place every process starts from.
#include "startup.h"

#include "core.h"
#include "gadget.h"
#include "gadget_kind.h"
#include "image.h"
#include "window.h"

// CoreStart first: it makes MainHeap, which every later step allocates from. The drawing
// library's registration of per-thread data is the first, and starts ThreadWatcher.
void StartRuntime(uint32_t parts) {
  if (parts & RuntimeCore) {
    CoreStart();
    StringInit();
    BlockHeapInit();
  }
  if (parts & RuntimeImage) DrawingLibraryInit();
  if (parts & RuntimeWindow) WindowSystemInit();
  if (parts & RuntimeGadgets) GadgetLibraryInit();
  else if (parts & RuntimeGadgetTableAlone) GadgetTableInit();
  if (parts & RuntimeImage) {
    DecoderListReset();
    ImageLibraryInit();
  }
  if (parts & RuntimeCore) MemoryInit();
  if (parts & RuntimeImage) PngDecoderRegister();
}

// CoreEnd last: it destroys MainHeap and ends the process.
void EndRuntime(void) {
  MemoryEnd();
  ImageFreeAll();
  PngDecoderEnd();
  WindowSystemEnd();
  BlockHeapEnd();
  CoreEnd();
}
