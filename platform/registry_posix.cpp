#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/console.h"
#include "platform/machine_posix.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/wide_text.h"

// HKEY_LOCAL_MACHINE lives in one registry export file. Every change is a
// read-modify-write of the whole file under an exclusive lock on the file's
// folder, written to a new file there that is renamed into place: concurrent
// runs lose no update and a crash leaves the old file or the new one. When
// system.reg is a link, as administrators link configuration files into the
// folders they manage, the file it leads to is the one changed, in its own
// folder, and the link stays a link.

namespace platform {

namespace {

const std::wstring kUnreadableStart = L"\aThe registry file ";
const std::wstring kUnreadableMiddle = L" does not parse at line ";
const std::wstring kUnreadableEnd = L".\n";

long ReadAll(int fd, std::string* bytes) {
  char chunk[65536];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return kRegistryAccessDenied;
    if (got == 0) return kRegistryOk;
    bytes->append(chunk, static_cast<size_t>(got));
  }
}

// Opens the registry file for reading, or fails with errno set. Only a
// regular file is a registry: a FIFO would wait for a writer and a device such
// as /dev/zero never ends, so anything else is refused before a byte is read.
// The open itself does not wait (a FIFO without a writer would); reads do.
int OpenRegularFile(const std::string& path, struct stat* info) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, info) != 0 || !S_ISREG(info->st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    errno = EACCES;
    return -1;
  }
  return fd;
}

// Reads the registry from `path` (system.reg, or the file it leads to). A
// missing file is an empty registry; anything there that cannot be read as a
// regular file is refused and left as it is; a file that does not parse is
// reported on the console, under the name system.reg has in the machine, once
// per read, and never used.
long LoadRegistry(const std::string& path, RegFile* file, struct stat* info) {
  struct stat own = {};
  const int fd = OpenRegularFile(path, &own);
  if (fd < 0) {
    if (errno != ENOENT) return kRegistryAccessDenied;
    *file = NewRegFile();
    if (info) info->st_mode = 0;
    return kRegistryOk;
  }
  std::string bytes;
  const long status = ReadAll(fd, &bytes);
  if (info) *info = own;
  close(fd);
  if (status != kRegistryOk) return status;
  int bad_line = 0;
  if (!ParseRegFile(bytes, file, &bad_line)) {
    PrintText(kUnreadableStart + DecodeUtf8(RegistryFilePath()) + kUnreadableMiddle +
              std::to_wstring(bad_line) + kUnreadableEnd);
    return kRegistryBadData;
  }
  return kRegistryOk;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

// The registry file as a save sees it: system.reg with its links resolved,
// split into its folder and its name there. Without a file to lead to (none
// yet, or a link to nothing) it is system.reg as it stands.
struct RegistryTarget {
  std::string folder;
  std::string name;
  std::string path() const { return folder + "/" + name; }
};

RegistryTarget ResolveRegistryFile() {
  std::string path = RegistryFilePath();
  if (char* resolved = realpath(path.c_str(), nullptr)) {
    path = resolved;
    std::free(resolved);
  }
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Each save writes its new copy beside the file as ".<name>.snapreserve-XXXXXX"
// (".system.reg.snapreserve-XXXXXX" in the machine's root), a name that only
// this tool gives a file, and a writer that was killed before its rename
// leaves that copy behind. Under the lock no other writer is busy, so any
// copy of that name is abandoned and goes; every other file in the folder (an
// administrator's "system.reg.backup", say) is none of the tool's business.
const char kCopyInfix[] = ".snapreserve-";

std::string CopyPrefix(const RegistryTarget& target) { return "." + target.name + kCopyInfix; }

void RemoveAbandonedCopies(int directory, const std::string& prefix) {
  const int listing = dup(directory);
  if (listing < 0) return;
  DIR* entries = fdopendir(listing);
  if (entries == nullptr) {
    close(listing);
    return;
  }
  while (const dirent* entry = readdir(entries)) {
    const std::string name = entry->d_name;
    if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
      unlinkat(directory, name.c_str(), 0);
    }
  }
  closedir(entries);
}

// Replaces the registry file at `target` with `file`, keeping the old one's
// mode and owner; `directory` is the target's folder, locked.
long SaveRegistry(const RegFile& file, const struct stat& old, const RegistryTarget& target,
                  int directory) {
  RemoveAbandonedCopies(directory, CopyPrefix(target));
  std::string temp = target.folder + "/" + CopyPrefix(target) + "XXXXXX";
  const int fd = mkostemp(&temp[0], O_CLOEXEC);
  if (fd < 0) return errno == EACCES || errno == EPERM ? kRegistryAccessDenied : kRegistryWriteFault;
  bool ok = true;
  if (old.st_mode != 0) {
    ok = fchmod(fd, old.st_mode & 07777) == 0;
    // Keeping the owner takes privileges the writer may lack; without them
    // the writer owns the new file, which keeps the old one's mode.
    const bool owner_kept = fchown(fd, old.st_uid, old.st_gid) == 0;
    static_cast<void>(owner_kept);
  } else {
    ok = fchmod(fd, 0644) == 0;
  }
  ok = ok && WriteAll(fd, SerializeRegFile(file)) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), target.path().c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return kRegistryWriteFault;
  }
  fsync(directory);
  return kRegistryOk;
}

// Runs `change` on the registry under the lock on its file's folder and saves
// the file when the change says it changed something. Returns the change's
// result, or the reason the registry could not be read or saved.
long ChangeRegistry(const std::function<long(RegFile*, bool*)>& change) {
  const RegistryTarget target = ResolveRegistryFile();
  const int directory = open(target.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return kRegistryWriteFault;
  long status = kRegistryAccessDenied;
  if (flock(directory, LOCK_EX) == 0) {
    RegFile file;
    struct stat old = {};
    status = LoadRegistry(target.path(), &file, &old);
    bool changed = false;
    if (status == kRegistryOk) status = change(&file, &changed);
    if (status == kRegistryOk && changed) status = SaveRegistry(file, old, target, directory);
  }
  close(directory);  // releases the lock
  return status;
}

}  // namespace

long OpenRegistryKey(const std::wstring& path, RegistryKey* key) {
  RegFile file;
  const long status = LoadRegistry(RegistryFilePath(), &file, nullptr);
  if (status != kRegistryOk) return status;
  if (!RegKeyExists(file, path)) return kRegistryNotFound;
  key->path = path;
  return kRegistryOk;
}

long CreateRegistryKey(const std::wstring& path, RegistryKey* key) {
  const long status = ChangeRegistry([&](RegFile* file, bool* changed) {
    *changed = AddRegKey(file, path);
    return kRegistryOk;
  });
  if (status == kRegistryOk) key->path = path;
  return status;
}

long QueryRegistryValue(const RegistryKey& key, const std::wstring& name, RegistryValue* value) {
  RegFile file;
  const long status = LoadRegistry(RegistryFilePath(), &file, nullptr);
  if (status != kRegistryOk) return status;
  return FindRegValue(file, key.path, name, value) ? kRegistryOk : kRegistryNotFound;
}

long ReplaceRegistryValue(const RegistryKey& key, const std::wstring& removed,
                          const std::wstring& name, const RegistryValue& value) {
  return ChangeRegistry([&](RegFile* file, bool* changed) {
    DeleteRegValue(file, key.path, removed);
    SetRegValue(file, key.path, name, value);
    *changed = true;
    return kRegistryOk;
  });
}

// A store opens the file's folder to lock it, makes its new copy there and
// renames it over the file; all three need the folder open to this user. In
// a sticky folder (as /tmp is) the rename also needs the user to own the
// file or the folder, unless the user is root.
bool MayStoreUnderRegistryKey(const std::wstring& /*path*/) {
  const RegistryTarget target = ResolveRegistryFile();
  if (faccessat(AT_FDCWD, target.folder.c_str(), R_OK | W_OK | X_OK, AT_EACCESS) != 0) {
    return false;
  }
  struct stat folder, file;
  const uid_t user = geteuid();
  if (user == 0 || stat(target.folder.c_str(), &folder) != 0 || !(folder.st_mode & S_ISVTX) ||
      lstat(target.path().c_str(), &file) != 0) {
    return true;
  }
  return file.st_uid == user || folder.st_uid == user;
}

void CloseRegistryKey(RegistryKey* key) { key->path.clear(); }

}  // namespace platform
