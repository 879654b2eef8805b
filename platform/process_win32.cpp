#include <windows.h>
#include <process.h>

#include <cerrno>
#include <cstdio>

#include "platform/files.h"
#include "platform/process.h"

namespace platform {

namespace {

const std::wstring kShellSwitch = L"/C";
const std::wstring kQuote = L"\"";
const std::wstring kSpace = L" ";
const std::wstring kRedirect = L" > ";

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
// so the program keeps its own quotes and a path with spaces still runs. A
// leftover file at the name goes first: the redirection would write through
// a link instead of replacing it.
RunResult RunThroughShell(const std::wstring& shell, const std::wstring& program,
                          const std::wstring& word, const std::wstring& file) {
  // A leftover that cannot go (read-only, say) would be read as this run's
  // listing: refuse. A folder at the name stays; no listing opens on it.
  if (!DeleteFileAt(file)) {
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return {-1, EACCES};
    }
  }
  const std::wstring command =
      kQuote + kQuote + program + kQuote + kSpace + word + kRedirect + file + kQuote;
  return Spawn({shell, kShellSwitch, command});
}

}  // namespace platform
