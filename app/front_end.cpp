#include "app/front_end.h"

#include <new>
#include <string>

#include "app/json_report.h"
#include "app/version.h"
#include "reserve/outcome.h"
#include "platform/ascii_case.h"
#include "platform/console.h"
#include "platform/framework.h"
#include "policy/policy_store.h"
#include "reserve/check.h"
#include "reserve/request_event.h"
#include "reserve/reserve.h"
#include "reserve/show.h"

const std::wstring kToolName = L"snapreserve";
const std::wstring kToolVersion = L"" SNAPRESERVE_VERSION_SHORT;

namespace {

const std::wstring kFrameworkFailed = L"Fatal Error: MFC initialization failed\n";
const std::wstring kOutOfMemory =
    L"\aThe tool ran out of memory and stopped; run it with --show to see what is stored.\n";

// Tested in this order: help first, then version, then show. An argument
// matches when it begins with an entry's characters, in any case. Check and
// JSON come first in their own calls of two and three arguments.
const std::wstring kHelpSwitches[] = {L"--help", L"-h", L"/?"};
const std::wstring kVersionSwitches[] = {L"--version", L"-v", L"/v"};
const std::wstring kShowSwitches[] = {L"--show", L"-s", L"/s"};
const std::wstring kCheckSwitches[] = {L"--check", L"-c", L"/c"};
const std::wstring kJsonSwitches[] = {L"--json", L"-j", L"/j"};

const std::wstring kVersionText =
    L"Version " + kToolVersion + L".\n"
    L"Copyright (C) Halvorn Corporation.\n"
    L"All rights reserved.";

const std::wstring kUsageTitle = L"Usage:";
const std::wstring kPercentageWord = L"<Percentage>";
const std::wstring kPercentageLine1 = L"<Percentage> should be expressed as a percentage of the";
const std::wstring kPercentageLine2 = L"total space to be reserved in all pools for snapshots.";
const std::wstring kRangeFrom = L"This percentage must range from";
const std::wstring kHelpLine = L"Print this help message and exit.";
const std::wstring kInvalidInputLine = L"An invalid input also prints this message and exits.";
const std::wstring kVersionLine = L"Print the program version and exit.";
const std::wstring kShowLine =
    L"Print the stored policy and what each percentage would do now, changing nothing.";
const std::wstring kCheckLine =
    L"Say what this percentage would do now and end as it would, changing nothing.";
const std::wstring kJsonOr = L"|";
const std::wstring kJsonLine =
    L"Print either as one JSON document; what the management tool prints goes to standard error.";

bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool MatchesAny(const std::wstring& arg, const std::wstring (&entries)[3]) {
  for (const std::wstring& entry : entries) {
    if (platform::BeginsWithFolded(arg, entry)) return true;
  }
  return false;
}

// The value of the argument's leading digits. Anything beyond the highest
// request reads as just above it, so no digit string can wrap into range.
int LeadingNumber(const std::wstring& arg) {
  int value = 0;
  for (size_t i = 0; i < arg.size() && IsAsciiDigit(arg[i]); ++i) {
    value = value * 10 + static_cast<int>(arg[i] - L'0');
    if (value > kHighestRequest) return kHighestRequest + 1;
  }
  return value;
}

// A request: its first character an ASCII digit (a digit of another script
// would convert to nothing, and an empty request would read as 0, turning
// snapshots off), its leading digits, not above the highest request.
bool ReadRequest(const std::wstring& arg, int* request) {
  if (arg.empty() || !IsAsciiDigit(arg[0])) return false;
  *request = LeadingNumber(arg);
  return *request <= kHighestRequest;
}

// The calls of two and three arguments: --check N, --json --show and
// --json --check N. Anything else is the usage.
int RunCheckOrReport(const std::wstring& program, const std::vector<std::wstring>& args) {
  const bool json = MatchesAny(args[1], kJsonSwitches);
  const size_t check_at = json ? 2 : 1;
  int request = 0;
  if (json && args.size() == 3 && MatchesAny(args[2], kShowSwitches)) return ReportShowAsJson();
  if (args.size() != check_at + 2 || !MatchesAny(args[check_at], kCheckSwitches) ||
      !ReadRequest(args[check_at + 1], &request)) {
    PrintUsage(program);
    return kOutcomeUsage;
  }
  if (json) return ReportCheckAsJson(request);
  if (ProbeRelease() <= 0) {
    PrintUsage(program);
    return kOutcomeUsage;
  }
  return CheckReserve(request);
}

}  // namespace

void PrintUsage(const std::wstring& program) {
  using platform::PrintText;
  PrintText(L"\a" + kUsageTitle + L"\n");
  PrintText(program + L" " + kPercentageWord + L"\n");
  PrintText(L"\t" + kPercentageLine1 + L"\n");
  PrintText(L"\t" + kPercentageLine2 + L"\n");
  PrintText(L"\t" + kRangeFrom + L" " + std::to_wstring(kLowestRequest) + L" " + kRangeTo +
            L" " + std::to_wstring(kHighestRequest) + L".\n\n");
  for (const std::wstring& entry : kHelpSwitches) PrintText(program + L" " + entry + L"\n");
  PrintText(L"\t" + kHelpLine + L"\n\n");
  PrintText(kInvalidInputLine + L"\n\n");
  for (const std::wstring& entry : kVersionSwitches) PrintText(program + L" " + entry + L"\n");
  PrintText(L"\t" + kVersionLine + L"\n\n");
  for (const std::wstring& entry : kShowSwitches) PrintText(program + L" " + entry + L"\n");
  PrintText(L"\t" + kShowLine + L"\n\n");
  for (const std::wstring& entry : kCheckSwitches) {
    PrintText(program + L" " + entry + L" " + kPercentageWord + L"\n");
  }
  PrintText(L"\t" + kCheckLine + L"\n\n");
  for (const std::wstring& entry : kJsonSwitches) {
    PrintText(program + L" " + entry + L" " + kShowSwitches[0] + kJsonOr + kCheckSwitches[0] + L" " +
              kPercentageWord + L"\n");
  }
  PrintText(L"\t" + kJsonLine + L"\n");
}

void PrintVersion(const std::wstring& program) {
  platform::PrintText(program + L" " + kVersionText + L"\n");
}

namespace {

int RunTool(const std::vector<std::wstring>& args) {
  if (!platform::InitializeFramework()) {
    platform::PrintText(kFrameworkFailed);
    return kOutcomeFrameworkFailed;
  }
  const std::wstring program = args.empty() ? std::wstring() : args[0];
  if (args.size() == 3 || args.size() == 4) return RunCheckOrReport(program, args);
  if (args.size() != 2) {
    PrintUsage(program);
    return kOutcomeUsage;
  }
  const std::wstring& arg = args[1];
  for (const std::wstring& entry : kHelpSwitches) {
    if (platform::BeginsWithFolded(arg, entry)) {
      PrintUsage(program);
      return kOutcomeUsage;
    }
  }
  for (const std::wstring& entry : kVersionSwitches) {
    if (platform::BeginsWithFolded(arg, entry)) {
      PrintVersion(program);
      return kOutcomeVersion;
    }
  }
  for (const std::wstring& entry : kShowSwitches) {
    if (platform::BeginsWithFolded(arg, entry)) return ShowReserve();
  }
  int request = 0;
  if (!ReadRequest(arg, &request)) {
    PrintUsage(program);
    return kOutcomeUsage;
  }
  if (ProbeRelease() <= 0) {
    PrintUsage(program);
    return kOutcomeUsage;
  }
  // Every request past the release leaves one event, once its status is
  // known. A request that stored its policy holds interrupts from the store
  // to here and on to the end, so that it ends recorded and with its own
  // status, never the interrupt's.
  RequestFindings findings;
  findings.before = findings.after = ReadStoredPolicy();
  const int status = ApplyReserve(request, &findings);
  RecordRequest(request, findings, status);
  return status;
}

}  // namespace

int RunReserveTool(const std::vector<std::wstring>& args) {
  // The registry and the listing refuse what is too large to hold; memory
  // that runs out anywhere else still ends the run with a status of its own,
  // never an abort. The run may have stored the policy by then.
  try {
    return RunTool(args);
  } catch (const std::bad_alloc&) {
    platform::PrintText(kOutOfMemory);
    return kOutcomeOutOfMemory;
  }
}
