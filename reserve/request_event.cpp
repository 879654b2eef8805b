#include "reserve/request_event.h"

#include <exception>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/event_log.h"
#include "policy/policy_store.h"
#include "reserve/outcome.h"
#include "reserve/show.h"

const std::uint32_t kRequestEventBase = 100;

namespace {

const std::wstring kNone = L"none";
const std::wstring kUnknown = L"unknown";
const std::wstring kNoNumber = L"(no DWORD number)";
const std::wstring kJoin = L", ";
const std::wstring kNotRecorded = L"\aThe request was not recorded in the Application log: ";
const std::wstring kNotRecordedEnd = L".\n";

// One reserve value as "name = number", or empty where it is absent.
std::wstring ValueText(const std::wstring& name, const PolicyValue& value) {
  switch (value.stored) {
    case StoredValue::kNumber:
      return name + L" = " + std::to_wstring(value.number);
    case StoredValue::kNotNumber:
      return name + L" = " + kNoNumber;
    case StoredValue::kAbsent:
      break;
  }
  return std::wstring();
}

platform::EventType TypeOf(int status) {
  if (status == kOutcomePercentStored || status == kOutcomeMinimumStored ||
      status == kOutcomeSnapshotsOff) {
    return platform::kEventInformation;
  }
  if (status == kOutcomeExceedsFreeSpace || status == kOutcomeSurveyFailed) {
    return platform::kEventWarning;
  }
  return platform::kEventError;
}

}  // namespace

std::wstring StoredPolicyText(const StoredPolicy& policy) {
  std::wstring text = ValueText(kPercentValue, policy.percent);
  const std::wstring absolute = ValueText(kAbsoluteValue, policy.absolute);
  if (!text.empty() && !absolute.empty()) text += kJoin;
  text += absolute;
  return text.empty() ? kNone : text;
}

void RecordRequest(int percentage, const RequestFindings& findings, int status) try {
  const std::vector<std::wstring> strings = {
      std::to_wstring(percentage),
      FullPolicyKey(),
      StoredPolicyText(findings.before),
      StoredPolicyText(findings.after),
      findings.surveyed ? std::to_wstring(findings.pools.smallest_free_share) + L"%" : kUnknown,
      findings.surveyed ? std::to_wstring(findings.pools.smallest_capacity) + L" MB" : kUnknown,
      std::to_wstring(status),
  };
  const std::wstring refused = platform::WriteEvent(
      TypeOf(status), kRequestEventBase + static_cast<std::uint32_t>(status), strings);
  if (!refused.empty()) platform::PrintError(kNotRecorded + refused + kNotRecordedEnd);
} catch (const std::exception&) {
  // An event that cannot be made for want of memory is lost: the request has
  // ended, and its status stands, as it does where the log refuses the event.
}
