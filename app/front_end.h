#ifndef SNAPRESERVE_APP_FRONT_END_H_
#define SNAPRESERVE_APP_FRONT_END_H_

#include <string>
#include <vector>

/// The tool's name and version number, as the JSON report gives them.
extern const std::wstring kToolName;     // snapreserve
extern const std::wstring kToolVersion;  // major.minor of project(VERSION)

/// The whole run: framework start-up, the arguments (one, or a check or a
/// JSON report: two or three), the help, version, show, check and JSON
/// switches, the release probe and the reserve decision. `args` holds the
/// program name first. Returns the outcome code that becomes the exit status.
int RunReserveTool(const std::vector<std::wstring>& args);

/// Writes the usage text, naming the program as `program`.
void PrintUsage(const std::wstring& program);

/// Writes the program name, a space and the version text.
void PrintVersion(const std::wstring& program);

#endif  // SNAPRESERVE_APP_FRONT_END_H_
