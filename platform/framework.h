#ifndef SNAPRESERVE_PLATFORM_FRAMEWORK_H_
#define SNAPRESERVE_PLATFORM_FRAMEWORK_H_

#include <string>
#include <vector>

namespace platform {

/// Prepares the application framework of a console program, and the process
/// state the tool relies on whatever its parent left (on the stand-in machine,
/// the default handling of ended children, so that it can collect its own).
/// Called first, before any child starts. False when it cannot be used; the
/// tool then stops at once.
bool InitializeFramework();

/// The program's arguments as the command processor passed them, the program
/// name first, without wildcard expansion.
std::vector<std::wstring> ArgumentVector(int argc, char** argv);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_FRAMEWORK_H_
