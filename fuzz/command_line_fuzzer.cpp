// The command line on arbitrary argument vectors (the input split at zero
// bytes, each word UTF-8), against the in-memory machine, where release 2.1
// is installed and one huge, empty pool passes every request. The only
// results are the usage (-1), the version (-2), the show (0, with no registry
// write and no service command), a request from 0 to 99 handed on, and
// stored (0, or 4 for 0), its check (the same status, nothing written), or
// the JSON report of the show or of a check (an ASCII document, nothing
// written); which one is decided here on its own from the front end's rules.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "platform/fake/fake_platform.h"
#include "platform/stand_in/wide_text.h"
#include "policy/policy_store.h"
#include "survey/pool_survey.h"

namespace {

const std::wstring kProgram = L"C:\\Tools\\snapreserve.exe";
const int kUsage = -1;
const int kVersion = -2;
const int kShow = -3;  // not an outcome: the show, which ends with 0

// What the arguments ask for: kUsage, kVersion, kShow or a request, and
// whether it is only checked, and whether as a JSON report.
struct Asked {
  int what = kUsage;
  bool check = false;
  bool json = false;
};

bool Begins(const std::wstring& arg, const wchar_t* entry) {
  size_t i = 0;
  for (; entry[i] != L'\0'; ++i) {
    if (i >= arg.size()) return false;
    wchar_t c = arg[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + (L'a' - L'A'));
    if (c != entry[i]) return false;
  }
  return true;
}

bool BeginsAny(const std::wstring& arg, const wchar_t* a, const wchar_t* b, const wchar_t* c) {
  return Begins(arg, a) || Begins(arg, b) || Begins(arg, c);
}

// The request (0 to 99) that an argument makes, or kUsage.
int Request(const std::wstring& arg) {
  long long value = 0;
  size_t i = 0;
  for (; i < arg.size() && arg[i] >= L'0' && arg[i] <= L'9' && value <= 99; ++i) {
    value = value * 10 + (arg[i] - L'0');
  }
  if (i == 0 || value > 99) return kUsage;
  return static_cast<int>(value);
}

// -1, -2 or kShow, or the request (0 to 99) the arguments make.
int Expected(const std::vector<std::wstring>& args) {
  if (args.size() != 2) return kUsage;
  const std::wstring& arg = args[1];
  for (const wchar_t* help : {L"--help", L"-h", L"/?"}) {
    if (Begins(arg, help)) return kUsage;
  }
  for (const wchar_t* version : {L"--version", L"-v", L"/v"}) {
    if (Begins(arg, version)) return kVersion;
  }
  for (const wchar_t* show : {L"--show", L"-s", L"/s"}) {
    if (Begins(arg, show)) return kShow;
  }
  return Request(arg);
}

// The calls of two and three arguments: --check N, --json --show and
// --json --check N; the one-argument calls as above.
Asked ExpectedCall(const std::vector<std::wstring>& args) {
  Asked asked;
  if (args.size() != 3 && args.size() != 4) {
    asked.what = Expected(args);
    return asked;
  }
  asked.json = BeginsAny(args[1], L"--json", L"-j", L"/j");
  const size_t check_at = asked.json ? 2 : 1;
  if (asked.json && args.size() == 3 && BeginsAny(args[2], L"--show", L"-s", L"/s")) {
    asked.what = kShow;
    return asked;
  }
  if (args.size() != check_at + 2 || !BeginsAny(args[check_at], L"--check", L"-c", L"/c")) {
    asked.json = false;
    return asked;
  }
  asked.what = Request(args[check_at + 1]);
  asked.check = asked.what != kUsage;
  asked.json = asked.json && asked.check;
  return asked;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  std::vector<std::wstring> args = {kProgram};
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!bytes.empty()) {
    size_t start = 0;
    for (size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
      args.push_back(platform::DecodeUtf8(bytes.substr(start, end - start)));
    }
    args.push_back(platform::DecodeUtf8(bytes.substr(start)));
  }

  fake::Reset();
  g_layout = 0;
  fake::Machine& machine = fake::TheMachine();
  machine.registry[kVersionsKey][kReleaseValue] = fake::Text(L"2.1");
  machine.files[kManagementTool] = "";
  machine.listing = "h\nh\nHuge 2000000000 2000000000\n";

  const int outcome = RunReserveTool(args);
  const Asked asked = ExpectedCall(args);
  const int expected = asked.what;
  const std::wstring& printed = machine.console;
  const platform::RegistryValue* percent = fake::FindValue(kPolicyKey21, kPercentValue);
  const platform::RegistryValue* absolute = fake::FindValue(kPolicyKey21, kAbsoluteValue);

  if (asked.json || asked.check) {
    // A report or a check: the status the request would give, its own
    // beginning, nothing stored; a report is ASCII from end to end.
    const int status = expected == kShow ? 0 : expected == 0 ? 4 : 0;
    const std::wstring begins = asked.json ? L"{\n  \"tool\": \"snapreserve\"" : L"A request of ";
    if (outcome != status || printed.compare(0, begins.size(), begins) != 0 || percent ||
        absolute) {
      std::abort();
    }
    for (wchar_t c : printed) {
      if (asked.json && (c < 0x20 || c > 0x7E) && c != L'\n') std::abort();
    }
    for (const std::wstring& event : machine.events) {
      if (event.compare(0, 4, L"set ") == 0 || event.compare(0, 7, L"remove ") == 0 ||
          event.compare(0, 7, L"create ") == 0 ||
          (event.compare(0, 4, L"run ") == 0 && event.find(L"VLMRMON") != std::wstring::npos)) {
        std::abort();
      }
    }
    return 0;
  }
  if (expected == kUsage) {
    if (outcome != kUsage || printed.compare(0, 7, L"\aUsage:") != 0) std::abort();
  } else if (expected == kVersion) {
    if (outcome != kVersion || printed.compare(0, kProgram.size() + 9, kProgram + L" Version ") != 0) {
      std::abort();
    }
  } else if (expected == kShow) {
    if (outcome != 0 || printed.compare(0, 25, L"The installed release is ") != 0 || percent ||
        absolute) {
      std::abort();
    }
  } else if (expected == 0) {
    if (outcome != 4 || percent || !absolute || platform::DwordNumber(absolute->data) != 1056) {
      std::abort();
    }
  } else {
    if (outcome != 0 || absolute || !percent ||
        platform::DwordNumber(percent->data) != static_cast<std::uint32_t>(expected) * 100) {
      std::abort();
    }
  }
  if (expected == kUsage || expected == kVersion) {
    // Usage and version change nothing: no write, no child process.
    for (const std::wstring& event : machine.events) {
      if (event.compare(0, 6, L"print ") != 0) std::abort();
    }
  } else if (expected == kShow) {
    // The show runs the survey alone: no registry write, no service command.
    for (const std::wstring& event : machine.events) {
      if (event.compare(0, 4, L"set ") == 0 || event.compare(0, 7, L"remove ") == 0 ||
          event.compare(0, 7, L"create ") == 0 ||
          (event.compare(0, 4, L"run ") == 0 && event.find(L"VLMRMON") != std::wstring::npos)) {
        std::abort();
      }
    }
  }
  return 0;
}
