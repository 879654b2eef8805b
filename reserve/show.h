#ifndef SNAPRESERVE_RESERVE_SHOW_H_
#define SNAPRESERVE_RESERVE_SHOW_H_

/// Shows, changing nothing: the installed release and the policy key it
/// selects, the stored policy, the pool survey as a request runs it, and what
/// each request from kLowestRequest to kHighestRequest would come to on these
/// pools now, as DecideReserve decides it, in runs of requests with the same
/// outcome. Returns kOutcomeShown; kOutcomeUsage, having said so, when no
/// release is readable; kOutcomeSurveyFailed when the pools could not be
/// surveyed. Never stores a policy nor touches the monitor service.
int ShowReserve();

#endif  // SNAPRESERVE_RESERVE_SHOW_H_
