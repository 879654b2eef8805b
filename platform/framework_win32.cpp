#include <windows.h>
#include <shellapi.h>

#include "platform/framework.h"

namespace platform {

// There is no MFC here. What the tool needs of an application framework is
// its own module and its raw command line; without those it cannot start.
// The C runtime's locale is left as it starts: console output does its own
// conversion (console_win32.cpp), into the code page the console shows.
bool InitializeFramework() {
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
