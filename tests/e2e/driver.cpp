// The end-to-end test driver's pieces: the backdrop's pattern, the program's process, the lens.
#include "driver.h"

#include <stddef.h>
#include <string.h>

#include "platform.h"
#include "process_window.h"
#include "test_support.h"

// ---------------------------------------------------------------------------------------------
// Backdrop
// ---------------------------------------------------------------------------------------------

void BackdropColour(int32_t x, int32_t y, uint8_t bgr[3]) {
  bgr[0] = static_cast<uint8_t>(x * 7 + y * 13);
  bgr[1] = static_cast<uint8_t>((x * 11) ^ (y * 5));
  bgr[2] = static_cast<uint8_t>((x * x + y * 3) >> 2);
}

void PaintBackdropPattern(HDC dc, int width, int height) {
  Picture picture(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) BackdropColour(x, y, picture.At(x, y));
  BITMAPINFO info = TopDown32(width, height);
  SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, picture.bytes.data(), &info,
                    DIB_RGB_COLORS);
}

Picture BackdropUnder(const RECT& rect) {
  Picture out(rect.right - rect.left, rect.bottom - rect.top);
  for (int32_t y = 0; y < out.height; ++y)
    for (int32_t x = 0; x < out.width; ++x) BackdropColour(rect.left + x, rect.top + y, out.At(x, y));
  return out;
}

// ---------------------------------------------------------------------------------------------
// The program's process
// ---------------------------------------------------------------------------------------------

Lunetrix::Lunetrix(const std::string& directory, const std::string& exe,
                   const std::wstring& arguments) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring command = L"\"" + Widen(exe) + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                      Widen(directory).c_str(), &startup, &process_))
    process_ = PROCESS_INFORMATION{};
}

Lunetrix::~Lunetrix() {
  if (process_.hProcess == nullptr) return;
  if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0)
      TerminateProcess(process_.hProcess, 1);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

HWND Lunetrix::WaitForWindow() {
  if (!started()) return nullptr;
  HWND found = nullptr;
  PumpUntil([&] {
    found = FindProcessWindow(process_.dwProcessId, "Lunetrix");
    return found != nullptr || WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
  }, 20000);
  window_ = found;
  return window_;
}

// NOTE: the thread runs a few instructions written into the program beside the rectangle: push
// the four arguments, call SendMessageA, return. System DLLs lie at the same address in every
// process of a session (on Windows since boot, under Wine at their preferred base), so the
// test's own address of SendMessageA is the program's.
bool Lunetrix::SendFromInside(UINT message, WPARAM wParam, const RECT& rect) {
  struct __attribute__((packed)) Thunk {
    RECT rect;
    uint8_t pushes[4][5];  // 0x68 and a 32-bit value: lParam, wParam, message, window
    uint8_t call[10];      // mov eax, SendMessageA; call eax; ret 4
  };
  if (window_ == nullptr) return false;
  auto* remote = static_cast<Thunk*>(VirtualAllocEx(process_.hProcess, nullptr, sizeof(Thunk),
                                                    MEM_COMMIT, PAGE_EXECUTE_READWRITE));
  if (remote == nullptr) return false;
  Thunk thunk{rect, {}, {0xB8, 0, 0, 0, 0, 0xFF, 0xD0, 0xC2, 0x04, 0x00}};
  const void* values[5] = {remote, reinterpret_cast<void*>(wParam),
                           reinterpret_cast<void*>(static_cast<uintptr_t>(message)), window_,
                           reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"),
                                                                  "SendMessageA"))};
  for (int i = 0; i < 4; ++i) {
    thunk.pushes[i][0] = 0x68;
    memcpy(&thunk.pushes[i][1], &values[i], 4);
  }
  memcpy(&thunk.call[1], &values[4], 4);
  auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<uintptr_t>(remote) +
                                                        offsetof(Thunk, pushes));
  HANDLE thread = WriteProcessMemory(process_.hProcess, remote, &thunk, sizeof thunk, nullptr)
                      ? CreateRemoteThread(process_.hProcess, nullptr, 0, start, nullptr, 0, nullptr)
                      : nullptr;
  bool sent = thread != nullptr &&
              PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 10000);
  if (thread != nullptr) CloseHandle(thread);
  if (sent) VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
  return sent;
}

HWND Lunetrix::Gadget() const {
  return window_ ? FindWindowExA(window_, nullptr, "Static", nullptr) : nullptr;
}

int64_t Lunetrix::CloseAndWait() {
  if (!started()) return -1;
  if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process_.hProcess, 20000) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  return code;
}

// ---------------------------------------------------------------------------------------------
// The lens
// ---------------------------------------------------------------------------------------------

// n / d rounded to the nearest whole number, ties to even, in integers alone (d > 0).
static int32_t RoundHalfEven(int32_t n, int32_t d) {
  int32_t q = n / d, r = n % d;  // truncates toward zero
  int32_t sign = n < 0 ? -1 : 1;
  if (2 * r * sign > d || (2 * r * sign == d && (q & 1))) q += sign;
  return q;
}

Picture ExpectedView(const Picture& capture, const Picture& bump, const Picture& colour) {
  static const uint8_t zero[4] = {0, 0, 0, 0};
  Picture view(500, 200);
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 500; ++x) {
      // A picture that did not load has width 0: every cell reads its (zero) buffer's row 0.
      const uint8_t* b = bump.width ? bump.At(x, y) : zero;
      const uint8_t* c = colour.width ? colour.At(x, y) : zero;
      // Displacement (byte − 128) × 0.05 = (byte − 128) / 20, ties to even, then clamped.
      int32_t sx = x + RoundHalfEven(b[0] - 128, 20), sy = y + RoundHalfEven(b[1] - 128, 20);
      sx = sx < 0 ? 0 : sx > 499 ? 499 : sx;
      sy = sy < 0 ? 0 : sy > 199 ? 199 : sy;
      const uint8_t* s = capture.At(sx, sy);
      uint8_t* v = view.At(x, y);
      for (int k = 0; k < 3; ++k) v[k] = static_cast<uint8_t>(RoundHalfEven(s[k] * c[k], 256));
    }
  return view;
}
