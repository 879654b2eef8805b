#ifndef SNAPRESERVE_RESERVE_REQUEST_EVENT_H_
#define SNAPRESERVE_RESERVE_REQUEST_EVENT_H_

#include <cstdint>
#include <string>

#include "reserve/reserve.h"

/// The event IDs of the requests, one per outcome, as monitoring keys on
/// them: 100 plus the outcome's status.
extern const std::uint32_t kRequestEventBase;  // 100

/// A policy as one text for the record: "MinFreespacePerPoolPercent = 3000",
/// both forms joined with ", ", or "none".
std::wstring StoredPolicyText(const StoredPolicy& policy);

/// Records in the Application log how the request `percentage` ended: with
/// status `status`, the policy before and after it as `findings` has them,
/// and the survey's figures where it gave them. Information for 0, 3 and 4,
/// a warning for 2 and 5, an error for 6 and 7. Changes no status.
void RecordRequest(int percentage, const RequestFindings& findings, int status);

#endif  // SNAPRESERVE_RESERVE_REQUEST_EVENT_H_
