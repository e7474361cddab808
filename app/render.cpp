// Rendering: one frame of the view, from the screen beneath the gadget to the gadget's picture.
#include "gadget.h"
#include "image.h"
#include "lunetrix.h"
#include "window.h"

int32_t CaptureScreen(int32_t x, int32_t y, int32_t width, int32_t height) {
  HDC target = DrawingBegin(ImageDrawingOutput(app.displayImage));
  ScreenCaptureCopy(target, x, y, width, height, WindowGetHandle(app.mainWindow));
  DrawingEnd();
  return 0;
}

int32_t RenderFrame(int32_t x, int32_t y) {
  if (app.renderBusy) return 0;
  // Without the pixel buffers (start-up could not have them) nothing can be refracted: the
  // gadget keeps the display image as it was created, black.
  if (captureBuffer == nullptr || outputBuffer == nullptr) return 0;
  app.renderBusy = 1;
  CaptureScreen(x, y, LensWidth, LensHeight);
  ReadImagePixels(app.displayImage, captureBuffer);
  RefractFrame();
  WriteImagePixels(outputBuffer, app.displayImage);
  GadgetSetState(app.imageGadget, ImageGetHandle(app.displayImage));
  app.renderBusy = 0;
  return 0;
}
