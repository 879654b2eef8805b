#include "platform/framework.h"
#include "platform/wide_text.h"

namespace platform {

// A console program here needs no framework; the stand-in always starts.
bool InitializeFramework() { return true; }

std::vector<std::wstring> ArgumentVector(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 0; i < argc; ++i) args.push_back(DecodeUtf8(argv[i]));
  return args;
}

}  // namespace platform
