#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <streambuf>

#include "platform/files.h"
#include "platform/machine_posix.h"

namespace platform {

namespace {

// Reads a file descriptor through one fixed buffer and closes it at the end.
class FileBuffer : public std::streambuf {
 public:
  explicit FileBuffer(int fd) : fd_(fd) {}
  ~FileBuffer() override { close(fd_); }
  FileBuffer(const FileBuffer&) = delete;
  FileBuffer& operator=(const FileBuffer&) = delete;

 protected:
  int_type underflow() override {
    ssize_t got;
    do {
      got = read(fd_, buffer_, sizeof buffer_);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return traits_type::eof();
    setg(buffer_, buffer_, buffer_ + got);
    return traits_type::to_int_type(buffer_[0]);
  }

 private:
  int fd_;
  char buffer_[65536];
};

class FileStream : public std::istream {
 public:
  explicit FileStream(int fd) : std::istream(nullptr), buffer_(fd) { rdbuf(&buffer_); }

 private:
  FileBuffer buffer_;
};

}  // namespace

long ShortPathName(const std::wstring& path, std::wstring* short_path) {
  struct stat info;
  if (stat(HostPath(path).c_str(), &info) != 0) {
    return errno == ENOENT ? 2 /* ERROR_FILE_NOT_FOUND */ : 3 /* ERROR_PATH_NOT_FOUND */;
  }
  *short_path = path;
  return 0;
}

int OpenFileForReading(const std::wstring& path, std::unique_ptr<std::istream>* stream) {
  const int fd = open(HostPath(path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  // A directory opens here but not on Windows: only a regular file is a listing.
  struct stat info;
  int error = 0;
  if (fstat(fd, &info) != 0) {
    error = errno;
  } else if (!S_ISREG(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? EISDIR : EACCES;
  }
  if (error != 0) {
    close(fd);
    return error;
  }
  *stream = std::make_unique<FileStream>(fd);
  return 0;
}

bool DeleteFileAt(const std::wstring& path) { return unlink(HostPath(path).c_str()) == 0; }

}  // namespace platform
