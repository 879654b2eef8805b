#include "survey/programs.h"

#include <vector>

#include "platform/files.h"

const std::wstring kManagementTool = L"C:\\Program Files\\Halvorn\\Velmora 2.0\\plexadm.exe";
const std::wstring kShellName = L"cmd.exe";
const std::wstring kNetName = L"NET.exe";

namespace {

// The product's folder and tool below a programs folder.
const std::wstring kProductTool = L"\\Halvorn\\Velmora 2.0\\plexadm.exe";
const std::wstring kFixedSystemFolder = L"C:\\WINNT\\System32";

}  // namespace

// The fixed paths come first, so a machine laid out as the tool has always
// expected behaves exactly as before. Only the system's own answers are asked
// after them: environment variables can point anywhere.
std::wstring ManagementToolPath() {
  if (platform::FileExists(kManagementTool)) return kManagementTool;
  for (const std::wstring& folder : platform::ProgramFolders()) {
    const std::wstring tool = folder + kProductTool;
    if (platform::FileExists(tool)) return tool;
  }
  return kManagementTool;
}

std::wstring SystemProgramPath(const std::wstring& name) {
  const std::wstring fixed = kFixedSystemFolder + L"\\" + name;
  if (platform::FileExists(fixed)) return fixed;
  const std::wstring folder = platform::SystemFolder();
  return folder.empty() ? fixed : folder + L"\\" + name;
}
