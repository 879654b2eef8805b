#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/service.h"
#include "platform/stand_in/machine.h"
#include "platform/stand_in/wide_text.h"

namespace platform {

namespace {

const char kServicesFolder[] = "/services/";
const char kRunning[] = "RUNNING";
const char kStopped[] = "STOPPED";

bool IsRecord(const std::string& record, const char* state) {
  return record == state || record == std::string(state) + "\n";
}

}  // namespace

// The record is read without waiting, and only from a regular file: anything
// else at its name is no record the manager keeps.
ServiceState QueryServiceState(const std::wstring& name) {
  const std::string path = MachineRoot() + kServicesFolder + EncodeUtf8(name);
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ServiceState::kNotRunning : ServiceState::kUnknown;
  struct stat info;
  // One byte more than the longest record, so that a longer one reads as no
  // record the manager keeps.
  char line[sizeof kRunning + 2] = {};
  ssize_t got = -1;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    do {
      got = read(fd, line, sizeof line - 1);
    } while (got < 0 && errno == EINTR);
  }
  close(fd);
  const std::string record(line, got > 0 ? static_cast<size_t>(got) : 0);
  if (IsRecord(record, kRunning)) return ServiceState::kRunning;
  if (IsRecord(record, kStopped)) return ServiceState::kNotRunning;
  return ServiceState::kUnknown;
}

}  // namespace platform
