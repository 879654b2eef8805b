#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/framework.h"
#include "platform/stand_in/wide_text.h"

namespace platform {

// A console program here needs no framework. The one thing to prepare is the
// handling of ended children: a parent that ignores SIGCHLD passes that on,
// and then the kernel reaps the management tool and NET itself, so the tool
// could never learn how they ended. The default handling is restored before
// any child starts; the stand-in always starts.
// A write into a pipe whose reader is gone (the output piped into head, or a
// tee that a Ctrl+C ended) fails, as it does on Windows, instead of ending
// the tool: a request that stored its policy still ends with its own
// status. The programs the tool starts inherit that, and see a failed write
// too.
// A standard descriptor the caller closed is given the null device, so that
// no file the tool opens later (the held listing) takes its number and
// reaches the children as their output.
bool InitializeFramework() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      // The lowest free descriptor: this one, as those below it are open.
      const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
      if (null > fd) close(null);
    }
  }
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGCHLD, &action, nullptr);  // fails only for a signal that does not exist
  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
  return true;
}

std::vector<std::wstring> ArgumentVector(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 0; i < argc; ++i) args.push_back(DecodeUtf8(argv[i]));
  return args;
}

}  // namespace platform
