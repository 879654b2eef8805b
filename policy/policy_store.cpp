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

const char kWiderThanEightBits = '?';

// Strings are UTF-16LE; each code unit up to the first zero unit or the end
// of the data gives one byte: its own value up to U+00FF, else '?', so that
// no character of another script reads as a digit or a dot of the release.
// An odd last byte counts as a unit whose high byte is zero.
std::string NarrowText(const std::vector<std::uint8_t>& data) {
  std::string text;
  for (size_t i = 0; i < data.size(); i += 2) {
    const std::uint8_t high = i + 1 < data.size() ? data[i + 1] : 0;
    if (data[i] == 0 && high == 0) break;
    text.push_back(high == 0 ? static_cast<char>(data[i]) : kWiderThanEightBits);
  }
  return text;
}

// The same string as stored, to show it: every character as it is, a
// surrogate pair joined where wide text holds whole characters.
std::wstring StoredText(const std::vector<std::uint8_t>& data) {
  std::wstring text;
  for (size_t i = 0; i < data.size(); i += 2) {
    const auto unit = static_cast<wchar_t>(data[i] | (i + 1 < data.size() ? data[i + 1] << 8 : 0));
    if (unit == 0) break;
    const bool joins = sizeof(wchar_t) > 2 && !text.empty() && unit >= 0xDC00 && unit < 0xE000 &&
                       text.back() >= 0xD800 && text.back() < 0xDC00;
    if (joins) {
      text.back() = static_cast<wchar_t>(0x10000 + ((text.back() - 0xD800) << 10) + (unit - 0xDC00));
    } else {
      text.push_back(unit);
    }
  }
  return text;
}

// The monitor reads a DWORD of exactly four bytes; any other length or type
// is no number to it, whatever its bytes would read as.
PolicyValue Classified(const platform::RegistryValue& value) {
  if (value.type == platform::kRegDword && value.data.size() == 4) {
    return {StoredValue::kNumber, platform::DwordNumber(value.data)};
  }
  return {StoredValue::kNotNumber, 0};
}

PolicyValue* ValueNamed(StoredPolicy* policy, const std::wstring& name) {
  return name == kPercentValue ? &policy->percent : &policy->absolute;
}

}  // namespace

int g_layout = 0;

int ReadRegistryText(const std::wstring& key_path, const std::wstring& name,
                     std::unique_ptr<std::string>* text, std::wstring* stored) {
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
        if (stored) *stored = StoredText(value.data);
        status = 0;
        break;
      case platform::kRegDword:
        // A DWORD is read into exactly four bytes: longer data does not fit.
        if (value.data.size() <= 4) {
          const auto number = static_cast<std::int32_t>(platform::DwordNumber(value.data));
          *text = std::make_unique<std::string>(std::to_string(number));
          if (stored) *stored = std::to_wstring(number);
          status = 0;
        }
        break;
      default:
        *text = std::make_unique<std::string>();
        if (stored) stored->clear();
        status = 0;
        break;
    }
  }
  platform::CloseRegistryKey(&key);
  return status;
}

int ProbeRelease(std::wstring* release) {
  std::unique_ptr<std::string> text;
  std::wstring stored;
  const int status = ReadRegistryText(kVersionsKey, kReleaseValue, &text, &stored);
  if (status < 0 || !text) return -1;
  g_layout = text->find(kRelease21) != std::string::npos ? kLayout21 : kLayout20;
  if (release) *release = stored;
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
  PolicyValue read;
  if (platform::QueryRegistryValue(key, name, &value) == platform::kRegistryOk) {
    read = Classified(value);
    *number = read.number;
  }
  platform::CloseRegistryKey(&key);
  return read.stored;
}

StoredPolicy ReadStoredPolicy() {
  StoredPolicy policy;
  policy.percent.stored = ReadPolicyValue(kPercentValue, &policy.percent.number);
  policy.absolute.stored = ReadPolicyValue(kAbsoluteValue, &policy.absolute.number);
  return policy;
}

bool StorePolicyValue(const std::wstring& name, std::uint32_t value,
                      const std::wstring& other, StoreReport* report) {
  StoreReport unused;
  if (!report) report = &unused;
  *report = StoreReport();
  platform::RegistryKey key;
  if (platform::CreateRegistryKey(PolicyKey(), &key) != platform::kRegistryOk) return false;
  platform::ReplacedValues before;
  const long status =
      platform::ReplaceRegistryValue(key, other, name, platform::DwordValue(value), &before);
  platform::CloseRegistryKey(&key);
  report->other_lost = status == platform::kRegistryRemovedNotRestored;
  report->locked = status == platform::kRegistryLocked;
  if (status != platform::kRegistryOk) return false;
  if (before.had_removed) *ValueNamed(&report->replaced, other) = Classified(before.removed);
  if (before.had_name) *ValueNamed(&report->replaced, name) = Classified(before.name);
  report->stored = report->replaced;
  *ValueNamed(&report->stored, other) = PolicyValue();
  *ValueNamed(&report->stored, name) = {StoredValue::kNumber, value};
  return true;
}
