// A backdrop: a full-screen window of this process beneath every other window, painted by the
// caller, so that Lunetrix has something known to look at on a display with no desktop of its
// own. The backdrop tool, the end-to-end tests and the frame benchmark each show one.
#pragma once

#include <windows.h>

#include <functional>

// Paints the backdrop's client area, width × height pixels, into dc.
typedef std::function<void(HDC dc, int width, int height)> BackdropPainter;

// The backdrop window, open for the life of the object. It never takes the activation, so the
// program under it keeps the foreground.
class BackdropWindow {
 public:
  // Opens the window with that title and paints it before returning; window() is null when it
  // could not be made.
  BackdropWindow(const char* title, BackdropPainter paint);
  ~BackdropWindow();
  BackdropWindow(const BackdropWindow&) = delete;
  BackdropWindow& operator=(const BackdropWindow&) = delete;
  HWND window() const { return window_; }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  BackdropPainter paint_;  // what WM_PAINT draws
  HWND window_ = nullptr;  // the popup, or null
};

// A colourful scene: a sky-to-sea gradient, a grid, rings of colour and lines of text, all of
// which show clearly how the glass bends and tints them.
void PaintScene(HDC dc, int width, int height);
