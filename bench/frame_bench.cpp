// Frame benchmark: Lunetrix's own frame (RenderFrame: screen refresh, capture, compare, copy-in,
// refraction into the display image, gadget repaint) under the real window system, over a
// backdrop, for at least 1,000 frames.
//
// The program is prepared as Lunetrix.exe prepares it (PrepareLunetrix, over the backdrop, with
// the default pictures); then frames are rendered back to back with the window's messages pumped
// between them, as the main loop would. Changing frames alternate between two places a pixel
// apart, so that each one is drawn in full; unchanged frames repeat one place, as a window
// standing still does. Then changing frames are rendered again with each of their steps timed as
// it ends, to show how much of a frame each step takes.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "backdrop_window.h"
#include "clock.h"
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
    double start = NowMs();
    POINT at = place(i);  // the main loop measures the view's place at every frame
    RenderFrame(at.x, at.y);
    times.push_back(NowMs() - start);
    Pump();
  }
  return times;
}

// When each step of the frame under way ended (NowMs), and how many of its steps ran.
static double stepEnds[FrameStepCount];
static int32_t stepsRun;

static void StepEnded(int32_t step) {
  stepEnds[step] = NowMs();
  stepsRun = step + 1;
}

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const char* lensDirectory = argc > 1 ? argv[1] : LUNETRIX_DEFAULT_LENS;
  if (!SetCurrentDirectoryA(lensDirectory))
    fprintf(stderr, "frame_bench: no directory %s\n", lensDirectory);
  BackdropWindow backdrop("Frame benchmark backdrop", PaintScene);  // beneath the lens
  PrepareLunetrix();
  if (app.mainWindow == 0 || app.imageGadget == 0) {
    fprintf(stderr, "frame_bench: the window or its gadget could not be made\n");
    return 1;
  }
  int32_t left = WindowGetX(app.mainWindow), top = WindowGetY(app.mainWindow);
  auto changing = [&](int i) { return ViewPlace(left + (i & 1), top); };
  auto still = [&](int) { return ViewPlace(left, top); };
  TimeFrames(WarmupFrames, changing);

  uint32_t drawnBefore = frameCounts.drawn;
  std::vector<double> frames = TimeFrames(TimedFrames, changing);
  uint32_t changingDrawn = frameCounts.drawn - drawnBefore;
  drawnBefore = frameCounts.drawn;
  std::vector<double> unchanged = TimeFrames(TimedFrames, still);
  uint32_t unchangedDrawn = frameCounts.drawn - drawnBefore;
  if (changingDrawn != TimedFrames || unchangedDrawn != 1) {
    fprintf(stderr, "frame_bench: %u of %d changing frames and %u of %d unchanged ones were drawn "
            "(expected all and one)\n", changingDrawn, TimedFrames, unchangedDrawn, TimedFrames);
    return 1;
  }

  // The unchanged frames ended at the first place: these begin at the second.
  std::vector<double> steps[FrameStepCount];
  for (int i = 0; i < TimedFrames; ++i) {
    POINT at = changing(i + 1);
    stepsRun = 0;
    double start = NowMs();
    RenderFrameObserved(at.x, at.y, StepEnded);
    for (int32_t s = 0; s < stepsRun; ++s)
      steps[s].push_back(stepEnds[s] - (s > 0 ? stepEnds[s - 1] : start));
    Pump();
  }
  size_t whole = steps[FrameStepCount - 1].size();
  if (whole != TimedFrames) {
    fprintf(stderr, "frame_bench: %u of %d frames timed step by step ran every step\n",
            static_cast<unsigned>(whole), TimedFrames);
    return 1;
  }
  double total = 0;
  for (auto& s : steps) total += Percentile(s, 0.5);
  printf("frames: %d warm-up, %d changing, %d unchanged, then %d changing timed step by step\n",
         WarmupFrames, TimedFrames, TimedFrames, TimedFrames);
  for (int32_t s = 0; s < FrameStepCount; ++s) {
    double median = Percentile(steps[s], 0.5);
    printf("%-15s median %.3f ms  p99 %.3f ms  (%2.0f%% of a frame)\n", FrameStepName(s), median,
           Percentile(steps[s], 0.99), 100.0 * median / total);
  }
  printf("unchanged frame: median %.3f ms; p99 %.3f ms\n", Percentile(unchanged, 0.5),
         Percentile(unchanged, 0.99));
  printf("frame: median %.3f ms; p99 %.3f ms\n", Percentile(frames, 0.5), Percentile(frames, 0.99));
  fflush(stdout);
  EndRuntime();
}
