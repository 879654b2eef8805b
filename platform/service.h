#ifndef SNAPRESERVE_PLATFORM_SERVICE_H_
#define SNAPRESERVE_PLATFORM_SERVICE_H_

#include <string>

namespace platform {

/// What the service manager says of one service.
enum class ServiceState {
  kRunning,     // running or starting
  kNotRunning,  // stopped, stopping, or no such service
  kUnknown,     // the manager could not be asked, or its answer not read
};

/// The state of the service `name`, asked without waiting and changing nothing.
///   Windows: QueryServiceStatusEx, with the least rights that tell.
///   Stand-in machine: the manager's record <root>/services/<name>, one line,
///   RUNNING or STOPPED; no record means no such service, and a record that
///   cannot be read or says anything else is unknown.
ServiceState QueryServiceState(const std::wstring& name);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_SERVICE_H_
