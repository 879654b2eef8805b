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
/// The child reads each argument back as it was given, spaces, tabs, quotes
/// and backslashes included (on Windows the command line quotes them as the C
/// runtime reads it; an argument that needs no quotes goes as it is).
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
/// the shell. Nothing is removed first: a file already at the output's name
/// is the caller's to clear.
///   Windows: `shell` is cmd.exe, started with /D (so the machine's AutoRun
///   commands do not run first) and /C, and given `command.text` as it
///   stands. Its redirection creates the file, or writes over one at the name
///   (through a link, were one there); the file takes the permissions its
///   folder passes on.
///   Stand-in machine: the shell is always /bin/sh, whatever `shell` says. It
///   runs `command.argv` with the file created by the shell's noclobber, so
///   a file that reappeared at the name, or a link to one, is never written
///   to; the file is readable by its owner only.
RunResult RunThroughShell(const std::wstring& shell, const ShellCommand& command);

/// For the whole process, from this call on: with `to_errors`, the programs
/// that RunAndWait and RunThroughShell start write their standard output to
/// the tool's standard error, so that the tool's own standard output carries
/// nothing of theirs. A shell's redirection still sends the listing into its
/// file.
void SendChildOutputToErrors(bool to_errors);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_PROCESS_H_
