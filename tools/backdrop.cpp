// Backdrop: a plain Win32 window of our own that fills the screen with a picture, so that
// Lunetrix has something to look at on a display that has no desktop of its own.
//
// backdrop.exe            draws a colourful test scene (gradient, grid, circles, text)
// backdrop.exe FILE.bmp   shows a bitmap file, stretched over the screen
#include <windows.h>

#include <stdio.h>

#include "backdrop_window.h"

// Stretches a bitmap over the whole of dc's width × height.
static void PaintBitmap(HBITMAP picture, HDC dc, int width, int height) {
  BITMAP info;
  GetObjectA(picture, sizeof info, &info);
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, picture);
  SetStretchBltMode(dc, HALFTONE);
  StretchBlt(dc, 0, 0, width, height, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

int main(int argc, char** argv) {
  HBITMAP picture = nullptr;  // the bitmap file to show, or null for the scene
  if (argc > 1) {
    picture = static_cast<HBITMAP>(LoadImageA(nullptr, argv[1], IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    if (picture == nullptr) fprintf(stderr, "backdrop: cannot load %s; drawing the scene\n", argv[1]);
  }
  BackdropPainter paint = PaintScene;
  if (picture != nullptr) paint = [picture](HDC dc, int w, int h) { PaintBitmap(picture, dc, w, h); };
  BackdropWindow backdrop("Backdrop", paint);
  if (backdrop.window() == nullptr) return 1;
  // Runs until the window is closed (WM_CLOSE destroys it) or the process is ended.
  MSG message;
  while (IsWindow(backdrop.window()) && GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
