// Drawing output: device contexts for drawing targets, prepared and given back per thread, and
// the image output that puts an image's bitmap into a memory device context.
//
// Invariants, per thread: DrawingState.dc is non-zero exactly while a drawing is in progress,
// and then holds the default brush and pen with the saved ones remembered. ImageThreadState
// holds at most one image output context; when it is deleted its descriptor's dc is cleared,
// so a descriptor handed out earlier never names a deleted (and perhaps reused) context. An
// image output context is never deleted while a drawing on it is in progress: that drawing is
// ended first. A bitmap is never deleted while the thread's image output context holds it
// (Windows refuses, and the bitmap would leak): ImageFree has the output let it go first.
// Nothing here is locked; each thread has its own state.
//
// When a thread ends, ThreadWatcher runs the frees of its slices, newest registration first:
// the image slice's free ends a drawing left in progress and deletes the output context, so
// the image's bitmap is free for other threads, before the drawing slice's free deletes the
// default brush and pen that the drawing had selected.
#include "image_internal.h"

#include <string.h>

int32_t DrawingStateOffset = ThreadDataRefused;  // none until DrawingLibraryInit

// The default values of the drawing settings at begin.
constexpr int32_t SettingWhite = RGB(255, 255, 255);

static DrawingState* ThisThreadsDrawing(void) {
  return static_cast<DrawingState*>(ThreadDataGet(DrawingStateOffset));
}

static ImageThreadState* ThisThreadsImageOutput(void) {
  return static_cast<ImageThreadState*>(ThreadDataGet(ImageStateOffset));
}

// The drawing state in the same thread's block as an image slice: every thread's block holds
// each library's slice at its offset.
static DrawingState* DrawingBesides(ImageThreadState* output) {
  return reinterpret_cast<DrawingState*>(reinterpret_cast<uint8_t*>(output) - ImageStateOffset +
                                         DrawingStateOffset);
}

static void EndDrawingOf(DrawingState* state, ImageThreadState* output);

// ---------------------------------------------------------------------------------------------
// Per-thread state
// ---------------------------------------------------------------------------------------------

// Init operation of the drawing slice: the thread's default brush and pen.
static void DrawingThreadInit(void* slice) {
  auto* state = static_cast<DrawingState*>(slice);
  state->defaultBrush = CreateSolidBrush(RGB(0, 0, 0));
  state->defaultPen = CreatePen(PS_SOLID, 0, RGB(0, 0, 0));
}

// Free operation of the drawing slice: the default brush and pen are deleted.
static void DrawingThreadFree(void* slice) {
  auto* state = static_cast<DrawingState*>(slice);
  if (state->defaultBrush != nullptr) DeleteObject(state->defaultBrush);
  if (state->defaultPen != nullptr) DeleteObject(state->defaultPen);
  state->defaultBrush = nullptr;
  state->defaultPen = nullptr;
}

void DrawingLibraryInit(void) {
  DrawingStateOffset = ThreadDataRegister(sizeof(DrawingState), DrawingThreadInit,
                                          DrawingThreadFree);
}

// ---------------------------------------------------------------------------------------------
// Image output
// ---------------------------------------------------------------------------------------------

// Ends a thread's drawing if it is on that thread's image output context.
static void EndDrawingOnImageOutput(ImageThreadState* output) {
  DrawingState* drawing = DrawingBesides(output);
  if (output->imageDC != nullptr && drawing->dc == output->imageDC) EndDrawingOf(drawing, output);
}

// Deletes a thread's image output context, if any; its descriptor no longer names it.
static void ReleaseImageOutput(ImageThreadState* output) {
  if (output->imageDC == nullptr) return;
  DeleteDC(output->imageDC);
  output->imageDC = nullptr;
  output->descriptor.dc = nullptr;
}

void ImageDrawingRelease(void) { ReleaseImageOutput(ThisThreadsImageOutput()); }

void ImageOutputLetGo(HANDLE bitmap) {
  ImageThreadState* output = ThisThreadsImageOutput();
  if (output->imageDC == nullptr || GetCurrentObject(output->imageDC, OBJ_BITMAP) != bitmap)
    return;
  EndDrawingOnImageOutput(output);
  ReleaseImageOutput(output);
}

void ImageThreadFree(void* slice) {
  auto* output = static_cast<ImageThreadState*>(slice);
  DrawingState* drawing = DrawingBesides(output);
  if (drawing->dc != nullptr) EndDrawingOf(drawing, output);
  ReleaseImageOutput(output);
}

OutputDescriptor* ImageDrawingOutput(int32_t number) {
  ImageThreadState* output = ThisThreadsImageOutput();
  EndDrawingOnImageOutput(output);  // the caller forgot DrawingEnd on the previous output
  ReleaseImageOutput(output);
  auto* record = static_cast<ImageRecord*>(ObjectFind(ImageTable, number));
  if (record == nullptr) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) return nullptr;
  // Fails for an icon, and for a bitmap that another context holds.
  if (SelectObject(dc, record->handle) == nullptr) {
    DeleteDC(dc);
    return nullptr;
  }
  output->imageDC = dc;
  output->descriptor = OutputDescriptor{};
  output->descriptor.kind = OutputImage;
  output->descriptor.dc = dc;
  output->descriptor.release = ImageDrawingRelease;
  return &output->descriptor;
}

// ---------------------------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------------------------

// Copies what the drawing needs from the target; its context (GetDC for a window), or 0.
static HDC TakeTarget(DrawingState* state, const OutputDescriptor* target) {
  state->kind = target->kind;
  state->window = target->window;
  state->release = target->release;
  state->settings[1] = 0;
  HDC dc = target->kind == OutputWindow ? GetDC(target->window) : target->dc;
  if (target->kind == OutputWithExtras)
    memcpy(state->extra, target->extra, sizeof state->extra);
  state->settings[2] = 1;
  return dc;
}

// Black brush, pen and text with the current-position text alignment; remembers what it
// replaced.
static void PrepareContext(DrawingState* state, HDC dc) {
  SetTextAlign(dc, TA_UPDATECP);
  state->savedBrush = SelectObject(dc, state->defaultBrush);
  state->savedPen = SelectObject(dc, state->defaultPen);
  state->settings[4] = 0;
  state->settings[0] = 0;
  state->settings[3] = SettingWhite;
  state->drawingBrush = CreateSolidBrush(RGB(0, 0, 0));
  SetTextColor(dc, RGB(0, 0, 0));
}

// Gives a finished drawing's context back the way its kind asks; the image output's release
// acts on output, the drawing thread's own (this thread's, unless the thread has ended).
static void GiveBackContext(const DrawingState* state, ImageThreadState* output, HDC dc) {
  switch (state->kind) {
    case OutputWindow:
      ReleaseDC(state->window, dc);
      break;
    case OutputImage:
    case OutputReleased:
    case OutputWithExtras:
      if (state->release == ImageDrawingRelease)
        ReleaseImageOutput(output);
      else if (state->release != nullptr)
        state->release();
      break;
    default:
      DeleteDC(dc);
      break;
  }
}

HDC DrawingBegin(OutputDescriptor* descriptor) {
  DrawingState* state = ThisThreadsDrawing();
  DrawingEnd();
  if (descriptor == nullptr) return state->dc;
  HDC dc = TakeTarget(state, descriptor);
  if (dc != nullptr) PrepareContext(state, dc);
  state->dc = dc;
  return dc;
}

// Ends the drawing in progress in a thread's drawing state, whose image slice is output: the
// saved brush and pen go back, the drawing's own objects go, and the context is given back.
static void EndDrawingOf(DrawingState* state, ImageThreadState* output) {
  HDC dc = state->dc;
  if (dc == nullptr) return;
  state->dc = nullptr;  // first: a release operation may look at this thread's drawing
  SelectObject(dc, state->savedBrush);
  SelectObject(dc, state->savedPen);
  if (state->drawingBrush != nullptr) DeleteObject(state->drawingBrush);
  if (state->secondObject != nullptr) DeleteObject(state->secondObject);
  state->drawingBrush = nullptr;
  state->secondObject = nullptr;
  GiveBackContext(state, output, dc);
}

void DrawingEnd(void) { EndDrawingOf(ThisThreadsDrawing(), ThisThreadsImageOutput()); }
