#ifndef SNAPRESERVE_PLATFORM_SERVICE_H_
#define SNAPRESERVE_PLATFORM_SERVICE_H_

#include <string>

namespace platform {

/// True when the service manager reports the service `name` running or
/// starting. False when it is stopped, stopping, or not there at all, or the
/// service manager cannot be asked.
///   Windows: QueryServiceStatusEx.
///   Stand-in machine: the manager's record <root>/services/<name>, one line,
///   RUNNING or STOPPED; no record means no such service.
bool ServiceRuns(const std::wstring& name);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_SERVICE_H_
