#include <windows.h>

#include <vector>

#include "platform/event_log.h"

namespace platform {

const std::wstring kEventSource = L"snapreserve";

namespace {

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

void WriteEvent(EventType type, std::uint32_t id, const std::vector<std::wstring>& strings) {
  const HANDLE source = RegisterEventSourceW(nullptr, kEventSource.c_str());
  if (source == nullptr) return;
  const std::vector<BYTE> user = ProcessUser();
  const PSID sid =
      user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
  std::vector<LPCWSTR> texts;
  for (const std::wstring& text : strings) texts.push_back(text.c_str());
  ReportEventW(source, static_cast<WORD>(type), 0, id, sid, static_cast<WORD>(texts.size()),
               0, texts.empty() ? nullptr : texts.data(), nullptr);
  DeregisterEventSource(source);
}

}  // namespace platform
