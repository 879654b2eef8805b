#ifndef SNAPRESERVE_PLATFORM_FILES_H_
#define SNAPRESERVE_PLATFORM_FILES_H_

#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

namespace platform {

/// The short (8.3) form of an existing file's path. Returns 0, or a Windows
/// system error code when the file does not exist; nothing is run.
long ShortPathName(const std::wstring& path, std::wstring* short_path);

/// True when anything but a folder is at the path. A link counts as itself,
/// whether or not it leads anywhere: on Windows a link to a folder is a
/// folder, on the stand-in machine every link is a file.
bool FileExists(const std::wstring& path);

/// The folder of the system's own programs, as the system reports it (never
/// from the environment, which a user can point anywhere); empty when the
/// system does not say. A 32-bit program on 64-bit Windows is given the
/// 32-bit programs through the system's own redirection.
std::wstring SystemFolder();

/// The folders programs are installed in, as the system reports them: the
/// one for 32-bit programs first, then the one for programs. A folder the
/// system does not report is left out.
std::vector<std::wstring> ProgramFolders();

/// Deletes a file; a link is removed, never its target. False when nothing
/// was deleted. A file that a run of the tool holds (below) is not deleted.
bool DeleteFileAt(const std::wstring& path);

/// A file that the tool created itself and holds open from its creation to
/// its removal, so that what it reads back is what was written into it,
/// whatever appears at its name meanwhile.
struct HeldFile {
  std::wstring path;
  std::intptr_t handle = -1;
};

/// Creates `path` as a new, empty file open to the tool's own user only, and
/// holds it. The name must be free: anything at it, a link included, is
/// never opened. Returns 0; EEXIST when a file or link is at the name,
/// EISDIR when a folder is; or another errno value.
///   Windows: open to the user, Administrators and SYSTEM. The file is held
///   sharing reading and writing but not deletion, so its name cannot be
///   removed, renamed or replaced while it is held.
///   Stand-in machine: mode 0600, and locked (flock), which DeleteFileAt
///   respects.
int CreateHeldFile(const std::wstring& path, HeldFile* file);

/// Reads a held file from its start through the tool's own handle, bytes as
/// they are. Refused (EMLINK) when the file has gained a second name, as a
/// hard link would give it. The stream must go before the file is released.
///   Windows: refused (ENOENT) when cmd.exe's redirection never reached the
///   file, which still holds the mark it was created with.
///   Stand-in machine: refused when the name no longer leads to the file.
int ReadHeldFile(const HeldFile& file, std::unique_ptr<std::istream>* stream);

/// Closes a held file and removes its name, as long as the name still leads
/// to that file (on Windows it cannot lead elsewhere).
void ReleaseHeldFile(HeldFile* file);

/// The working folder, as the system names it: a network folder begins with
/// two backslashes.
std::wstring WorkingFolder();

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_FILES_H_
