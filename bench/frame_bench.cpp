// Frame benchmark: the real frame path of Lunetrix (capture, read-out, refraction, write-back,
// gadget repaint) under the real window system, over a backdrop, for at least 1,000 frames.
//
// The program is started as Lunetrix.exe starts it (runtime, buffers, screen copy, window, lens
// table from the default pictures); then frames are rendered back to back with the window's
// messages pumped between them, as the main loop would. First RenderFrame is timed whole, then
// its steps one by one, to show how much of a frame each takes.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "backdrop_window.h"
#include "gadget.h"
#include "image.h"
#include "lunetrix.h"
#include "window.h"

constexpr int WarmupFrames = 50;
constexpr int TimedFrames = 1000;

static double Now(void) {
  static LARGE_INTEGER frequency;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / frequency.QuadPart;
}

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

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const char* lensDirectory = argc > 1 ? argv[1] : LUNETRIX_DEFAULT_LENS;
  StartRuntime();
  BackdropWindow backdrop("Frame benchmark backdrop", PaintScene);  // beneath the lens
  AllocateLensBuffers();
  ScreenCaptureInit();
  SetUpWindow();
  MeasureGadgetOffset();
  if (!SetCurrentDirectoryA(lensDirectory)) fprintf(stderr, "frame_bench: no directory %s\n", lensDirectory);
  BuildLensTable("Bumpmap.png", "Color.png");
  EventSetCallback(MoveCallback);
  if (app.mainWindow == 0 || app.imageGadget == 0) {
    fprintf(stderr, "frame_bench: the window or its gadget could not be made\n");
    return 1;
  }
  int32_t x = WindowGetX(app.mainWindow) + app.gadgetOffsetX;
  int32_t y = WindowGetY(app.mainWindow) + app.gadgetOffsetY;
  for (int i = 0; i < WarmupFrames; ++i) {
    RenderFrame(x, y);
    Pump();
  }

  std::vector<double> frames;
  for (int i = 0; i < TimedFrames; ++i) {
    double start = Now();
    RenderFrame(x, y);
    frames.push_back(Now() - start);
    Pump();
  }

  const char* names[] = {"capture", "read-out", "refraction", "write-back", "gadget repaint"};
  std::vector<double> steps[5];
  for (int i = 0; i < TimedFrames; ++i) {
    double t[6];
    t[0] = Now();
    CaptureScreen(x, y, LensWidth, LensHeight);
    t[1] = Now();
    ReadImagePixels(app.displayImage, captureBuffer);
    t[2] = Now();
    RefractFrame();
    t[3] = Now();
    WriteImagePixels(outputBuffer, app.displayImage);
    t[4] = Now();
    GadgetSetState(app.imageGadget, ImageGetHandle(app.displayImage));
    t[5] = Now();
    for (int s = 0; s < 5; ++s) steps[s].push_back(t[s + 1] - t[s]);
    Pump();
  }
  double total = 0;
  for (auto& s : steps) total += Percentile(s, 0.5);
  printf("frames: %d warm-up, %d timed; each step then %d times on its own\n", WarmupFrames,
         TimedFrames, TimedFrames);
  for (int s = 0; s < 5; ++s) {
    double median = Percentile(steps[s], 0.5);
    printf("%-15s median %.3f ms  p99 %.3f ms  (%2.0f%% of a frame)\n", names[s], median,
           Percentile(steps[s], 0.99), 100.0 * median / total);
  }
  printf("frame: median %.3f ms; p99 %.3f ms\n", Percentile(frames, 0.5), Percentile(frames, 0.99));
  fflush(stdout);
  EndRuntime();
}
