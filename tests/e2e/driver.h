// The end-to-end test driver: a backdrop with a known pattern, Lunetrix.exe started in a
// directory of its own, and the view it must show, computed here from the lens pictures.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>

#include "pixels.h"

// The backdrop's colour at screen pixel (x, y): every neighbour differs, so a view that is off
// by one pixel anywhere cannot match.
void BackdropColour(int32_t x, int32_t y, uint8_t bgr[3]);
// Paints BackdropColour over a backdrop window's client area (a BackdropPainter).
void PaintBackdropPattern(HDC dc, int width, int height);
// The backdrop beneath a screen rectangle.
Picture BackdropUnder(const RECT& rect);

// Lunetrix.exe (the build's, or another copy) started in a directory, with arguments as they
// follow the program's name on its command line; closed (WM_CLOSE, then killed if need be) at
// the end.
class Lunetrix {
 public:
  explicit Lunetrix(const std::string& directory, const std::string& exe = LUNETRIX_EXE,
                    const std::wstring& arguments = L"");
  ~Lunetrix();
  bool started() const { return process_.hProcess != nullptr; }
  // The main window, once it is open (waits up to 20 s); null if it never appears.
  HWND WaitForWindow();
  // The image gadget's control inside the main window, or null.
  HWND Gadget() const;
  // Asks the window to close and returns the exit code, or -1 if the process did not end.
  int64_t CloseAndWait();
  DWORD pid() const { return process_.dwProcessId; }
  // Sends the main window a message whose lParam points to rect, from a thread inside the
  // program, where the pointer is valid (the system passes no such pointer between processes);
  // whether it was delivered.
  bool SendFromInside(UINT message, WPARAM wParam, const RECT& rect);
  HANDLE process() const { return process_.hProcess; }

 private:
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

// The view that Lunetrix must show for a capture: computed here from the lens pictures by the
// lens's own rules, independently of the program (pictures of 500 × 200, or width 0 for a
// picture that did not load).
Picture ExpectedView(const Picture& capture, const Picture& bump, const Picture& colour);
