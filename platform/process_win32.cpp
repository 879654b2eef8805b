#include <windows.h>
#include <io.h>
#include <process.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/process.h"

namespace platform {

namespace {

const std::wstring kNoAutoRun = L"/D";
const std::wstring kNoDelayedExpansion = L"/V:OFF";
const std::wstring kShellSwitch = L"/C";
const std::wstring kQuote = L"\"";

// Exit codes from here up are status codes of error severity: a crash (an
// access violation is 0xC0000005) or an exception nobody handled.
const std::uint32_t kErrorSeverity = 0xC0000000u;

// While interrupts are held: set when they are let go, so that a handler
// waiting on a closing console returns. The handler runs on a thread of its
// own.
bool g_holding = false;
std::atomic<HANDLE> g_released{nullptr};

// Ctrl+C and Ctrl+Break are swallowed. Closing the console, logging off or
// shutting down end the process once the handler returns, so the handler
// waits for the restart to finish first, as long as Windows allows (about
// five seconds for a closed console).
BOOL WINAPI HoldInterrupt(DWORD event) {
  const HANDLE released = g_released;
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && released != nullptr) {
    WaitForSingleObject(released, INFINITE);
  }
  return TRUE;
}

bool child_output_to_errors = false;

// While a child runs with its output sent to standard error, the tool's
// standard output is its standard error, both as the C runtime's descriptor
// (which the child's runtime inherits) and as the handle a program without
// one writes to; afterwards it is standard output again. Moving descriptor 1
// closes the handle behind it, so standard output comes back as the handle
// of the copy kept meanwhile, never as the closed one; that copy is not
// handed to the child.
class ChildOutputToErrors {
 public:
  ChildOutputToErrors() {
    if (!child_output_to_errors) return;
    saved_ = _dup(1);
    if (saved_ < 0) return;
    SetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(saved_)), HANDLE_FLAG_INHERIT, 0);
    _dup2(2, 1);
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
  }
  ~ChildOutputToErrors() {
    if (saved_ < 0) return;
    _dup2(saved_, 1);
    _close(saved_);
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
  }
  ChildOutputToErrors(const ChildOutputToErrors&) = delete;
  ChildOutputToErrors& operator=(const ChildOutputToErrors&) = delete;

 private:
  int saved_ = -1;
};

// The program's name as the C runtime reads it back: up to the next quote
// when it begins with one, else up to the first space or tab, with no escapes
// at all. A path holds no quote, so quotes around it are all it needs.
std::wstring ProgramWord(const std::wstring& path) {
  if (path.find_first_of(L" \t") == std::wstring::npos) return path;
  return kQuote + path + kQuote;
}

// An argument as the C runtime (and CommandLineToArgvW) reads it back. One
// without space, tab, newline or quote stays exactly as it is; any other
// goes in quotes, where backslashes are literal except before a quote: 2n
// backslashes before the closing quote read as n, and 2n+1 before a quote
// read as n and the quote itself.
std::wstring QuotedArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = kQuote;
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    quoted.push_back(c);
    backslashes = 0;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + kQuote;
}

// Starts `program` with `words` as its command line, each word already as the
// child is to read it: _wspawnv joins them with single spaces and adds no
// quotes of its own.
RunResult Spawn(const std::wstring& program, const std::vector<std::wstring>& words) {
  std::fflush(stdout);
  std::vector<const wchar_t*> pointers;
  for (const std::wstring& word : words) pointers.push_back(word.c_str());
  pointers.push_back(nullptr);
  RunResult result;
  const ChildOutputToErrors redirected;
  errno = 0;
  const intptr_t status = _wspawnv(_P_WAIT, program.c_str(), pointers.data());
  result.status = static_cast<int>(status);
  if (result.status == -1) {
    result.error = errno;
  } else {
    result.abnormal = static_cast<std::uint32_t>(result.status) >= kErrorSeverity;
  }
  return result;
}

}  // namespace

void SendChildOutputToErrors(bool to_errors) { child_output_to_errors = to_errors; }

RunResult RunAndWait(const std::vector<std::wstring>& argv) {
  if (argv.empty()) return {-1, ENOENT};
  std::vector<std::wstring> words = {ProgramWord(argv[0])};
  for (size_t i = 1; i < argv.size(); ++i) words.push_back(QuotedArgument(argv[i]));
  return Spawn(argv[0], words);
}

// cmd.exe takes all that follows /C as the command, by its own rules, not the
// C runtime's: the text goes as it stands, in one pair of outer quotes, which
// cmd strips from a command that begins with a quote, so the text keeps its
// own quotes and a path with spaces still runs. /D comes first: the
// machine's AutoRun commands would run before the command, their output would
// land at the top of the listing, and one that changes folder would send the
// listing elsewhere.
// /V:OFF follows: where the machine turns delayed expansion on, a "!" in the
// tool's path or the working folder would be read as a variable. The held
// file keeps the name for cmd's redirection, which opens it to write.
RunResult RunThroughShell(const std::wstring& shell, const ShellCommand& command,
                          const HeldFile& /*output*/) {
  return Spawn(shell, {ProgramWord(shell), kNoAutoRun, kNoDelayedExpansion, kShellSwitch,
                       kQuote + command.text + kQuote});
}

// A handler of the tool's own, not the "ignore Ctrl+C" flag, which the
// programs it starts would inherit: they keep their own default handling.
void HoldInterrupts() {
  if (g_holding) return;
  g_holding = true;
  g_released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(HoldInterrupt, TRUE);
}

void ReleaseInterrupts() {
  if (!g_holding) return;
  g_holding = false;
  SetConsoleCtrlHandler(HoldInterrupt, FALSE);
  // The event stays open: a handler still waiting on it must find it set.
  if (const HANDLE released = g_released.exchange(nullptr)) SetEvent(released);
}

}  // namespace platform
