// Lunetrix.exe's entry point: its one argument, if any, names the lens folder; the process
// always exits with 0.
#include "lunetrix.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { LunetrixMain(); }
