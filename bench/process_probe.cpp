// Process probe: CPU time, committed private memory, GDI objects and variables of another
// process, read from outside.
#include "process_probe.h"

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <winternl.h>

#include <vector>

// Windows' GDI handle table for 32-bit processes, as the PEB names it; Wine keeps one per
// process in this layout (checked by GdiCountCheck before any count is believed).
constexpr uint32_t PebImageBaseOffset = 0x08;      // PEB.ImageBaseAddress
constexpr uint32_t PebGdiHandleTableOffset = 0x94;  // PEB.GdiSharedHandleTable
constexpr uint32_t GdiHandleEntries = 0x10000;      // one entry per possible handle index
constexpr uint32_t GdiHandleEntryBytes = 24;        // object, owner, unique, type, flags, user
constexpr uint32_t GdiHandleTypeByte = 14;          // the entry's type: 0 for a free entry

static double FileTimeMs(const FILETIME& time) {
  return static_cast<double>(static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime) /
         10000.0;
}

double ProcessCpuMs(HANDLE process) {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return -1;
  return FileTimeMs(kernel) + FileTimeMs(user);
}

uint64_t ProcessPrivateBytes(HANDLE process) {
  uint64_t total = 0;
  uintptr_t address = 0;
  MEMORY_BASIC_INFORMATION region;
  while (VirtualQueryEx(process, reinterpret_cast<void*>(address), &region, sizeof region) ==
         sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    uintptr_t next = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    if (next <= address) break;  // the top of the address space
    address = next;
  }
  return total;
}

// The address of the process's PEB, or 0.
static uintptr_t PebAddress(HANDLE process) {
  PROCESS_BASIC_INFORMATION basic{};
  ULONG length = 0;
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, &length) != 0)
    return 0;
  return reinterpret_cast<uintptr_t>(basic.PebBaseAddress);
}

// Reads a 32-bit pointer of the process at address; 0 when it cannot be read.
static uintptr_t ReadPointer(HANDLE process, uintptr_t address) {
  uint32_t value = 0;
  return ReadProcessBytes(process, address, &value, sizeof value) ? value : 0;
}

// The used entries of the process's GDI handle table, or -1.
static int32_t HandleTableObjects(HANDLE process) {
  uintptr_t peb = PebAddress(process);
  uintptr_t table = peb != 0 ? ReadPointer(process, peb + PebGdiHandleTableOffset) : 0;
  if (table == 0) return -1;
  std::vector<uint8_t> entries(size_t(GdiHandleEntries) * GdiHandleEntryBytes);
  if (!ReadProcessBytes(process, table, entries.data(), entries.size())) return -1;
  int32_t used = 0;
  for (uint32_t i = 0; i < GdiHandleEntries; ++i)
    used += entries[size_t(i) * GdiHandleEntryBytes + GdiHandleTypeByte] != 0;
  return used;
}

int32_t ProcessGdiObjects(HANDLE process) {
  DWORD counted = GetGuiResources(process, GR_GDIOBJECTS);
  return counted != 0 ? static_cast<int32_t>(counted) : HandleTableObjects(process);
}

bool GdiCountCheck(int32_t count, std::string* report) {
  HANDLE self = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId());
  if (self == nullptr) {
    *report = "control: this process cannot be opened for reading";
    return false;
  }
  int32_t before = ProcessGdiObjects(self);
  std::vector<HGDIOBJ> made;
  for (int32_t i = 0; i < count; ++i) made.push_back(CreatePen(PS_SOLID, 1, RGB(i, 0, 0)));
  int32_t during = ProcessGdiObjects(self);
  for (HGDIOBJ object : made) DeleteObject(object);
  int32_t after = ProcessGdiObjects(self);
  CloseHandle(self);
  char line[200];
  snprintf(line, sizeof line,
           "control: %d GDI objects, %d with %d pens made, %d once they were deleted", before,
           during, count, after);
  *report = line;
  return before >= 0 && during - before == count && after == before;
}

// A whole file's bytes; empty when it cannot be read.
static std::vector<uint8_t> ReadWholeFile(const char* path) {
  std::vector<uint8_t> bytes;
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return bytes;
  uint8_t chunk[65536];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;)
    bytes.insert(bytes.end(), chunk, chunk + n);
  fclose(file);
  return bytes;
}

// A COFF symbol's name: eight bytes of its own, or a string of the table at `strings`.
static std::string SymbolName(const std::vector<uint8_t>& image, const IMAGE_SYMBOL& entry,
                              size_t strings) {
  const char* text = reinterpret_cast<const char*>(entry.N.ShortName);
  if (entry.N.Name.Short != 0) return std::string(text, strnlen(text, 8));
  size_t at = strings + entry.N.Name.Long;
  if (at >= image.size()) return std::string();
  text = reinterpret_cast<const char*>(image.data() + at);
  return std::string(text, strnlen(text, image.size() - at));
}

uint32_t ExecutableSymbolOffset(const char* exePath, const char* symbol) {
  std::vector<uint8_t> image = ReadWholeFile(exePath);
  auto within = [&](size_t offset, size_t bytes) { return offset + bytes <= image.size(); };
  if (!within(0, sizeof(IMAGE_DOS_HEADER))) return 0;
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || !within(dos->e_lfanew, sizeof(IMAGE_NT_HEADERS32)))
    return 0;
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return 0;
  const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
  size_t symbols = nt->FileHeader.PointerToSymbolTable, count = nt->FileHeader.NumberOfSymbols;
  size_t strings = symbols + count * IMAGE_SIZEOF_SYMBOL;  // the string table follows the symbols
  if (symbols == 0 || !within(strings, 4)) return 0;
  std::string wanted = std::string("_") + symbol;  // 32-bit C names carry a leading underscore
  for (size_t i = 0; i < count; ++i) {
    IMAGE_SYMBOL entry;
    memcpy(&entry, image.data() + symbols + i * IMAGE_SIZEOF_SYMBOL, IMAGE_SIZEOF_SYMBOL);
    int section = entry.SectionNumber;  // from 1; 0 and below name no section
    if (section > 0 && section <= nt->FileHeader.NumberOfSections &&
        SymbolName(image, entry, strings) == wanted)
      return sections[section - 1].VirtualAddress + entry.Value;  // the value is section-relative
    i += entry.NumberOfAuxSymbols;
  }
  return 0;
}

uintptr_t ProcessImageBase(HANDLE process) {
  HMODULE first = nullptr;
  DWORD needed = 0;
  if (EnumProcessModules(process, &first, sizeof first, &needed) && first != nullptr)
    return reinterpret_cast<uintptr_t>(first);
  uintptr_t peb = PebAddress(process);
  return peb != 0 ? ReadPointer(process, peb + PebImageBaseOffset) : 0;
}

bool ReadProcessBytes(HANDLE process, uintptr_t address, void* value, size_t bytes) {
  SIZE_T read = 0;
  return address != 0 &&
         ReadProcessMemory(process, reinterpret_cast<void*>(address), value, bytes, &read) &&
         read == bytes;
}

// ---------------------------------------------------------------------------------------------
// Linux processes
// ---------------------------------------------------------------------------------------------

// A file of /proc/<pid>/, whole (up to 64 KB); empty when it cannot be read.
static std::string ProcFile(const std::string& pid, const char* name) {
  std::string path = "Z:\\proc\\" + pid + "\\" + name;
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return std::string();
  std::string text(65536, '\0');
  text.resize(fread(&text[0], 1, text.size(), file));
  fclose(file);
  return text;
}

// Does the NUL-separated list hold the entry exactly?
static bool HoldsEntry(const std::string& list, const std::string& entry) {
  return (std::string(1, '\0') + list).find(std::string(1, '\0') + entry + '\0') != std::string::npos;
}

// Is the command line (its words each ended by a NUL) that of program, as its first word names
// it, with argument (if not null) among the rest?
static bool RunsProgram(const std::string& command, const char* program, const char* argument) {
  std::string first = command.substr(0, command.find('\0'));
  size_t length = strlen(program);
  if (first.size() < length || _stricmp(first.c_str() + first.size() - length, program) != 0)
    return false;
  return argument == nullptr ||
         (first.size() < command.size() && HoldsEntry(command.substr(first.size() + 1), argument));
}

std::string WineProcessLinuxPid(const char* program, const char* argument) {
  const char* prefix = getenv("WINEPREFIX");
  if (prefix == nullptr) return std::string();
  std::string prefixEntry = std::string("WINEPREFIX=") + prefix;
  std::string found;
  int matches = 0;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) return std::string();
  do {
    std::string pid = entry.cFileName;
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    // Empty for a process that has ended.
    if (!RunsProgram(ProcFile(pid, "cmdline"), program, argument)) continue;
    if (!HoldsEntry(ProcFile(pid, "environ"), prefixEntry)) continue;
    found = pid;
    ++matches;
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return matches == 1 ? found : std::string();
}

double LinuxProcessCpuMs(const char* pid) {
  if (pid == nullptr || *pid == 0) return -1;
  std::string text = ProcFile(pid, "schedstat");  // time on a CPU in ns, then waits, slices
  if (text.empty()) return -1;
  return strtoull(text.c_str(), nullptr, 10) / 1e6;
}

int64_t LinuxProcessAnonKb(const char* pid) {
  if (pid == nullptr || *pid == 0) return -1;
  std::string text = ProcFile(pid, "status");
  size_t line = text.find("RssAnon:");
  return line == std::string::npos ? -1 : strtoll(text.c_str() + line + 8, nullptr, 10);
}
