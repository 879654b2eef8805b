#include <windows.h>

#include <string>
#include <vector>

#include "platform/event_log.h"

namespace platform {

const std::wstring kEventSource = L"snapreserve";

namespace {

const std::wstring kNoSource = L"the event source could not be opened (error ";
const std::wstring kRefused = L"the Application log refused it (error ";
const std::wstring kErrorEnd = L")";

// The user the tool runs as, from its process token, so that the event shows
// who made the change; empty where the token cannot be read.
std::vector<BYTE> ProcessUser() {
  std::vector<BYTE> user;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return user;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  user.resize(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
    user.clear();
  }
  CloseHandle(token);
  return user;
}

}  // namespace

std::wstring WriteEvent(EventType type, std::uint32_t id, const std::vector<std::wstring>& strings) {
  const HANDLE source = RegisterEventSourceW(nullptr, kEventSource.c_str());
  if (source == nullptr) return kNoSource + std::to_wstring(GetLastError()) + kErrorEnd;
  const std::vector<BYTE> user = ProcessUser();
  const PSID sid =
      user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
  std::vector<LPCWSTR> texts;
  for (const std::wstring& text : strings) texts.push_back(text.c_str());
  std::wstring refused;
  if (!ReportEventW(source, static_cast<WORD>(type), 0, id, sid, static_cast<WORD>(texts.size()),
                    0, texts.empty() ? nullptr : texts.data(), nullptr)) {
    refused = kRefused + std::to_wstring(GetLastError()) + kErrorEnd;
  }
  DeregisterEventSource(source);
  return refused;
}

}  // namespace platform
