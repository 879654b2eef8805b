#include <fcntl.h>
#include <errno.h>
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

// Why an event was not written.
const std::wstring kNoFolder = L"the folder eventlog could not be made or opened";
const std::wstring kFolderNotAFolder = L"eventlog is a link or no folder";
const std::wstring kNotAFile = L"the event log is a link or no regular file, or has another name";
const std::wstring kCannotOpen = L"the event log could not be opened for writing";
const std::wstring kNotOwners = L"the event log or its folder belongs to another user than the machine's owner";
const std::wstring kOpenToOthers = L"others than its owner may write the event log or its folder";
const std::wstring kNotWritten = L"the event log took none or only part of the line (a full disk?), and keeps none";
const std::wstring kCutShort = L"the event log took only part of the line and keeps it";

// Why the log's folder or file, `info`, is none to write: another owner
// than the machine's (the owner of its root) or root, or open to others.
std::wstring Untrusted(const struct stat& info, uid_t owner) {
  if (info.st_uid != owner && info.st_uid != 0) return kNotOwners;
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return kOpenToOthers;
  return std::wstring();
}

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
// a reader fails at once). Anyone who may write the folder or the file could
// rewrite or suppress the records, so the event goes only where no one but
// the machine's owner (or root) may; a second name of the file (a hard link)
// could make the log any file of the machine, so a file with one is refused.
std::wstring WriteEvent(EventType type, std::uint32_t id, const std::vector<std::wstring>& strings) {
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

  struct stat info;
  const uid_t owner = stat(MachineRoot().c_str(), &info) == 0 ? info.st_uid : 0;
  const std::string folder = MachineRoot() + kLogFolder;
  mkdir(folder.c_str(), 0755);  // fails where it is there already
  const int directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (directory < 0) return errno == ENOTDIR || errno == ELOOP ? kFolderNotAFolder : kNoFolder;
  std::wstring refused = fstat(directory, &info) == 0 ? Untrusted(info, owner) : kNoFolder;
  int fd = -1;
  if (refused.empty()) {
    fd = openat(directory, kLogFile,
                O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) refused = errno == ELOOP || errno == ENXIO ? kNotAFile : kCannotOpen;
  }
  close(directory);
  if (fd < 0) return refused;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
    refused = kNotAFile;
  } else {
    refused = Untrusted(info, owner);
  }
  if (refused.empty()) {
    const ssize_t written = write(fd, line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size())) {
      // Half a line would have the next event glued to it: it goes again.
      const off_t end = lseek(fd, 0, SEEK_CUR);
      if (written > 0 && end >= written && ftruncate(fd, end - written) != 0) refused = kCutShort;
      if (refused.empty()) refused = kNotWritten;
    }
  }
  close(fd);
  return refused;
}

}  // namespace platform
