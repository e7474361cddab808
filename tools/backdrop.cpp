// Backdrop: a plain Win32 window of our own that fills the screen with a picture, so that
// Lunetrix has something to look at on a display that has no desktop of its own.
//
// backdrop.exe            draws a colourful test scene (gradient, grid, circles, text)
// backdrop.exe FILE.bmp   shows a bitmap file, stretched over the screen
#include <windows.h>

#include <math.h>
#include <stdio.h>

static HBITMAP picture;  // the bitmap file to show, or null for the drawn scene

// The scene: a sky-to-sea gradient, a grid, rings of colour and lines of text, all of which
// show clearly how the glass bends and tints them.
static void DrawScene(HDC dc, int width, int height) {
  for (int y = 0; y < height; y += 2) {
    double t = static_cast<double>(y) / height;
    HBRUSH band = CreateSolidBrush(RGB(static_cast<int>(30 + 200 * t), static_cast<int>(90 + 120 * (1 - t)),
                                       static_cast<int>(200 - 120 * t)));
    RECT r{0, y, width, y + 2};
    FillRect(dc, &r, band);
    DeleteObject(band);
  }
  HPEN grid = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
  HGDIOBJ oldPen = SelectObject(dc, grid);
  for (int x = 0; x < width; x += 32) {
    MoveToEx(dc, x, 0, nullptr);
    LineTo(dc, x, height);
  }
  for (int y = 0; y < height; y += 32) {
    MoveToEx(dc, 0, y, nullptr);
    LineTo(dc, width, y);
  }
  SelectObject(dc, oldPen);
  DeleteObject(grid);
  for (int i = 0; i < 14; ++i) {
    int cx = (i * 173) % width, cy = 80 + (i * 97) % (height - 160), radius = 40 + (i * 29) % 70;
    HBRUSH fill = CreateSolidBrush(RGB((i * 70) % 256, (i * 130 + 60) % 256, (i * 200 + 30) % 256));
    HGDIOBJ oldBrush = SelectObject(dc, fill);
    Ellipse(dc, cx - radius, cy - radius, cx + radius, cy + radius);
    SelectObject(dc, oldBrush);
    DeleteObject(fill);
  }
  HFONT font = CreateFontA(64, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH, "Arial");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  const char* lines[] = {"Lunetrix", "seen through rippled glass", "0123456789 ABCDEFGHIJ"};
  for (int i = 0; i < 3; ++i) {
    SetTextColor(dc, i == 1 ? RGB(255, 240, 80) : RGB(20, 20, 20));
    TextOutA(dc, 60, 110 + i * 110, lines[i], static_cast<int>(strlen(lines[i])));
  }
  SelectObject(dc, oldFont);
  DeleteObject(font);
}

static void Paint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT client;
  GetClientRect(window, &client);
  if (picture != nullptr) {
    BITMAP info;
    GetObjectA(picture, sizeof info, &info);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, picture);
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, 0, 0, client.right, client.bottom, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
  } else {
    DrawScene(dc, client.right, client.bottom);
  }
  EndPaint(window, &ps);
}

static LRESULT CALLBACK BackdropProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int main(int argc, char** argv) {
  if (argc > 1) {
    picture = static_cast<HBITMAP>(LoadImageA(nullptr, argv[1], IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    if (picture == nullptr) fprintf(stderr, "backdrop: cannot load %s; drawing the scene\n", argv[1]);
  }
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = BackdropProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = "LunetrixBackdrop";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, "LunetrixBackdrop", "Backdrop", WS_POPUP | WS_VISIBLE, 0, 0,
                                GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) return 1;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
