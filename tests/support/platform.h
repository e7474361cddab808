// Messages, Wine and real input for the tests: bounded pumping of the thread's messages, whether
// this is Wine, window frames drawn by Wine, and the X server's real mouse through xdotool.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// One turn of a test's message loop: delivers what waits for this thread, waiting up to waitMs
// for something to arrive first.
typedef void (*PumpTurn)(DWORD waitMs);
// The plain Win32 turn: PeekMessage and DispatchMessage everything waiting, then wait.
void DispatchTurn(DWORD waitMs);
// Sets the turn PumpUntil takes (DispatchTurn until then). The tests of the window system turn
// through its EventWait, so that its events are delivered and recorded as well as the messages.
void SetPumpTurn(PumpTurn turn);
// Takes turns until done() holds, at most timeoutMs; whether it held.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
// Takes turns for ms milliseconds: lets what is under way reach the thread's windows.
void PumpFor(DWORD ms);

// Is this Wine?
bool IsWine(void);
// Points this program's import of function from dll (as "gdi32.dll") at replacement, so that the
// code under test calls it instead: a way to make a system call fail on purpose. The import it
// replaced, or null when the program imports no such function.
void* ReplaceImport(const char* dll, const char* function, void* replacement);
// Stands between the program and one function it imports, for the object's life (the test's own
// calls go through it too): every result is kept, in order, until it goes, and the next
// `failures` calls fail with a null result without reaching the function.
template <class Result, class... Arguments>
class ImportWatch {
 public:
  ImportWatch(const char* dll, const char* function) : dll_(dll), function_(function) {
    results.clear();
    failures = 0;
    real_ = reinterpret_cast<Real>(ReplaceImport(dll, function, reinterpret_cast<void*>(Call)));
  }
  ~ImportWatch() {
    ReplaceImport(dll_, function_, reinterpret_cast<void*>(real_));
    results = std::vector<Result>();  // its memory goes too: tests count the C heap's blocks
  }
  static inline std::vector<Result> results;
  static inline int failures;

 private:
  typedef Result(WINAPI* Real)(Arguments...);
  static Result WINAPI Call(Arguments... arguments) {
    results.push_back(failures-- > 0 ? Result{} : real_(arguments...));
    return results.back();
  }
  static inline Real real_;
  const char* dll_;
  const char* function_;
};
// The memory contexts the program makes.
using ContextWatch = ImportWatch<HDC, HDC>;
// NOTE: without a window manager Wine leaves a window's frame to the X server, which draws none:
// only the client area shows and a click on the caption hits the root window. Wine draws frames
// itself when its X11 driver is told not to ask for decorations, which tests of real input need.
// Sets that for this executable; has effect when run before the process's first window.
void UseWineDrawnFrames(void);

// Runs xdotool with args (the X server's real input) and takes turns while it runs, until it has
// finished (at most 15 s) and for 150 ms after, so that what X delivered last is dispatched too.
// False when it could not be run or did not finish; always false outside Wine.
bool Xdotool(const std::string& args);
// A screen point as xdotool takes it: "x y".
std::string XdotoolPoint(int x, int y);
