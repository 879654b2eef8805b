#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/event_log.h"
#include "platform/stand_in/machine.h"
#include "platform/stand_in/wide_text.h"

namespace platform {

const std::wstring kEventSource = L"snapreserve";

namespace {

const char kLogFolder[] = "/eventlog";
const char kLogFile[] = "Application.log";

const char* TypeName(EventType type) {
  switch (type) {
    case kEventError:
      return "error";
    case kEventWarning:
      return "warning";
    case kEventInformation:
      break;
  }
  return "information";
}

// The user's name, as the Windows log shows the account; the number where
// the user has no name.
std::string UserName() {
  const uid_t user = geteuid();
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(user, &entry, buffer, sizeof buffer, &found) == 0 && found) {
    return found->pw_name;
  }
  return std::to_string(user);
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc = {};
  char text[32] = {};
  if (gmtime_r(&now, &utc)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

// The line goes in one write to a file opened for appending, so that runs at
// the same time never interleave within a line. The log's folder is made
// where the machine has none, as Windows always has its log. Opening never
// follows a link, for the folder or the file, and never waits (a FIFO without
// a reader fails at once); anything but a regular file found there is left
// alone.
void WriteEvent(EventType type, std::uint32_t id, const std::vector<std::wstring>& strings) {
  nlohmann::ordered_json event;
  event["time"] = UtcNow();
  event["source"] = EncodeUtf8(kEventSource);
  event["type"] = TypeName(type);
  event["id"] = id;
  event["user"] = UserName();
  event["strings"] = nlohmann::json::array();
  for (const std::wstring& text : strings) event["strings"].push_back(EncodeUtf8(text));
  const std::string line =
      event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";

  const std::string folder = MachineRoot() + kLogFolder;
  mkdir(folder.c_str(), 0755);  // fails where it is there already
  const int directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (directory < 0) return;
  const int fd = openat(directory, kLogFile,
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  close(directory);
  if (fd < 0) return;
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    const ssize_t written = write(fd, line.data(), line.size());
    static_cast<void>(written);  // a full disk loses the event, nothing else
  }
  close(fd);
}

}  // namespace platform
