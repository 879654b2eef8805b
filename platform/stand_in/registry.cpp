#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "platform/stand_in/machine.h"
#include "platform/process.h"
#include "platform/stand_in/reg_file.h"
#include "platform/registry.h"
#include "platform/stand_in/wide_text.h"

// HKEY_LOCAL_MACHINE lives in one registry export file. Every change is a
// read-modify-write of the whole file, written to a new copy beside it that
// is renamed into place: a crash leaves the old file or the new one. The
// writer holds a write lock on that new copy from before it reads the file
// until the copy has replaced it, so concurrent runs lose no update; only a
// user who may create files in the folder can take that lock, and a lock
// held too long fails the store instead of hanging it. When system.reg is a
// link, as administrators link configuration files into the folders they
// manage, the file it leads to is the one changed, in its own folder, and the
// link stays a link. A store changes nothing where anyone but the owners (and
// root) may write the machine's folder, the file's folder or the file: there
// anyone could change the policy the product runs on, or the file under a
// store.

namespace platform {

namespace {

const std::wstring kUnreadableStart = L"\aThe registry file ";
const std::wstring kUnreadableMiddle = L" does not parse at line ";
const std::wstring kUnreadableEnd = L".\n";
const std::wstring kNoMachineEnd =
    L" does not exist: no machine is there (VELMORA_ROOT names the machine's folder).\n";
const std::wstring kOpenFolderStart = L"\aThe registry's folder ";
const std::wstring kOpenToOthersEnd =
    L" may be written by others than its owner, so the tool stores nothing in it.\n";

// Room left after the bytes read, so that a change to the file grows it in
// place rather than into a second copy of the whole registry.
const size_t kRoomToGrow = 64 * 1024;

// Reads an open file whole into room reserved once from its length; a file
// that grows meanwhile is read to its end all the same.
long ReadAll(int fd, off_t size, std::string* bytes) {
  bytes->reserve(static_cast<size_t>(size) + kRoomToGrow);
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

// The registry file as last read, parsed. A read that finds the same bytes
// in the file again takes it as it is, without parsing them anew; a store
// edits it and writes it out. `g_registry_read` counts the reads that parsed
// the file anew: an open key is read from the registry its open found, as
// long as no later read has replaced it.
std::unique_ptr<RegFile> g_registry;
std::uintptr_t g_registry_read = 0;

// Whether the rest of an open file holds exactly `bytes`, read a chunk at a
// time beside them.
bool HoldsExactly(int fd, const std::string& bytes) {
  char chunk[65536];
  size_t done = 0;
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0 && done == bytes.size();
    const auto size = static_cast<size_t>(got);
    if (size > bytes.size() - done || std::memcmp(chunk, bytes.data() + done, size) != 0) {
      return false;
    }
    done += size;
  }
}

// A machine root that does not exist at all is most likely a VELMORA_ROOT
// naming the wrong folder, and the release then cannot be read: the run says,
// once, which file it looked for. A root without its registry file is a
// machine with an empty registry, and says nothing.
void SayWhereNoMachineIs() {
  static bool said = false;
  struct stat root = {};
  if (said || stat(MachineRoot().c_str(), &root) == 0 || errno != ENOENT) return;
  said = true;
  PrintText(kUnreadableStart + DecodeUtf8(RegistryFilePath()) + kNoMachineEnd);
}

// Reads the registry from `path` (system.reg, or the file it leads to) into
// g_registry, and points `file` at it. A missing file is an empty registry;
// anything there that cannot be read as a regular file, or that is too large
// to hold in memory, is refused and left as it is; a file that does not parse
// is reported on the console, under the name system.reg has in the machine,
// once per read, and never used.
long LoadRegistry(const std::string& path, RegFile** file, struct stat* info) {
  struct stat own = {};
  const int fd = OpenRegularFile(path, &own);
  if (info) *info = own;
  long status = kRegistryOk;
  int bad_line = 0;
  try {
    if (fd < 0) {
      if (errno != ENOENT) return kRegistryAccessDenied;
      SayWhereNoMachineIs();
      g_registry = std::make_unique<RegFile>(NewRegFile());
      ++g_registry_read;
    } else if (!g_registry || static_cast<size_t>(own.st_size) != g_registry->bytes.size() ||
               !HoldsExactly(fd, g_registry->bytes)) {
      g_registry.reset();  // the one copy of the registry held at a time
      std::string bytes;
      auto fresh = std::make_unique<RegFile>();
      status = lseek(fd, 0, SEEK_SET) == 0 ? ReadAll(fd, own.st_size, &bytes) : kRegistryAccessDenied;
      if (status == kRegistryOk && !ParseRegFile(std::move(bytes), fresh.get(), &bad_line)) {
        status = kRegistryBadData;
      }
      if (status == kRegistryOk) g_registry = std::move(fresh);
      ++g_registry_read;
    }
  } catch (const std::bad_alloc&) {
    status = kRegistryAccessDenied;
  } catch (const std::length_error&) {
    status = kRegistryAccessDenied;
  }
  if (fd >= 0) close(fd);
  if (status == kRegistryBadData) {
    PrintText(kUnreadableStart + DecodeUtf8(RegistryFilePath()) + kUnreadableMiddle +
              std::to_wstring(bad_line) + kUnreadableEnd);
  }
  if (status == kRegistryOk) *file = g_registry.get();
  return status;
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

// Each save writes its new copy beside the file as ".<name>.snapreserve-new"
// (".system.reg.snapreserve-new" in the machine's root), a name that only
// this tool gives a file, and renames it over the file. That copy is also
// the save's lock: a save makes it afresh (never opening a file already
// there) and takes a write lock on it before the file is read. A writer that
// finds a copy at the name takes the lock on that one, so waits while another
// save holds it; once it has the lock, the copy is one a killed run left
// behind (or anything else put at the name), and it goes, unread and
// unwritten, for a fresh copy of this writer's own. A write lock needs the
// copy open for writing, which only its creator (or root) can do: a user who
// may merely read the folder can neither take it nor hold it off.
const char kCopyInfix[] = ".snapreserve-";
const char kNewCopy[] = "new";
// Earlier saves named each copy by six random characters; under the lock no
// other writer is busy, so any copy of that shape is abandoned and goes. Every
// other file in the folder (an administrator's "system.reg.backup", say) is
// none of the tool's business.
const size_t kOldCopyTail = 6;

// How long a save waits for another to let go of the lock, and how often it
// looks again meanwhile.
const std::chrono::seconds kLockWait(5);
const std::chrono::milliseconds kLockRetry(10);

// Blocks the interrupts (process.h), or gives back the mask from before.
void BlockInterrupts(bool block) {
  static sigset_t before;
  static bool blocked = false;
  if (block == blocked) return;
  if (block) {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&interrupts, signal);
    sigprocmask(SIG_BLOCK, &interrupts, &before);
  } else {
    sigprocmask(SIG_SETMASK, &before, nullptr);
  }
  blocked = block;
}

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
    if (name.size() == prefix.size() + kOldCopyTail && name.compare(0, prefix.size(), prefix) == 0) {
      unlinkat(directory, name.c_str(), 0);
    }
  }
  closedir(entries);
}

// Makes the new copy `copy` in `directory`, a fresh file, and takes the
// write lock on it. Returns its descriptor, or -1 with the reason in
// `status`: the folder closed to this user, something at that name that is
// no file, or the lock not let go of within kLockWait (kRegistryLocked).
// Interrupts are blocked while a copy may be made and locked, so that none
// stops the tool between making the copy and holding interrupts; they are
// let through again for the wait and on failure, and on success once the
// caller holds them.
int LockNewCopy(int directory, const std::string& copy, long* status) {
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (;;) {
    BlockInterrupts(true);
    int fd = openat(directory, copy.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool fresh = fd >= 0;
    bool closed = false;
    if (!fresh && errno == EEXIST) {
      fd = openat(directory, copy.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) continue;  // gone meanwhile
      // A copy closed to this user (another user's, while that user saves)
      // is waited for, as a locked one is.
      closed = fd < 0 && errno == EACCES;
    }
    if (fd < 0 && !closed) {
      *status = errno == EACCES || errno == EPERM ? kRegistryAccessDenied : kRegistryWriteFault;
      BlockInterrupts(false);
      return -1;
    }
    if (fd >= 0) {
      struct flock lock = {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      const bool locked = fcntl(fd, F_OFD_SETLK, &lock) == 0;
      const int error = errno;
      struct stat held = {}, named = {};
      if (locked && fstat(fd, &held) == 0 && S_ISREG(held.st_mode)) {
        const bool named_so = fstatat(directory, copy.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                              named.st_dev == held.st_dev && named.st_ino == held.st_ino;
        if (named_so && fresh) return fd;
        // A copy left behind goes under its lock; the name gone on to the
        // registry or away meanwhile: a fresh copy all the same.
        const bool removed = !named_so || unlinkat(directory, copy.c_str(), 0) == 0;
        close(fd);
        if (removed) continue;
        fd = -1;
      } else if (locked || (error != EAGAIN && error != EACCES)) {
        close(fd);
        fd = -1;
      }
      if (fd < 0) {
        *status = kRegistryWriteFault;
        BlockInterrupts(false);
        return -1;
      }
      close(fd);
    }
    BlockInterrupts(false);
    if (std::chrono::steady_clock::now() >= deadline) {
      *status = kRegistryLocked;
      return -1;
    }
    std::this_thread::sleep_for(kLockRetry);
  }
}

// Whether anyone but its owner (and root) may write `path`: the owner's
// write bit alone, as sshd's strict modes ask of a key file. An ACL that
// grants writing to others shows in the group bits. A missing path (no
// registry file yet) is no one's to write.
bool OpenToOthers(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// Whether the machine's folder, the folder of the registry file and the file
// are written by their owners alone; where one is not, says which.
bool WrittenByOwnersOnly(const RegistryTarget& target) {
  for (const std::string& folder : {MachineRoot(), target.folder}) {
    if (OpenToOthers(folder)) {
      PrintText(kOpenFolderStart + DecodeUtf8(folder) + kOpenToOthersEnd);
      return false;
    }
  }
  if (!OpenToOthers(target.path())) return true;
  PrintText(kUnreadableStart + DecodeUtf8(target.path()) + kOpenToOthersEnd);
  return false;
}

// Gives the new copy `fd` the old file's owner, group, mode and extended
// attributes, its ACL (system.posix_acl_access) among them. False where one
// of them cannot be kept: owner and group take privileges the writer may
// lack, unless they are the writer's own.
bool KeepAttributes(int fd, const std::string& path, const struct stat& old) {
  if (fchown(fd, old.st_uid, old.st_gid) != 0 || fchmod(fd, old.st_mode & 07777) != 0) {
    return false;
  }
  ssize_t size = llistxattr(path.c_str(), nullptr, 0);
  if (size < 0) return errno == ENOTSUP || errno == ENOENT;
  std::vector<char> names(static_cast<size_t>(size));
  size = llistxattr(path.c_str(), names.data(), names.size());
  if (size < 0) return false;
  std::vector<char> value;
  for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
    ssize_t length = lgetxattr(path.c_str(), name, nullptr, 0);
    if (length < 0) return false;
    value.resize(static_cast<size_t>(length));
    length = lgetxattr(path.c_str(), name, value.data(), value.size());
    if (length < 0 || fsetxattr(fd, name, value.data(), static_cast<size_t>(length), 0) != 0) {
      return false;
    }
  }
  return true;
}

// Whether the file at `path` is one no rename can replace: immutable or
// append-only.
bool IsImmutable(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  const bool fixed = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                     (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
  close(fd);
  return fixed;
}

// Replaces the registry file at `target` with `file` through the locked new
// copy `fd`, a fresh file, keeping what KeepAttributes keeps of the old one;
// `directory` is the target's folder. The copy is open to its owner alone
// until it is complete.
long SaveRegistry(const RegFile& file, const struct stat& old, const RegistryTarget& target,
                  int directory, int fd) {
  RemoveAbandonedCopies(directory, CopyPrefix(target));
  bool ok = WriteAll(fd, file.bytes);
  if (old.st_mode != 0) {
    ok = ok && KeepAttributes(fd, target.path(), old);
  } else {
    ok = ok && fchmod(fd, 0644) == 0;
  }
  if (!ok || fsync(fd) != 0) return kRegistryWriteFault;
  if (renameat(directory, (CopyPrefix(target) + kNewCopy).c_str(), directory,
               target.name.c_str()) != 0) {
    return kRegistryWriteFault;
  }
  fsync(directory);
  return kRegistryOk;
}

// Runs `change` on the registry under the lock and saves the file when the
// change says it changed something. With `hold`, interrupts are held
// (process.h) from the moment the lock is held: reading, changing and
// writing the file take a moment, and a run stopped part way would leave its
// copy behind. Returns the change's result, or the reason the registry could
// not be read or saved; then the file is as it was.
long ChangeRegistry(const std::function<long(RegFile*, bool*)>& change, bool hold) {
  const RegistryTarget target = ResolveRegistryFile();
  if (!WrittenByOwnersOnly(target)) return kRegistryAccessDenied;
  const int directory = open(target.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return kRegistryWriteFault;
  const std::string copy = CopyPrefix(target) + kNewCopy;
  long status = kRegistryOk;
  const int held = LockNewCopy(directory, copy, &status);
  if (held >= 0) {
    if (hold) HoldInterrupts();
    BlockInterrupts(false);  // any that came meanwhile are lost while held
    bool saved = false;
    bool changed = false;
    try {
      RegFile* file = nullptr;
      struct stat old = {};
      status = LoadRegistry(target.path(), &file, &old);
      if (status == kRegistryOk) status = change(file, &changed);
      if (status == kRegistryOk && changed) {
        status = SaveRegistry(*file, old, target, directory, held);
        saved = status == kRegistryOk;
      }
    } catch (const std::bad_alloc&) {
      status = kRegistryAccessDenied;
    }
    // A change that was not saved leaves the copy held in memory unlike the file.
    if (changed && !saved) g_registry.reset();
    // The name is still this save's own: no other writer passes the lock.
    if (!saved) unlinkat(directory, copy.c_str(), 0);
    close(held);  // releases the lock
  }
  close(directory);
  return status;
}

// Whether `path` is a mount point of its own, as a file bind-mounted over the
// registry file is (the usual way to hand a container one file): rename
// cannot replace it. A bind mount from the same file system has the same
// device, so the mount ids tell.
bool IsMountPoint(const std::string& path, const std::string& folder) {
  struct statx file = {}, parent = {};
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &file) != 0 ||
      statx(AT_FDCWD, folder.c_str(), 0, STATX_MNT_ID, &parent) != 0) {
    return false;
  }
  if (file.stx_dev_major != parent.stx_dev_major || file.stx_dev_minor != parent.stx_dev_minor) {
    return true;
  }
  return (file.stx_mask & parent.stx_mask & STATX_MNT_ID) != 0 &&
         file.stx_mnt_id != parent.stx_mnt_id;
}

// Whether a store could take the new copy at `copy` (LockNewCopy): none
// there, or a file (never a link or a folder) this user may open to write,
// and so remove. Another user's copy that is closed to this user, which a
// store waits for: one left by a run of that user that was killed stays
// until someone removes it.
bool MayTakeNewCopy(const std::string& copy) {
  struct stat left;
  if (lstat(copy.c_str(), &left) != 0) return errno == ENOENT;
  return S_ISREG(left.st_mode) && faccessat(AT_FDCWD, copy.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

long OpenRegistryKey(const std::wstring& path, RegistryKey* key) {
  RegFile* file = nullptr;
  const long status = LoadRegistry(RegistryFilePath(), &file, nullptr);
  if (status != kRegistryOk) return status;
  if (!RegKeyExists(*file, path)) return kRegistryNotFound;
  key->path = path;
  key->handle = g_registry_read;
  return kRegistryOk;
}

// The key is made in the change that stores its value (ReplaceRegistryValue
// creates a missing key), so that a store that fails leaves no new key
// behind; here the registry need only be readable.
long CreateRegistryKey(const std::wstring& path, RegistryKey* key) {
  RegFile* file = nullptr;
  const long status = LoadRegistry(RegistryFilePath(), &file, nullptr);
  if (status == kRegistryOk) key->path = path;
  return status;
}

long QueryRegistryValue(const RegistryKey& key, const std::wstring& name, RegistryValue* value) {
  try {
    RegFile* file = g_registry.get();
    if (key.handle == 0 || key.handle != g_registry_read || !file) {
      const long status = LoadRegistry(RegistryFilePath(), &file, nullptr);
      if (status != kRegistryOk) return status;
    }
    return FindRegValue(*file, key.path, name, value) ? kRegistryOk : kRegistryNotFound;
  } catch (const std::bad_alloc&) {
    return kRegistryAccessDenied;
  }
}

long ReplaceRegistryValue(const RegistryKey& key, const std::wstring& removed,
                          const std::wstring& name, const RegistryValue& value,
                          ReplacedValues* replaced) {
  ReplacedValues found;
  const long status = ChangeRegistry(
      [&](RegFile* file, bool* changed) {
        // What the file held under the lock: what this store replaces.
        found.had_removed = FindRegValue(*file, key.path, removed, &found.removed);
        found.had_name = FindRegValue(*file, key.path, name, &found.name);
        *changed = true;  // from the first edit on, even one cut short
        DeleteRegValue(file, key.path, removed);
        SetRegValue(file, key.path, name, value);
        return kRegistryOk;
      },
      true);
  if (status == kRegistryOk && replaced != nullptr) *replaced = found;
  return status;
}

// A store creates its new copy in the file's folder and renames it over the
// file; both need the folder open to this user, and a folder and file that
// only their owners may write. No one can rename over a file mounted in its
// place, or over one that is immutable or append-only; and only root can
// give the new file an owner other than itself.
bool MayStoreUnderRegistryKey(const std::wstring& /*path*/) {
  const RegistryTarget target = ResolveRegistryFile();
  if (!WrittenByOwnersOnly(target)) return false;
  const std::string copy = target.folder + "/" + CopyPrefix(target) + kNewCopy;
  struct stat file;
  const uid_t user = geteuid();
  const bool exists = stat(target.path().c_str(), &file) == 0;
  return faccessat(AT_FDCWD, target.folder.c_str(), R_OK | W_OK | X_OK, AT_EACCESS) == 0 &&
         !IsMountPoint(target.path(), target.folder) && MayTakeNewCopy(copy) &&
         !(exists && (IsImmutable(target.path()) || (user != 0 && file.st_uid != user)));
}

void CloseRegistryKey(RegistryKey* key) {
  key->handle = 0;
  key->path.clear();
}

}  // namespace platform
