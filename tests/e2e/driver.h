// The end-to-end test driver: a backdrop pattern known to the test, lens pictures written by the
// test, Lunetrix.exe started in a directory of its own, and the view read off the screen.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

// A 4-byte-per-pixel picture (blue, green, red, fourth byte), rows from the top.
struct Pixels {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> bytes;
  Pixels() = default;
  Pixels(int32_t w, int32_t h) : width(w), height(h), bytes(size_t(w) * h * 4, 0) {}
  uint8_t* At(int32_t x, int32_t y) { return &bytes[(size_t(y) * width + x) * 4]; }
  const uint8_t* At(int32_t x, int32_t y) const { return &bytes[(size_t(y) * width + x) * 4]; }
};

// The backdrop's colour at screen pixel (x, y): every neighbour differs, so a view that is off
// by one pixel anywhere cannot match.
void BackdropColour(int32_t x, int32_t y, uint8_t bgr[3]);

// Paints BackdropColour over a backdrop window's client area (a BackdropPainter).
void PaintBackdropPattern(HDC dc, int width, int height);

// Writes an 8-bit RGB PNG of the picture (its blue, green and red bytes); false on failure.
bool WritePng(const std::string& path, const Pixels& picture);

// A fresh directory under the temporary directory, removed with its files at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const char* name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// Lunetrix.exe started in a directory; closed (WM_CLOSE, then killed if need be) at the end.
class Lunetrix {
 public:
  explicit Lunetrix(const std::string& directory);
  ~Lunetrix();
  bool started() const { return process_.hProcess != nullptr; }
  // The main window, once it is open (waits up to 20 s); null if it never appears.
  HWND WaitForWindow();
  // The image gadget's control inside the main window, or null.
  HWND Gadget() const;
  // Asks the window to close and returns the exit code, or -1 if the process did not end.
  int64_t CloseAndWait();
  DWORD pid() const { return process_.dwProcessId; }
  HANDLE process() const { return process_.hProcess; }

 private:
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

// What the screen shows in a rectangle (a desktop BitBlt, as any program sees it).
Pixels ReadScreen(const RECT& rect);

// The view that Lunetrix must show for a capture: computed here from the lens pictures by the
// lens's own rules, independently of the program (pictures of 500 × 200, or width 0 for a
// picture that did not load).
Pixels ExpectedView(const Pixels& capture, const Pixels& bump, const Pixels& colour);

// The backdrop beneath a screen rectangle.
Pixels BackdropUnder(const RECT& rect);

// Compares the colour bytes of two pictures; empty when equal, else a readable account of the
// first differences.
std::string CompareViews(const Pixels& expected, const Pixels& actual);

// Pumps this thread's messages for up to ms milliseconds, or until done() holds.
bool PumpUntil(const std::function<bool()>& done, DWORD ms);

// Runs xdotool (the X server's real input) with the given arguments; does not wait for it.
bool Xdotool(const std::string& arguments);
