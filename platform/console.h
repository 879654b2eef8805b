#ifndef SNAPRESERVE_PLATFORM_CONSOLE_H_
#define SNAPRESERVE_PLATFORM_CONSOLE_H_

#include <string>

namespace platform {

/// Writes text to standard output as it stands. Every message of the tool goes
/// through here; nothing is ever written to standard error.
void PrintText(const std::wstring& text);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_CONSOLE_H_
