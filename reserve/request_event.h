#ifndef SNAPRESERVE_RESERVE_REQUEST_EVENT_H_
#define SNAPRESERVE_RESERVE_REQUEST_EVENT_H_

#include <cstdint>
#include <string>

#include "reserve/reserve.h"

/// The event IDs of the requests, one per outcome, as monitoring keys on
/// them: 100 plus the outcome's status.
extern const std::uint32_t kRequestEventBase;  // 100

/// The stored policy as one text for the record: "MinFreespacePerPoolPercent
/// = 3000", both forms joined with ", ", or "none". ProbeRelease must have
/// succeeded.
std::wstring StoredPolicyText();

/// Records in the Application log how the request `percentage` ended: with
/// status `status`, the policy `before` it ran and as it is now, and the
/// survey's figures where it gave them. Information for 0, 3 and 4, a warning
/// for 2 and 5, an error for 6 and 7. Prints nothing and changes no status.
void RecordRequest(int percentage, const std::wstring& before, const RequestFindings& findings,
                   int status);

#endif  // SNAPRESERVE_RESERVE_REQUEST_EVENT_H_
