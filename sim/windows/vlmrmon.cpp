// Simulated monitor service VLMRMON for Windows. It records each stop and
// each start in service.log beside it; a start records the policy it finds:
//   STOP VLMRMON
//   START VLMRMON MinFreespacePerPoolPercent=3000 MinFreespacePerPool=none
// Like the product, it reads the 32-bit registry view and the policy key of
// its release: ...\2.0\Policies when the release text holds "2.1", else ...\2.0.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const wchar_t kService[] = L"VLMRMON";
const wchar_t kVersionsKey[] = L"SOFTWARE\\Halvorn\\Corridan\\Versions";
const wchar_t kPolicyKey20[] = L"SOFTWARE\\Halvorn\\Velmora\\2.0";
const wchar_t kPolicyKey21[] = L"SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies";
const wchar_t* const kPolicyValues[] = {L"MinFreespacePerPoolPercent", L"MinFreespacePerPool"};

SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop = nullptr;

void Record(const std::string& line) {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  path = path.substr(0, path.find_last_of(L'\\') + 1) + L"service.log";
  if (FILE* log = _wfopen(path.c_str(), L"ab")) {
    std::fputs((line + "\n").c_str(), log);
    std::fclose(log);
  }
}

// The value's type and raw data; false when the key or value is missing.
bool Query(const wchar_t* key_path, const wchar_t* name, DWORD* type, std::string* data) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  DWORD size = 0;
  LONG status = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    data->assign(size, '\0');
    status = RegQueryValueExW(key, name, nullptr, type, reinterpret_cast<BYTE*>(&(*data)[0]),
                              &size);
    data->resize(size);
  }
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

std::string PolicyInForce() {
  DWORD type = 0;
  std::string data;
  std::wstring release;
  if (Query(kVersionsKey, L"VLMR", &type, &data) && (type == REG_SZ || type == REG_MULTI_SZ)) {
    release.assign(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
    release = release.substr(0, release.find(L'\0'));  // a multi-string's first string
  }
  const wchar_t* key = release.find(L"2.1") != std::wstring::npos ? kPolicyKey21 : kPolicyKey20;
  std::string record;
  for (const wchar_t* name : kPolicyValues) {
    std::string shown = "none";
    if (Query(key, name, &type, &data)) {
      shown = type == REG_DWORD && data.size() == 4
                  ? std::to_string(*reinterpret_cast<const DWORD*>(data.data()))
                  : "unreadable";
    }
    record += " " + std::string(name, name + wcslen(name)) + "=" + shown;
  }
  return record;
}

void Report(DWORD state) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  SetServiceStatus(g_status_handle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Record("STOP VLMRMON");
    Report(SERVICE_STOP_PENDING);
    SetEvent(g_stop);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_status_handle = RegisterServiceCtrlHandlerExW(kService, Control, nullptr);
  if (!g_status_handle) return;
  g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_START_PENDING);
  Record("START VLMRMON" + PolicyInForce());
  Report(SERVICE_RUNNING);
  WaitForSingleObject(g_stop, INFINITE);
  Report(SERVICE_STOPPED);
}

}  // namespace

int main() {
  wchar_t name[] = L"VLMRMON";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
