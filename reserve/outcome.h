#ifndef SNAPRESERVE_RESERVE_OUTCOME_H_
#define SNAPRESERVE_RESERVE_OUTCOME_H_

/// What a run of the tool ended with; the process exits with it.
enum Outcome : int {
  kOutcomePercentStored = 0,      // percentage stored, monitor restarted
  kOutcomeShown = 0,              // --show: the policy and every request's outcome shown
  kOutcomeFrameworkFailed = 1,    // the application framework did not start
  kOutcomeExceedsFreeSpace = 2,   // request above the smallest free share
  kOutcomeMinimumStored = 3,      // below 1056 MB: the minimum stored instead
  kOutcomeSnapshotsOff = 4,       // request 0: the minimum stored, snapshots off
  kOutcomeSurveyFailed = 5,       // pools could not be surveyed
  kOutcomeStoreFailed = 6,        // the policy could not be stored
  kOutcomeMonitorNotRunning = 7,  // the policy stored, but the monitor does not run
  kOutcomeAlreadyInEffect = 8,    // --check: the request would store what is stored now
  kOutcomeOutOfMemory = 9,        // memory ran out; what the run changed is not known
  kOutcomeUsage = -1,             // usage printed: help, bad input, no release
  kOutcomeVersion = -2,           // version printed
};

#endif  // SNAPRESERVE_RESERVE_OUTCOME_H_
