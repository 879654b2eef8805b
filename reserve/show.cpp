#include "reserve/show.h"

#include <cstdint>
#include <string>
#include <vector>

#include "reserve/outcome.h"
#include "platform/console.h"
#include "policy/policy_store.h"
#include "reserve/reserve.h"
#include "survey/pool_survey.h"

namespace {

const std::wstring kNoRelease = L"No installed release could be read from";
const std::wstring kReleaseIs = L"The installed release is";
const std::wstring kPolicyKeyIs = L"Its policy key is";
const std::wstring kStoredPercentage =
    L"Stored percentage of pool free space reserved for snapshots:";
const std::wstring kStoredMinimum = L"Stored minimum amount of pool free space:";
const std::wstring kThatIs = L"that is";
const std::wstring kNoNumber = L"holds no DWORD number.";
const std::wstring kNoPolicy = L"No snapshot reserve policy is stored.";
const std::wstring kBothStored = L"Both forms of the policy are stored; only one should be.";
const std::wstring kSmallestShare = L"The smallest free share of any pool is";
const std::wstring kSmallestCapacity = L"The smallest pool capacity is";
const std::wstring kRequestsNow = L"What each percentage would do on these pools now:";
const std::wstring kRefused = L"is refused.";
const std::wstring kTurnsOff = L"turns snapshots off.";
const std::wstring kStoresMinimum = L"stores the minimum of";
const std::wstring kStoresPercentage = L"stores the percentage.";
const std::wstring kKeySeparator = L"\\";
const std::wstring kMonitorRuns = L"The monitor service VLMRMON is running.";
const std::wstring kMonitorStopped = L"The monitor service VLMRMON is not running.";
const std::wstring kMonitorUnknown =
    L"Whether the monitor service VLMRMON is running cannot be read.";

void Say(const std::wstring& text) { platform::PrintText(text + L"\n"); }
void Alert(const std::wstring& text) { platform::PrintText(L"\a" + text + L"\n"); }

// A stored percentage in hundredths, as a percentage: 3000 is 30%, 3050 30.5%.
std::wstring Hundredths(std::uint32_t value) {
  const auto scale = static_cast<std::uint32_t>(kPercentScale);
  std::wstring text = std::to_wstring(value / scale);
  const std::uint32_t rest = value % scale;
  if (rest != 0) {
    text += rest < 10 ? L".0" + std::to_wstring(rest)
                      : L"." + std::to_wstring(rest % 10 == 0 ? rest / 10 : rest);
  }
  return text + L"%";
}

std::wstring Megabytes(std::int64_t value) { return std::to_wstring(value) + L" MB"; }

// One reserve value of the stored policy, when it is there: its name, its
// number and what that means.
void SayStoredValue(const std::wstring& heading, const std::wstring& name, StoredValue stored,
                    std::uint32_t number, const std::wstring& meaning) {
  if (stored == StoredValue::kNumber) {
    Say(heading + L" " + name + L" = " + std::to_wstring(number) + L", " + kThatIs + L" " +
        meaning + L".");
  } else if (stored == StoredValue::kNotNumber) {
    Say(heading + L" " + name + L" " + kNoNumber);
  }
}

// Both forms at once is a policy that no run of the tool leaves behind.
void SayStoredPolicy() {
  std::uint32_t percent = 0;
  std::uint32_t absolute = 0;
  const StoredValue percent_form = ReadPolicyValue(kPercentValue, &percent);
  const StoredValue absolute_form = ReadPolicyValue(kAbsoluteValue, &absolute);
  SayStoredValue(kStoredPercentage, kPercentValue, percent_form, percent, Hundredths(percent));
  SayStoredValue(kStoredMinimum, kAbsoluteValue, absolute_form, absolute, Megabytes(absolute));
  const bool has_percent = percent_form != StoredValue::kAbsent;
  const bool has_absolute = absolute_form != StoredValue::kAbsent;
  if (!has_percent && !has_absolute) Say(kNoPolicy);
  if (has_percent && has_absolute) WarnOfBothForms();
}

// What a request would do: the survey's figures as the listing gives them for
// that request, decided as the request decides them.
Outcome DecideRequest(PoolFigures pools, int percentage) {
  pools.requested_reserve = RequestedReserve(pools.smallest_capacity, percentage);
  return DecideReserve(pools, percentage).outcome;
}

std::wstring WhatItDoes(Outcome outcome) {
  if (outcome == kOutcomeExceedsFreeSpace) return kRefused;
  if (outcome == kOutcomeSnapshotsOff) return kTurnsOff;
  if (outcome == kOutcomeMinimumStored) {
    return kStoresMinimum + L" " + Megabytes(kMinimumReserveMb) + L".";
  }
  return kStoresPercentage;
}

// Every request, in order, as runs of requests with the same outcome.
void SayRequests(const PoolFigures& pools) {
  Say(kRequestsNow);
  for (const RequestRun& run : RequestRuns(pools)) {
    std::wstring range = std::to_wstring(run.first);
    if (run.last != run.first) range += L" " + kRangeTo + L" " + std::to_wstring(run.last);
    Say(L"\t" + range + L" " + WhatItDoes(run.outcome));
  }
}

}  // namespace

void WarnOfBothForms() {
  std::uint32_t number = 0;
  if (ReadPolicyValue(kPercentValue, &number) != StoredValue::kAbsent &&
      ReadPolicyValue(kAbsoluteValue, &number) != StoredValue::kAbsent) {
    Alert(kBothStored);
  }
}

void SayMonitorState(platform::ServiceState state) {
  if (state == platform::ServiceState::kRunning) {
    Say(kMonitorRuns);
  } else {
    Alert(state == platform::ServiceState::kNotRunning ? kMonitorStopped : kMonitorUnknown);
  }
}

std::wstring FullPolicyKey() { return kMachineRoot + kKeySeparator + PolicyKey(); }

std::vector<RequestRun> RequestRuns(const PoolFigures& pools) {
  std::vector<RequestRun> runs;
  for (int request = kLowestRequest; request <= kHighestRequest; ++request) {
    const Outcome outcome = DecideRequest(pools, request);
    if (!runs.empty() && runs.back().outcome == outcome) {
      runs.back().last = request;
    } else {
      runs.push_back({request, request, outcome});
    }
  }
  return runs;
}

int ShowReserve() {
  std::wstring release;
  if (ProbeRelease(&release) <= 0) {
    Alert(kNoRelease + L" " + kMachineRoot + kKeySeparator + kVersionsKey + kKeySeparator +
          kReleaseValue + L".");
    return kOutcomeUsage;
  }
  Say(kReleaseIs + L" \"" + release + L"\".");
  Say(kPolicyKeyIs + L" " + FullPolicyKey() + L".");
  SayStoredPolicy();
  SayMonitorState(platform::QueryServiceState(kMonitorService));

  PoolFigures pools;
  if (QueryPoolSpace(kLowestRequest, &pools) != 0) return kOutcomeSurveyFailed;
  Say(kSmallestShare + L" " + std::to_wstring(pools.smallest_free_share) + L"%.");
  Say(kSmallestCapacity + L" " + Megabytes(pools.smallest_capacity) + L".");
  SayRequests(pools);
  return kOutcomeShown;
}
