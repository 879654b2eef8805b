#include <windows.h>

#include "platform/service.h"

namespace platform {

// Asked with the least rights that tell: connecting to the manager and
// querying the one service's status.
bool ServiceRuns(const std::wstring& name) {
  const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return false;
  bool runs = false;
  if (const SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS)) {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof status, &needed)) {
      runs = status.dwCurrentState == SERVICE_RUNNING ||
             status.dwCurrentState == SERVICE_START_PENDING;
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return runs;
}

}  // namespace platform
