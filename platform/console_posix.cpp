#include <cstdio>

#include "platform/console.h"
#include "platform/wide_text.h"

namespace platform {

void PrintText(const std::wstring& text) {
  const std::string bytes = EncodeUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

}  // namespace platform
