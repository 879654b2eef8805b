#include <windows.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <vector>

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

namespace {

// A security descriptor that gives the file to the tool's own user,
// Administrators and SYSTEM alone, inheriting nothing from the folder.
// Empty when the user's identity cannot be read.
std::wstring OwnerOnlyAccess() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  std::wstring sddl;
  LPWSTR sid = nullptr;
  if (size != 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
    sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")(A;;FA;;;BA)(A;;FA;;;SY)";
    LocalFree(sid);
  }
  CloseHandle(token);
  return sddl;
}

// Why the name was not free: a folder, anything else (a file whose deletion
// is still pending denies even a look at it), or no right to create.
int NameTaken(const std::wstring& path, DWORD error) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? EISDIR : EEXIST;
  }
  if (GetLastError() == ERROR_ACCESS_DENIED) return EEXIST;
  return error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
}

// What a held file holds until cmd.exe's redirection empties it: a listing
// file that still holds it was never reached by the redirection, and the
// empty listing it would otherwise read as would let every request pass.
const char kUnwritten[] = "\0 listing not written \0";
const DWORD kUnwrittenSize = sizeof kUnwritten - 1;

// The file's identity: its volume and its index there.
bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

}  // namespace

// CREATE_NEW takes only a free name: a file or a link at it is never opened.
// The file is made with its mark in it, then held by a second handle that
// only reads and shares reading and writing, so that cmd.exe's redirection
// can open and fill it; neither shares deletion, so nobody can remove,
// rename or replace it from its creation on. No handle is inherited.
int CreateHeldFile(const std::wstring& path, HeldFile* file) {
  const std::wstring sddl = OwnerOnlyAccess();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (sddl.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                          sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return EACCES;
  }
  SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
  const HANDLE created =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  if (created == INVALID_HANDLE_VALUE) {
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
        error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
      return NameTaken(path, error);
    }
    return error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
  }
  DWORD written = 0;
  HANDLE held = INVALID_HANDLE_VALUE;
  if (WriteFile(created, kUnwritten, kUnwrittenSize, &written, nullptr) &&
      written == kUnwrittenSize) {
    held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  }
  if (held != INVALID_HANDLE_VALUE && !SameFile(created, held)) {
    CloseHandle(held);
    held = INVALID_HANDLE_VALUE;
  }
  CloseHandle(created);
  if (held == INVALID_HANDLE_VALUE) {
    DeleteFileW(path.c_str());
    return EACCES;
  }
  file->path = path;
  file->handle = reinterpret_cast<std::intptr_t>(held);
  return 0;
}

// Still one file on disk with one name, not turned into a link, and emptied
// by the redirection; read from its start with the tool's own handle.
int ReadHeldFile(const HeldFile& file, std::unique_ptr<std::istream>* stream) {
  const HANDLE handle = reinterpret_cast<HANDLE>(file.handle);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info) || GetFileType(handle) != FILE_TYPE_DISK ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    return EACCES;
  }
  if (info.nNumberOfLinks != 1) return EMLINK;
  LARGE_INTEGER start = {};
  char head[sizeof kUnwritten] = {};
  DWORD got = 0;
  if (!SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) ||
      !ReadFile(handle, head, sizeof head, &got, nullptr) ||
      !SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) {
    return EIO;
  }
  if (got == kUnwrittenSize && std::memcmp(head, kUnwritten, kUnwrittenSize) == 0) return ENOENT;
  *stream = std::make_unique<BlockStream>(
      [handle](char* buffer, unsigned size) -> long {
        DWORD read = 0;
        if (!ReadFile(handle, buffer, size, &read, nullptr)) return -1;
        return static_cast<long>(read);
      },
      [] {});
  return 0;
}

// Until the handle closes the name cannot change, so the file deleted next
// is the held one unless another program takes the name in between.
void ReleaseHeldFile(HeldFile* file) {
  if (file->handle == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(file->handle));
  file->handle = -1;
  DeleteFileW(file->path.c_str());
}

std::wstring WorkingFolder() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return std::wstring();
  std::wstring folder(size, L'\0');
  const DWORD length = GetCurrentDirectoryW(size, &folder[0]);
  if (length == 0 || length >= size) return std::wstring();
  folder.resize(length);
  return folder;
}

}  // namespace platform
