#include <windows.h>
#include <shellapi.h>

#include "platform/framework.h"

namespace platform {

// There is no MFC here. What the tool needs of an application framework is
// its own module and its raw command line; without those it cannot start.
// The C runtime's locale is left as it starts: console output does its own
// conversion (console.cpp), into the code page the console shows.
// Before anything else, DLLs loaded from here on come from the system folder
// alone, never from the tool's own folder or the working folder, where
// anyone who can write there could put a DLL of the same name. Windows 7
// without its update KB2533623 lacks the call; there the default search
// order stands.
bool InitializeFramework() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  if (const HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
    const auto set = reinterpret_cast<SetDirectories>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (set != nullptr) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  return GetModuleHandleW(nullptr) != nullptr && GetCommandLineW() != nullptr;
}

// Taken from the raw command line, so no wildcard is ever expanded.
std::vector<std::wstring> ArgumentVector(int, char**) {
  std::vector<std::wstring> args;
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) return args;
  for (int i = 0; i < count; ++i) args.push_back(words[i]);
  LocalFree(words);
  return args;
}

}  // namespace platform
