// Cost benchmark: what the real Lunetrix.exe costs over a still backdrop, standing still and
// while its window moves, beside a bare-wait floor measured the same way in the same run.
//
//   cost_bench [--seconds N] [LUNETRIX_EXE [LENS_FOLDER]]   the benchmark (phases of N s, 20
//                                                           unless given)
//   cost_bench --floor                                      the floor: a window of the same size
//                                                           whose loop only waits in EventWait(10)
//
// For each program: it is started over the backdrop, its window found, warmed up (left alone,
// then moved for a while, then left alone again, so that what the system makes once is made);
// then its memory and GDI objects are counted, its CPU time is taken over N seconds standing
// still, then over N seconds while this process moves its window every 20 ms along a circle
// (SetWindowPos: the window's move makes the main loop draw a frame at a new place, which is
// a changed frame each time; a drag's WM_MOVING only comes from the system's move loop). The
// moves go on until the program has turned at least 10,000 frames since the first count; then
// it stands a second, is counted again and closed (exit code 0).
//
// Frames are read from the program itself: Lunetrix's frame counters, found through its COFF
// symbol table, and the floor's turn counter. Under Wine a program's CPU time comes from Linux
// (process_probe.h says why), and the CPU time of the wine server and the X server (whose Linux
// pids scripts/bench passes) is shown beside, as what they do for the program; it also holds
// this process's own pumping and moves.
#include <fcntl.h>
#include <io.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "backdrop_window.h"
#include "clock.h"
#include "lunetrix.h"
#include "process_probe.h"
#include "process_window.h"
#include "window.h"

constexpr int32_t DefaultPhaseSeconds = 20;
constexpr int32_t MoveEveryMs = 20;
constexpr uint32_t MinimumFrames = 10000;
constexpr int32_t SoakLimitSeconds = 300;  // moves to reach MinimumFrames end here at the latest
constexpr double Pi = 3.14159265358979323846;
constexpr int32_t CircleX = 300, CircleY = 250, CircleRadius = 100;  // the moves' path
constexpr int32_t MovesPerCircle = 100;
constexpr const char* FloorTitle = "Lunetrix floor";

// The floor's main-loop turns; the measuring process reads it from the floor's memory.
volatile uint32_t floorTurns;

// ---------------------------------------------------------------------------------------------
// The floor
// ---------------------------------------------------------------------------------------------

// A runtime window at Lunetrix's place and size whose loop only waits, as Lunetrix's does.
[[noreturn]] static void FloorMain(void) {
  StartRuntime();
  if (WindowOpen(-1, WindowLeft, WindowTop, ClientWidth, ClientHeight, FloorTitle, WindowFlags) != 0) {
    while (EventWait(FrameWaitMs) != CloseRequest) floorTurns = floorTurns + 1;
  }
  EndRuntime();
}

// ---------------------------------------------------------------------------------------------
// The backdrop's messages
// ---------------------------------------------------------------------------------------------

// Handles this process's messages (the backdrop's) until the time `until` (NowMs) has come.
static void PumpUntil(double until) {
  for (double now = NowMs(); now < until; now = NowMs()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now) + 1, QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
}

// ---------------------------------------------------------------------------------------------
// The measured program
// ---------------------------------------------------------------------------------------------

// A program under measurement: its process, its window, and how to read its frames.
struct Subject {
  const char* name;             // in the report: "lunetrix" or "floor"
  const char* program;          // its executable's name, to find its Linux process under Wine
  const char* argument;         // and an argument that tells it apart, or null
  PROCESS_INFORMATION process{};
  HWND window = nullptr;
  std::string linuxPid{};       // its Wine process's Linux pid; empty where there is none
  uint32_t framesOffset = 0;    // where its frame counter(s) lie, from its load address
  uintptr_t framesAddress = 0;  // and where that is in its process, once it runs
  bool countsDrawn = false;     // Lunetrix: drawn and skipped frames; the floor: turns
};

// What was counted at one moment.
struct Count {
  double atMs, cpuMs, wineServerMs, xServerMs;
  uint64_t privateBytes;
  int64_t anonKb;  // resident anonymous memory as Linux counts it, -1 where it cannot
  int32_t gdiObjects;
  uint32_t drawn, skipped;  // for the floor, turns and 0
  uint32_t Frames() const { return drawn + skipped; }
};

// Reads the program's frame counters into count (for the floor, its turns into drawn).
static void ReadFrames(const Subject& subject, Count* count) {
  uint32_t frames[2] = {0, 0};  // Lunetrix's FrameCounts: drawn, then skipped
  ReadProcessBytes(subject.process.hProcess, subject.framesAddress, frames,
                   subject.countsDrawn ? sizeof frames : sizeof frames[0]);
  count->drawn = frames[0];
  count->skipped = frames[1];
}

// Counts the program now: CPU times always, memory and GDI objects when asked.
static Count Take(const Subject& subject, bool withMemory) {
  Count count{};
  count.atMs = NowMs();
  count.cpuMs = subject.linuxPid.empty() ? ProcessCpuMs(subject.process.hProcess)
                                          : LinuxProcessCpuMs(subject.linuxPid.c_str());
  count.wineServerMs = LinuxProcessCpuMs(getenv("LUNETRIX_WINESERVER_PID"));
  count.xServerMs = LinuxProcessCpuMs(getenv("LUNETRIX_XVFB_PID"));
  if (withMemory) {
    count.privateBytes = ProcessPrivateBytes(subject.process.hProcess);
    count.anonKb = LinuxProcessAnonKb(subject.linuxPid.c_str());
    count.gdiObjects = ProcessGdiObjects(subject.process.hProcess);
  }
  ReadFrames(subject, &count);
  return count;
}

// Starts the program in folder and waits (up to 20 s) for its window with that title.
static bool Start(Subject* subject, const std::string& command, const char* folder, const char* title) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string line = command;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder, &startup,
                      &subject->process)) {
    fprintf(stderr, "cost: cannot start %s\n", command.c_str());
    return false;
  }
  subject->window = nullptr;
  for (double until = NowMs() + 20000; subject->window == nullptr && NowMs() < until;) {
    PumpUntil(NowMs() + 50);
    subject->window = FindProcessWindow(subject->process.dwProcessId, title);
  }
  if (subject->window == nullptr) {
    fprintf(stderr, "cost: %s showed no window \"%s\"\n", subject->name, title);
    return false;
  }
  uintptr_t base = ProcessImageBase(subject->process.hProcess);
  subject->framesAddress = base != 0 ? base + subject->framesOffset : 0;
  if (subject->framesAddress == 0) fprintf(stderr, "cost: %s cannot be read\n", subject->name);
  // Under Wine only Linux counts a process's CPU time whole.
  subject->linuxPid = WineProcessLinuxPid(subject->program, subject->argument);
  bool timed = !subject->linuxPid.empty() || LinuxProcessCpuMs("self") < 0;
  if (!timed) fprintf(stderr, "cost: the Linux process of %s was not found\n", subject->name);
  return subject->framesAddress != 0 && timed;
}

// Has the program turned MinimumFrames frames since the count `since`?
static bool FramesReached(const Subject& subject, const Count& since) {
  Count now{};
  ReadFrames(subject, &now);
  return now.Frames() - since.Frames() >= MinimumFrames;
}

// Moves the window along the circle every 20 ms until the time `until` (NowMs), or before that
// once the program has turned MinimumFrames frames since the count `since`, if one is given.
static void Move(const Subject& subject, double until, const Count* since = nullptr) {
  static int32_t step = 0;
  double next = NowMs();
  while (NowMs() < until && (since == nullptr || !FramesReached(subject, *since))) {
    double angle = 2 * Pi * (step++ % MovesPerCircle) / MovesPerCircle;
    int32_t x = CircleX + static_cast<int32_t>(lround(CircleRadius * cos(angle)));
    int32_t y = CircleY + static_cast<int32_t>(lround(CircleRadius * sin(angle)));
    // Posted, so that a slow program never holds this loop's beat.
    SetWindowPos(subject.window, nullptr, x, y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
    next += MoveEveryMs;
    PumpUntil(next);
  }
}

// Asks the program to close and waits for it; its exit code, or -1 when it had to be ended.
static int64_t Close(Subject* subject) {
  PostMessageA(subject->window, WM_CLOSE, 0, 0);
  HANDLE process = subject->process.hProcess;
  int64_t result = -1;
  if (WaitForSingleObject(process, 20000) == WAIT_OBJECT_0) {
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    result = code;
  } else {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
  }
  CloseHandle(subject->process.hThread);
  CloseHandle(process);
  return result;
}

// ---------------------------------------------------------------------------------------------
// Measuring and reporting
// ---------------------------------------------------------------------------------------------

// What one program cost.
struct Cost {
  double stillPercent, movingPercent;  // of a core
  int64_t growthKb;
  int32_t growthGdi;
};

// Per cent of one core that `used` ms of CPU time are over the wall time between two counts.
static double Percent(double used, const Count& from, const Count& to) {
  return used < 0 ? -1 : 100.0 * used / (to.atMs - from.atMs);
}

static void ReportPhase(const Subject& subject, const char* phase, const Count& from, const Count& to) {
  printf("%-8s %-6s %6.2f%% of a core over %.1f s; ", subject.name, phase,
         Percent(to.cpuMs - from.cpuMs, from, to), (to.atMs - from.atMs) / 1000.0);
  if (subject.countsDrawn)
    printf("%u frames (%u drawn, %u skipped)", to.Frames() - from.Frames(), to.drawn - from.drawn,
           to.skipped - from.skipped);
  else
    printf("%u turns", to.Frames() - from.Frames());
  if (from.wineServerMs >= 0 && to.wineServerMs >= 0)
    printf("; wine server %.2f%%", Percent(to.wineServerMs - from.wineServerMs, from, to));
  if (from.xServerMs >= 0 && to.xServerMs >= 0)
    printf(", X server %.2f%%", Percent(to.xServerMs - from.xServerMs, from, to));
  printf("\n");
}

// Runs one program through the phases and reports them; false when it did not run as it should.
static bool Measure(Subject* subject, const std::string& command, const char* folder,
                    const char* title, int32_t phaseSeconds, Cost* cost) {
  if (!Start(subject, command, folder, title)) {
    if (subject->process.hProcess != nullptr) {
      TerminateProcess(subject->process.hProcess, 1);
      CloseHandle(subject->process.hThread);
      CloseHandle(subject->process.hProcess);
    }
    return false;
  }
  PumpUntil(NowMs() + 2000);
  Move(*subject, NowMs() + 2000);
  PumpUntil(NowMs() + 1000);
  Count start = Take(*subject, true);
  PumpUntil(start.atMs + phaseSeconds * 1000.0);
  Count still = Take(*subject, false);
  Move(*subject, still.atMs + phaseSeconds * 1000.0);
  Count moved = Take(*subject, false);
  Move(*subject, start.atMs + SoakLimitSeconds * 1000.0, &start);
  PumpUntil(NowMs() + 1000);
  Count end = Take(*subject, true);
  int64_t exitCode = Close(subject);

  ReportPhase(*subject, "still", start, still);
  ReportPhase(*subject, "moving", still, moved);
  cost->stillPercent = Percent(still.cpuMs - start.cpuMs, start, still);
  cost->movingPercent = Percent(moved.cpuMs - still.cpuMs, still, moved);
  cost->growthKb =
      (static_cast<int64_t>(end.privateBytes) - static_cast<int64_t>(start.privateBytes)) / 1024;
  cost->growthGdi = end.gdiObjects - start.gdiObjects;
  printf("%-8s growth memory %llu KB -> %llu KB (%+lld KB), resident anonymous %lld KB -> %lld KB, "
         "GDI objects %d -> %d (%+d) over %u %s in %.0f s; exit code %lld\n",
         subject->name, static_cast<unsigned long long>(start.privateBytes / 1024),
         static_cast<unsigned long long>(end.privateBytes / 1024),
         static_cast<long long>(cost->growthKb), static_cast<long long>(start.anonKb),
         static_cast<long long>(end.anonKb), start.gdiObjects, end.gdiObjects, cost->growthGdi,
         end.Frames() - start.Frames(), subject->countsDrawn ? "frames" : "turns",
         (end.atMs - start.atMs) / 1000.0, static_cast<long long>(exitCode));
  fflush(stdout);
  bool ok = exitCode == 0 && end.Frames() - start.Frames() >= MinimumFrames && start.gdiObjects >= 0;
  if (!ok)
    fprintf(stderr, "cost: %s did not run as it should (exit code, frames or GDI count)\n",
            subject->name);
  return ok;
}

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  int argument = 1;
  if (argc > 1 && strcmp(argv[1], "--floor") == 0) FloorMain();
  int32_t phaseSeconds = DefaultPhaseSeconds;
  if (argc > 2 && strcmp(argv[1], "--seconds") == 0) {
    phaseSeconds = atoi(argv[2]);
    argument = 3;
  }
  const char* exe = argc > argument ? argv[argument] : LUNETRIX_EXE;
  const char* lensFolder = argc > argument + 1 ? argv[argument + 1] : LUNETRIX_DEFAULT_LENS;
  if (phaseSeconds <= 0) {
    fprintf(stderr, "cost: --seconds takes a whole number of seconds above 0\n");
    return 2;
  }

  std::string control;
  bool counted = GdiCountCheck(100, &control);
  printf("%s\n", control.c_str());
  if (!counted) {
    fprintf(stderr, "cost: GDI objects cannot be counted here\n");
    return 1;
  }
  Subject lunetrix{"lunetrix", "Lunetrix.exe", nullptr}, floor{"floor", "cost_bench.exe", "--floor"};
  lunetrix.framesOffset = ExecutableSymbolOffset(exe, "frameCounts");
  lunetrix.countsDrawn = true;
  if (lunetrix.framesOffset == 0) {
    fprintf(stderr, "cost: %s has no symbol \"frameCounts\" to read frames from\n", exe);
    return 1;
  }
  static_assert(offsetof(FrameCounts, skipped) == offsetof(FrameCounts, drawn) + 4,
                "the two frame counters are read together");
  floor.framesOffset = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&floorTurns) -
                                             reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)));
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);

  BackdropWindow backdrop("Cost benchmark backdrop", PaintScene);  // still, beneath both programs
  PumpUntil(NowMs() + 500);
  printf("phases: %d s still, then %d s moved every %d ms, then moved on to %u frames\n",
         phaseSeconds, phaseSeconds, MoveEveryMs, MinimumFrames);
  fflush(stdout);
  Cost lunetrixCost{}, floorCost{};
  bool ok = Measure(&lunetrix, std::string("\"") + exe + "\"", lensFolder, "Lunetrix", phaseSeconds,
                    &lunetrixCost);
  ok = Measure(&floor, std::string("\"") + self + "\" --floor", nullptr, FloorTitle, phaseSeconds,
               &floorCost) && ok;
  printf("floor: still %.2f%% of a core; moving %.2f%% of a core\n", floorCost.stillPercent,
         floorCost.movingPercent);
  printf("cost: still %.2f%% of a core; moving %.2f%% of a core; growth %lld KB, %d GDI objects\n",
         lunetrixCost.stillPercent, lunetrixCost.movingPercent,
         static_cast<long long>(lunetrixCost.growthKb), lunetrixCost.growthGdi);
  fflush(stdout);
  return ok ? 0 : 1;
}
