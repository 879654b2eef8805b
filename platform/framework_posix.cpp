#include <signal.h>

#include "platform/framework.h"
#include "platform/wide_text.h"

namespace platform {

// A console program here needs no framework. The one thing to prepare is the
// handling of ended children: a parent that ignores SIGCHLD passes that on,
// and then the kernel reaps the management tool and NET itself, so the tool
// could never learn how they ended. The default handling is restored before
// any child starts; the stand-in always starts.
bool InitializeFramework() {
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(SIGCHLD, &default_action, nullptr);  // fails only for a signal that does not exist
  return true;
}

std::vector<std::wstring> ArgumentVector(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 0; i < argc; ++i) args.push_back(DecodeUtf8(argv[i]));
  return args;
}

}  // namespace platform
