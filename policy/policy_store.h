#ifndef SNAPRESERVE_POLICY_POLICY_STORE_H_
#define SNAPRESERVE_POLICY_POLICY_STORE_H_

#include <cstdint>
#include <memory>
#include <string>

/// Where the product records its release, and the two layouts of its policy.
/// Key paths are below kMachineRoot.
extern const std::wstring kMachineRoot;      // HKEY_LOCAL_MACHINE
extern const std::wstring kVersionsKey;      // SOFTWARE\Halvorn\Corridan\Versions
extern const std::wstring kReleaseValue;     // VLMR
extern const std::wstring kPolicyKey20;      // SOFTWARE\Halvorn\Velmora\2.0
extern const std::wstring kPolicyKey21;      // ...\2.0\Policies
extern const std::wstring kPercentValue;     // MinFreespacePerPoolPercent
extern const std::wstring kAbsoluteValue;    // MinFreespacePerPool

/// The policy layout of the installed release: 0 until ProbeRelease succeeds,
/// then 20 or 21.
extern int g_layout;

/// Reads a value below HKEY_LOCAL_MACHINE as 8-bit text: strings (the first
/// of a multi-string) narrowed one byte per UTF-16 code unit, the unit itself
/// up to U+00FF and '?' above, a DWORD in decimal, any other type as empty
/// text. Returns 0 with the text, and in `stored` (when given) the same text
/// with every character as stored; -1 when the value is unreadable, or the
/// system error code from opening the key (and no text).
int ReadRegistryText(const std::wstring& key_path, const std::wstring& name,
                     std::unique_ptr<std::string>* text, std::wstring* stored = nullptr);

/// Reads the installed release and sets the layout: 21 when the narrowed
/// release text holds "2.1", 20 otherwise. Returns 1, with the release as
/// stored in `release` when one is given, or -1 when no release is readable.
int ProbeRelease(std::wstring* release = nullptr);

/// The key that holds the policy in the probed layout.
const std::wstring& PolicyKey();

/// What one reserve value under the policy key holds.
enum class StoredValue {
  kAbsent,     // no such value (or no policy key)
  kNumber,     // a DWORD
  kNotNumber,  // a value of another type, or a DWORD of other than four bytes
};

/// Reads the reserve value `name` under the policy key; with kNumber, its
/// number is in `number`. Changes nothing.
StoredValue ReadPolicyValue(const std::wstring& name, std::uint32_t* number);

/// One reserve value as the policy key holds it; `number` only with kNumber.
struct PolicyValue {
  StoredValue stored = StoredValue::kAbsent;
  std::uint32_t number = 0;
};

/// Both reserve values of the policy.
struct StoredPolicy {
  PolicyValue percent;   // kPercentValue
  PolicyValue absolute;  // kAbsoluteValue
};

/// Reads both reserve values under the policy key. Changes nothing.
StoredPolicy ReadStoredPolicy();

/// Stores `value` as the DWORD `name` under the policy key, removing the other
/// reserve value `other` from it in the same step, so that the key never holds
/// both forms, nor neither (the key is created when missing). True when the
/// policy was stored; otherwise the key holds what it held before, unless
/// `other` was removed and could not be put back (Windows only), which
/// `other_lost` then says. A store that succeeds also says what the key held
/// as it replaced it and what it holds now: read in the store itself, so
/// that no other run's policy is taken for this one's.
struct StoreReport {
  bool other_lost = false;  // `other` removed and not put back (Windows only)
  bool locked = false;      // another run held the registry too long
  StoredPolicy replaced;    // on success: what the key held
  StoredPolicy stored;      // on success: what it holds now
};
bool StorePolicyValue(const std::wstring& name, std::uint32_t value,
                      const std::wstring& other, StoreReport* report = nullptr);

#endif  // SNAPRESERVE_POLICY_POLICY_STORE_H_
