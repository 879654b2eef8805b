#ifndef SNAPRESERVE_SURVEY_PROGRAMS_H_
#define SNAPRESERVE_SURVEY_PROGRAMS_H_

#include <string>

extern const std::wstring kManagementTool;  // C:\Program Files\Halvorn\Velmora 2.0\plexadm.exe
extern const std::wstring kShellName;       // cmd.exe
extern const std::wstring kNetName;         // NET.exe

/// Where the management tool is run from: its fixed path when a file is
/// there; else the product's folder under the 32-bit programs folder, then
/// under the programs folder, the first that holds the tool; else the fixed
/// path, which then fails as missing.
std::wstring ManagementToolPath();

/// Where a system program (cmd.exe, NET.exe) is run from: the system folder
/// that the system reports; C:\WINNT\System32, as always spelled, where that
/// is the system folder or the system reports none.
std::wstring SystemProgramPath(const std::wstring& name);

#endif  // SNAPRESERVE_SURVEY_PROGRAMS_H_
