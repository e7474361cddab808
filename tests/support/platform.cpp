// Bounded message pumping, Wine's quirks and real input through xdotool.
#include "platform.h"
#include "test_support.h"

#include <algorithm>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Pumping
// ---------------------------------------------------------------------------------------------

static PumpTurn pumpTurn = DispatchTurn;  // constant-initialised: set before any test code runs

void DispatchTurn(DWORD waitMs) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs, QS_ALLINPUT);
}

void SetPumpTurn(PumpTurn turn) { pumpTurn = turn != nullptr ? turn : DispatchTurn; }

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    pumpTurn(timeoutMs - elapsed < 10 ? timeoutMs - elapsed : 10);
  }
}

void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

// ---------------------------------------------------------------------------------------------
// Wine
// ---------------------------------------------------------------------------------------------

bool IsWine(void) {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

void UseWineDrawnFrames(void) {
  if (!IsWine()) return;
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  const char* exe = path + length;
  while (exe > path && exe[-1] != '\\' && exe[-1] != '/') --exe;
  std::string key = std::string("Software\\Wine\\AppDefaults\\") + exe + "\\X11 Driver";
  HKEY handle;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &handle, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(handle, "Decorated", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
  RegCloseKey(handle);
}

// The Unix path of a Windows path, through Wine's own conversion; empty when there is none.
static std::string UnixPath(const char* windowsPath) {
  typedef char*(CDECL * ToUnix)(const WCHAR*);
  auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  WCHAR wide[MAX_PATH];
  if (toUnix == nullptr || !MultiByteToWideChar(CP_ACP, 0, windowsPath, -1, wide, MAX_PATH))
    return "";
  char* unix = toUnix(wide);
  if (unix == nullptr) return "";
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

// ---------------------------------------------------------------------------------------------
// Real input
// ---------------------------------------------------------------------------------------------

// Can args stand inside the shell command's quotes as they are? Words, numbers and options only.
static bool PlainArguments(const std::string& args) {
  for (char c : args)
    if (!isalnum(static_cast<unsigned char>(c)) && std::string(" .,:_+-").find(c) == std::string::npos)
      return false;
  return !args.empty();
}

bool Xdotool(const std::string& args) {
  // NOTE: Wine starts a Unix program from CreateProcess but gives back no handle that can be
  // waited on, so a shell runs xdotool (found on its PATH) and then touches a marker file.
  char directory[MAX_PATH], marker[MAX_PATH];
  if (!IsWine() || !PlainArguments(args) || !GetTempPathA(sizeof directory, directory) ||
      !GetTempFileNameA(directory, "xdo", 0, marker))
    return false;
  DeleteFileA(marker);
  std::string unixMarker = UnixPath(marker);
  if (unixMarker.empty()) return false;
  std::string command = "/bin/sh -c \"xdotool " + args + "; touch '" + unixMarker + "'\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  auto before = ProcessHandles();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return false;
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  // NOTE: Wine leaves a handle to the Unix program's file open in the process that started it
  // (measured: "\??\Z:\usr\bin\dash"). It is this process's, and closed here.
  for (HANDLE handle : ProcessHandles())
    if (std::find(before.begin(), before.end(), handle) == before.end() &&
        HandleKind(handle) == "File")
      CloseHandle(handle);
  bool finished = PumpUntil(
      [&] { return GetFileAttributesA(marker) != INVALID_FILE_ATTRIBUTES; }, 15000);
  DeleteFileA(marker);
  // What X delivered last still has to reach the queue and be dispatched.
  PumpFor(150);
  return finished;
}

std::string XdotoolPoint(int x, int y) { return std::to_string(x) + " " + std::to_string(y); }

void* ReplaceImport(const char* dll, const char* function, void* replacement) {
  auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(nullptr));
  auto* headers = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
  for (; module->Name != 0; ++module) {
    if (_stricmp(reinterpret_cast<const char*>(base + module->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* named = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char*>(named->Name), function) != 0) continue;
      DWORD protection;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
      auto* replaced = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<uintptr_t>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return replaced;
    }
  }
  return nullptr;
}
