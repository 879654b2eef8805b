#ifndef SNAPRESERVE_TESTS_E2E_SCENARIOS_H_
#define SNAPRESERVE_TESTS_E2E_SCENARIOS_H_

// The end-to-end scenarios: a machine before the run, the arguments, and what
// the machine must show afterwards. A runner lays out the machine, runs the
// built tool in an empty working directory and checks standard output byte
// for byte, the exit status, both policy keys, the monitor service's record
// and that the working directory is left empty.
//
// Expected output that begins with "{" is the JSON report: the runner checks
// that the tool's output is one such document, laid out as the tool lays it
// out and valid against the schema, with the same fields, in the same order,
// as the expected one. Standard error must be `errors`, marks replaced.
//
// Expected output may hold these marks, which the runner replaces:
//   @PROG@     the program name as the tool was started
//   @LISTING@  the pool listing, which the management tool's first run shows
//   @STOP@     what the NET command prints when it stops the monitor service
//   @START@    what it prints when it starts it again
//   @START_FAILED@  what it prints when the monitor's program is gone

#include <string>
#include <vector>

namespace e2e {

const long long kNone = -1;  // the value is absent
// Values that hold no DWORD number for the monitor, whatever their bytes:
const long long kBinary3000 = -2;  // REG_BINARY b8,0b,00,00, the bytes of 3000
const long long kShort1056 = -3;   // a REG_DWORD of two bytes, 20,04

/// The two reserve values under one policy key.
struct Policy {
  long long percent = kNone;   // MinFreespacePerPoolPercent
  long long absolute = kNone;  // MinFreespacePerPool
};

inline bool operator==(const Policy& a, const Policy& b) {
  return a.percent == b.percent && a.absolute == b.absolute;
}

/// Where the machine keeps the system's programs and the product.
enum class Layout {
  kFixedPaths,     // C:\WINNT\System32, and the product under C:\Program Files
  kCurrentServer,  // C:\Windows\System32, and the product under C:\Program Files (x86)
  kBoth,           // a current server with the product also at its fixed path, and a
                   // C:\WINNT\System32 that any user could have made, holding copies
                   // of cmd.exe and NET.exe that must never run
};

struct Scenario {
  const char* name;
  std::vector<std::string> args;  // after the program name
  // Registry before the run. `release` is the data of the VLMR value in
  // registry-export syntax ("\"2.1\"", "dword:...", "hex(7):..."); empty: no
  // Versions key at all. `before20` and `before21` are the policy values.
  std::string release;
  Policy before20;
  Policy before21;
  // The management tool's listing; `installed` false: no tool at its path.
  std::string listing;
  bool installed;
  int tool_exit;  // the tool's exit status
  // After the run.
  int status;  // exit status as Windows reports it (-1, not 255)
  std::string output;
  Policy after20;
  Policy after21;
  bool restarted;  // monitor stopped, then started with the policy in force
  Layout layout = Layout::kFixedPaths;
  std::string errors = "";  // standard error; kAnyErrors: not compared
  // False: the monitor's program is gone, so the monitor stops and does not
  // start again (the run stores, and ends with status 7).
  bool monitor_starts = true;
  // The insertion strings of the event a request leaves, joined by " | ";
  // empty: only its ID and type are checked.
  std::string event = "";
  // False: the monitor is stopped before the run.
  bool monitor_running = true;
};

const char kHeadingsOnly[] =
    "Pool name        Capacity(MB)  Free(MB)\n"
    "---------------  ------------  --------\n";

const char kTwoPools[] =
    "Pool name        Capacity(MB)  Free(MB)\n"
    "---------------  ------------  --------\n"
    "PoolA            20000         8000\n"
    "PoolB            5000          3000\n";

// What the copy of the management tool under C:\Program Files (x86) prints in
// the Layout::kBoth machine: a full pool, which refuses every request but 0.
const char kDecoyPools[] = "Pool name  Capacity(MB)  Free(MB)\n---------  ----  ----\nFull  1000  0\n";

const char kBigPools[] =
    "Pool name        Capacity(MB)  Free(MB)\n"
    "---------------  ------------  --------\n"
    "Big1             900000        899000\n"
    "Big2             800000        799000\n";

const char kUsage[] =
    "\aUsage:\n"
    "@PROG@ <Percentage>\n"
    "\t<Percentage> should be expressed as a percentage of the\n"
    "\ttotal space to be reserved in all pools for snapshots.\n"
    "\tThis percentage must range from 0 to 99.\n\n"
    "@PROG@ --help\n@PROG@ -h\n@PROG@ /?\n"
    "\tPrint this help message and exit.\n\n"
    "An invalid input also prints this message and exits.\n\n"
    "@PROG@ --version\n@PROG@ -v\n@PROG@ /v\n"
    "\tPrint the program version and exit.\n\n"
    "@PROG@ --show\n@PROG@ -s\n@PROG@ /s\n"
    "\tPrint the stored policy and what each percentage would do now, changing nothing.\n\n"
    "@PROG@ --check <Percentage>\n@PROG@ -c <Percentage>\n@PROG@ /c <Percentage>\n"
    "\tSay what this percentage would do now and end as it would, changing nothing.\n\n"
    "@PROG@ --json --show|--check <Percentage>\n@PROG@ -j --show|--check <Percentage>\n"
    "@PROG@ /j --show|--check <Percentage>\n"
    "\tPrint either as one JSON document; what the management tool prints goes to standard "
    "error.\n";

const char kVersion[] =
    "@PROG@ Version 1.5.\nCopyright (C) Halvorn Corporation.\nAll rights reserved.\n";

const char kExceeds40[] =
    "@LISTING@"
    "\aThe requested percentage of pool free space exceeds available capacity.\n"
    "No change effected.\n"
    "The percentage of pool space available is 40%.\n"
    "You must reduce the requested percentage, reduce disk usage,\n"
    "or add additional storage and try again.\n"
    "Please see chapter 4 of the Corridan Quarrin Administration Guide for aditional details.\n";

const char kMinimumTail[] =
    "New allocated minimum amount of pool free space is 1056 MB.\n"
    "\aSnapshot capability turned off.\n"
    "@STOP@@START@";

inline std::string Exceeds(int share) {
  return "@LISTING@"
         "\aThe requested percentage of pool free space exceeds available capacity.\n"
         "No change effected.\n"
         "The percentage of pool space available is " + std::to_string(share) + "%.\n"
         "You must reduce the requested percentage, reduce disk usage,\n"
         "or add additional storage and try again.\n"
         "Please see chapter 4 of the Corridan Quarrin Administration Guide for aditional details.\n";
}

inline std::string Stored(int percent) {
  return "@LISTING@New allocated percentage of pool free space reserved for snapshots is " +
         std::to_string(percent) + "%.\n@STOP@@START@";
}

// The end of a run whose monitor stopped and did not start again.
const char kMonitorNotRunning[] =
    "@STOP@@START_FAILED@\aThe policy was stored, but the monitor service VLMRMON did not start again.\n";

// A storing run's output, ending with a monitor that did not start again.
inline std::string NotRunning(const std::string& stored) {
  const std::string restart = "@STOP@@START@";
  return stored.substr(0, stored.size() - restart.size()) + kMonitorNotRunning;
}

// An exit code of error severity: an access violation.
const int kCrashed = static_cast<int>(0xC0000005u);
// Not an exit status: the management tool lists its pools once, then takes
// itself away, so that the shell's run finds nothing to run.
const int kVanishes = 0x7FFF0001;
// Not an exit status: the management tool lists its pools, starts a copy of
// itself that lingers, and never ends.
const int kHangs = 0x7FFF0002;
// Standard error not compared: the shell's own complaint names machine paths.
const char kAnyErrors[] = "@ANY@";

// What --show prints: the release and its policy key, the stored policy, the
// survey, and every request on the pools of kTwoPools.
inline std::string ShownRelease(const std::string& release, const std::string& key) {
  return "The installed release is \"" + release + "\".\nIts policy key is HKEY_LOCAL_MACHINE\\" +
         key + ".\n";
}

const char kShown21[] = "SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies";
const char kShown20[] = "SOFTWARE\\Halvorn\\Velmora\\2.0";

const char kShownMinimum[] =
    "Stored minimum amount of pool free space: MinFreespacePerPool = 1056, that is 1056 MB.\n";

const char kShownThirty[] =
    "Stored percentage of pool free space reserved for snapshots: "
    "MinFreespacePerPoolPercent = 3000, that is 30%.\n";

const char kShownRunning[] = "The monitor service VLMRMON is running.\n";
const char kShownTwoPools[] =
    "The monitor service VLMRMON is running.\n"
    "@LISTING@"
    "The smallest free share of any pool is 40%.\n"
    "The smallest pool capacity is 5000 MB.\n"
    "What each percentage would do on these pools now:\n"
    "\t0 turns snapshots off.\n"
    "\t1 to 21 stores the minimum of 1056 MB.\n"
    "\t22 to 40 stores the percentage.\n"
    "\t41 to 99 is refused.\n";

const Policy kEmpty{};
const Policy kMinimum{kNone, 1056};
const Policy kThirty{3000, kNone};

// What --check prints after the listing, on the pools of kTwoPools.
inline std::string Checked(const std::string& request, const std::string& what) {
  return "@LISTING@A request of " + request + "% " + what + "\n";
}
inline std::string WouldStore(const std::string& value, const std::string& key) {
  return value + " under HKEY_LOCAL_MACHINE\\" + key + " and restart the monitor service.";
}
inline std::string InEffect(const std::string& value, const std::string& key) {
  return "would change nothing: " + value + " is already in effect under HKEY_LOCAL_MACHINE\\" +
         key + ".";
}
const char kPercent3000[] = "MinFreespacePerPoolPercent = 3000";
const char kAbsolute1056[] = "MinFreespacePerPool = 1056";
const char kFallsBack15[] =
    "would fall back to the minimum of 1056 MB, as the minimum percentage is 21%: it would store ";
const char kTurnsOff[] = "would turn snapshots off: it would store ";
const char kRefused40[] = "would be refused: the smallest free share of any pool is 40%.";

// The JSON report, written compactly: the fields every document begins with,
// the mode's own fields (`fields`, each followed by a comma) and the
// messages.
inline std::string JsonNumber(long long value) {
  return value < 0 ? "null" : std::to_string(value);
}
inline std::string JsonPolicy(const Policy& policy) {
  return R"({"MinFreespacePerPoolPercent":)" + JsonNumber(policy.percent) +
         R"(,"MinFreespacePerPool":)" + JsonNumber(policy.absolute) + "}";
}
inline std::string JsonKey(const std::string& key) {
  std::string escaped;
  for (char c : key) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return R"("HKEY_LOCAL_MACHINE\\)" + escaped + "\"";
}
inline std::string Report(const std::string& mode, int status, const std::string& release,
                          const std::string& key, const std::string& stored,
                          const std::string& survey, const std::string& fields,
                          const std::string& messages = "[]", const std::string& running = "") {
  const std::string monitor = !running.empty() ? running : release == "null" ? "null" : "true";
  return R"({"tool":"snapreserve","version":"1.5","mode":")" + mode + R"(","status":)" +
         std::to_string(status) + R"(,"release":)" + release + R"(,"policy_key":)" + key +
         R"(,"stored":)" + stored + R"(,"monitor":{"service":"VLMRMON","running":)" + monitor +
         R"(},"survey":)" + survey + "," + fields + R"("messages":)" + messages + "}";
}
const char kSurveyNotRun[] =
    R"({"ran":false,"ok":false,"error":null,"smallest_free_share":null,"smallest_capacity_mb":null})";
const char kSurveyTwoPools[] =
    R"({"ran":true,"ok":true,"error":null,"smallest_free_share":40,"smallest_capacity_mb":5000})";
inline std::string SurveyFailed(const std::string& error) {
  return R"({"ran":true,"ok":false,"error":)" + error +
         R"(,"smallest_free_share":null,"smallest_capacity_mb":null})";
}
const char kRequestsTwoPools[] =
    R"("requests":[{"from":0,"to":0,"outcome":"snapshots-off","status":4},)"
    R"({"from":1,"to":21,"outcome":"minimum","status":3},)"
    R"({"from":22,"to":40,"outcome":"percentage","status":0},)"
    R"({"from":41,"to":99,"outcome":"refused","status":2}],)";
inline std::string CheckFields(int request, const std::string& outcome, const std::string& name,
                               long long value, const std::string& minimum, bool in_effect,
                               const std::string& can_store) {
  const std::string stored =
      name.empty() ? "null"
                   : R"({"name":")" + name + R"(","value":)" + std::to_string(value) + "}";
  return R"("request":)" + std::to_string(request) + R"(,"outcome":)" + outcome +
         R"(,"would_store":)" + stored + R"(,"minimum_percentage":)" + minimum +
         R"(,"already_in_effect":)" + (in_effect ? "true" : "false") + R"(,"can_store":)" +
         can_store + ",";
}

inline std::vector<Scenario> Scenarios() {
  const std::string r21 = "\"2.1\"";
  const std::string r20 = "\"2.0\"";
  const std::string turned_off =
      std::string("@LISTING@You have elected to turn off snapshot capability.\n"
                  "To re-enable snapshots, run this utility again and with a non-zero argument\n") +
      kMinimumTail;
  const std::string shown_21 = ShownRelease("2.1", kShown21);
  const std::string minimum_15 =
      std::string("@LISTING@\aThe requested percentage is 15%.\n"
                  "The minimum, based on available disk space, is 21%.\n"
                  "The percentage will be set to 21%.\n"
                  "This reflects the minimum value which is 1056 MB.\n") +
      kMinimumTail;
  return {
      // Front end: help, version and bad input change nothing.
      {"help", {"--help"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"help_short_any_case", {"-H"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"help_slash", {"/?"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"version", {"-v"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -2, kVersion, kEmpty, kMinimum, false},
      {"version_prefix", {"-Version"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -2, kVersion, kEmpty, kMinimum, false},
      {"no_argument", {}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"two_arguments", {"10", "20"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"above_99", {"100"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"too_long_for_32_bits", {"4294967306"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"signed", {"+5"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"double_dash_h", {"--h"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"no_release", {"30"}, "", kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},

      // --show: the stored policy and what every request would do, changing nothing.
      {"show_21", {"--show"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       0, shown_21 + kShownMinimum + kShownTwoPools, kEmpty, kMinimum, false},
      {"show_20_short_any_case", {"-S"}, r20, kThirty, kEmpty, kTwoPools, true, 0,
       0, ShownRelease("2.0", kShown20) + kShownThirty + kShownTwoPools, kThirty, kEmpty, false},
      {"show_both_forms_stored", {"/s"}, r21, kMinimum, {3000, 1056}, kTwoPools, true, 0,
       0,
       shown_21 + kShownThirty + kShownMinimum +
           "\aBoth forms of the policy are stored; only one should be.\n" + kShownTwoPools,
       kMinimum, {3000, 1056}, false},
      {"show_binary_percent_beside_minimum", {"--show"}, r21, kEmpty, {kBinary3000, 1056},
       kTwoPools, true, 0, 0,
       shown_21 + "Stored percentage of pool free space reserved for snapshots: "
                  "MinFreespacePerPoolPercent holds no DWORD number.\n" + kShownMinimum +
           "\aBoth forms of the policy are stored; only one should be.\n" + kShownTwoPools,
       kEmpty, {kBinary3000, 1056}, false},
      {"show_no_policy_no_pools", {"--SHOWALL"}, r21, kEmpty, kEmpty, kHeadingsOnly, true, 0,
       0,
       shown_21 + "No snapshot reserve policy is stored.\n" + kShownRunning + "@LISTING@"
                  "The smallest free share of any pool is 100%.\n"
                  "The smallest pool capacity is 2147483647 MB.\n"
                  "What each percentage would do on these pools now:\n"
                  "\t0 turns snapshots off.\n"
                  "\t1 to 99 stores the percentage.\n",
       kEmpty, kEmpty, false},
      {"show_no_release", {"--show"}, "", kEmpty, kMinimum, kTwoPools, true, 0,
       -1,
       "\aNo installed release could be read from "
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Corridan\\Versions\\VLMR.\n",
       kEmpty, kMinimum, false},
      {"show_tool_not_installed", {"--show"}, r21, kEmpty, kMinimum, kTwoPools, false, 0,
       5, shown_21 + kShownMinimum + kShownRunning, kEmpty, kMinimum, false},
      {"show_tool_fails_with_minus_1", {"--show"}, r21, kEmpty, kMinimum, kTwoPools, true, -1,
       5, shown_21 + kShownMinimum + kShownRunning + "@LISTING@Error in first spawn.\n", kEmpty,
       kMinimum, false},

      // --check: what the request would do now, ending as it would, changing nothing.
      {"check_percentage_21", {"--check", "30"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       0, Checked("30", "would store " + WouldStore(kPercent3000, kShown21)), kEmpty, kMinimum,
       false},
      {"check_minimum_20_any_case", {"-C", "15"}, r20, kThirty, kEmpty, kTwoPools, true, 0,
       3, Checked("15", kFallsBack15 + WouldStore(kAbsolute1056, kShown20)), kThirty, kEmpty,
       false},
      {"check_snapshots_off", {"/c", "0"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       4, Checked("0", kTurnsOff + WouldStore(kAbsolute1056, kShown21)), kEmpty, kThirty, false},
      {"check_refused", {"-check", "50%"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       2, Checked("50", kRefused40), kEmpty, kThirty, false},
      {"check_percentage_in_effect", {"-c", "30"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       8, Checked("30", InEffect(kPercent3000, kShown21)), kEmpty, kThirty, false},
      // Stored, but not taken up: the monitor is stopped, and a request would
      // store it again and start the monitor.
      {"check_stored_monitor_stopped", {"-c", "30"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       0,
       Checked("30", "would store " + WouldStore(kPercent3000, kShown21)) +
           "\aThe monitor service VLMRMON is not running; the request would start it.\n",
       kEmpty, kThirty, false, Layout::kFixedPaths, "", true, "", false},
      // A value the monitor reads no number from is not in effect, nor is one
      // beside another such value that the request would remove.
      {"check_binary_percent_not_in_effect", {"-c", "30"}, r21, kEmpty, {kBinary3000, kNone},
       kTwoPools, true, 0, 0, Checked("30", "would store " + WouldStore(kPercent3000, kShown21)),
       kEmpty, {kBinary3000, kNone}, false},
      {"check_short_minimum_not_in_effect", {"-c", "30"}, r21, kEmpty, {3000, kShort1056},
       kTwoPools, true, 0, 0, Checked("30", "would store " + WouldStore(kPercent3000, kShown21)),
       kEmpty, {3000, kShort1056}, false},
      {"check_minimum_in_effect_20", {"-c", "015"}, r20, kMinimum, kEmpty, kTwoPools, true, 0,
       8, Checked("15", InEffect(kAbsolute1056, kShown20)), kMinimum, kEmpty, false},
      {"check_snapshots_off_in_effect", {"--CHECK", "0"}, r21, kEmpty, kMinimum, kTwoPools, true,
       0, 8, Checked("0", InEffect(kAbsolute1056, kShown21)), kEmpty, kMinimum, false},
      // The other value beside it, another number, or the other layout's key: not in effect.
      {"check_both_forms_not_in_effect", {"-c", "30"}, r21, kEmpty, {3000, 1056}, kTwoPools,
       true, 0, 0, Checked("30", "would store " + WouldStore(kPercent3000, kShown21)), kEmpty,
       {3000, 1056}, false},
      {"check_other_number_not_in_effect", {"-c", "31"}, r21, kEmpty, kThirty, kTwoPools, true,
       0, 0,
       Checked("31", "would store " + WouldStore("MinFreespacePerPoolPercent = 3100", kShown21)),
       kEmpty, kThirty, false},
      {"check_other_layouts_key_not_in_effect", {"-c", "30"}, r20, kEmpty, kThirty, kTwoPools,
       true, 0, 0, Checked("30", "would store " + WouldStore(kPercent3000, kShown20)), kEmpty,
       kThirty, false},
      {"check_policy_key_missing_is_not_made", {"-c", "30"}, r21, kEmpty, kEmpty, kTwoPools, true,
       0, 0, Checked("30", "would store " + WouldStore(kPercent3000, kShown21)), kEmpty, kEmpty,
       false},
      {"check_tool_not_installed", {"-c", "30"}, r21, kEmpty, kMinimum, kTwoPools, false, 0,
       5, "", kEmpty, kMinimum, false},
      {"check_tool_fails_with_minus_1", {"-c", "30"}, r21, kEmpty, kMinimum, kTwoPools, true, -1,
       5, "@LISTING@Error in first spawn.\n", kEmpty, kMinimum, false},
      {"check_listing_run_failed", {"-c", "30"}, r21, kEmpty, kMinimum, kTwoPools, true, 2,
       5, "@LISTING@\aThe management tool ended with status 2; its pool listing is not used.\n",
       kEmpty, kMinimum, false},
      {"check_no_release", {"-c", "30"}, "", kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"check_without_request", {"--check"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"check_above_99", {"-c", "100"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"check_request_not_a_number", {"-c", "x30"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"check_two_requests", {"-c", "30", "40"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"check_after_the_request", {"30", "-c"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"check_current_server", {"-c", "30"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       0, Checked("30", "would store " + WouldStore(kPercent3000, kShown21)), kEmpty, kMinimum,
       false, Layout::kCurrentServer},
      {"check_planted_winnt_never_runs", {"-c", "15"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       8, Checked("15", InEffect(kAbsolute1056, kShown21)), kEmpty, kMinimum, false,
       Layout::kBoth},

      // --json: one document on standard output, the listing on standard error.
      {"json_show_21", {"--json", "--show"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       0,
       Report("show", 0, R"("2.1")", JsonKey(kShown21), JsonPolicy(kMinimum), kSurveyTwoPools,
              kRequestsTwoPools),
       kEmpty, kMinimum, false, Layout::kFixedPaths, "@LISTING@"},
      {"json_show_20_any_case", {"-J", "/S"}, r20, kThirty, kEmpty, kTwoPools, true, 0,
       0,
       Report("show", 0, R"("2.0")", JsonKey(kShown20), JsonPolicy(kThirty), kSurveyTwoPools,
              kRequestsTwoPools),
       kThirty, kEmpty, false, Layout::kFixedPaths, "@LISTING@"},
      {"json_show_both_forms_stored", {"-j", "-s"}, r21, kMinimum, {3000, 1056}, kTwoPools, true,
       0, 0,
       Report("show", 0, R"("2.1")", JsonKey(kShown21), JsonPolicy({3000, 1056}), kSurveyTwoPools,
              kRequestsTwoPools, R"(["Both forms of the policy are stored; only one should be."])"),
       kMinimum, {3000, 1056}, false, Layout::kFixedPaths, "@LISTING@"},
      {"json_show_no_release", {"/j", "-s"}, "", kEmpty, kMinimum, kTwoPools, true, 0,
       -1, Report("show", -1, "null", "null", "null", kSurveyNotRun, R"("requests":null,)"),
       kEmpty, kMinimum, false},
      {"json_show_survey_fails", {"-j", "--show"}, r21, kEmpty, kThirty, kTwoPools, true, -1,
       5,
       Report("show", 5, R"("2.1")", JsonKey(kShown21), JsonPolicy(kThirty),
              SurveyFailed(R"("Error in first spawn.")"), R"("requests":null,)"),
       kEmpty, kThirty, false, Layout::kFixedPaths, "@LISTING@"},
      // Control characters of the release, a tab and a bell, as \u escapes.
      {"json_show_release_with_controls", {"-j", "-s"}, "\"2.1\t\a\"", kEmpty, kEmpty,
       kHeadingsOnly, true, 0, 0,
       Report("show", 0, R"("2.1\u0009\u0007")", JsonKey(kShown21), JsonPolicy(kEmpty),
              R"({"ran":true,"ok":true,"error":null,"smallest_free_share":100,)"
              R"("smallest_capacity_mb":2147483647})",
              R"("requests":[{"from":0,"to":0,"outcome":"snapshots-off","status":4},)"
              R"({"from":1,"to":99,"outcome":"percentage","status":0}],)"),
       kEmpty, kEmpty, false, Layout::kFixedPaths, "@LISTING@"},
      {"json_check_percentage", {"--json", "--check", "30"}, r21, kEmpty, kMinimum, kTwoPools,
       true, 0, 0,
       Report("check", 0, R"("2.1")", JsonKey(kShown21), JsonPolicy(kMinimum), kSurveyTwoPools,
              CheckFields(30, R"("percentage")", "MinFreespacePerPoolPercent", 3000, "null",
                          false, "true")),
       kEmpty, kMinimum, false, Layout::kFixedPaths, "@LISTING@"},
      {"json_check_minimum_20", {"-j", "-c", "15"}, r20, kThirty, kEmpty, kTwoPools, true, 0,
       3,
       Report("check", 3, R"("2.0")", JsonKey(kShown20), JsonPolicy(kThirty), kSurveyTwoPools,
              CheckFields(15, R"("minimum")", "MinFreespacePerPool", 1056, "21", false, "true")),
       kThirty, kEmpty, false, Layout::kFixedPaths, "@LISTING@"},
      {"json_check_minimum_in_effect", {"-j", "-c", "10"}, r21, kEmpty, kMinimum, kTwoPools, true,
       0, 8,
       Report("check", 8, R"("2.1")", JsonKey(kShown21), JsonPolicy(kMinimum), kSurveyTwoPools,
              CheckFields(10, R"("minimum")", "MinFreespacePerPool", 1056, "21", true, "true")),
       kEmpty, kMinimum, false, Layout::kFixedPaths, "@LISTING@"},
      {"json_check_stored_monitor_stopped", {"-j", "-c", "0"}, r21, kEmpty, kMinimum, kTwoPools,
       true, 0, 4,
       Report("check", 4, R"("2.1")", JsonKey(kShown21), JsonPolicy(kMinimum), kSurveyTwoPools,
              CheckFields(0, R"("snapshots-off")", "MinFreespacePerPool", 1056, "null", false,
                          "true"),
              "[]", "false"),
       kEmpty, kMinimum, false, Layout::kFixedPaths, "@LISTING@", true, "", false},
      {"json_check_in_effect", {"/J", "/C", "0"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       8,
       Report("check", 8, R"("2.1")", JsonKey(kShown21), JsonPolicy(kMinimum), kSurveyTwoPools,
              CheckFields(0, R"("snapshots-off")", "MinFreespacePerPool", 1056, "null", true,
                          "true")),
       kEmpty, kMinimum, false, Layout::kFixedPaths, "@LISTING@"},
      {"json_check_refused", {"-j", "-c", "50"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       2,
       Report("check", 2, R"("2.1")", JsonKey(kShown21), JsonPolicy(kThirty), kSurveyTwoPools,
              CheckFields(50, R"("refused")", "", 0, "null", false, "null")),
       kEmpty, kThirty, false, Layout::kFixedPaths, "@LISTING@"},
      {"json_check_tool_not_installed", {"-j", "-c", "30"}, r21, kEmpty, kMinimum, kTwoPools,
       false, 0, 5,
       Report("check", 5, R"("2.1")", JsonKey(kShown21), JsonPolicy(kMinimum),
              SurveyFailed(R"("The management tool is not installed.")"),
              CheckFields(30, "null", "", 0, "null", false, "null")),
       kEmpty, kMinimum, false},
      {"json_check_no_release", {"-j", "-c", "30"}, "", kEmpty, kMinimum, kTwoPools, true, 0,
       -1,
       Report("check", -1, "null", "null", "null", kSurveyNotRun,
              CheckFields(30, "null", "", 0, "null", false, "null")),
       kEmpty, kMinimum, false},
      // A request, and anything but --show or --check N after --json, is the usage.
      {"json_alone", {"--json"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"json_request", {"-j", "30"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"json_version", {"-j", "-v"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"json_show_and_more", {"-j", "-s", "30"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"json_check_without_request", {"-j", "-c"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"json_check_bad_request", {"-j", "-c", "+5"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},
      {"json_after_show", {"-s", "-j"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       -1, kUsage, kEmpty, kMinimum, false},

      // The four decisions, on the two layouts.
      {"percentage_stored_21", {"30"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       0, Stored(30), kEmpty, kThirty, true, Layout::kFixedPaths, "", true,
       "30 | HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies | MinFreespacePerPool = 1056 | MinFreespacePerPoolPercent = 3000 | "
       "40% | 5000 MB | 0"},
      {"percentage_stored_20", {"30"}, r20, kMinimum, kEmpty, kTwoPools, true, 0,
       0, Stored(30), kThirty, kEmpty, true},
      {"percent_sign_accepted", {"5%"}, r21, kEmpty, kEmpty, kBigPools, true, 0,
       0, Stored(5), kEmpty, {500, kNone}, true},
      {"leading_zeros", {"007"}, r21, kEmpty, kEmpty, kBigPools, true, 0,
       0, Stored(7), kEmpty, {700, kNone}, true},
      {"request_equal_to_free_share", {"40"}, r21, kEmpty, kEmpty, kTwoPools, true, 0,
       0, Stored(40), kEmpty, {4000, kNone}, true},
      {"exceeds_free_space", {"50"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       2, kExceeds40, kEmpty, kThirty, false, Layout::kFixedPaths, "", true,
       "50 | HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies | MinFreespacePerPoolPercent = 3000 | "
       "MinFreespacePerPoolPercent = 3000 | 40% | 5000 MB | 2"},
      {"minimum_reserve", {"15"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       3, minimum_15, kEmpty, kMinimum, true, Layout::kFixedPaths, "", true,
       "15 | HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies | MinFreespacePerPoolPercent = 3000 | MinFreespacePerPool = 1056 | "
       "40% | 5000 MB | 3"},
      {"snapshots_off", {"0"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       4, turned_off, kEmpty, kMinimum, true, Layout::kFixedPaths, "", true,
       "0 | HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies | MinFreespacePerPoolPercent = 3000 | MinFreespacePerPool = 1056 | "
       "40% | 5000 MB | 4"},
      {"policy_key_created", {"30"}, r21, kEmpty, kEmpty, kTwoPools, true, 0,
       0, Stored(30), kEmpty, kThirty, true},
      {"release_text_12_10_holds_2_1", {"30"}, "\"12.10\"", kEmpty, kEmpty, kTwoPools, true, 0,
       0, Stored(30), kEmpty, kThirty, true},
      {"release_multi_string_first_counts", {"30"},
       "hex(7):31,00,2e,00,30,00,00,00,32,00,2e,00,31,00,00,00,00,00", kEmpty, kEmpty,
       kTwoPools, true, 0, 0, Stored(30), kThirty, kEmpty, true},
      {"release_dword", {"30"}, "dword:00000015", kEmpty, kEmpty, kTwoPools, true, 0,
       0, Stored(30), kThirty, kEmpty, true},

      // The survey.
      {"tool_not_installed", {"30"}, r21, kEmpty, kMinimum, kTwoPools, false, 0,
       5, "", kEmpty, kMinimum, false, Layout::kFixedPaths, "", true,
       "30 | HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies | MinFreespacePerPool = 1056 | MinFreespacePerPool = 1056 | "
       "unknown | unknown | 5"},
      {"tool_fails_with_minus_1", {"30"}, r21, kEmpty, kMinimum, kTwoPools, true, -1,
       5, "@LISTING@Error in first spawn.\n", kEmpty, kMinimum, false},
      // A listing run that failed may have listed some pools and not others.
      {"tool_failing_listing_run_is_not_decided_on", {"35"}, r21, kEmpty, kEmpty, kTwoPools,
       true, 1, 5,
       "@LISTING@\aThe management tool ended with status 1; its pool listing is not used.\n",
       kEmpty, kEmpty, false},
      // The shell runs but cannot run the tool: it ends with a failure and
      // lists nothing, which is no listing of these pools.
      {"tool_gone_before_the_listing_run", {"99"}, r21, kEmpty, kThirty, kTwoPools, true,
       kVanishes, 5, "@LISTING@Error in second spawn.\n", kEmpty, kThirty, false,
       Layout::kFixedPaths, kAnyErrors},
      // A tool that crashed after part of its listing (here, without the pool
      // that has 1% free) is not decided on.
      {"tool_crashed_part_way_is_not_decided_on", {"50"}, r21, kEmpty, kThirty, kBigPools, true,
       kCrashed, 5,
       std::string("@LISTING@\aThe management tool ended abnormally; its pool listing is not "
                   "used.\n"),
       kEmpty, kThirty, false},
      {"empty_listing_is_no_listing", {"99"}, r21, kEmpty, kEmpty, "", true, 0, 5,
       "\aThe pool listing lacks its two heading lines; it is not used.\n", kEmpty, kEmpty,
       false},
      {"headings_without_pools_pass_every_request", {"99"}, r21, kEmpty, kEmpty, kHeadingsOnly,
       true, 0, 0, Stored(99), kEmpty, {9900, kNone}, true},
      // A character above U+00FF narrows to no digit: the release is no 2.1.
      {"release_above_latin_1_is_no_2_1", {"-j", "-c", "30"}, "\"\xc4\xb2.1.0\"", kEmpty,
       kEmpty, kTwoPools, true, 0, 0,
       Report("check", 0, R"("\u0132.1.0")", JsonKey(kShown20), JsonPolicy(kEmpty),
              kSurveyTwoPools,
              CheckFields(30, R"("percentage")", "MinFreespacePerPoolPercent", 3000, "null",
                          false, "true")),
       kEmpty, kEmpty, false, Layout::kFixedPaths, "@LISTING@"},
      {"last_pool_without_newline_counts", {"30"}, r21, kEmpty, kEmpty,
       "Name Cap Free\n---- --- ----\nPoolA 20000 8000\nTiny 1000 100", true, 0,
       2, Exceeds(10), kEmpty, kEmpty, false},
      // A Ctrl-Z byte ends nothing: the full pool after it still refuses.
      {"ctrl_z_in_listing_hides_no_pool", {"30"}, r21, kEmpty, kEmpty,
       "Name Cap Free\n---- --- ----\nPoolA 20000 8000 \x1A\nFull 1000 0\n", true, 0,
       2, Exceeds(0), kEmpty, kEmpty, false},
      {"windows_line_ends_in_listing", {"30"}, r21, kEmpty, kEmpty,
       "Name Cap Free\r\n---- --- ----\r\nPoolA 20000 8000\r\n\r\nPoolB 5000 3000\r\n", true, 0,
       0, Stored(30), kEmpty, kThirty, true},

      // A current server: no C:\WINNT, the product under C:\Program Files (x86).
      {"current_server_percentage_stored", {"30"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       0, Stored(30), kEmpty, kThirty, true, Layout::kCurrentServer},
      {"current_server_exceeds_free_space", {"50"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       2, kExceeds40, kEmpty, kThirty, false, Layout::kCurrentServer},
      {"current_server_minimum_reserve", {"15"}, r20, kThirty, kEmpty, kTwoPools, true, 0,
       3, minimum_15, kMinimum, kEmpty, true, Layout::kCurrentServer},
      {"current_server_snapshots_off", {"0"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       4, turned_off, kEmpty, kMinimum, true, Layout::kCurrentServer},
      {"current_server_tool_not_installed", {"30"}, r21, kEmpty, kMinimum, kTwoPools, false, 0,
       5, "", kEmpty, kMinimum, false, Layout::kCurrentServer},
      {"current_server_show", {"--show"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       0, shown_21 + kShownThirty + kShownTwoPools, kEmpty, kThirty, false,
       Layout::kCurrentServer},
      // The monitor stops but cannot start again: the policy stays stored, and
      // the status says the monitor is not running.
      {"monitor_not_running_after_percentage", {"30"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       7,
       NotRunning(Stored(30)),
       kEmpty, kThirty, false, Layout::kFixedPaths, "", false,
       "30 | HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies | MinFreespacePerPool = 1056 | MinFreespacePerPoolPercent = 3000 | "
       "40% | 5000 MB | 7"},
      {"monitor_not_running_after_minimum", {"15"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       7, NotRunning(minimum_15), kEmpty, kMinimum,
       false, Layout::kFixedPaths, "", false},
      {"monitor_not_running_after_snapshots_off", {"0"}, r21, kEmpty, kThirty, kTwoPools, true, 0,
       7, NotRunning(turned_off), kEmpty, kMinimum,
       false, Layout::kCurrentServer, "", false},
      // The fixed tool path wins over the copy under (x86), which would refuse;
      // the programs planted in C:\WINNT never run.
      {"fixed_tool_path_wins_planted_winnt_never_runs", {"30"}, r21, kEmpty, kMinimum, kTwoPools, true, 0,
       0, Stored(30), kEmpty, kThirty, true, Layout::kBoth},
  };
}

}  // namespace e2e

#endif  // SNAPRESERVE_TESTS_E2E_SCENARIOS_H_
