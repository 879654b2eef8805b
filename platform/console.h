#ifndef SNAPRESERVE_PLATFORM_CONSOLE_H_
#define SNAPRESERVE_PLATFORM_CONSOLE_H_

#include <string>

namespace platform {

/// Writes text to standard output as it stands. Every message of the tool goes
/// through here; nothing is ever written to standard error.
void PrintText(const std::wstring& text);

/// While `held` is set, PrintText appends its text there and writes nothing;
/// nullptr has it write again. A report that prints one document holds every
/// other line this way.
void HoldPrintedText(std::wstring* held);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_CONSOLE_H_
