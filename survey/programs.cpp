#include "survey/programs.h"

#include <vector>

#include "platform/ascii_case.h"
#include "platform/files.h"

const std::wstring kManagementTool = L"C:\\Program Files\\Halvorn\\Velmora 2.0\\plexadm.exe";
const std::wstring kShellName = L"cmd.exe";
const std::wstring kNetName = L"NET.exe";

namespace {

// The product's folder and tool below a programs folder.
const std::wstring kProductTool = L"\\Halvorn\\Velmora 2.0\\plexadm.exe";
const std::wstring kFixedSystemFolder = L"C:\\WINNT\\System32";

}  // namespace

// The fixed path comes first, so a machine laid out as the tool has always
// expected behaves exactly as before; only administrators can write under
// the programs folders. Only the system's own answers are asked after it:
// environment variables can point anywhere.
std::wstring ManagementToolPath() {
  if (platform::FileExists(kManagementTool)) return kManagementTool;
  for (const std::wstring& folder : platform::ProgramFolders()) {
    const std::wstring tool = folder + kProductTool;
    if (platform::FileExists(tool)) return tool;
  }
  return kManagementTool;
}

// C:\WINNT\System32 is used only where it is the system folder, as on a
// server installed in C:\WINNT, and then spelled as always. Anywhere else a
// C:\WINNT is no system folder: any user may create it at the drive's root,
// and a NET.exe or cmd.exe put there must never run with the administrator's
// rights.
std::wstring SystemProgramPath(const std::wstring& name) {
  const std::wstring folder = platform::SystemFolder();
  if (folder.empty() || platform::SameFolded(folder, kFixedSystemFolder)) {
    return kFixedSystemFolder + L"\\" + name;
  }
  return folder + L"\\" + name;
}
