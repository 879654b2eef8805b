#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/block_stream.h"
#include "platform/files.h"
#include "platform/stand_in/machine.h"
#include "platform/stand_in/wide_text.h"

namespace platform {

long ShortPathName(const std::wstring& path, std::wstring* short_path) {
  struct stat info;
  if (stat(HostPath(path).c_str(), &info) != 0) {
    return errno == ENOENT ? 2 /* ERROR_FILE_NOT_FOUND */ : 3 /* ERROR_PATH_NOT_FOUND */;
  }
  *short_path = path;
  return 0;
}

// lstat, as Windows reports a link's own attributes.
bool FileExists(const std::wstring& path) {
  struct stat info;
  return lstat(HostPath(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// The stand-in plays a 64-bit server, 32-bit programs under C:\Program Files
// (x86). Its Windows folder is C:\Windows where the machine has one, as every
// current server does, else C:\WINNT, where older servers were installed.
std::wstring SystemFolder() {
  struct stat info;
  if (stat(HostPath(L"C:\\Windows").c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return L"C:\\Windows\\System32";
  }
  return L"C:\\WINNT\\System32";
}

std::vector<std::wstring> ProgramFolders() {
  return {L"C:\\Program Files (x86)", L"C:\\Program Files"};
}

// A file that another run holds (below) stays, as a held file does on
// Windows, where it cannot be deleted: the name is then taken.
bool DeleteFileAt(const std::wstring& path) {
  const std::string host = HostPath(path);
  struct stat info;
  if (lstat(host.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    const int fd = open(host.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
      close(fd);
      if (held) return false;
    }
  }
  return unlink(host.c_str()) == 0;
}

// O_EXCL refuses anything at the name, a link too, even one that leads
// nowhere.
int CreateHeldFile(const std::wstring& path, HeldFile* file) {
  const std::string host = HostPath(path);
  const int fd = open(host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int error = errno;
    struct stat info;
    if (error == EEXIST && lstat(host.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return EISDIR;
    return error;
  }
  // The mode asked for passes through the umask, which can only narrow it.
  // The lock marks the file as held for every other run of the tool.
  flock(fd, LOCK_EX | LOCK_NB);
  file->path = path;
  file->handle = fd;
  return 0;
}

// As on Windows, where the held name cannot change, the listing counts only
// while its name still leads to the held file and to no other name.
int ReadHeldFile(const HeldFile& file, std::unique_ptr<std::istream>* stream) {
  const int fd = static_cast<int>(file.handle);
  struct stat held, named;
  if (fstat(fd, &held) != 0) return errno;
  if (lstat(HostPath(file.path).c_str(), &named) != 0 || held.st_dev != named.st_dev ||
      held.st_ino != named.st_ino) {
    return EACCES;
  }
  if (held.st_nlink != 1) return EMLINK;
  // pread from the start, whatever the shell left the shared offset at.
  auto at = std::make_shared<off_t>(0);
  *stream = std::make_unique<BlockStream>(
      [fd, at](char* buffer, unsigned size) -> long {
        ssize_t got;
        do {
          got = pread(fd, buffer, size, *at);
        } while (got < 0 && errno == EINTR);
        if (got > 0) *at += got;
        return static_cast<long>(got);
      },
      [] {});
  return 0;
}

// The name goes only while it still leads to the held file: another run in
// the same folder may have put its own there.
void ReleaseHeldFile(HeldFile* file) {
  if (file->handle < 0) return;
  const int fd = static_cast<int>(file->handle);
  const std::string host = HostPath(file->path);
  struct stat held, named;
  if (fstat(fd, &held) == 0 && lstat(host.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
      held.st_ino == named.st_ino) {
    unlink(host.c_str());
  }
  close(fd);
  file->handle = -1;
  TakeDeferredInterrupt();
}

std::wstring WorkingFolder() {
  char* folder = getcwd(nullptr, 0);
  if (folder == nullptr) return std::wstring();
  const std::wstring wide = DecodeUtf8(folder);
  std::free(folder);
  return wide;
}

}  // namespace platform
