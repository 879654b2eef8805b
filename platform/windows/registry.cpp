#include <windows.h>

#include "platform/process.h"
#include "platform/registry.h"

// HKEY_LOCAL_MACHINE through the Windows API. The product's keys live in the
// 32-bit view, where the 32-bit product sees them, so a 64-bit build of the
// tool asks for that view too and both builds act on the same values.

namespace platform {

namespace {

const REGSAM kView = KEY_WOW64_32KEY;
// What CreateRegistryKey asks of the policy key.
const REGSAM kStoreRights = KEY_ALL_ACCESS;

HKEY Handle(const RegistryKey& key) { return reinterpret_cast<HKEY>(key.handle); }

long Query(HKEY key, const std::wstring& name, RegistryValue* value) {
  DWORD type = 0;
  DWORD size = 0;
  long status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  // The value may grow between the two calls; ask again until it fits.
  while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    value->data.assign(size, 0);
    status = RegQueryValueExW(key, name.c_str(), nullptr, &type, value->data.data(), &size);
    if (status == ERROR_SUCCESS) {
      value->type = type;
      value->data.resize(size);
      return kRegistryOk;
    }
  }
  return status;
}

long Set(HKEY key, const std::wstring& name, const RegistryValue& value) {
  return RegSetValueExW(key, name.c_str(), 0, value.type, value.data.data(),
                        static_cast<DWORD>(value.data.size()));
}

}  // namespace

long OpenRegistryKey(const std::wstring& path, RegistryKey* key) {
  HKEY handle = nullptr;
  const long status =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | kView, &handle);
  if (status != ERROR_SUCCESS) return status;
  key->path = path;
  key->handle = reinterpret_cast<std::uintptr_t>(handle);
  return kRegistryOk;
}

long CreateRegistryKey(const std::wstring& path, RegistryKey* key) {
  HKEY handle = nullptr;
  const long status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                      kStoreRights | kView, nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) return status;
  key->path = path;
  key->handle = reinterpret_cast<std::uintptr_t>(handle);
  return kRegistryOk;
}

long QueryRegistryValue(const RegistryKey& key, const std::wstring& name,
                        RegistryValue* value) {
  return Query(Handle(key), name, value);
}

// The registry has no step that deletes one value and sets another, so the
// deleted value is put back when the set fails: a failed store leaves the
// key as it was. Interrupts are held from the start, before the delete.
long ReplaceRegistryValue(const RegistryKey& key, const std::wstring& removed,
                          const std::wstring& name, const RegistryValue& value,
                          ReplacedValues* replaced) {
  HoldInterrupts();
  RegistryValue saved;
  const long found = Query(Handle(key), removed, &saved);
  if (found != kRegistryOk && found != ERROR_FILE_NOT_FOUND) return found;
  RegistryValue named;
  const long had_name = Query(Handle(key), name, &named);
  if (had_name != kRegistryOk && had_name != ERROR_FILE_NOT_FOUND) return had_name;
  if (found == kRegistryOk) {
    const long deleted = RegDeleteValueW(Handle(key), removed.c_str());
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return deleted;
  }
  const long stored = Set(Handle(key), name, value);
  if (stored != ERROR_SUCCESS && found == kRegistryOk &&
      Set(Handle(key), removed, saved) != ERROR_SUCCESS) {
    return kRegistryRemovedNotRestored;
  }
  if (stored == ERROR_SUCCESS && replaced != nullptr) {
    *replaced = {found == kRegistryOk, saved, had_name == kRegistryOk, named};
  }
  return stored;
}

// The key opens with the rights a store asks for. A missing key is created
// under its nearest existing parent, which must then let this user create
// subkeys; the keys between are the new key's own.
bool MayStoreUnderRegistryKey(const std::wstring& path) {
  std::wstring key = path;
  REGSAM rights = kStoreRights;
  for (;;) {
    HKEY handle = nullptr;
    const long status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, rights | kView, &handle);
    if (status == ERROR_SUCCESS) {
      RegCloseKey(handle);
      return true;
    }
    const size_t parent = key.rfind(L'\\');
    if (status != ERROR_FILE_NOT_FOUND || parent == std::wstring::npos) return false;
    key.resize(parent);
    rights = KEY_CREATE_SUB_KEY;
  }
}

void CloseRegistryKey(RegistryKey* key) {
  if (key->handle != 0) RegCloseKey(Handle(*key));
  key->handle = 0;
}

}  // namespace platform
