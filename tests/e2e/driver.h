// The end-to-end test driver: a backdrop with a known pattern, Lunetrix.exe started in a
// directory of its own, and the view it must show, computed here from the lens pictures.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

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
  // The folder it was started in, as GetCurrentDirectoryW names it.
  const std::wstring& startFolder() const { return startFolder_; }
  // Calls function, of a system DLL (at the same address in every process of a session), with
  // the arguments on a thread inside the program; argument dataAt, if any, is the address of a
  // copy there of the size bytes at data, read back once the call has returned. What the
  // function returned, or nothing when it could not be called within 10 s.
  std::optional<uint32_t> CallInside(FARPROC function, std::vector<uint32_t> arguments,
                                     int dataAt = -1, void* data = nullptr, size_t size = 0);
  // Sends the main window a message whose lParam points to the size bytes at record, from inside
  // the program, where the pointer is valid (the system passes no such pointer between
  // processes); record then holds what the window wrote. The message's result, or nothing.
  std::optional<uint32_t> SendInside(UINT message, WPARAM wParam, void* record, size_t size);
  // The program's current folder, asked inside it; empty when it cannot be asked.
  std::wstring CurrentFolder();
  HANDLE process() const { return process_.hProcess; }

 private:
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
  std::wstring startFolder_;
};

// The view that Lunetrix must show for a capture: computed here from the lens pictures by the
// lens's own rules, independently of the program (pictures of 500 × 200, or width 0 for a
// picture that did not load).
Picture ExpectedView(const Picture& capture, const Picture& bump, const Picture& colour);
