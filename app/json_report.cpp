#include "app/json_report.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

#include "app/front_end.h"
#include "reserve/outcome.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/service.h"
#include "policy/policy_store.h"
#include "reserve/check.h"
#include "reserve/reserve.h"
#include "reserve/show.h"
#include "survey/pool_survey.h"

namespace {

// Fields keep the order they are added in, so the document reads as the
// schema lists them.
using Json = nlohmann::ordered_json;

const char kTool[] = "tool";
const char kVersion[] = "version";
const char kMode[] = "mode";
const char kShowMode[] = "show";
const char kCheckMode[] = "check";
const char kStatus[] = "status";
const char kRelease[] = "release";
const char kPolicyKey[] = "policy_key";
const char kStored[] = "stored";
const char kSurvey[] = "survey";
const char kRan[] = "ran";
const char kOk[] = "ok";
const char kError[] = "error";
const char kSmallestShare[] = "smallest_free_share";
const char kSmallestCapacity[] = "smallest_capacity_mb";
const char kRequests[] = "requests";
const char kFrom[] = "from";
const char kTo[] = "to";
const char kOutcome[] = "outcome";
const char kRequest[] = "request";
const char kWouldStore[] = "would_store";
const char kName[] = "name";
const char kValue[] = "value";
const char kMinimumPercentage[] = "minimum_percentage";
const char kAlreadyInEffect[] = "already_in_effect";
const char kCanStore[] = "can_store";
const char kMessages[] = "messages";
const char kMonitor[] = "monitor";
const char kService[] = "service";
const char kRunning[] = "running";

const char kRefused[] = "refused";
const char kSnapshotsOff[] = "snapshots-off";
const char kMinimum[] = "minimum";
const char kPercentage[] = "percentage";

// The control characters the library writes in short form, and those forms.
const char kShortControls[] = "\b\f\n\r\t";
const char kShortNames[] = "bfnrt";
const char kHexDigits[] = "0123456789abcdef";

const wchar_t kBell = L'\a';
const wchar_t kNewLine = L'\n';
const char32_t kReplacement = 0xFFFD;

void PutUtf8(std::string* bytes, char32_t code) {
  if (code < 0x80) {
    bytes->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    bytes->push_back(static_cast<char>(0xC0 | (code >> 6)));
    bytes->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    bytes->push_back(static_cast<char>(0xE0 | (code >> 12)));
    bytes->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    bytes->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    bytes->push_back(static_cast<char>(0xF0 | (code >> 18)));
    bytes->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    bytes->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    bytes->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Wide text as UTF-8, for the library: a surrogate pair (Windows' wide
// text) joins into one character, and a lone surrogate, which UTF-8 cannot
// carry, becomes U+FFFD.
std::string Utf8(const std::wstring& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    auto code = static_cast<char32_t>(text[i]);
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() &&
        static_cast<char32_t>(text[i + 1]) >= 0xDC00 &&
        static_cast<char32_t>(text[i + 1]) < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
    } else if ((code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) {
      code = kReplacement;
    }
    PutUtf8(&bytes, code);
  }
  return bytes;
}

// Printed text as lines, each without its bell and its line end.
Json Lines(const std::wstring& text) {
  Json lines = Json::array();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(kNewLine, start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line[0] == kBell) line.erase(0, 1);
    lines.push_back(Utf8(line));
    start = end + 1;
  }
  return lines;
}

std::string OutcomeName(Outcome outcome) {
  if (outcome == kOutcomeExceedsFreeSpace) return kRefused;
  if (outcome == kOutcomeSnapshotsOff) return kSnapshotsOff;
  if (outcome == kOutcomeMinimumStored) return kMinimum;
  return kPercentage;
}

Json StoredNumber(const std::wstring& name) {
  std::uint32_t number = 0;
  if (ReadPolicyValue(name, &number) != StoredValue::kNumber) return nullptr;
  return number;
}

// The library writes ASCII with \u escapes for the rest, but the short forms
// for five control characters; those become \u escapes too, so that every
// control character is written alike. Inside strings only: a backslash
// there always starts an escape of two characters or of six.
std::string AsciiDocument(const Json& document) {
  const std::string dumped = document.dump(2, ' ', true, Json::error_handler_t::replace);
  std::string text;
  bool in_string = false;
  for (size_t i = 0; i < dumped.size(); ++i) {
    const char c = dumped[i];
    if (c == '"') in_string = !in_string;
    if (!in_string || c != '\\' || i + 1 == dumped.size()) {
      text.push_back(c);
      continue;
    }
    const char next = dumped[++i];
    const char* named = std::char_traits<char>::find(kShortNames, sizeof kShortNames - 1, next);
    if (named == nullptr) {
      text.push_back(c);
      text.push_back(next);
      continue;
    }
    const auto control = static_cast<unsigned char>(kShortControls[named - kShortNames]);
    text += "\\u00";
    text.push_back(kHexDigits[control >> 4]);
    text.push_back(kHexDigits[control & 0xF]);
  }
  return text + "\n";
}

// What every document holds first; the release fields stay null until the
// release is read.
Json Document(const char* mode) {
  Json document;
  document[kTool] = Utf8(kToolName);
  document[kVersion] = Utf8(kToolVersion);
  document[kMode] = mode;
  document[kStatus] = kOutcomeUsage;
  document[kRelease] = nullptr;
  document[kPolicyKey] = nullptr;
  document[kStored] = nullptr;
  Json monitor;
  monitor[kService] = Utf8(kMonitorService);
  monitor[kRunning] = nullptr;
  document[kMonitor] = monitor;
  Json survey;
  survey[kRan] = false;
  survey[kOk] = false;
  survey[kError] = nullptr;
  survey[kSmallestShare] = nullptr;
  survey[kSmallestCapacity] = nullptr;
  document[kSurvey] = survey;
  return document;
}

// The release, its policy key, the stored policy and whether the monitor
// runs (null where that cannot be read). False when no release
// is readable.
bool AddRelease(Json* document) {
  std::wstring release;
  if (ProbeRelease(&release) <= 0) return false;
  (*document)[kRelease] = Utf8(release);
  (*document)[kPolicyKey] = Utf8(FullPolicyKey());
  Json stored;
  stored[Utf8(kPercentValue)] = StoredNumber(kPercentValue);
  stored[Utf8(kAbsoluteValue)] = StoredNumber(kAbsoluteValue);
  (*document)[kStored] = stored;
  const platform::ServiceState state = platform::QueryServiceState(kMonitorService);
  if (state != platform::ServiceState::kUnknown) {
    (*document)[kMonitor][kRunning] = state == platform::ServiceState::kRunning;
  }
  return true;
}

// The survey's result. What it printed, from `from` on in `held`, is taken
// out of the held lines: its last line is the failure line, or where it
// printed none, `quiet_reason`.
void AddSurvey(Json* document, bool ok, const PoolFigures& pools, std::wstring* held,
               size_t from, const std::wstring& quiet_reason) {
  // The survey prints only where it fails; what follows it (the check's
  // answer on the rights to store) stays among the messages.
  const Json printed = ok ? Json::array() : Lines(held->substr(from));
  if (!ok) held->erase(from);
  Json& survey = (*document)[kSurvey];
  survey[kRan] = true;
  survey[kOk] = ok;
  if (ok) {
    survey[kSmallestShare] = pools.smallest_free_share;
    survey[kSmallestCapacity] = pools.smallest_capacity;
  } else if (!printed.empty()) {
    survey[kError] = printed.back();
  } else if (!quiet_reason.empty()) {
    survey[kError] = Utf8(quiet_reason);
  }
}

// Runs `report`, which fills in the document and returns the status, with
// every line the run prints held and the children's output on standard
// error; then prints the document alone, with the held lines in it.
template <typename Report>
int PrintDocument(const char* mode, const Report& report) {
  platform::SendChildOutputToErrors(true);
  std::wstring held;
  platform::HoldPrintedText(&held);
  Json document = Document(mode);
  const int status = report(&document, &held);
  platform::HoldPrintedText(nullptr);
  document[kStatus] = status;
  document[kMessages] = Lines(held);
  const std::string text = AsciiDocument(document);
  platform::PrintText(std::wstring(text.begin(), text.end()));
  return status;
}

}  // namespace

int ReportShowAsJson() {
  return PrintDocument(kShowMode, [](Json* document, std::wstring* held) {
    Json requests = Json::array();
    (*document)[kRequests] = nullptr;
    if (!AddRelease(document)) return static_cast<int>(kOutcomeUsage);
    WarnOfBothForms();
    PoolFigures pools;
    std::wstring quiet_reason;
    const size_t from = held->size();
    const bool ok = QueryPoolSpace(kLowestRequest, &pools, &quiet_reason) == 0;
    AddSurvey(document, ok, pools, held, from, quiet_reason);
    if (!ok) return static_cast<int>(kOutcomeSurveyFailed);
    for (const RequestRun& run : RequestRuns(pools)) {
      Json range;
      range[kFrom] = run.first;
      range[kTo] = run.last;
      range[kOutcome] = OutcomeName(run.outcome);
      range[kStatus] = static_cast<int>(run.outcome);
      requests.push_back(range);
    }
    (*document)[kRequests] = requests;
    return static_cast<int>(kOutcomeShown);
  });
}

int ReportCheckAsJson(int percentage) {
  return PrintDocument(kCheckMode, [percentage](Json* document, std::wstring* held) {
    Json& fields = *document;
    fields[kRequest] = percentage;
    fields[kOutcome] = nullptr;
    fields[kWouldStore] = nullptr;
    fields[kMinimumPercentage] = nullptr;
    fields[kAlreadyInEffect] = false;
    fields[kCanStore] = nullptr;
    if (!AddRelease(document)) return static_cast<int>(kOutcomeUsage);
    const size_t from = held->size();
    const ReserveCheck check = CheckRequest(percentage);
    AddSurvey(document, check.surveyed, check.pools, held, from, check.quiet_reason);
    if (!check.surveyed) return check.status;
    fields[kOutcome] = OutcomeName(check.decision.outcome);
    if (check.decision.stored_name) {
      Json stored;
      stored[kName] = Utf8(*check.decision.stored_name);
      stored[kValue] = check.decision.stored_number;
      fields[kWouldStore] = stored;
      fields[kCanStore] = check.may_store;
    }
    if (check.decision.outcome == kOutcomeMinimumStored) {
      fields[kMinimumPercentage] = check.decision.minimum_percentage;
    }
    fields[kAlreadyInEffect] = check.already_in_effect;
    return check.status;
  });
}
