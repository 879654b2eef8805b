#ifndef SNAPRESERVE_RESERVE_CHECK_H_
#define SNAPRESERVE_RESERVE_CHECK_H_

#include <cstdint>
#include <string>

#include "platform/service.h"
#include "reserve/outcome.h"
#include "reserve/reserve.h"
#include "survey/pool_listing.h"

/// What one request would come to now, found out without changing anything.
struct ReserveCheck {
  /// The status the request would end with: kOutcomeSurveyFailed, the
  /// decision's outcome, kOutcomeAlreadyInEffect where it would store what
  /// the policy key holds, or kOutcomeStoreFailed where this user may not
  /// store the policy.
  int status = kOutcomeSurveyFailed;
  bool surveyed = false;  // the survey gave figures; the rest holds only then
  /// Why the survey failed where it printed no line (QueryPoolSpace).
  std::wstring quiet_reason;
  PoolFigures pools;
  /// What the request would store and remove, as the request itself decides.
  ReserveDecision decision = {kOutcomeSurveyFailed};
  /// The policy key holds that value with that number, and not the other,
  /// and the monitor runs on it.
  bool already_in_effect = false;
  /// Where the key holds it: the monitor, which takes the policy up only
  /// while it runs. Running otherwise (not asked).
  platform::ServiceState monitor = platform::ServiceState::kRunning;
  /// This user could store it (asked only where something would be stored).
  bool may_store = false;
};

/// Runs what the validated request `percentage` (0 to 99) runs up to its
/// decision: the survey as the request runs it (listing on the console,
/// failure lines and all), then DecideReserve. Then reads the policy key and
/// asks whether this user could store the policy. Never writes the registry
/// nor touches the monitor service. ProbeRelease must have succeeded.
ReserveCheck CheckRequest(int percentage);

/// --check: CheckRequest, then one line saying what the request would do.
/// Returns the status the request would end with.
int CheckReserve(int percentage);

#endif  // SNAPRESERVE_RESERVE_CHECK_H_
