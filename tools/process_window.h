// Another process's window, found from outside: the end-to-end tests and the cost benchmark
// start Lunetrix.exe and wait for its window.
#pragma once

#include <windows.h>

// The visible top-level window of process processId whose title is title; null when it has none.
HWND FindProcessWindow(DWORD processId, const char* title);
