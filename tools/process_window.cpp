// Another process's window, found from outside.
#include "process_window.h"

#include <string.h>

struct FindContext {
  DWORD processId;
  const char* title;
  HWND found;
};

static BOOL CALLBACK FindWindowOf(HWND window, LPARAM context) {
  auto* find = reinterpret_cast<FindContext*>(context);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId != find->processId || !IsWindowVisible(window)) return TRUE;
  char title[256] = "";
  GetWindowTextA(window, title, sizeof title);
  if (strcmp(title, find->title) != 0) return TRUE;
  find->found = window;
  return FALSE;
}

HWND FindProcessWindow(DWORD processId, const char* title) {
  FindContext find{processId, title, nullptr};
  EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&find));
  return find.found;
}
