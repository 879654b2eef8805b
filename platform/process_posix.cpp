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
  const int error = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
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

RunResult RunAndWait(const std::vector<std::wstring>& argv) {
  std::vector<std::string> args;
  for (const std::wstring& arg : argv) args.push_back(EncodeUtf8(arg));
  if (!args.empty()) args[0] = HostPath(argv[0]);
  return Spawn(args.empty() ? std::string() : args[0], args);
}

RunResult RunThroughShell(const std::wstring& /*shell*/, const std::wstring& program,
                          const std::wstring& word, const std::wstring& file) {
  // A leftover file or link goes first. The shell then creates the file with
  // noclobber, which refuses any name that reappeared meanwhile (a link
  // included) instead of writing through it; umask 077 keeps the listing to
  // its owner, and the tool itself runs under the tool's own umask.
  const std::string listing = HostPath(file);
  // A leftover that cannot go would be read as this run's listing: refuse.
  // A directory at the name stays; no listing opens on it.
  struct stat leftover;
  if (unlink(listing.c_str()) != 0 && errno != ENOENT) {
    const int error = errno;
    if (lstat(listing.c_str(), &leftover) != 0 || !S_ISDIR(leftover.st_mode)) {
      return {kNotStarted, error};
    }
  }
  const mode_t mask = umask(077);
  umask(mask);
  char own_mask[8];
  std::snprintf(own_mask, sizeof own_mask, "%04o", static_cast<unsigned>(mask));
  const std::string command = "set -C && umask 077 && exec > " + ShellQuote(listing) +
                              " && umask " + own_mask + " && exec " +
                              ShellQuote(HostPath(program)) + " " + ShellQuote(EncodeUtf8(word));
  return Spawn(kShell, {kShell, "-c", command});
}

}  // namespace platform
