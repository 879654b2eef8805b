#include "reserve/reserve.h"

#include <climits>
#include <cmath>
#include <string>

#include "reserve/outcome.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/service.h"
#include "policy/policy_store.h"
#include "survey/pool_survey.h"

const int kLowestRequest = 0;
const int kHighestRequest = 99;
const std::wstring kRangeTo = L"to";
const int kMinimumReserveMb = 1056;
const int kPercentScale = 100;
const std::wstring kMonitorService = L"VLMRMON";

namespace {

const std::wstring kStopWord = L"STOP";
const std::wstring kStartWord = L"START";

const std::wstring kExceedsCapacity =
    L"The requested percentage of pool free space exceeds available capacity.\nNo change effected.";
const std::wstring kSpaceAvailable = L"The percentage of pool space available is";
const std::wstring kReduceRequest =
    L"You must reduce the requested percentage, reduce disk usage,\nor add additional storage and try again.";
const std::wstring kSeeGuide =
    L"Please see chapter 4 of the Corridan Quarrin Administration Guide for aditional details.";
const std::wstring kRequestedIs = L"The requested percentage is";
const std::wstring kMinimumIs = L"The minimum, based on available disk space, is";
const std::wstring kWillBeSet = L"The percentage will be set to";
const std::wstring kReflectsMinimum = L"This reflects the minimum value which is";
const std::wstring kTurningOff = L"You have elected to turn off snapshot capability.";
const std::wstring kHowToReenable =
    L"To re-enable snapshots, run this utility again and with a non-zero argument";
const std::wstring kNewMinimum = L"New allocated minimum amount of pool free space is";
const std::wstring kTurnedOff = L"Snapshot capability turned off.";
const std::wstring kNewPercentage =
    L"New allocated percentage of pool free space reserved for snapshots is";
const std::wstring kNotStored =
    L"The snapshot reserve policy could not be stored.\nNo change effected.";
const std::wstring kNeitherStored =
    L"The snapshot reserve policy could not be stored, and the policy it replaces could not be "
    L"put back.\nThe policy key now holds neither form of the policy.";
const std::wstring kRegistryLocked = L"The registry is locked by another run of snapreserve.";
const std::wstring kMonitorNotRunning =
    L"The policy was stored, but the monitor service VLMRMON did not start again.";

void Say(const std::wstring& text) { platform::PrintText(text + L"\n"); }
void Alert(const std::wstring& text) { platform::PrintText(L"\a" + text + L"\n"); }
void SayPercent(const std::wstring& text, int percent) {
  platform::PrintText(text + L" " + std::to_wstring(percent) + L"%.\n");
}
void SayMegabytes(const std::wstring& text, int megabytes) {
  platform::PrintText(text + L" " + std::to_wstring(megabytes) + L" MB.\n");
}

// The percentage that would give the minimum reserve on the smallest pool:
// 1056 / (reserve / p), truncated toward zero. A reserve of 0 MB has no such
// percentage; it shows as 0, as on the Windows runtime.
int MinimumPercentage(int reserve, int percentage) {
  const double m = static_cast<double>(kMinimumReserveMb) /
                   (static_cast<double>(reserve) / static_cast<double>(percentage));
  if (!std::isfinite(m)) return 0;
  if (m >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (m <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(m);
}

// Stores what the decision says, in place of the other form; a store that
// succeeds gives the record what it replaced and what it wrote.
bool StoreDecided(const ReserveDecision& decision, StoreReport* report,
                  RequestFindings* findings) {
  if (!StorePolicyValue(*decision.stored_name, decision.stored_number, *decision.removed_name,
                        report)) {
    // The value taken out and not put back is gone; the rest is as it was.
    if (report->other_lost) {
      PolicyValue& lost = *decision.removed_name == kPercentValue ? findings->after.percent
                                                                  : findings->after.absolute;
      lost = PolicyValue();
    }
    return false;
  }
  findings->before = report->replaced;
  findings->after = report->stored;
  return true;
}

// A store that failed says what the policy key holds now.
int PolicyNotStored(const StoreReport& report) {
  if (report.locked) Alert(kRegistryLocked);
  Alert(report.other_lost ? kNeitherStored : kNotStored);
  return kOutcomeStoreFailed;
}

// Restarts the monitor on the stored policy. The outcome stands only when
// NET started it and it runs afterwards: a monitor that NET could neither
// stop nor start (no right to, say) runs on, but on the old policy.
// Interrupts stay held: the run still records itself.
int RestartOnNewPolicy(int outcome) {
  const bool started = RestartMonitorService();
  if (!started || platform::QueryServiceState(kMonitorService) != platform::ServiceState::kRunning) {
    Alert(kMonitorNotRunning);
    return kOutcomeMonitorNotRunning;
  }
  return outcome;
}

// Shared ending of the two outcomes that store the minimum reserve. From the
// store to the end of the run an interrupt does not stop the tool (the
// store holds interrupts once it cannot be taken back; registry.h): a
// monitor stopped and never started again would leave the product unwatched.
int FinishMinimumReserve(const ReserveDecision& decision, RequestFindings* findings) {
  StoreReport report;
  if (!StoreDecided(decision, &report, findings)) return PolicyNotStored(report);
  SayMegabytes(kNewMinimum, kMinimumReserveMb);
  Alert(kTurnedOff);
  return RestartOnNewPolicy(decision.outcome);
}

}  // namespace

bool RestartMonitorService() {
  const std::wstring net = SystemProgramPath(kNetName);
  platform::RunAndWait({net, kStopWord, kMonitorService});
  return platform::RunAndWait({net, kStartWord, kMonitorService}).status == 0;
}

ReserveDecision DecideReserve(const PoolFigures& pools, int percentage) {
  const auto minimum = static_cast<std::uint32_t>(kMinimumReserveMb);
  if (pools.smallest_free_share < percentage) return {kOutcomeExceedsFreeSpace};
  if (percentage == 0) {
    return {kOutcomeSnapshotsOff, 0, &kAbsoluteValue, minimum, &kPercentValue};
  }
  if (pools.requested_reserve < kMinimumReserveMb) {
    return {kOutcomeMinimumStored, MinimumPercentage(pools.requested_reserve, percentage),
            &kAbsoluteValue, minimum, &kPercentValue};
  }
  return {kOutcomePercentStored, 0, &kPercentValue,
          static_cast<std::uint32_t>(percentage * kPercentScale), &kAbsoluteValue};
}

int ApplyReserve(int percentage, RequestFindings* findings) {
  RequestFindings unused;
  if (!findings) findings = &unused;
  PoolFigures pools;
  if (QueryPoolSpace(percentage, &pools) != 0) return kOutcomeSurveyFailed;
  findings->surveyed = true;
  findings->pools = pools;
  const ReserveDecision decision = DecideReserve(pools, percentage);

  if (decision.outcome == kOutcomeExceedsFreeSpace) {
    Alert(kExceedsCapacity);
    SayPercent(kSpaceAvailable, pools.smallest_free_share);
    Say(kReduceRequest);
    Say(kSeeGuide);
    return kOutcomeExceedsFreeSpace;
  }

  if (decision.outcome == kOutcomeSnapshotsOff) {
    Say(kTurningOff);
    Say(kHowToReenable);
    return FinishMinimumReserve(decision, findings);
  }

  if (decision.outcome == kOutcomeMinimumStored) {
    platform::PrintText(L"\a" + kRequestedIs + L" " + std::to_wstring(percentage) + L"%.\n");
    SayPercent(kMinimumIs, decision.minimum_percentage);
    SayPercent(kWillBeSet, decision.minimum_percentage);
    SayMegabytes(kReflectsMinimum, kMinimumReserveMb);
    return FinishMinimumReserve(decision, findings);
  }

  StoreReport report;
  if (!StoreDecided(decision, &report, findings)) return PolicyNotStored(report);
  SayPercent(kNewPercentage, percentage);
  return RestartOnNewPolicy(kOutcomePercentStored);
}
