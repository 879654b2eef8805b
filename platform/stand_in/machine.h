#ifndef SNAPRESERVE_PLATFORM_STAND_IN_MACHINE_H_
#define SNAPRESERVE_PLATFORM_STAND_IN_MACHINE_H_

#include <string>

// The POSIX stand-in for a Windows server: a directory, $VELMORA_ROOT, whose
// drive_c folder is drive C: and whose system.reg is HKEY_LOCAL_MACHINE.

namespace platform {

/// The machine's root directory.
std::string MachineRoot();

/// The host file for a Windows path: "C:\A\b.exe" is <root>/drive_c/A/b.exe;
/// a relative path stays relative, its backslashes turned into slashes.
std::string HostPath(const std::wstring& windows_path);

/// The name, in the root, of the file that holds HKEY_LOCAL_MACHINE.
const char kRegistryFileName[] = "system.reg";

/// The file that holds HKEY_LOCAL_MACHINE, or a link to it.
std::string RegistryFilePath();

/// An interrupt that reached the tool while a shell wrote into a held file
/// (process.cpp) is taken once the file is released (files.cpp), so that
/// the listing file never outlives the run; none pending, nothing happens.
void TakeDeferredInterrupt();

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_STAND_IN_MACHINE_H_
