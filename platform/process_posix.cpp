#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/machine_posix.h"
#include "platform/process.h"
#include "platform/wide_text.h"

extern char** environ;

namespace platform {

namespace {

const char kShell[] = "/bin/sh";
const int kNotStarted = -1;

// Set once by SendChildOutputToErrors: the child's standard output becomes
// the tool's standard error.
bool child_output_to_errors = false;
posix_spawn_file_actions_t output_to_errors;

const posix_spawn_file_actions_t* ChildOutputActions() {
  return child_output_to_errors ? &output_to_errors : nullptr;
}

// Exit statuses keep 8 bits here: 255 is how a child's -1 arrives.
int ExitStatus(int wait_status) {
  if (WIFEXITED(wait_status)) {
    const int code = WEXITSTATUS(wait_status);
    return code == 255 ? kNotStarted : code;
  }
  return 128 + WTERMSIG(wait_status);
}

RunResult Spawn(const std::string& program, const std::vector<std::string>& args) {
  std::fflush(stdout);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  RunResult result;
  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), ChildOutputActions(), nullptr, argv.data(), environ);
  if (error != 0) {
    result.status = kNotStarted;
    result.error = error;
    return result;
  }
  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) {
      result.status = kNotStarted;
      result.error = errno;
      return result;
    }
  }
  result.status = ExitStatus(wait_status);
  return result;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

}  // namespace

void SendChildOutputToErrors(bool to_errors) {
  if (to_errors && !child_output_to_errors) {
    posix_spawn_file_actions_init(&output_to_errors);
    posix_spawn_file_actions_adddup2(&output_to_errors, STDERR_FILENO, STDOUT_FILENO);
  }
  child_output_to_errors = to_errors;
}

RunResult RunAndWait(const std::vector<std::wstring>& argv) {
  std::vector<std::string> args;
  for (const std::wstring& arg : argv) args.push_back(EncodeUtf8(arg));
  if (!args.empty()) args[0] = HostPath(argv[0]);
  return Spawn(args.empty() ? std::string() : args[0], args);
}

// The shell creates the listing with noclobber, which refuses a file that
// reappeared at the name since the caller cleared it, a link included,
// instead of writing through it; umask 077 keeps the listing to its owner,
// and the program itself runs under the tool's own umask.
RunResult RunThroughShell(const std::wstring& /*shell*/, const ShellCommand& command) {
  if (command.argv.empty()) return {kNotStarted, ENOENT};
  const mode_t mask = umask(077);
  umask(mask);
  char own_mask[8];
  std::snprintf(own_mask, sizeof own_mask, "%04o", static_cast<unsigned>(mask));
  std::string line = "set -C && umask 077 && exec > " + ShellQuote(HostPath(command.output)) +
                     " && umask " + own_mask + " && exec " + ShellQuote(HostPath(command.argv[0]));
  for (size_t i = 1; i < command.argv.size(); ++i) {
    line += " " + ShellQuote(EncodeUtf8(command.argv[i]));
  }
  return Spawn(kShell, {kShell, "-c", line});
}

}  // namespace platform
