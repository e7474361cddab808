// Shared by the tests of windows (window system, gadgets, the application's window): recorded
// message and event sequences compared whole, bounded flushing of the queues, test windows, and
// real input (keys with SendInput; the mouse through xdotool, in platform.h).
#pragma once

#include <windows.h>
#include <stdint.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform.h"
#include "window.h"

// ---------------------------------------------------------------------------------------------
// Recorded sequences
// ---------------------------------------------------------------------------------------------

// One step of a sequence: a message that reached a window callback, or a result of EventWait.
struct Step {
  enum Kind { Message, Event } kind;  // which of the two
  uint32_t code;                      // message number, or what EventWait returned
  WPARAM wParam;                      // message: its wParam
  LPARAM lParam;                      // message: its lParam; event: the event window
  uint32_t flags;                     // expected steps: what to compare (Match*), Optional
};

constexpr uint32_t MatchWParam = 1;   // compare wParam
constexpr uint32_t MatchLParam = 2;   // compare lParam
constexpr uint32_t MatchWindow = 4;   // compare the event window
constexpr uint32_t Optional = 8;      // the step may be missing

// A message, comparing only its number, or its parameters too.
inline Step Msg(UINT message) { return {Step::Message, message, 0, 0, 0}; }
inline Step Msg(UINT message, WPARAM w) { return {Step::Message, message, w, 0, MatchWParam}; }
inline Step Msg(UINT message, WPARAM w, LPARAM l) {
  return {Step::Message, message, w, l, MatchWParam | MatchLParam};
}
// A gadget event type, as a kind of gadget posts it (the image gadget's drag start).
constexpr int32_t AGadgetEventType = 14002;
// An EventWait result with its event window, or with any window.
inline Step Ev(int32_t code, int32_t window) {
  return {Step::Event, static_cast<uint32_t>(code), 0, window, MatchWindow};
}
inline Step EvAny(int32_t code) { return {Step::Event, static_cast<uint32_t>(code), 0, 0, 0}; }
// The same step, allowed to be missing.
inline Step Opt(Step step) {
  step.flags |= Optional;
  return step;
}

// What the recording callback logs and answers.
struct Recorder {
  std::vector<Step> log;                // what happened, in order
  std::set<UINT> watched;               // messages the callback logs
  std::set<int32_t> events;             // EventWait results logged; all when empty
  std::map<UINT, LRESULT> results;      // callback results; ProcessDefaultEvents otherwise
  std::function<void(HWND, UINT, WPARAM, LPARAM)> hook;  // run for every message, or empty
  std::function<void(int32_t)> onEvent;  // run for every non-zero EventWait result, or empty
};
extern Recorder recorder;

// A window callback that logs the watched messages and answers from recorder.results.
LRESULT CALLBACK RecordingCallback(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// EventWait that logs every non-zero result with the event window.
int32_t RecordedWait(int32_t timeout);
// Logs EventWait(0) results until it returns 0 (at most 200 calls).
void DrainEvents(void);
// Compares the log with expected as a whole, printing both on a mismatch; clears the log.
void ExpectSequence(const std::vector<Step>& expected);

// Delivers every message and event waiting (bounded: at most 3 s and 2000 turns, ending after
// 50 ms without anything), then clears the log.
void Flush(DWORD quietMs = 50);
// PumpUntil's turn in every executable that links these helpers (see SetPumpTurn): RecordedWait,
// so that the runtime's events are delivered and recorded as well as the messages.
void RecordedTurn(DWORD waitMs);

// ---------------------------------------------------------------------------------------------
// Windows and heaps
// ---------------------------------------------------------------------------------------------

// Opens a hidden captioned window of client size 200 × 100 at (x, y); its number.
int32_t OpenHidden(int32_t number = -1, int32_t x = 50, int32_t y = 50);
// The class name of a native window.
std::string ClassOf(HWND window);
// Registers (once) and creates a plain window of a test class with the given procedure.
HWND CreatePlain(const char* className, WNDPROC proc, DWORD style, HWND parent, int x, int y,
                 int width, int height, int id = 0);
// Busy blocks of MainHeap and BlockHeap together: shows what a call leaves allocated.
int RuntimeHeapBlocks(void);
// The fixture of the tests of one window: Open makes a runtime window (by default hidden, with a
// caption and a client area of 200 × 100) at 100, 100 with the recording callback installed,
// brought to the foreground when asked, and the queues flushed.
struct RecordedWindowTest : testing::Test {
  int32_t number = 0;
  HWND window = nullptr;
  void Open(uint32_t flags = WS_CAPTION | WS_SYSMENU | WindowHidden, int32_t width = 200,
            int32_t height = 100, bool front = false);
};

// ---------------------------------------------------------------------------------------------
// Real input
// ---------------------------------------------------------------------------------------------

// Presses and releases a key with SendInput, holding Shift around it when shift is set.
void PressKey(WORD key, bool shift = false);
// Sets full-window dragging for the life of the object and puts the old setting back after.
struct DragFullWindows {
  explicit DragFullWindows(bool on);
  ~DragFullWindows();
  BOOL previous;  // the setting before
};
// Makes window the foreground window, delivering events until it is (at most 3 s); whether it
// is. Real key presses go to the foreground window's focus.
bool BringToFront(HWND window);
// The screen point of window's close box, found by hit-testing its caption; false for none.
bool FindCloseBox(HWND window, POINT* point);
