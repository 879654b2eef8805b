#include "policy/policy_store.h"

#include "platform/registry.h"

const std::wstring kMachineRoot = L"HKEY_LOCAL_MACHINE";
const std::wstring kVersionsKey = L"SOFTWARE\\Halvorn\\Corridan\\Versions";
const std::wstring kReleaseValue = L"VLMR";
const std::wstring kPolicyKey20 = L"SOFTWARE\\Halvorn\\Velmora\\2.0";
const std::wstring kPolicyKey21 = L"SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies";
const std::wstring kPercentValue = L"MinFreespacePerPoolPercent";
const std::wstring kAbsoluteValue = L"MinFreespacePerPool";

namespace {

const int kLayout20 = 20;
const int kLayout21 = 21;
const char kRelease21[] = "2.1";

// Strings are UTF-16LE; each code unit gives its low byte, up to the first
// zero unit or the end of the data. An odd last byte counts as a unit whose
// high byte is zero.
std::string NarrowText(const std::vector<std::uint8_t>& data) {
  std::string text;
  for (size_t i = 0; i < data.size(); i += 2) {
    const bool high = i + 1 < data.size() && data[i + 1] != 0;
    if (data[i] == 0 && !high) break;
    text.push_back(static_cast<char>(data[i]));
  }
  return text;
}

}  // namespace

int g_layout = 0;

int ReadRegistryText(const std::wstring& key_path, const std::wstring& name,
                     std::unique_ptr<std::string>* text) {
  text->reset();
  platform::RegistryKey key;
  const long opened = platform::OpenRegistryKey(key_path, &key);
  if (opened != platform::kRegistryOk) return static_cast<int>(opened);

  platform::RegistryValue value;
  int status = -1;
  if (platform::QueryRegistryValue(key, name, &value) == platform::kRegistryOk) {
    switch (value.type) {
      case platform::kRegSz:
      case platform::kRegMultiSz:
        *text = std::make_unique<std::string>(NarrowText(value.data));
        status = 0;
        break;
      case platform::kRegDword:
        // A DWORD is read into exactly four bytes: longer data does not fit.
        if (value.data.size() <= 4) {
          const auto number = static_cast<std::int32_t>(platform::DwordNumber(value.data));
          *text = std::make_unique<std::string>(std::to_string(number));
          status = 0;
        }
        break;
      default:
        *text = std::make_unique<std::string>();
        status = 0;
        break;
    }
  }
  platform::CloseRegistryKey(&key);
  return status;
}

int ProbeRelease(std::string* release) {
  std::unique_ptr<std::string> text;
  const int status = ReadRegistryText(kVersionsKey, kReleaseValue, &text);
  if (status < 0 || !text) return -1;
  g_layout = text->find(kRelease21) != std::string::npos ? kLayout21 : kLayout20;
  if (release) *release = *text;
  return 1;
}

const std::wstring& PolicyKey() {
  return g_layout == kLayout20 ? kPolicyKey20 : kPolicyKey21;
}

StoredValue ReadPolicyValue(const std::wstring& name, std::uint32_t* number) {
  platform::RegistryKey key;
  if (platform::OpenRegistryKey(PolicyKey(), &key) != platform::kRegistryOk) {
    return StoredValue::kAbsent;
  }
  platform::RegistryValue value;
  StoredValue stored = StoredValue::kAbsent;
  if (platform::QueryRegistryValue(key, name, &value) == platform::kRegistryOk) {
    stored = value.type == platform::kRegDword && value.data.size() <= 4 ? StoredValue::kNumber
                                                                         : StoredValue::kNotNumber;
    *number = platform::DwordNumber(value.data);
  }
  platform::CloseRegistryKey(&key);
  return stored;
}

bool StorePolicyValue(const std::wstring& name, std::uint32_t value,
                      const std::wstring& other, bool* other_lost) {
  if (other_lost) *other_lost = false;
  platform::RegistryKey key;
  if (platform::CreateRegistryKey(PolicyKey(), &key) != platform::kRegistryOk) return false;
  const long stored =
      platform::ReplaceRegistryValue(key, other, name, platform::DwordValue(value));
  platform::CloseRegistryKey(&key);
  if (other_lost) *other_lost = stored == platform::kRegistryRemovedNotRestored;
  return stored == platform::kRegistryOk;
}
