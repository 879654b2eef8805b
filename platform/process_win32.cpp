#include <windows.h>
#include <process.h>

#include <cerrno>
#include <cstdio>

#include "platform/process.h"

namespace platform {

namespace {

const std::wstring kShellSwitch = L"/C";
const std::wstring kQuote = L"\"";

// _wspawnv joins the vector with single spaces and adds no quotes of its own.
RunResult Spawn(const std::vector<std::wstring>& argv) {
  std::fflush(stdout);
  std::vector<const wchar_t*> words;
  for (const std::wstring& arg : argv) words.push_back(arg.c_str());
  words.push_back(nullptr);
  RunResult result;
  errno = 0;
  const intptr_t status = _wspawnv(_P_WAIT, words[0], words.data());
  result.status = static_cast<int>(status);
  if (result.status == -1) result.error = errno;
  return result;
}

}  // namespace

RunResult RunAndWait(const std::vector<std::wstring>& argv) {
  if (argv.empty()) return {-1, ENOENT};
  return Spawn(argv);
}

// cmd.exe strips the outer quotes of a /C command that begins with a quote,
// so the command keeps its own quotes and a path with spaces still runs.
RunResult RunThroughShell(const std::wstring& shell, const ShellCommand& command) {
  return Spawn({shell, kShellSwitch, kQuote + command.text + kQuote});
}

}  // namespace platform
