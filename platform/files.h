#ifndef SNAPRESERVE_PLATFORM_FILES_H_
#define SNAPRESERVE_PLATFORM_FILES_H_

#include <istream>
#include <memory>
#include <string>

namespace platform {

/// The short (8.3) form of an existing file's path. Returns 0, or a Windows
/// system error code when the file does not exist; nothing is run.
long ShortPathName(const std::wstring& path, std::wstring* short_path);

/// Opens a regular file for reading as a byte stream, never through a link,
/// and without waiting: anything else at the path (a directory, a FIFO) is
/// refused at once. Returns 0, or the C runtime's errno value.
int OpenFileForReading(const std::wstring& path,
                       std::unique_ptr<std::istream>* stream);

/// Deletes a file; a link is removed, never its target. False when nothing
/// was deleted.
bool DeleteFileAt(const std::wstring& path);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_FILES_H_
