#ifndef SNAPRESERVE_PLATFORM_PROCESS_H_
#define SNAPRESERVE_PLATFORM_PROCESS_H_

#include <string>
#include <vector>

#include "platform/files.h"

namespace platform {

/// How a child process ended. `status` is its exit status, or -1 when it could
/// not be started; `error` is then the C runtime's errno (possibly 0, as when
/// the child itself ended with -1). `abnormal` says the program did not end
/// of its own accord, whatever its status:
///   Windows: an exit code of error severity, 0xC0000000 and above as an
///   unsigned number (a crash or an unhandled exception), -1 aside.
///   Stand-in machine: ended by a signal.
struct RunResult {
  int status = 0;
  int error = 0;
  bool abnormal = false;
  bool timed_out = false;  // still running at the limit below, and ended
};

/// How long RunAndWait and RunThroughShell wait for a child. One still
/// running then is ended with every process it started, and its result is
/// abnormal and timed out.
///   Windows: the child runs in a job object of its own, which is ended
///   (where the tool's own job allows none nested, as on Windows 7, the
///   child alone is ended).
///   Stand-in machine: the child leads a process group of its own, which is
///   killed; an interrupt that reaches the tool while it waits is passed on
///   to that group first. Where the tool runs in the foreground of a terminal
///   the child stays in the tool's group, so that it may use the terminal and
///   Ctrl+C reaches it as before, and only the child is killed. VELMORA_CHILD_WAIT_SECONDS, where set to a number
///   below this, waits that long instead (for tests).
constexpr int kChildWaitSeconds = 120;

/// Starts the program `argv[0]` (a Windows path) with that argument vector,
/// sharing the tool's standard output, and waits for it to end. Standard
/// output is flushed first, so that the child's output lands after the tool's.
/// The child reads each argument back as it was given, spaces, tabs, quotes
/// and backslashes included (on Windows the command line quotes them as the C
/// runtime reads it; an argument that needs no quotes goes as it is).
///   Windows: the child is given copies of the tool's standard input, output
///   and error (the null device for one the tool lacks), and inherits no
///   other handle (on Windows 7, unless all it is given are console handles).
RunResult RunAndWait(const std::vector<std::wstring>& argv);

/// A program for the command shell to run with its standard output sent into
/// a file. `argv` is the program (a Windows path) and its arguments, `output`
/// the file, relative to the working directory; `text` is the same command
/// as cmd.exe reads it, written by the caller. A shell that reads another
/// syntax builds its own command from `argv` and `output`.
struct ShellCommand {
  std::vector<std::wstring> argv;
  std::wstring output;
  std::wstring text;
};

/// Has the command shell `shell` (a Windows path) run `command` and waits for
/// the shell, with the program's output going into `output`, a file the
/// caller created at `command.output` and holds (files.h).
///   Windows: `shell` is cmd.exe, started with /D (so the machine's AutoRun
///   commands do not run first), /V:OFF (so that no setting of the machine's
///   expands a "!" in a path) and /C, and given `command.text` as it stands.
///   Its redirection opens the name, which the held file keeps from being
///   removed or replaced, and empties and fills that same file.
///   Stand-in machine: the shell is always /bin/sh, whatever `shell` says. It
///   runs `command.argv` with the held file as its standard output; nothing
///   is opened by name.
RunResult RunThroughShell(const std::wstring& shell, const ShellCommand& command,
                          const HeldFile& output);

/// From HoldInterrupts to the end of the run, an interrupt does not stop the
/// tool, so that a stopped monitor service is always started again and the
/// request recorded, and the run ends with its own status. The programs it
/// starts meanwhile keep the handling they would have had.
///   Windows: Ctrl+C and Ctrl+Break. Closing the console, logging off or
///   shutting down hold the tool only as long as Windows waits for it: the
///   handler keeps the process until the run ends.
///   Stand-in machine: SIGINT, SIGTERM, SIGHUP and SIGQUIT (SIGPIPE is
///   ignored for the whole run).
void HoldInterrupts();

/// For the whole process, from this call on: with `to_errors`, the programs
/// that RunAndWait and RunThroughShell start write their standard output to
/// the tool's standard error, so that the tool's own standard output carries
/// nothing of theirs. A shell's redirection still sends the listing into its
/// file.
///   Windows: only the child's handles change; the tool's own standard
///   handles and C runtime descriptors are never touched.
void SendChildOutputToErrors(bool to_errors);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_PROCESS_H_
