#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

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

// The tests' shorter wait for a child (process.h).
const char kWaitVariable[] = "VELMORA_CHILD_WAIT_SECONDS";
// Where no pidfd can be had, how often a waiting run looks at its child.
const long kLookEveryNs = 10 * 1000 * 1000;

// An interrupt that reached the tool while it waited for a child, not held.
volatile sig_atomic_t g_interrupt = 0;
void NoteInterrupt(int signal) { g_interrupt = signal; }
// One taken while a shell wrote into a held file, for its release.
int g_deferred = 0;

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

std::chrono::milliseconds WaitLimit() {
  long seconds = kChildWaitSeconds;
  if (const char* text = std::getenv(kWaitVariable)) {
    char* end = nullptr;
    const long asked = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && asked >= 0 && asked < seconds) seconds = asked;
  }
  return std::chrono::seconds(seconds);
}

// Whether the tool's process group is the foreground of the terminal one of
// its standard descriptors is.
bool InTerminalForeground() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (isatty(fd) && tcgetpgrp(fd) == getpgrp()) return true;
  }
  return false;
}

// While the tool waits for a child that leads a process group of its own, a
// Ctrl+C at the terminal reaches only the tool's group. Each interrupt that
// would end the tool is noted instead, passed on to the child's group, and
// taken by the tool itself once the child has ended. Ignored interrupts (all
// of them while held) stay ignored.
class InterruptRelay {
 public:
  // `defer`: an interrupt taken waits for the held file's release.
  explicit InterruptRelay(bool defer) : defer_(defer) {
    struct sigaction note = {};
    note.sa_handler = NoteInterrupt;
    sigemptyset(&note.sa_mask);
    for (size_t i = 0; i < kCount; ++i) {
      sigaction(kInterrupts[i], nullptr, &before_[i]);
      relayed_[i] = before_[i].sa_handler == SIG_DFL;
      if (relayed_[i]) sigaction(kInterrupts[i], &note, nullptr);
    }
  }
  ~InterruptRelay() {
    for (size_t i = 0; i < kCount; ++i) {
      if (relayed_[i]) sigaction(kInterrupts[i], &before_[i], nullptr);
    }
    // One noted but not yet passed on (the child had ended, or never
    // started) is the tool's all the same.
    const int taken = taken_ != 0 ? taken_ : static_cast<int>(g_interrupt);
    g_interrupt = 0;
    if (taken != 0 && defer_) {
      g_deferred = taken;
    } else if (taken != 0) {
      raise(taken);
    }
  }
  InterruptRelay(const InterruptRelay&) = delete;
  InterruptRelay& operator=(const InterruptRelay&) = delete;

  // The set to block between looks, so that none slips past a look.
  sigset_t Relayed() const {
    sigset_t set;
    sigemptyset(&set);
    for (size_t i = 0; i < kCount; ++i) {
      if (relayed_[i]) sigaddset(&set, kInterrupts[i]);
    }
    return set;
  }
  // Passes a noted interrupt on to the child: its group, where it leads one.
  void PassOn(pid_t child, bool group) {
    const int signal = g_interrupt;
    if (signal == 0) return;
    g_interrupt = 0;
    taken_ = signal;
    kill(group ? -child : child, signal);
  }

 private:
  static constexpr size_t kCount = sizeof kInterrupts / sizeof kInterrupts[0];
  struct sigaction before_[kCount];
  bool relayed_[kCount] = {};
  int taken_ = 0;
  bool defer_;
};

// Waits for the child `pid` at most WaitLimit(); then kills it, with its
// process group where it leads one (`group`), and reaps it.
RunResult AwaitChild(pid_t pid, bool group, InterruptRelay* relay) {
  const auto deadline = std::chrono::steady_clock::now() + WaitLimit();
  const sigset_t relayed = relay->Relayed();
  sigset_t unblocked;
  sigprocmask(SIG_BLOCK, &relayed, &unblocked);
  // Debian 12's <sys/pidfd.h> declares pidfd_open without C linkage.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  int wait_status = 0;
  RunResult result;
  bool timed_out = false;
  for (;;) {
    const pid_t done = waitpid(pid, &wait_status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      result = {kNotStarted, errno, false};
      break;
    }
    relay->PassOn(pid, group);
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
      timed_out = true;
      break;
    }
    const auto left_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    struct timespec pause = {};
    const long long step = pidfd >= 0 ? left_ns : std::min<long long>(left_ns, kLookEveryNs);
    pause.tv_sec = static_cast<time_t>(step / 1000000000);
    pause.tv_nsec = static_cast<long>(step % 1000000000);
    struct pollfd ended = {pidfd, POLLIN, 0};
    ppoll(&ended, pidfd >= 0 ? 1 : 0, &pause, &unblocked);
  }
  if (timed_out) {
    kill(group ? -pid : pid, SIGKILL);
    while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
    }
    result = Ended(wait_status);
    result.timed_out = true;
  } else if (result.status != kNotStarted) {
    result = Ended(wait_status);
  }
  if (pidfd >= 0) close(pidfd);
  sigprocmask(SIG_SETMASK, &unblocked, nullptr);
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
  }
  // A process group of its own, so that all it starts can be ended with it;
  // but where the tool runs in the foreground of a terminal, the tool's own,
  // so that the child may use the terminal as before and Ctrl+C reaches it.
  const bool group = !InTerminalForeground();
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(
      &attributes, static_cast<short>((group ? POSIX_SPAWN_SETPGROUP : 0) |
                                      (g_holding ? POSIX_SPAWN_SETSIGDEF : 0)));
  InterruptRelay relay(output >= 0);
  pid_t pid = 0;
  const int error =
      posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return {kNotStarted, error, false};
  return AwaitChild(pid, group, &relay);
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

void TakeDeferredInterrupt() {
  const int deferred = g_deferred;
  g_deferred = 0;
  if (deferred != 0) raise(deferred);
}

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

}  // namespace platform
