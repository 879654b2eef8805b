// The registry file reader and writer on arbitrary bytes: never a crash, and
// whatever parses comes back the same. Written back as it is, the bytes are
// unchanged. Then one value is stored and one deleted; written and read
// again, the file holds the same keys, values, types and data as before but
// for exactly those two changes.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "platform/stand_in/reg_file.h"
#include "platform/stand_in/wide_text.h"

namespace {

using platform::RegDefinition;
using platform::RegFile;
using platform::RegistryValue;

const std::wstring kMachine = L"HKEY_LOCAL_MACHINE\\";

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return text;
}

// What a file holds: its keys, and each key's values by name; keys and names
// without regard to case.
struct Contents {
  std::set<std::wstring> keys;
  std::map<std::wstring, std::map<std::wstring, std::pair<std::uint32_t, std::vector<std::uint8_t>>>>
      values;
  bool operator==(const Contents& other) const {
    return keys == other.keys && values == other.values;
  }
};

Contents Read(const RegFile& file) {
  Contents contents;
  for (const RegDefinition& d : platform::RegDefinitions(file)) {
    const std::wstring key = Upper(d.key);
    if (d.is_key) {
      contents.keys.insert(key);
    } else {
      contents.values[key][Upper(d.name)] = {d.value.type, d.value.data};
    }
  }
  return contents;
}

RegFile ParseOrDie(const std::string& bytes) {
  RegFile file;
  int bad_line = 0;
  if (!platform::ParseRegFile(bytes, &file, &bad_line)) std::abort();
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  RegFile file;
  int bad_line = 0;
  if (!platform::ParseRegFile(bytes, &file, &bad_line)) {
    if (bad_line < 1) std::abort();
    return 0;
  }
  // An empty file is an empty registry, which is written with its header.
  if (!bytes.empty() && platform::SerializeRegFile(file) != bytes) std::abort();
  Contents expected = Read(file);

  // Delete the first value that a path below the machine finds, if any.
  for (const RegDefinition& d : platform::RegDefinitions(file)) {
    if (d.is_key || Upper(d.key).compare(0, kMachine.size(), kMachine) != 0) continue;
    const std::wstring path = d.key.substr(kMachine.size());
    RegistryValue found;
    if (!platform::FindRegValue(file, path, d.name, &found)) continue;
    if (!platform::DeleteRegValue(&file, path, d.name)) std::abort();
    expected.values[Upper(d.key)].erase(Upper(d.name));
    if (expected.values[Upper(d.key)].empty()) expected.values.erase(Upper(d.key));
    break;
  }
  // Store a value whose type and data come from the input.
  RegistryValue value;
  value.type = size > 0 ? data[0] % 8 : platform::kRegDword;
  value.data.assign(data, data + (size < 16 ? size : 16));
  if (value.type == platform::kRegDword) value = platform::DwordValue(static_cast<std::uint32_t>(size));
  if (file.regedit4 && (value.type == platform::kRegSz || value.type == platform::kRegExpandSz ||
                        value.type == platform::kRegMultiSz)) {
    // REGEDIT4 keeps text types as 8-bit text: only text can be written there.
    value.data = platform::EncodeUtf16(
        platform::DecodeUtf8(std::string(value.data.begin(), value.data.end())));
  }
  const std::wstring path = L"SOFTWARE\\Fuzz";
  platform::SetRegValue(&file, path, L"Stored", value);
  const std::wstring key = Upper(kMachine + path);
  expected.keys.insert(key);
  expected.values[key][L"STORED"] = {value.type, value.data};

  const RegFile again = ParseOrDie(platform::SerializeRegFile(file));
  if (!(Read(again) == expected)) std::abort();
  return 0;
}
