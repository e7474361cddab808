// The screen beneath the program's own window, copied into a device context for any caller.
#pragma once

#include <windows.h>
#include <stdint.h>

// Prepares the screen copy; call it before the program's window is first shown.
void ScreenCaptureInit(void);
// Gives back what ScreenCaptureInit made; copies then come straight from the screen.
void ScreenCaptureEnd(void);
// Copies the screen rectangle (x, y, width, height) into target at (0, 0) as it lies beneath
// ownWindow (which a plain screen copy under Wine would show): Refresh, then Take.
void ScreenCaptureCopy(HDC target, int32_t x, int32_t y, int32_t width, int32_t height,
                       HWND ownWindow);
// Makes what a copy of the rectangle takes up to date with the screen beneath ownWindow. Returns
// the screen copy's version: two copies of one rectangle taken at the same non-zero version
// hold the same pixels. 0 when it cannot tell (on Windows the copy is the live screen).
uint32_t ScreenCaptureRefresh(int32_t x, int32_t y, int32_t width, int32_t height,
                              HWND ownWindow);
// The rectangle's pixels as the last refresh left them, where they can be read in place: its
// first row's first pixel, 32 bits a pixel with rows from the top, *stride pixels from one row to
// the next; they stay until the next refresh. Null when they cannot be (the rectangle leaves the
// screen, or the copy is the live screen, on Windows): Take copies them then.
const uint32_t* ScreenCapturePixels(int32_t x, int32_t y, int32_t width, int32_t height,
                                    int32_t* stride);
// Copies the rectangle, as the last refresh left it, into target at (0, 0); under Wine, what lies
// beyond the screen is black.
void ScreenCaptureTake(HDC target, int32_t x, int32_t y, int32_t width, int32_t height);
