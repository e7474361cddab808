// Process probe: what another process costs, read from outside while it runs: its CPU time, its
// memory, its GDI objects, and a variable of its executable.
//
// NOTE: under Wine, GetProcessTimes of another process counts only a part of its CPU time, and
// Wine leaves GDI objects uncounted (GetGuiResources answers 0). So there the CPU time comes from
// Linux (the Wine process's /proc/PID/schedstat, read through Wine's drive Z:), and GDI objects
// are counted in the process's GDI handle table, which its PEB names; GdiCountCheck shows on this
// process that such a count follows objects made and deleted.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>

// CPU time of the process, kernel and user, in milliseconds, from GetProcessTimes; -1 when the
// system cannot say.
double ProcessCpuMs(HANDLE process);

// Bytes of the process's committed private memory (VirtualQueryEx over its address space).
uint64_t ProcessPrivateBytes(HANDLE process);

// GDI objects of the process: GetGuiResources where the system counts them, otherwise the used
// entries of its GDI handle table; -1 when neither can be read. The handle needs
// PROCESS_QUERY_INFORMATION and PROCESS_VM_READ.
int32_t ProcessGdiObjects(HANDLE process);

// Makes and deletes `count` objects in this process and checks that ProcessGdiObjects follows
// them exactly; what it found, as one line, in *report. True when it did.
bool GdiCountCheck(int32_t count, std::string* report);

// Where the global variable `symbol` (its C name, e.g. "frameCounts") of the executable at exePath lies,
// relative to the executable's load address, from the COFF symbol table that mingw-w64 leaves in
// the executables it links; 0 when there is none.
uint32_t ExecutableSymbolOffset(const char* exePath, const char* symbol);

// The load address of the process's executable, or 0.
uintptr_t ProcessImageBase(HANDLE process);

// Reads bytes of the process at address; true when all were read.
bool ReadProcessBytes(HANDLE process, uintptr_t address, void* value, size_t bytes);

// Linux processes of this machine, seen through Wine's drive Z: (none where it is not there).

// The Linux pid of the one live Wine process of this Wine prefix that runs program (the end of
// its command line's first word, e.g. "Lunetrix.exe"), with argument among its words unless
// that is null; empty when there is none, or more than one.
std::string WineProcessLinuxPid(const char* program, const char* argument);
// CPU time of a Linux process in milliseconds (schedstat: to the nanosecond); -1 when unknown.
double LinuxProcessCpuMs(const char* pid);
// Its anonymous resident memory (RssAnon) in KB; -1 when unknown.
int64_t LinuxProcessAnonKb(const char* pid);
