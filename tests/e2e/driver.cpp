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
  wchar_t full[MAX_PATH] = L"";
  GetFullPathNameW(Widen(directory).c_str(), MAX_PATH, full, nullptr);  // backslashes only
  startFolder_ = full;
  if (startFolder_.size() > 3 && startFolder_.back() == L'\\') startFolder_.pop_back();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring command = L"\"" + Widen(exe) + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                      startFolder_.c_str(), &startup, &process_))
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

// A handle or pointer as the 32-bit word a call inside another process takes.
static uint32_t ToWord(const void* value) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value)); }

// NOTE: the thread runs a few instructions written into the program after the data: push the
// arguments, call the function, return its result as the thread's exit code. System DLLs lie at
// the same address in every process of a session (on Windows since boot, under Wine at their
// preferred base), so the test's own address of a function is the program's.
std::optional<uint32_t> Lunetrix::CallInside(FARPROC function, std::vector<uint32_t> arguments,
                                             int dataAt, void* data, size_t size) {
  if (function == nullptr || arguments.size() > 8) return std::nullopt;
  size_t dataBytes = (size + 7) & ~size_t{7};
  auto* remote = static_cast<uint8_t*>(VirtualAllocEx(process_.hProcess, nullptr, dataBytes + 64,
                                                      MEM_COMMIT, PAGE_EXECUTE_READWRITE));
  if (remote == nullptr) return std::nullopt;
  if (dataAt >= 0) arguments[dataAt] = ToWord(remote);
  std::vector<uint8_t> code;
  auto emit = [&](uint8_t opcode, uint32_t value) {
    code.push_back(opcode);
    code.insert(code.end(), reinterpret_cast<uint8_t*>(&value), reinterpret_cast<uint8_t*>(&value) + 4);
  };
  for (size_t i = arguments.size(); i-- > 0;) emit(0x68, arguments[i]);  // push
  emit(0xB8, ToWord(reinterpret_cast<void*>(function)));                 // mov eax, function
  code.insert(code.end(), {0xFF, 0xD0, 0xC2, 0x04, 0x00});               // call eax; ret 4
  bool written = WriteProcessMemory(process_.hProcess, remote, data, size, nullptr) &&
                 WriteProcessMemory(process_.hProcess, remote + dataBytes, code.data(), code.size(), nullptr);
  auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(remote + dataBytes);
  HANDLE thread = written ? CreateRemoteThread(process_.hProcess, nullptr, 0, start, nullptr, 0, nullptr)
                          : nullptr;
  DWORD result = 0;
  bool called = thread != nullptr &&
                PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 10000) &&
                GetExitCodeThread(thread, &result);
  if (thread != nullptr) CloseHandle(thread);
  if (!called) return std::nullopt;  // the thread may still run: its memory stays
  ReadProcessMemory(process_.hProcess, remote, data, size, nullptr);
  VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
  return result;
}

std::optional<uint32_t> Lunetrix::SendInside(UINT message, WPARAM wParam, void* record, size_t size) {
  return CallInside(GetProcAddress(GetModuleHandleA("user32.dll"), "SendMessageA"),
                    {ToWord(window_), message, wParam, 0}, 3, record, size);
}

std::wstring Lunetrix::CurrentFolder() {
  wchar_t folder[1024] = L"";
  auto length = CallInside(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetCurrentDirectoryW"),
                           {1024, 0}, 1, folder, sizeof folder);
  return length.value_or(0) < 1024 ? folder : L"";
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
