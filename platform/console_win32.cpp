#include <cstdio>

#include "platform/console.h"

namespace platform {

// The C runtime's wide output: on a console or a file it writes the text in
// the current code page, and its text mode turns each "\n" into "\r\n".
void PrintText(const std::wstring& text) { std::fputws(text.c_str(), stdout); }

}  // namespace platform
