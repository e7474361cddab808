// Rectangles in the window tests: a window's frame, and rectangles compared whole and printed
// as {left, top, right, bottom} on a mismatch.
#pragma once
#include <windows.h>

#include <ostream>

inline bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

inline std::ostream& operator<<(std::ostream& out, const RECT& r) {
  return out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}

// A window's frame in screen coordinates.
inline RECT FrameOf(HWND window) {
  RECT r = {};
  GetWindowRect(window, &r);
  return r;
}
