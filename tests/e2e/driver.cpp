// The end-to-end test driver's pieces: backdrop, pictures, the program's process, the screen.
#include "driver.h"

#include <stdio.h>

#include <png.h>

#include <sstream>

// ---------------------------------------------------------------------------------------------
// Backdrop
// ---------------------------------------------------------------------------------------------

// A header for 32-bit pixels in rows from the top.
static BITMAPINFO TopDown32(int32_t width, int32_t height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  return info;
}

void BackdropColour(int32_t x, int32_t y, uint8_t bgr[3]) {
  bgr[0] = static_cast<uint8_t>(x * 7 + y * 13);
  bgr[1] = static_cast<uint8_t>((x * 11) ^ (y * 5));
  bgr[2] = static_cast<uint8_t>((x * x + y * 3) >> 2);
}

void PaintBackdropPattern(HDC dc, int width, int height) {
  Pixels picture(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) BackdropColour(x, y, picture.At(x, y));
  BITMAPINFO info = TopDown32(width, height);
  SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, picture.bytes.data(), &info,
                    DIB_RGB_COLORS);
}

// ---------------------------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------------------------

bool WritePng(const std::string& path, const Pixels& picture) {
  std::vector<uint8_t> bgr(size_t(picture.width) * picture.height * 3);
  for (size_t i = 0; i < bgr.size() / 3; ++i) memcpy(&bgr[i * 3], &picture.bytes[i * 4], 3);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = picture.width;
  image.height = picture.height;
  image.format = PNG_FORMAT_BGR;
  return png_image_write_to_file(&image, path.c_str(), 0, bgr.data(), picture.width * 3,
                                 nullptr) != 0;
}

TempDir::TempDir() {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  char name[MAX_PATH];
  snprintf(name, sizeof name, "%slunetrix-e2e-%lu-%lu", base, GetCurrentProcessId(), GetTickCount());
  CreateDirectoryA(name, nullptr);
  path_ = name;
}

TempDir::~TempDir() {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA(File(entry.cFileName).c_str());
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(path_.c_str());
}

// ---------------------------------------------------------------------------------------------
// The program's process
// ---------------------------------------------------------------------------------------------

Lunetrix::Lunetrix(const std::string& directory) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string command = std::string("\"") + LUNETRIX_EXE + "\"";
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                      directory.c_str(), &startup, &process_))
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

struct FindContext {
  DWORD pid;
  HWND found;
};

static BOOL CALLBACK FindMainWindow(HWND window, LPARAM context) {
  auto* find = reinterpret_cast<FindContext*>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char title[32] = "";
  GetWindowTextA(window, title, sizeof title);
  if (pid == find->pid && strcmp(title, "Lunetrix") == 0 && IsWindowVisible(window)) {
    find->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND Lunetrix::WaitForWindow() {
  if (!started()) return nullptr;
  FindContext find{process_.dwProcessId, nullptr};
  PumpUntil([&] {
    EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&find));
    return find.found != nullptr || WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
  }, 20000);
  window_ = find.found;
  return window_;
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
// The screen and the lens
// ---------------------------------------------------------------------------------------------

Pixels ReadScreen(const RECT& rect) {
  Pixels out(rect.right - rect.left, rect.bottom - rect.top);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = TopDown32(out.width, out.height);
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, section);
  BitBlt(memory, 0, 0, out.width, out.height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  memcpy(out.bytes.data(), bits, out.bytes.size());
  SelectObject(memory, old);
  DeleteObject(section);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return out;
}

Pixels BackdropUnder(const RECT& rect) {
  Pixels out(rect.right - rect.left, rect.bottom - rect.top);
  for (int32_t y = 0; y < out.height; ++y)
    for (int32_t x = 0; x < out.width; ++x) BackdropColour(rect.left + x, rect.top + y, out.At(x, y));
  return out;
}

// n / d rounded to the nearest whole number, ties to even, in integers alone (d > 0).
static int32_t RoundHalfEven(int32_t n, int32_t d) {
  int32_t q = n / d, r = n % d;  // truncates toward zero
  int32_t sign = n < 0 ? -1 : 1;
  if (2 * r * sign > d || (2 * r * sign == d && (q & 1))) q += sign;
  return q;
}

Pixels ExpectedView(const Pixels& capture, const Pixels& bump, const Pixels& colour) {
  static const uint8_t zero[4] = {0, 0, 0, 0};
  Pixels view(500, 200);
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

std::string CompareViews(const Pixels& expected, const Pixels& actual) {
  if (expected.width != actual.width || expected.height != actual.height)
    return "sizes differ";
  std::ostringstream out;
  int differing = 0;
  for (int32_t y = 0; y < expected.height; ++y)
    for (int32_t x = 0; x < expected.width; ++x) {
      const uint8_t* e = expected.At(x, y);
      const uint8_t* a = actual.At(x, y);
      if (e[0] == a[0] && e[1] == a[1] && e[2] == a[2]) continue;
      if (++differing <= 5)
        out << "  (" << x << ", " << y << "): expected " << int(e[2]) << "," << int(e[1]) << ","
            << int(e[0]) << " got " << int(a[2]) << "," << int(a[1]) << "," << int(a[0]) << "\n";
    }
  if (differing == 0) return "";
  return std::to_string(differing) + " pixels differ (red,green,blue):\n" + out.str();
}

bool PumpUntil(const std::function<bool()>& done, DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (done()) return true;
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed < 20 ? ms - elapsed : 20, QS_ALLINPUT);
  }
}

bool Xdotool(const std::string& arguments) {
  // NOTE: Wine starts a Unix program through CreateProcess, but its process handle tells
  // nothing about the program's end; callers watch for the input's effect instead.
  std::string command = "Z:\\usr\\bin\\xdotool " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}
