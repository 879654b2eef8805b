#ifndef SNAPRESERVE_PLATFORM_PROCESS_H_
#define SNAPRESERVE_PLATFORM_PROCESS_H_

#include <string>
#include <vector>

namespace platform {

/// How a child process ended. `status` is its exit status, or -1 when it could
/// not be started; `error` is then the C runtime's errno (possibly 0, as when
/// the child itself ended with -1).
struct RunResult {
  int status = 0;
  int error = 0;
};

/// Starts the program `argv[0]` (a Windows path) with that argument vector,
/// sharing the tool's standard output, and waits for it to end. Standard
/// output is flushed first, so that the child's output lands after the tool's.
RunResult RunAndWait(const std::vector<std::wstring>& argv);

/// Has the command shell `shell` (a Windows path) run `program word` with its
/// standard output sent into `file`, relative to the working directory, and
/// waits for the shell. The file is created afresh (a link at that name is
/// replaced, never followed), readable by its owner only. When a leftover file
/// at that name cannot be removed, nothing runs and the result is a failure to
/// start. The stand-in machine has no cmd.exe: its shell is always /bin/sh.
RunResult RunThroughShell(const std::wstring& shell, const std::wstring& program,
                          const std::wstring& word, const std::wstring& file);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_PROCESS_H_
