#include <cstdio>

#include "platform/console.h"
#include "platform/stand_in/wide_text.h"

namespace platform {

namespace {

std::wstring* held_text = nullptr;

}  // namespace

void HoldPrintedText(std::wstring* held) { held_text = held; }

void PrintText(const std::wstring& text) {
  if (held_text) {
    *held_text += text;
    return;
  }
  const std::string bytes = EncodeUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void PrintError(const std::wstring& text) {
  std::fflush(stdout);
  const std::string bytes = EncodeUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
}

}  // namespace platform
