#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/block_stream.h"
#include "platform/files.h"

namespace platform {

long ShortPathName(const std::wstring& path, std::wstring* short_path) {
  // A short form can be longer than the long one ("a b" is "AB~1"): when the
  // buffer is too small, the call says how much it needs.
  std::wstring buffer(path.size() + 1, L'\0');
  for (;;) {
    const DWORD length =
        GetShortPathNameW(path.c_str(), &buffer[0], static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      const DWORD error = GetLastError();
      return error != 0 ? static_cast<long>(error) : static_cast<long>(ERROR_FILE_NOT_FOUND);
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      *short_path = buffer;
      return 0;
    }
    buffer.assign(length, L'\0');
  }
}

int OpenFileForReading(const std::wstring& path, std::unique_ptr<std::istream>* stream) {
  const int fd = _wopen(path.c_str(), _O_RDONLY | _O_TEXT, _S_IREAD);
  if (fd < 0) return errno != 0 ? errno : EACCES;
  // Text mode: "\r\n" arrives as "\n".
  *stream = std::make_unique<BlockStream>(
      [fd](char* buffer, unsigned size) -> long { return _read(fd, buffer, size); },
      [fd] { _close(fd); });
  return 0;
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring SystemFolder() {
  const UINT size = GetSystemDirectoryW(nullptr, 0);
  if (size == 0) return std::wstring();
  std::wstring folder(size, L'\0');
  const UINT length = GetSystemDirectoryW(&folder[0], size);
  if (length == 0 || length >= size) return std::wstring();
  folder.resize(length);
  return folder;
}

// The known folders, not %ProgramFiles(x86)% and %ProgramFiles%: a user can
// point those anywhere.
std::vector<std::wstring> ProgramFolders() {
  std::vector<std::wstring> folders;
  for (const KNOWNFOLDERID& id : {FOLDERID_ProgramFilesX86, FOLDERID_ProgramFiles}) {
    PWSTR folder = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &folder))) folders.push_back(folder);
    CoTaskMemFree(folder);
  }
  return folders;
}

bool DeleteFileAt(const std::wstring& path) { return DeleteFileW(path.c_str()) != 0; }

}  // namespace platform
