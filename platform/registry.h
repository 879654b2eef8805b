#ifndef SNAPRESERVE_PLATFORM_REGISTRY_H_
#define SNAPRESERVE_PLATFORM_REGISTRY_H_

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// Value types, numbered as the Windows registry numbers them.
enum : std::uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
};

/// Results of the registry operations: 0 or a Windows system error code.
enum : long {
  kRegistryOk = 0,
  kRegistryNotFound = 2,      // ERROR_FILE_NOT_FOUND: no such key or value
  kRegistryAccessDenied = 5,  // ERROR_ACCESS_DENIED
  kRegistryBadData = 13,      // ERROR_INVALID_DATA: the store does not parse
  kRegistryWriteFault = 29,   // ERROR_WRITE_FAULT: the store could not be saved
  kRegistryLocked = 33,       // ERROR_LOCK_VIOLATION: another store kept its lock too long
  // Of the tool's own (bit 29 marks an application's code): a replace
  // removed a value and could put it back neither.
  kRegistryRemovedNotRestored = 0x20000001,
};

/// A key below HKEY_LOCAL_MACHINE, open between an Open/Create and its Close.
struct RegistryKey {
  std::wstring path;  // relative to HKEY_LOCAL_MACHINE, e.g. L"SOFTWARE\\Halvorn"
  std::uintptr_t handle = 0;
};

/// A value's type and its raw data, exactly as the registry holds them
/// (text types are UTF-16LE, usually with their terminating zero).
struct RegistryValue {
  std::uint32_t type = kRegNone;
  std::vector<std::uint8_t> data;
};

/// A REG_DWORD value: four bytes, little-endian.
inline RegistryValue DwordValue(std::uint32_t number) {
  return {kRegDword,
          {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
           static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)}};
}

/// The number in up to four bytes of DWORD data, little-endian; missing
/// high bytes read as zero.
inline std::uint32_t DwordNumber(const std::vector<std::uint8_t>& data) {
  std::uint32_t number = 0;
  for (size_t i = 0; i < data.size() && i < 4; ++i) {
    number |= static_cast<std::uint32_t>(data[i]) << (8 * i);
  }
  return number;
}

/// Opens an existing key. kRegistryNotFound when it does not exist.
///   Stand-in machine: the key is read, until it closes, from the registry as
///   it was when it opened, so that opening and reading it reads the file once.
long OpenRegistryKey(const std::wstring& path, RegistryKey* key);

/// Opens a key for writing, creating it (and its parents) when missing.
long CreateRegistryKey(const std::wstring& path, RegistryKey* key);

/// Reads one value of an open key; kRegistryNotFound when it is absent.
long QueryRegistryValue(const RegistryKey& key, const std::wstring& name,
                        RegistryValue* value);

/// The two values a store replaces, as the key held them when it replaced
/// them: each one's type and data, where it was there.
struct ReplacedValues {
  bool had_removed = false;
  RegistryValue removed;
  bool had_name = false;
  RegistryValue name;
};

/// Removes the value `removed` (if present) from a key opened by
/// CreateRegistryKey and stores `value` as `name`, in place of any value of
/// that name. Interrupts are held (process.h) from the moment the store can
/// no longer be taken back, so that the caller can restart the monitor on it
/// and record the request; the caller releases them, if ever, whether the
/// store succeeded or failed. With `replaced`, a store that succeeds says
/// what it replaced.
///   Stand-in machine: both happen in one step or neither does, whatever
///   else runs at the same time and wherever the tool stops: the one file is
///   rewritten under a lock and replaces the old one whole. Interrupts are
///   held from the moment the lock is held: the read, the change and the
///   write take a moment. A lock that another store keeps for more than a few
///   seconds fails the store with kRegistryLocked. Where anyone but their
///   owners (and root) may write the machine's folder, the registry file or
///   its folder, the store fails before anything is made, saying which on the
///   console. The new file keeps the old one's owner, group, mode and
///   extended attributes (its ACL among them), or the store fails. With a
///   failure code the key keeps exactly what it held, and a missing key is
///   not made.
///   Windows: the registry has no such step. Interrupts are held from the
///   start. The value is deleted, the new one set, and the deleted one put back when the set fails, so a failure
///   code leaves the key as it was; kRegistryRemovedNotRestored says putting
///   it back failed too, and the key holds neither. A tool
///   that stops between the delete and the set (killed, or the machine going
///   down) leaves neither value; while it runs, another program can see the
///   key without either, and a run at the same time can interleave its own
///   delete and set with these.
long ReplaceRegistryValue(const RegistryKey& key, const std::wstring& removed,
                          const std::wstring& name, const RegistryValue& value,
                          ReplacedValues* replaced = nullptr);

/// Whether this user could store values under the key `path` as
/// CreateRegistryKey and ReplaceRegistryValue do, creating the key where it
/// is missing. Asks only: nothing is created or written.
///   Windows: the key opens with the rights CreateRegistryKey asks for; where
///   it is missing, its nearest existing parent opens for creating subkeys.
///   Stand-in machine: the registry file could be replaced, its folder (for
///   a link, the folder of the file it leads to) open to this user for
///   reading, writing and searching, and the file no mount point (a file
///   bind-mounted over it cannot be replaced), neither immutable nor
///   append-only, and this user's own unless the user is root. Where anyone
///   but their owners may write the folders or the file, it says which on the
///   console, as the store does.
bool MayStoreUnderRegistryKey(const std::wstring& path);

/// Releases an open key.
void CloseRegistryKey(RegistryKey* key);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_REGISTRY_H_
