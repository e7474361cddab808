// Rendering: one frame of the view, from the screen beneath the gadget to the gadget's picture.
//
// A frame that would look like the last drawn one is not drawn again. Once a frame was drawn,
// captureBuffer holds the capture it was refracted from and the display image holds the
// refracted picture, which the gadget shows; between frames only RenderFrame writes either (the
// table build fills captureBuffer before the first frame, and a new table draws the next frame
// in full). The screen is copied into a capture surface of the renderer's own, so the display
// image never holds a raw capture, and a repaint for any other reason shows the lens.
//
// So a frame whose capture equals captureBuffer byte for byte, at the same lens, would
// reproduce the display image pixel for pixel: it ends after the copy, without refraction,
// write-back or repaint. Under Wine a still window's capture comes from the screen cache, whose
// version says that nothing beneath the rectangle was read again since the last drawn frame:
// such a frame is recognised as unchanged before anything is copied.
#include <string.h>

#include "gadget.h"
#include "image.h"
#include "lunetrix.h"
#include "window.h"

// The capture surface: a 500 × 200 DIB section with rows from the top, selected into a memory
// context for the program's life. A copy of the screen lands in memory the renderer reads
// directly: no drawing output to make and select, and no read-out, per frame.
struct CaptureSurface {
  HDC dc;                 // memory context holding bitmap; null until the first frame made it
  HBITMAP bitmap;         // the DIB section
  const uint8_t* pixels;  // its pixels, in the pixel-buffer layout
};
static CaptureSurface surface;

// What the display image was last drawn from.
struct DrawnFrame {
  bool valid;              // a frame was drawn and written into the display image
  int32_t x, y;            // screen position of its capture
  uint32_t screenVersion;  // the screen copy's version at its capture (0: cannot tell)
  uint32_t lensVersion;    // LensTableVersion at its refraction
  const uint8_t* capture;  // the buffer that keeps its capture (captureBuffer then)
};
static DrawnFrame drawn;

// Makes the capture surface at the first frame; false when the system cannot give it.
static bool PrepareSurface(void) {
  if (surface.dc != nullptr) return true;
  BITMAPINFO info = ImageTopDownInfo(LensWidth, LensHeight, 32);
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  if (bitmap == nullptr || dc == nullptr || SelectObject(dc, bitmap) == nullptr) {
    if (dc != nullptr) DeleteDC(dc);
    if (bitmap != nullptr) DeleteObject(bitmap);
    return false;
  }
  surface = CaptureSurface{dc, bitmap, static_cast<const uint8_t*>(pixels)};
  return true;
}

// Does the display image hold what a frame refracted from captureBuffer at this lens gives?
static bool DrawnFromCaptureBuffer(void) {
  return drawn.valid && drawn.capture == captureBuffer && drawn.lensVersion == LensTableVersion();
}

// Is the frame at (x, y) the last drawn one, as far as the screen copy's version tells?
static bool UnchangedBeforeCopy(int32_t x, int32_t y, uint32_t screenVersion) {
  return screenVersion != 0 && DrawnFromCaptureBuffer() && drawn.x == x && drawn.y == y &&
         drawn.screenVersion == screenVersion;
}

// Refracts the capture surface's pixels and shows them.
static void DrawFrame(int32_t x, int32_t y, uint32_t screenVersion) {
  memcpy(captureBuffer, surface.pixels, LensBufferBytes);
  RefractFrame();
  bool written = WriteImagePixels(outputBuffer, app.displayImage) != 0;
  GadgetSetState(app.imageGadget, ImageGetHandle(app.displayImage));
  drawn = DrawnFrame{written, x, y, screenVersion, LensTableVersion(), captureBuffer};
  ++app.framesDrawn;
}

int32_t RenderFrame(int32_t x, int32_t y) {
  if (app.renderBusy) return 0;
  // Without the pixel buffers (start-up could not have them) nothing can be refracted: the
  // gadget keeps the display image as it was created, black.
  if (captureBuffer == nullptr || outputBuffer == nullptr) return 0;
  app.renderBusy = 1;
  uint32_t screenVersion = ScreenCaptureRefresh(x, y, LensWidth, LensHeight,
                                                WindowGetHandle(app.mainWindow));
  if (UnchangedBeforeCopy(x, y, screenVersion)) {
    ++app.framesSkipped;
  } else if (PrepareSurface()) {  // without a surface no frame is made: the view stays as it is
    ScreenCaptureTake(surface.dc, x, y, LensWidth, LensHeight);
    GdiFlush();  // the copy may still be batched; the pixels are read directly
    if (DrawnFromCaptureBuffer() && memcmp(surface.pixels, captureBuffer, LensBufferBytes) == 0) {
      drawn.x = x;  // the same picture, now known to come from here
      drawn.y = y;
      drawn.screenVersion = screenVersion;
      ++app.framesSkipped;
    } else {
      DrawFrame(x, y, screenVersion);
    }
  }
  app.renderBusy = 0;
  return 0;
}
