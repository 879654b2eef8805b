#include "reserve/check.h"

#include <string>

#include "platform/console.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "policy/policy_store.h"
#include "reserve/show.h"
#include "survey/pool_survey.h"

namespace {

const std::wstring kRequestOf = L"A request of";
const std::wstring kWouldStore = L"would store";
const std::wstring kUnder = L"under";
const std::wstring kAndRestart = L"and restart the monitor service.";
const std::wstring kWouldTurnOff = L"would turn snapshots off:";
const std::wstring kWouldFallBack = L"would fall back to the minimum of";
const std::wstring kMegabytes = L"MB,";
const std::wstring kMinimumPercentageIs = L"as the minimum percentage is";
const std::wstring kItWouldStore = L"it would store";
const std::wstring kWouldBeRefused =
    L"would be refused: the smallest free share of any pool is";
const std::wstring kWouldChangeNothing = L"would change nothing:";
const std::wstring kIsInEffect = L"is already in effect under";
const std::wstring kWouldFail = L"would fail: this user may not store";
const std::wstring kMonitorStoppedWouldStart =
    L"The monitor service VLMRMON is not running; the request would start it.";
const std::wstring kMonitorUnknownWouldStart =
    L"Whether the monitor service VLMRMON is running cannot be read; the request would start it.";

std::wstring Percent(int percent) { return std::to_wstring(percent) + L"%"; }

// The value a request stores, as "name = number".
std::wstring StoredValueText(const ReserveCheck& check) {
  return *check.decision.stored_name + L" = " + std::to_wstring(check.decision.stored_number);
}

// Where the request stores something: the value, its key and the restart.
std::wstring WouldStore(const ReserveCheck& check) {
  return StoredValueText(check) + L" " + kUnder + L" " + FullPolicyKey() + L" " + kAndRestart;
}

std::wstring WhatTheRequestWouldDo(const ReserveCheck& check) {
  if (check.status == kOutcomeExceedsFreeSpace) {
    return kWouldBeRefused + L" " + Percent(check.pools.smallest_free_share) + L".";
  }
  if (check.status == kOutcomeAlreadyInEffect) {
    return kWouldChangeNothing + L" " + StoredValueText(check) + L" " + kIsInEffect + L" " +
           FullPolicyKey() + L".";
  }
  if (check.status == kOutcomeStoreFailed) {
    return kWouldFail + L" " + StoredValueText(check) + L" " + kUnder + L" " + FullPolicyKey() +
           L".";
  }
  if (check.status == kOutcomeSnapshotsOff) {
    return kWouldTurnOff + L" " + kItWouldStore + L" " + WouldStore(check);
  }
  if (check.status == kOutcomeMinimumStored) {
    return kWouldFallBack + L" " + std::to_wstring(kMinimumReserveMb) + L" " + kMegabytes + L" " +
           kMinimumPercentageIs + L" " + Percent(check.decision.minimum_percentage) + L": " +
           kItWouldStore + L" " + WouldStore(check);
  }
  return kWouldStore + L" " + WouldStore(check);
}

}  // namespace

ReserveCheck CheckRequest(int percentage) {
  ReserveCheck check;
  if (QueryPoolSpace(percentage, &check.pools, &check.quiet_reason) != 0) return check;
  check.surveyed = true;
  check.decision = DecideReserve(check.pools, percentage);
  check.status = check.decision.outcome;
  if (!check.decision.stored_name) return check;

  std::uint32_t number = 0;
  std::uint32_t other = 0;
  const bool stored =
      ReadPolicyValue(*check.decision.stored_name, &number) == StoredValue::kNumber &&
      number == check.decision.stored_number &&
      ReadPolicyValue(*check.decision.removed_name, &other) == StoredValue::kAbsent;
  // The product takes a policy up only while its monitor runs: a stored
  // policy with the monitor stopped is not in effect, and the request would
  // store it again and start the monitor.
  if (stored) check.monitor = platform::QueryServiceState(kMonitorService);
  check.already_in_effect = stored && check.monitor == platform::ServiceState::kRunning;
  check.may_store = platform::MayStoreUnderRegistryKey(PolicyKey());
  // Nothing would be written where the policy is in effect, so no rights
  // are needed then.
  if (check.already_in_effect) {
    check.status = kOutcomeAlreadyInEffect;
  } else if (!check.may_store) {
    check.status = kOutcomeStoreFailed;
  }
  return check;
}

int CheckReserve(int percentage) {
  const ReserveCheck check = CheckRequest(percentage);
  if (!check.surveyed) return check.status;
  platform::PrintText(kRequestOf + L" " + Percent(percentage) + L" " +
                      WhatTheRequestWouldDo(check) + L"\n");
  // A request that would fail to store would not start the monitor either.
  if (check.monitor != platform::ServiceState::kRunning && check.status == kOutcomeStoreFailed) {
    SayMonitorState(check.monitor);
  } else if (check.monitor == platform::ServiceState::kNotRunning) {
    platform::PrintText(L"\a" + kMonitorStoppedWouldStart + L"\n");
  } else if (check.monitor == platform::ServiceState::kUnknown) {
    platform::PrintText(L"\a" + kMonitorUnknownWouldStart + L"\n");
  }
  return check.status;
}
