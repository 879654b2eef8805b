#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "platform/process.h"

namespace platform {

namespace {

const std::wstring kNoAutoRun = L"/D";
const std::wstring kNoDelayedExpansion = L"/V:OFF";
const std::wstring kShellSwitch = L"/C";
const std::wstring kQuote = L"\"";
const std::wstring kWordGap = L" ";
const std::wstring kNullDevice = L"NUL";

// Exit codes from here up are status codes of error severity: a crash (an
// access violation is 0xC0000005) or an exception nobody handled.
const std::uint32_t kErrorSeverity = 0xC0000000u;
// A child's own exit code of -1 reads as "did not start", with no reason,
// as the C runtime's spawn reported it.
const DWORD kExitMinusOne = 0xFFFFFFFFu;
const int kNotStarted = -1;
const DWORD kWaitLimitMs = static_cast<DWORD>(kChildWaitSeconds) * 1000;
// The exit code of a child ended for not finishing in time: ERROR_TIMEOUT.
const UINT kEndedCode = ERROR_TIMEOUT;

// The C runtime's errno for a system error code: the codes a start can fail
// with, and the ranges it reads as one, as its own spawn mapped them; any
// other code reads as EINVAL.
struct CodeErrno {
  DWORD first;
  DWORD last;
  int error;
};
const CodeErrno kStartErrors[] = {
    {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_TOO_MANY_OPEN_FILES, ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, EACCES},
    {ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE, EBADF},
    {ERROR_ARENA_TRASHED, ERROR_INVALID_BLOCK, ENOMEM},
    {ERROR_BAD_ENVIRONMENT, ERROR_BAD_ENVIRONMENT, E2BIG},
    {ERROR_BAD_FORMAT, ERROR_BAD_FORMAT, ENOEXEC},
    {ERROR_INVALID_DRIVE, ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_CURRENT_DIRECTORY, ERROR_CURRENT_DIRECTORY, EACCES},
    {ERROR_NO_MORE_FILES, ERROR_NO_MORE_FILES, ENOENT},
    {ERROR_WRITE_PROTECT, ERROR_SHARING_BUFFER_EXCEEDED, EACCES},
    {ERROR_BAD_NETPATH, ERROR_BAD_NETPATH, ENOENT},
    {ERROR_NETWORK_ACCESS_DENIED, ERROR_NETWORK_ACCESS_DENIED, EACCES},
    {ERROR_BAD_NET_NAME, ERROR_BAD_NET_NAME, ENOENT},
    {ERROR_NO_PROC_SLOTS, ERROR_NO_PROC_SLOTS, EAGAIN},
    {ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME, ENOENT},
    {ERROR_MAX_THRDS_REACHED, ERROR_MAX_THRDS_REACHED, EAGAIN},
    {ERROR_INVALID_STARTING_CODESEG, ERROR_INFLOOP_IN_RELOC_CHAIN, ENOEXEC},
    {ERROR_FILENAME_EXCED_RANGE, ERROR_FILENAME_EXCED_RANGE, ENOENT},
    {ERROR_NESTING_NOT_ALLOWED, ERROR_NESTING_NOT_ALLOWED, EAGAIN},
    {ERROR_NOT_ENOUGH_QUOTA, ERROR_NOT_ENOUGH_QUOTA, ENOMEM},
};

int ErrnoOf(DWORD code) {
  for (const CodeErrno& row : kStartErrors) {
    if (code >= row.first && code <= row.last) return row.error;
  }
  return EINVAL;
}

bool g_holding = false;

// Ctrl+C and Ctrl+Break are swallowed. Closing the console, logging off or
// shutting down end the process once the handler returns, so the handler,
// on a thread of its own, never returns: the run ends first, with its own
// status, as long as Windows allows (about five seconds for a closed
// console).
BOOL WINAPI HoldInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(INFINITE);
  return TRUE;
}

bool child_output_to_errors = false;

// Windows 7 and earlier give a console's handles as values ending in binary
// 11, which are no kernel handles: named in a list of handles to inherit
// they fail the start, and a child gets them only by inheriting at large.
bool IsOldConsoleHandle(HANDLE handle) {
  return (reinterpret_cast<std::uintptr_t>(handle) & 3) == 3 &&
         GetFileType(handle) == FILE_TYPE_CHAR;
}

// The standard handles of one child: inheritable duplicates of the tool's
// own, made for this child alone and closed once it has started, so that
// nothing of the tool's own changes. One handle the tool was given for both
// standard output and error (a launcher's single pipe) becomes two
// duplicates, so both stay open whatever the child does with either. Where
// the tool has no usable handle, the child gets the null device, as "> nul"
// gives it: a null handle is no "nothing" on every Windows, since a console
// program may be handed the console in its place, and the child's writes
// into the null device succeed, so it ends as it would have.
class ChildHandles {
 public:
  ChildHandles() {
    input_ = Duplicate(STD_INPUT_HANDLE);
    output_ = Duplicate(child_output_to_errors ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    errors_ = Duplicate(STD_ERROR_HANDLE);
  }
  ~ChildHandles() {
    for (HANDLE handle : {input_, output_, errors_}) {
      if (handle != nullptr) CloseHandle(handle);
    }
  }
  ChildHandles(const ChildHandles&) = delete;
  ChildHandles& operator=(const ChildHandles&) = delete;

  void Give(STARTUPINFOW* startup) const {
    startup->dwFlags |= STARTF_USESTDHANDLES;
    startup->hStdInput = input_;
    startup->hStdOutput = output_;
    startup->hStdError = errors_;
  }

  // The handles for the child to inherit by name; an old console's are
  // inherited with the rest where they are all there is.
  std::vector<HANDLE> Listed() const {
    std::vector<HANDLE> listed;
    for (HANDLE handle : {input_, output_, errors_}) {
      if (handle != nullptr && !IsOldConsoleHandle(handle)) listed.push_back(handle);
    }
    return listed;
  }
  bool Any() const { return input_ != nullptr || output_ != nullptr || errors_ != nullptr; }

 private:
  static HANDLE Duplicate(DWORD which) {
    const HANDLE own = GetStdHandle(which);
    HANDLE copy = nullptr;
    if (own != nullptr && own != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                        DUPLICATE_SAME_ACCESS)) {
      return copy;
    }
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    copy = CreateFileW(kNullDevice.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);
    return copy == INVALID_HANDLE_VALUE ? nullptr : copy;
  }

  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
  HANDLE errors_ = nullptr;
};

// The list that limits what a child inherits to its own standard handles:
// any other inheritable handle of the tool's (one its launcher handed on,
// say) stays with the tool. Without handles to name, there is no list.
class InheritedHandles {
 public:
  explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    if (handles_.empty()) return;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    buffer_.resize(size);
    const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
      error_ = GetLastError();
      return;
    }
    list_ = list;
    if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                   handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      error_ = GetLastError();
    }
  }
  ~InheritedHandles() {
    if (list_ != nullptr) DeleteProcThreadAttributeList(list_);
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;

  LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }
  DWORD error() const { return error_; }

 private:
  std::vector<HANDLE> handles_;
  std::vector<char> buffer_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
  DWORD error_ = ERROR_SUCCESS;
};

// The job a child runs in, with all it starts, so that a child that does not
// end in time is ended whole. Where no job can be had for it (the tool's own
// job allows none nested, as on Windows 7), the child alone is ended.
class ChildJob {
 public:
  explicit ChildJob(HANDLE process) : job_(CreateJobObjectW(nullptr, nullptr)) {
    if (job_ != nullptr && !AssignProcessToJobObject(job_, process)) {
      CloseHandle(job_);
      job_ = nullptr;
    }
  }
  ~ChildJob() {
    if (job_ != nullptr) CloseHandle(job_);
  }
  ChildJob(const ChildJob&) = delete;
  ChildJob& operator=(const ChildJob&) = delete;

  void End(HANDLE process) const {
    if (job_ == nullptr || !TerminateJobObject(job_, kEndedCode)) {
      TerminateProcess(process, kEndedCode);
    }
  }

 private:
  HANDLE job_;
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

// Starts `program` (a full path: nothing is searched) with `words` as its
// command line, each word already as the child is to read it, joined with
// single spaces, and waits for it.
RunResult Spawn(const std::wstring& program, const std::vector<std::wstring>& words) {
  std::fflush(stdout);
  std::wstring line = words.front();
  for (size_t i = 1; i < words.size(); ++i) line += kWordGap + words[i];
  const ChildHandles handles;
  const InheritedHandles inherited(handles.Listed());
  if (inherited.error() != ERROR_SUCCESS) return {kNotStarted, ErrnoOf(inherited.error())};
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup.StartupInfo;
  handles.Give(&startup.StartupInfo);
  DWORD flags = 0;
  if (inherited.list() != nullptr) {
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = inherited.list();
    flags = EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, handles.Any(),
                      flags | CREATE_SUSPENDED, nullptr, nullptr, &startup.StartupInfo,
                      &process)) {
    return {kNotStarted, ErrnoOf(GetLastError())};
  }
  // In a job of its own before it runs, so that whatever it starts is in the
  // job too and ends with it.
  const ChildJob job(process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  const bool timed_out = WaitForSingleObject(process.hProcess, kWaitLimitMs) == WAIT_TIMEOUT;
  if (timed_out) {
    job.End(process.hProcess);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  DWORD code = 0;
  const bool ended = GetExitCodeProcess(process.hProcess, &code);
  const DWORD error = GetLastError();
  CloseHandle(process.hProcess);
  if (!ended) return {kNotStarted, ErrnoOf(error)};
  RunResult result;
  result.status = static_cast<int>(code);
  result.abnormal = timed_out || (code >= kErrorSeverity && code != kExitMinusOne);
  result.timed_out = timed_out;
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
  SetConsoleCtrlHandler(HoldInterrupt, TRUE);
}

}  // namespace platform
