#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <streambuf>

#include "platform/files.h"

namespace platform {

namespace {

// Reads a C runtime file descriptor through one fixed buffer and closes it at
// the end. The descriptor is in text mode: "\r\n" arrives as "\n".
class FileBuffer : public std::streambuf {
 public:
  explicit FileBuffer(int fd) : fd_(fd) {}
  ~FileBuffer() override { _close(fd_); }
  FileBuffer(const FileBuffer&) = delete;
  FileBuffer& operator=(const FileBuffer&) = delete;

 protected:
  int_type underflow() override {
    const int got = _read(fd_, buffer_, sizeof buffer_);
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
  *stream = std::make_unique<FileStream>(fd);
  return 0;
}

bool DeleteFileAt(const std::wstring& path) { return DeleteFileW(path.c_str()) != 0; }

}  // namespace platform
