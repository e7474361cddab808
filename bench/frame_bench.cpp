// Frame benchmark: the real frame path of Lunetrix (capture, copy-in, refraction, write-back,
// gadget repaint) under the real window system, over a backdrop, for at least 1,000 frames.
//
// The program is prepared as Lunetrix.exe prepares it (PrepareLunetrix, over the backdrop, with
// the default pictures); then frames are rendered back to back with the window's
// messages pumped between them, as the main loop would. Changing frames alternate between two
// places a pixel apart, so that each one is drawn in full; unchanged frames repeat one place, as
// a window standing still does. Then the steps of a changing frame are timed one by one, to show
// how much of a frame each takes.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "backdrop_window.h"
#include "clock.h"
#include "gadget.h"
#include "image.h"
#include "lunetrix.h"
#include "window.h"

constexpr int WarmupFrames = 50;
constexpr int TimedFrames = 1000;

static double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
  return v[i];
}

// Lets the window system handle what is pending, as one turn of the main loop would.
static void Pump(void) {
  while (EventWait(0) != 0) {
  }
}

// Renders count frames, frame i at place(i), each timed whole; the times in ms.
template <typename Place>
static std::vector<double> TimeFrames(int count, Place place) {
  std::vector<double> times;
  for (int i = 0; i < count; ++i) {
    POINT at = place(i);
    double start = NowMs();
    RenderFrame(at.x, at.y);
    times.push_back(NowMs() - start);
    Pump();
  }
  return times;
}

// A 500 × 200 DIB section with rows from the top in a memory context of its own, as the renderer
// copies the screen into; null context when it cannot be made.
struct Surface {
  HDC dc = nullptr;
  uint8_t* pixels = nullptr;
  Surface() {
    BITMAPINFO info = ImageTopDownInfo(LensWidth, LensHeight, 32);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) return;
    dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, bitmap);
    pixels = static_cast<uint8_t*>(bits);
  }
};

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const char* lensDirectory = argc > 1 ? argv[1] : LUNETRIX_DEFAULT_LENS;
  if (!SetCurrentDirectoryA(lensDirectory)) fprintf(stderr, "frame_bench: no directory %s\n", lensDirectory);
  BackdropWindow backdrop("Frame benchmark backdrop", PaintScene);  // beneath the lens
  PrepareLunetrix();
  Surface surface;
  if (app.mainWindow == 0 || app.imageGadget == 0 || surface.dc == nullptr) {
    fprintf(stderr, "frame_bench: the window, its gadget or a capture surface could not be made\n");
    return 1;
  }
  HWND window = WindowGetHandle(app.mainWindow);
  int32_t x = WindowGetX(app.mainWindow) + app.gadgetOffsetX;
  int32_t y = WindowGetY(app.mainWindow) + app.gadgetOffsetY;
  auto changing = [&](int i) { return POINT{x + (i & 1), y}; };
  auto still = [&](int) { return POINT{x, y}; };
  TimeFrames(WarmupFrames, changing);

  uint32_t drawnBefore = app.framesDrawn;
  std::vector<double> frames = TimeFrames(TimedFrames, changing);
  uint32_t changingDrawn = app.framesDrawn - drawnBefore;
  drawnBefore = app.framesDrawn;
  std::vector<double> unchanged = TimeFrames(TimedFrames, still);
  uint32_t unchangedDrawn = app.framesDrawn - drawnBefore;
  if (changingDrawn != TimedFrames || unchangedDrawn != 1) {
    fprintf(stderr, "frame_bench: %u of %d changing frames and %u of %d unchanged ones were drawn "
            "(expected all and one)\n", changingDrawn, TimedFrames, unchangedDrawn, TimedFrames);
    return 1;
  }

  const char* names[] = {"capture", "copy-in", "refraction", "write-back", "gadget repaint"};
  std::vector<double> steps[5];
  for (int i = 0; i < TimedFrames; ++i) {
    double t[6];
    t[0] = NowMs();
    ScreenCaptureCopy(surface.dc, x + (i & 1), y, LensWidth, LensHeight, window);
    t[1] = NowMs();
    GdiFlush();
    if (memcmp(surface.pixels, captureBuffer, LensBufferBytes) != 0)
      memcpy(captureBuffer, surface.pixels, LensBufferBytes);
    t[2] = NowMs();
    RefractFrame();
    t[3] = NowMs();
    WriteImagePixels(outputBuffer, app.displayImage);
    t[4] = NowMs();
    GadgetSetState(app.imageGadget, ImageGetHandle(app.displayImage));
    t[5] = NowMs();
    for (int s = 0; s < 5; ++s) steps[s].push_back(t[s + 1] - t[s]);
    Pump();
  }
  double total = 0;
  for (auto& s : steps) total += Percentile(s, 0.5);
  printf("frames: %d warm-up, %d changing, %d unchanged; each step of a changing frame then %d "
         "times on its own\n", WarmupFrames, TimedFrames, TimedFrames, TimedFrames);
  for (int s = 0; s < 5; ++s) {
    double median = Percentile(steps[s], 0.5);
    printf("%-15s median %.3f ms  p99 %.3f ms  (%2.0f%% of a frame)\n", names[s], median,
           Percentile(steps[s], 0.99), 100.0 * median / total);
  }
  printf("unchanged frame: median %.3f ms; p99 %.3f ms\n", Percentile(unchanged, 0.5),
         Percentile(unchanged, 0.99));
  printf("frame: median %.3f ms; p99 %.3f ms\n", Percentile(frames, 0.5), Percentile(frames, 0.99));
  fflush(stdout);
  EndRuntime();
}
