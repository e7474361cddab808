// Recorded sequences, bounded flushing, test windows and real keys for the tests of windows.
#include "window_test_support.h"

#include <stdio.h>
#include <string.h>

#include "core.h"
#include "test_support.h"

Recorder recorder;

// ---------------------------------------------------------------------------------------------
// Recorded sequences
// ---------------------------------------------------------------------------------------------

LRESULT CALLBACK RecordingCallback(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (recorder.watched.count(message))
    recorder.log.push_back({Step::Message, message, wParam, lParam, 0});
  if (recorder.hook) recorder.hook(window, message, wParam, lParam);
  auto answer = recorder.results.find(message);
  return answer != recorder.results.end() ? answer->second : ProcessDefaultEvents;
}

int32_t RecordedWait(int32_t timeout) {
  int32_t code = EventWait(timeout);
  if (code != 0 && recorder.onEvent) recorder.onEvent(code);
  if (code != 0 && (recorder.events.empty() || recorder.events.count(code)))
    recorder.log.push_back({Step::Event, static_cast<uint32_t>(code), 0, EventGetWindow(), 0});
  return code;
}

void DrainEvents(void) {
  for (int i = 0; i < 200 && RecordedWait(0) != 0; ++i) {
  }
}

// A step as text: "message 0x0003 w=… l=…" or "event 16 window …".
static std::string Describe(const Step& step) {
  char text[120];
  if (step.kind == Step::Message)
    snprintf(text, sizeof text, "message 0x%04x w=0x%lx l=0x%lx", step.code,
             static_cast<unsigned long>(step.wParam), static_cast<unsigned long>(step.lParam));
  else
    snprintf(text, sizeof text, "event %lu window %ld", static_cast<unsigned long>(step.code),
             static_cast<long>(step.lParam));
  return text;
}

// Does an actual step match an expected one, comparing only what the expected one asks for?
static bool Matches(const Step& expected, const Step& actual) {
  if (expected.kind != actual.kind || expected.code != actual.code) return false;
  if ((expected.flags & MatchWParam) && expected.wParam != actual.wParam) return false;
  if ((expected.flags & (MatchLParam | MatchWindow)) && expected.lParam != actual.lParam)
    return false;
  return true;
}

// Walks both sequences, skipping optional expected steps that are missing.
static bool SequenceMatches(const std::vector<Step>& expected, const std::vector<Step>& actual) {
  size_t e = 0, a = 0;
  while (e < expected.size() && a < actual.size()) {
    if (Matches(expected[e], actual[a])) ++e, ++a;
    else if (expected[e].flags & Optional) ++e;
    else return false;
  }
  while (e < expected.size() && (expected[e].flags & Optional)) ++e;
  return e == expected.size() && a == actual.size();
}

void ExpectSequence(const std::vector<Step>& expected) {
  std::vector<Step> actual = recorder.log;
  recorder.log.clear();
  if (SequenceMatches(expected, actual)) return;
  std::vector<std::string> expectedText, actualText;
  for (const Step& s : expected)
    expectedText.push_back(Describe(s) + ((s.flags & Optional) ? " (optional)" : ""));
  for (const Step& s : actual) actualText.push_back(Describe(s));
  ADD_FAILURE() << SequenceMismatch(expectedText, actualText);
}

void Flush(DWORD quietMs) {
  DWORD start = GetTickCount();
  for (int turn = 0; turn < 2000 && GetTickCount() - start < 3000; ++turn) {
    if (EventWait(0) != 0) continue;
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, quietMs, QS_ALLINPUT) == WAIT_TIMEOUT)
      break;
  }
  recorder.log.clear();
}

void RecordedTurn(DWORD waitMs) { RecordedWait(static_cast<int32_t>(waitMs)); }
// Installed as the process starts: every executable that records sequences takes its turns so.
static const bool recordedTurnInstalled = (SetPumpTurn(RecordedTurn), true);

// ---------------------------------------------------------------------------------------------
// Windows and heaps
// ---------------------------------------------------------------------------------------------

int32_t OpenHidden(int32_t number, int32_t x, int32_t y) {
  return WindowOpen(number, x, y, 200, 100, "hidden", WS_CAPTION | WS_SYSMENU | WindowHidden);
}

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

HWND CreatePlain(const char* className, WNDPROC proc, DWORD style, HWND parent, int x, int y,
                 int width, int height, int id) {
  WNDCLASSA existing;
  if (!GetClassInfoA(GetModuleHandleA(nullptr), className, &existing)) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = className;
    RegisterClassA(&wc);
  }
  return CreateWindowExA(0, className, "", style, x, y, width, height, parent,
                         reinterpret_cast<HMENU>(static_cast<intptr_t>(id)),
                         GetModuleHandleA(nullptr), nullptr);
}

int RuntimeHeapBlocks(void) { return HeapBusyBlocks(MainHeap) + HeapBusyBlocks(BlockHeap); }

void RecordedWindowTest::Open(uint32_t flags, int32_t width, int32_t height, bool front) {
  number = WindowOpen(-1, 100, 100, width, height, "recorded", flags);
  window = WindowGetHandle(number);
  ASSERT_NE(window, nullptr);
  EventSetCallback(RecordingCallback);
  ASSERT_TRUE(!front || BringToFront(window));
  Flush(front ? 100 : 50);
}

// ---------------------------------------------------------------------------------------------
// Real input
// ---------------------------------------------------------------------------------------------

void PressKey(WORD key, bool shift) {
  std::vector<INPUT> inputs;
  auto add = [&](WORD vk, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = flags;
    inputs.push_back(input);
  };
  if (shift) add(VK_SHIFT, 0);
  add(key, 0);
  add(key, KEYEVENTF_KEYUP);
  if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

DragFullWindows::DragFullWindows(bool on) : previous(FALSE) {
  SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &previous, 0);
  SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, on, nullptr, 0);
}

DragFullWindows::~DragFullWindows() {
  SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, previous, nullptr, 0);
}

bool BringToFront(HWND window) {
  // NOTE: under Wine the X server's focus follows windows of other processes coming and going,
  // and a window shown a moment ago can lose the foreground again; asking again settles it.
  return PumpUntil([&] {
    if (GetForegroundWindow() == window) return true;
    SetForegroundWindow(window);
    return false;
  }, 3000);
}

bool FindCloseBox(HWND window, POINT* point) {
  RECT frame;
  GetWindowRect(window, &frame);
  for (int y = frame.top; y < frame.top + 40; ++y) {
    for (int x = frame.right - 1; x > frame.right - 80; --x) {
      if (SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) != HTCLOSE) continue;
      // The middle of the box: how far the hit test goes on either way.
      auto hit = [&](int px, int py) {
        return SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(px, py)) == HTCLOSE;
      };
      int left = x, bottom = y;
      for (int i = 0; i < 80 && hit(left - 1, y); ++i) --left;
      for (int i = 0; i < 80 && hit(x, bottom + 1); ++i) ++bottom;
      int right = x;
      *point = {(left + right) / 2, (y + bottom) / 2};
      return true;
    }
  }
  return false;
}
