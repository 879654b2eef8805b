#ifndef SNAPRESERVE_RESERVE_SHOW_H_
#define SNAPRESERVE_RESERVE_SHOW_H_

#include <string>
#include <vector>

#include "platform/service.h"
#include "reserve/outcome.h"
#include "survey/pool_listing.h"

/// Shows, changing nothing: the installed release and the policy key it
/// selects, the stored policy, whether the monitor runs, the pool survey as a request runs it, and what
/// each request from kLowestRequest to kHighestRequest would come to on these
/// pools now, as DecideReserve decides it, in runs of requests with the same
/// outcome. Returns kOutcomeShown; kOutcomeUsage, having said so, when no
/// release is readable; kOutcomeSurveyFailed when the pools could not be
/// surveyed. Never stores a policy nor touches the monitor service.
int ShowReserve();

/// Alerts that both forms of the policy are stored, where they are: no run
/// of the tool leaves that behind, and which one the monitor takes is not
/// the tool's to say.
void WarnOfBothForms();

/// One line saying whether the monitor service runs, as the service manager
/// says; an alert where it is not running or cannot be asked.
void SayMonitorState(platform::ServiceState state);

/// The policy key of the probed layout as the tool names it, from
/// HKEY_LOCAL_MACHINE down.
std::wstring FullPolicyKey();

/// Requests from `first` to `last` that come to the same outcome.
struct RequestRun {
  int first;
  int last;
  Outcome outcome;
};

/// What each request from kLowestRequest to kHighestRequest would come to on
/// the surveyed pools, as DecideReserve decides it, in runs, in order.
std::vector<RequestRun> RequestRuns(const PoolFigures& pools);

#endif  // SNAPRESERVE_RESERVE_SHOW_H_
