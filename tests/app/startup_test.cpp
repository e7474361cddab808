// The runtime started by its documented steps one by one, as a program of its own starts it,
// without StartRuntime: a window whose image gadget shows a loaded PNG, a frame, and the end.
#include <stdio.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gadget.h"
#include "image.h"
#include "lunetrix.h"
#include "pixels.h"
#include "window.h"

namespace {

// What the control shows, against an image's pixels: empty when they are the same.
std::string ShownDiffers(HWND control, int32_t image) {
  std::vector<uint8_t> pixels(LensBufferBytes);
  ReadImagePixels(image, pixels.data());
  return ComparePixels(pixels, ReadScreen({0, 0, LensWidth, LensHeight}, control).bytes, LensWidth,
                       LensHeight, 3);
}

// The program runs in a process of its own and ends as the program does: with exit code 0 from
// the core's end step once every check held. A check that fails prints what differs and ends the
// process with 1.
TEST(DocumentedStartUp, StepsOneByOneGiveAGadgetOfALoadedPictureAFrameAndACleanEnd) {
  EXPECT_EXIT({
    CoreStart();
    StringInit();
    BlockHeapInit();
    DrawingLibraryInit();
    WindowSystemInit();
    GadgetLibraryInit();
    DecoderListReset();
    ImageLibraryInit();
    MemoryInit();
    PngDecoderRegister();
    AllocateLensBuffers();
    app.mainWindow = WindowOpen(-1, 100, 100, ClientWidth, ClientHeight, "Lunetrix", WindowFlags);
    GadgetListSelect(WindowGetHandle(app.mainWindow));
    int32_t picture = ImageLoad(-1, LUNETRIX_DEFAULT_LENS "/Color.png");
    app.imageGadget = ImageGadgetCreate(-1, 10, 10, 1, 1,
                                        reinterpret_cast<HANDLE>(ImageGetHandle(picture)));
    HWND control = GadgetGetHandle(app.imageGadget);
    std::string differs = ShownDiffers(control, picture);
    app.displayImage = ImageCreate(-1, LensWidth, LensHeight);
    RenderFrame(650, 420);
    differs += ShownDiffers(control, app.displayImage);
    fputs(differs.c_str(), stderr);
    EndLunetrix();
    MemoryEnd();
    ImageFreeAll();
    WindowSystemEnd();
    BlockHeapEnd();
    if (differs.empty() && !IsWindow(control) && ImageGetWidth(picture) == 0) CoreEnd();
    exit(1);
  }, testing::ExitedWithCode(0), "");
}

}  // namespace
