// The backdrop window and its colourful scene.
#include "backdrop_window.h"

#include <string.h>

#include <utility>

static const char BackdropClass[] = "LunetrixBackdrop";

BackdropWindow::BackdropWindow(const char* title, BackdropPainter paint) : paint_(std::move(paint)) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = Proc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = BackdropClass;
  RegisterClassA(&windowClass);  // fails harmlessly for a second backdrop of the process
  window_ = CreateWindowExA(WS_EX_NOACTIVATE, BackdropClass, title, WS_POPUP | WS_VISIBLE, 0, 0,
                            GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                            nullptr, windowClass.hInstance, this);
  if (window_ == nullptr) return;
  SetWindowPos(window_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  UpdateWindow(window_);
}

BackdropWindow::~BackdropWindow() {
  if (window_ != nullptr && IsWindow(window_)) DestroyWindow(window_);
}

LRESULT CALLBACK BackdropWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The object rides along with creation and is kept in the window's user data.
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<BackdropWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_PAINT && self != nullptr) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    if (self->paint_) self->paint_(dc, client.right, client.bottom);
    EndPaint(window, &ps);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void PaintScene(HDC dc, int width, int height) {
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
  for (int i = 0; i < 14 && width > 0 && height > 160; ++i) {  // rings need room
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
