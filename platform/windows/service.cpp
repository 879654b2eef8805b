#include <windows.h>

#include "platform/service.h"

namespace platform {

// Asked with the least rights that tell: connecting to the manager and
// querying the one service's status. A service the manager does not know is
// not running; any other failure leaves the state unknown.
ServiceState QueryServiceState(const std::wstring& name) {
  const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return ServiceState::kUnknown;
  ServiceState state = ServiceState::kUnknown;
  if (const SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS)) {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof status, &needed)) {
      state = status.dwCurrentState == SERVICE_RUNNING ||
                      status.dwCurrentState == SERVICE_START_PENDING
                  ? ServiceState::kRunning
                  : ServiceState::kNotRunning;
    }
    CloseServiceHandle(service);
  } else if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
    state = ServiceState::kNotRunning;
  }
  CloseServiceHandle(manager);
  return state;
}

}  // namespace platform
