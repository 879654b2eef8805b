#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/stand_in/machine.h"
#include "platform/process.h"
#include "platform/stand_in/wide_text.h"

extern char** environ;

namespace platform {

namespace {

const char kShell[] = "/bin/sh";
const int kNotStarted = -1;
const char kNullDevice[] = "/dev/null";
// SIGPIPE is ignored for the whole run (framework.cpp).
const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// While interrupts are held: what each of them did before, and so what the
// programs started meanwhile must be given back.
bool g_holding = false;
struct sigaction g_before[sizeof kInterrupts / sizeof kInterrupts[0]];

// Set by SendChildOutputToErrors: the child's standard output becomes the
// tool's standard error (unless the child writes into a held file).
bool child_output_to_errors = false;

// Exit statuses keep 8 bits here: 255 is how a child's -1 arrives.
RunResult Ended(int wait_status) {
  RunResult result;
  if (WIFEXITED(wait_status)) {
    const int code = WEXITSTATUS(wait_status);
    result.status = code == 255 ? kNotStarted : code;
  } else {
    result.status = 128 + WTERMSIG(wait_status);
    result.abnormal = true;
  }
  return result;
}

// Starts `program` and waits for it; `output`, when not -1, becomes its
// standard output. While interrupts are held, the child gets back the
// handling the tool had before: an ignored signal stays ignored, any other
// takes its default.
RunResult Spawn(const std::string& program, const std::vector<std::string>& args,
                int output = -1) {
  std::fflush(stdout);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  // The child's output: the held file, the tool's standard error or its
  // standard output; where the tool has none of the two open, the null
  // device, so that a file the child opens never takes descriptor 1.
  const int source = output >= 0 ? output : child_output_to_errors ? STDERR_FILENO : STDOUT_FILENO;
  if (fcntl(source, F_GETFD) < 0) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, kNullDevice, O_WRONLY, 0);
  } else if (source != STDOUT_FILENO) {
    posix_spawn_file_actions_adddup2(&actions, source, STDOUT_FILENO);
  }
  if (g_holding) {
    sigset_t defaults;
    sigemptyset(&defaults);
    for (size_t i = 0; i < sizeof kInterrupts / sizeof kInterrupts[0]; ++i) {
      if (g_before[i].sa_handler != SIG_IGN) sigaddset(&defaults, kInterrupts[i]);
    }
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  }
  pid_t pid = 0;
  const int error =
      posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return {kNotStarted, error, false};
  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) return {kNotStarted, errno, false};
  }
  return Ended(wait_status);
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

void SendChildOutputToErrors(bool to_errors) { child_output_to_errors = to_errors; }

RunResult RunAndWait(const std::vector<std::wstring>& argv) {
  std::vector<std::string> args;
  for (const std::wstring& arg : argv) args.push_back(EncodeUtf8(arg));
  if (!args.empty()) args[0] = HostPath(argv[0]);
  return Spawn(args.empty() ? std::string() : args[0], args);
}

// The shell's standard output is the held file itself: no name is opened, so
// nothing put at the name can take the listing's place.
RunResult RunThroughShell(const std::wstring& /*shell*/, const ShellCommand& command,
                          const HeldFile& output) {
  if (command.argv.empty() || output.handle < 0) return {kNotStarted, ENOENT, false};
  std::string line = "exec " + ShellQuote(HostPath(command.argv[0]));
  for (size_t i = 1; i < command.argv.size(); ++i) {
    line += " " + ShellQuote(EncodeUtf8(command.argv[i]));
  }
  return Spawn(kShell, {kShell, "-c", line}, static_cast<int>(output.handle));
}

void HoldInterrupts() {
  if (g_holding) return;
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (size_t i = 0; i < sizeof kInterrupts / sizeof kInterrupts[0]; ++i) {
    sigaction(kInterrupts[i], &ignore, &g_before[i]);
  }
  g_holding = true;
}

void ReleaseInterrupts() {
  if (!g_holding) return;
  for (size_t i = 0; i < sizeof kInterrupts / sizeof kInterrupts[0]; ++i) {
    sigaction(kInterrupts[i], &g_before[i], nullptr);
  }
  g_holding = false;
}

}  // namespace platform
