// Lunetrix.exe's entry point: no command line, no settings; the process always exits with 0.
#include "lunetrix.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { LunetrixMain(); }
