// The benchmarks' clock.
#pragma once

#include <windows.h>

// Milliseconds on the performance counter, from an arbitrary start.
inline double NowMs(void) {
  static LARGE_INTEGER frequency;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / frequency.QuadPart;
}
