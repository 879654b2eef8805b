#ifndef SNAPRESERVE_RESERVE_RESERVE_H_
#define SNAPRESERVE_RESERVE_RESERVE_H_

/// The smallest reserve, in MB, that the percentage form may give: below it
/// the absolute form at this amount is stored instead.
extern const int kMinimumReserveMb;

/// Surveys the pools for the validated request `percentage` (0 to 99), decides,
/// reports, stores the policy under the probed policy key and restarts the
/// monitor service. Returns the outcome code. ProbeRelease must have succeeded.
int ApplyReserve(int percentage);

/// Stops the monitor service and starts it again, waiting for each command.
/// Failures are not examined: the start is tried even when the stop failed.
void RestartMonitorService();

#endif  // SNAPRESERVE_RESERVE_RESERVE_H_
