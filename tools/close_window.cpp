// close_window.exe TITLE: posts WM_CLOSE to the top-level window with that title, as a user's
// close request would; exits 0 when one was found, 1 when none was.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  HWND window = FindWindowA(nullptr, argv[1]);
  if (window == nullptr) return 1;
  return PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
}
