#ifndef SNAPRESERVE_PLATFORM_CONSOLE_H_
#define SNAPRESERVE_PLATFORM_CONSOLE_H_

#include <string>

namespace platform {

/// Writes text to standard output as it stands. Every message of the tool goes
/// through here, but for what PrintError writes.
void PrintText(const std::wstring& text);

/// Writes text to standard error as it stands, after anything printed
/// before; never held. Only a line about the run's own record (an event not
/// recorded) goes there, so that the output stays as the product prints it.
void PrintError(const std::wstring& text);

/// While `held` is set, PrintText appends its text there and writes nothing;
/// nullptr has it write again. A report that prints one document holds every
/// other line this way.
void HoldPrintedText(std::wstring* held);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_CONSOLE_H_
