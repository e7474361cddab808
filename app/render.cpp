// Rendering: one frame of the view, from the screen beneath the gadget to the gadget's picture.
//
// A frame that would look like the last drawn one is not drawn again. Once a frame was drawn,
// captureBuffer holds the capture it was refracted from and the display image holds the
// refracted picture, which the gadget shows; between frames only RenderFrame writes either (the
// table build fills captureBuffer before the first frame, and a new table draws the next frame
// in full). A frame reads the screen copy's pixels in place, or copies the screen into a capture
// surface of the renderer's own, so the display image holds a raw capture only after
// CaptureScreen (then the next frame is drawn in full), and a repaint for any other reason shows
// the lens.
//
// So a frame whose capture equals captureBuffer byte for byte, at the same lens, would
// reproduce the display image pixel for pixel: it ends after the copy, without refraction,
// write-back or repaint. Under Wine a still window's capture comes from the screen cache, whose
// version says that nothing beneath the rectangle was read again since the last drawn frame:
// such a frame is recognised as unchanged before anything is copied.
//
// A frame is refracted straight into the display image's pixels, which the gadget paints from
// directly: besides the refraction's own reads and writes, the picture goes through memory three
// times (the copy-in, the paint on the control, and the window's surface to the screen).
//
// A frame is a fixed list of named steps, run in order until one ends the frame; frame_bench
// times each step inside real frames, so what it measures is what the program runs.
#include <assert.h>
#include <string.h>

#include "gadget.h"
#include "image.h"
#include "lunetrix.h"
#include "window.h"

// The capture surface: a 500 × 200 DIB section with rows from the top, selected into a memory
// context for the program's life. A copy of the screen lands in memory the renderer reads
// directly: no drawing output to make and select, and no read-out, per frame.
struct CaptureSurface {
  HDC dc;                  // memory context holding bitmap; null until the first frame made it
  HBITMAP bitmap;          // the DIB section
  const uint32_t* pixels;  // its pixels, in the pixel-buffer layout
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

FrameCounts frameCounts;

// One frame on its way through the steps.
struct Frame {
  int32_t x, y;             // screen position of its capture
  uint32_t screenVersion;   // the screen copy's version for it (0: cannot tell)
  const uint32_t* capture;  // its capture's first pixel, once taken: in place or in the surface
  int32_t stride;           // pixels from one row of the capture to the next
  bool written;             // its picture reached the display image
  bool shown;               // the display image shows this frame: unchanged, or drawn and written
};

void RenderEnd(void) {
  if (surface.dc != nullptr) DeleteDC(surface.dc);  // which lets the bitmap go
  if (surface.bitmap != nullptr) DeleteObject(surface.bitmap);
  surface = CaptureSurface{};
  drawn.valid = false;  // the next frame, if any, is drawn in full
}

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
  surface = CaptureSurface{dc, bitmap, static_cast<const uint32_t*>(pixels)};
  return true;
}

// Does the view show what a frame refracted from captureBuffer at this lens gives: the display
// image holds it, the gadget still shows the display image (any program can set the control's
// picture), and nothing was painted over it since (RenderViewDisturbed)?
static bool DrawnFromCaptureBuffer(void) {
  return drawn.valid && drawn.capture == captureBuffer && drawn.lensVersion == LensTableVersion() &&
         GadgetGetState(app.imageGadget) == ImageGetHandle(app.displayImage);
}

// Something may have painted over the view or moved it: the next frame is drawn in full.
static void RenderViewDisturbed(void) { drawn.valid = false; }

int32_t CaptureScreen(int32_t x, int32_t y, int32_t width, int32_t height) {
  HDC target = DrawingBegin(ImageDrawingOutput(app.displayImage));
  if (target != nullptr)
    ScreenCaptureCopy(target, x, y, width, height, WindowGetHandle(app.mainWindow));
  DrawingEnd();
  RenderViewDisturbed();  // the display image holds a raw copy now, not the drawn frame
  return 0;
}

bool FrameChanged(UINT message, LPARAM lParam) {
  auto* position = reinterpret_cast<const WINDOWPOS*>(lParam);
  return message == WM_WINDOWPOSCHANGED && MemoryReadable(position, sizeof *position) &&
         (position->flags & SWP_FRAMECHANGED) != 0;
}

void RenderWindowMessage(UINT message, LPARAM lParam) {
  // The window has no WS_CLIPCHILDREN: its own painting covers the view, which a frame that
  // would not change could otherwise leave so; and a frame of another size moves the view.
  if (FrameChanged(message, lParam) || message == WM_ERASEBKGND || message == WM_PAINT ||
      message == WM_NCPAINT || message == WM_SYSCOLORCHANGE || message == WM_THEMECHANGED ||
      message == WM_SETTINGCHANGE || message == WM_DISPLAYCHANGE || message == WM_DPICHANGED ||
      message == WM_STYLECHANGED)
    RenderViewDisturbed();
}

// A frame that shows what the display image already shows: counted, and nothing more is done.
static bool SkipUnchanged(Frame& frame) {
  ++frameCounts.skipped;
  frame.shown = true;
  return false;
}

// The steps, in the order of FrameSteps below. Each returns false when the frame ends with it.

// Brings the screen copy of the frame's rectangle up to date. A frame at the last drawn one's
// place, whose copy the screen copy's version says is the same, ends here.
static bool RefreshStep(Frame& frame) {
  frame.screenVersion = ScreenCaptureRefresh(frame.x, frame.y, LensWidth, LensHeight,
                                             WindowGetHandle(app.mainWindow));
  // The cheap comparisons first: a moving frame fails them without asking the gadget.
  if (frame.screenVersion != 0 && drawn.x == frame.x && drawn.y == frame.y &&
      drawn.screenVersion == frame.screenVersion && DrawnFromCaptureBuffer())
    return SkipUnchanged(frame);
  return true;
}

// Takes the rectangle's pixels in place, or copies them into the capture surface. Without
// either no frame is made: the view stays as it is.
static bool CaptureStep(Frame& frame) {
  frame.capture = ScreenCapturePixels(frame.x, frame.y, LensWidth, LensHeight, &frame.stride);
  if (frame.capture != nullptr) return true;
  if (!PrepareSurface()) return false;
  ScreenCaptureTake(surface.dc, frame.x, frame.y, LensWidth, LensHeight);
  GdiFlush();  // the copy may still be batched; the pixels are read directly
  frame.capture = surface.pixels;
  frame.stride = LensWidth;
  return true;
}

// Row y of the frame's capture, and of captureBuffer.
static const uint32_t* CaptureRow(const Frame& frame, int32_t y) {
  return frame.capture + y * frame.stride;
}
static uint8_t* BufferRow(int32_t y) { return captureBuffer + y * LensWidth * 4; }

// A capture equal to the drawn frame's, at the same lens, ends the frame: the same picture, now
// known to come from here.
static bool CompareStep(Frame& frame) {
  if (!DrawnFromCaptureBuffer()) return true;
  for (int32_t y = 0; y < LensHeight; ++y)
    if (memcmp(CaptureRow(frame, y), BufferRow(y), LensWidth * 4) != 0) return true;
  drawn.x = frame.x;
  drawn.y = frame.y;
  drawn.screenVersion = frame.screenVersion;
  return SkipUnchanged(frame);
}

static bool CopyInStep(Frame& frame) {
  for (int32_t y = 0; y < LensHeight; ++y)
    memcpy(BufferRow(y), CaptureRow(frame, y), LensWidth * 4);
  return true;
}

// The display image's pixel rows, where a frame can be refracted straight into them: a 32-bit
// DIB section of the view's size, as SetUpWindow makes it with ImageCreate, rows from the bottom;
// null for any other bitmap.
static uint32_t* DisplayRows(void) {
  DIBSECTION section;
  auto bitmap = reinterpret_cast<HBITMAP>(ImageGetHandle(app.displayImage));
  if (GetObjectA(bitmap, sizeof section, &section) != sizeof section ||
      section.dsBm.bmBitsPixel != 32 || section.dsBm.bmWidth != LensWidth ||
      section.dsBm.bmHeight != LensHeight)
    return nullptr;
  return static_cast<uint32_t*>(section.dsBm.bmBits) + (LensHeight - 1) * LensWidth;
}

// Refracts the frame into the display image: straight into its pixels, so that the picture is
// not written twice; any other bitmap takes outputBuffer's frame through GDI.
static bool RefractStep(Frame& frame) {
  if (uint32_t* topRow = DisplayRows()) {
    GdiFlush();  // no drawing held back may land on the frame afterwards
    RefractFrameInto(topRow, -LensWidth);
    frame.written = true;
  } else {
    RefractFrame();
    frame.written = WriteImagePixels(outputBuffer, app.displayImage) != 0;
  }
  return true;
}

// The gadget shows the display image, which now holds the frame drawn from captureBuffer.
static bool GadgetRepaintStep(Frame& frame) {
  GadgetSetState(app.imageGadget, ImageGetHandle(app.displayImage));
  drawn = DrawnFrame{frame.written, frame.x, frame.y, frame.screenVersion, LensTableVersion(),
                     captureBuffer};
  frame.shown = frame.written;
  ++frameCounts.drawn;
  return true;
}

struct FrameStep {
  const char* name;
  bool (*run)(Frame& frame);
};
// The steps in the order a frame runs them, with the names frame_bench prints.
static const FrameStep FrameSteps[] = {
    {"screen refresh", RefreshStep},
    {"capture", CaptureStep},
    {"compare", CompareStep},
    {"copy-in", CopyInStep},
    {"refraction", RefractStep},
    {"gadget repaint", GadgetRepaintStep},
};
static_assert(sizeof FrameSteps / sizeof FrameSteps[0] == FrameStepCount, "every step is counted");

const char* FrameStepName(int32_t step) { return FrameSteps[step].name; }

int32_t RenderFrameObserved(int32_t x, int32_t y, void (*stepEnded)(int32_t step)) {
  if (app.renderBusy) return 0;
  // Without the pixel buffers (start-up could not have them) nothing can be refracted: the
  // gadget keeps the display image as it was created, black.
  if (captureBuffer == nullptr || outputBuffer == nullptr) return 0;
  app.renderBusy = 1;
  Frame frame{};  // nothing taken, written or shown yet
  frame.x = x;
  frame.y = y;
  for (int32_t step = 0; step < FrameStepCount; ++step) {
    bool goesOn = FrameSteps[step].run(frame);
    if (stepEnded != nullptr) stepEnded(step);
    if (!goesOn) break;
  }
  // The rule above, as a frame leaves it: what the display image shows is this frame's picture,
  // refracted from captureBuffer at this lens.
  assert(!frame.shown || (DrawnFromCaptureBuffer() && drawn.x == x && drawn.y == y &&
                          drawn.screenVersion == frame.screenVersion));
  app.renderBusy = 0;
  return 0;
}

int32_t RenderFrame(int32_t x, int32_t y) { return RenderFrameObserved(x, y, nullptr); }
