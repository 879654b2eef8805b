#ifndef SNAPRESERVE_RESERVE_RESERVE_H_
#define SNAPRESERVE_RESERVE_RESERVE_H_

#include <cstdint>
#include <string>

#include "policy/policy_store.h"
#include "reserve/outcome.h"
#include "survey/pool_listing.h"

/// The requests the tool takes: whole percentages in this range.
extern const int kLowestRequest;
extern const int kHighestRequest;

/// The word between the ends of a range of requests, as in "0 to 99".
extern const std::wstring kRangeTo;

/// The smallest reserve, in MB, that the percentage form may give: below it
/// the absolute form at this amount is stored instead.
extern const int kMinimumReserveMb;

/// The percentage form is stored in hundredths of a percent: 30% as 3000.
extern const int kPercentScale;

/// What a request comes to on surveyed pools, before anything is changed.
struct ReserveDecision {
  /// kOutcomeExceedsFreeSpace, kOutcomeSnapshotsOff, kOutcomeMinimumStored or
  /// kOutcomePercentStored: the outcome of the request once its effects are done.
  Outcome outcome = kOutcomeExceedsFreeSpace;
  /// With kOutcomeMinimumStored, the percentage that would have reached the
  /// minimum reserve on the smallest pool; 0 otherwise.
  int minimum_percentage = 0;
  /// The value the request stores, with its number, and the one it removes
  /// in the same step; null where it is refused and stores nothing.
  const std::wstring* stored_name = nullptr;
  std::uint32_t stored_number = 0;
  const std::wstring* removed_name = nullptr;
};

/// What a request found on its way, for its record: the survey's figures,
/// where the survey gave them, and the policy before and after it. The
/// caller reads the policy into both before the request; a store that
/// succeeds replaces them with what the store itself replaced and wrote.
struct RequestFindings {
  bool surveyed = false;
  PoolFigures pools;
  StoredPolicy before;
  StoredPolicy after;
};

/// Decides the validated request `percentage` (0 to 99) on the figures that
/// the survey gave for it, in this order: refused above the smallest free
/// share; snapshots off for 0; the minimum reserve when the percentage would
/// reserve less than it on the smallest pool; else the percentage. Changes
/// nothing; both a request and --show decide through here.
ReserveDecision DecideReserve(const PoolFigures& pools, int percentage);

/// Surveys the pools for the validated request `percentage` (0 to 99), decides,
/// reports, stores the policy under the probed policy key and restarts the
/// monitor service. Returns the outcome code: kOutcomeMonitorNotRunning in
/// place of a storing outcome when the monitor does not run again
/// afterwards. ProbeRelease must have succeeded. `findings`, when given,
/// receives what the survey found and what the store replaced and wrote.
/// From the store on, interrupts stay held (process.h) to the end of the
/// run, so that the run records itself and ends with its own status.
int ApplyReserve(int percentage, RequestFindings* findings = nullptr);

/// The product's monitor service, which takes up the stored policy.
extern const std::wstring kMonitorService;  // VLMRMON

/// Stops the monitor service and starts it again, waiting for each command.
/// The start is tried even when the stop failed. True when NET reported the
/// start done.
bool RestartMonitorService();

#endif  // SNAPRESERVE_RESERVE_RESERVE_H_
