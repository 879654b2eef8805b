#include "app/front_end.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>

#include "platform/fake/fake_platform.h"
#include "platform/stand_in/wide_text.h"
#include "policy/policy_store.h"
#include "survey/pool_survey.h"

namespace {

using fake::TheMachine;

const std::wstring kProgram = L"C:\\Tools\\snapreserve.exe";

std::wstring Usage(const std::wstring& p) {
  return L"\aUsage:\n" + p + L" <Percentage>\n"
         L"\t<Percentage> should be expressed as a percentage of the\n"
         L"\ttotal space to be reserved in all pools for snapshots.\n"
         L"\tThis percentage must range from 0 to 99.\n\n" +
         p + L" --help\n" + p + L" -h\n" + p + L" /?\n"
         L"\tPrint this help message and exit.\n\n"
         L"An invalid input also prints this message and exits.\n\n" +
         p + L" --version\n" + p + L" -v\n" + p + L" /v\n"
         L"\tPrint the program version and exit.\n\n" +
         p + L" --show\n" + p + L" -s\n" + p + L" /s\n"
         L"\tPrint the stored policy and what each percentage would do now, changing nothing.\n\n" +
         p + L" --check <Percentage>\n" + p + L" -c <Percentage>\n" + p + L" /c <Percentage>\n"
         L"\tSay what this percentage would do now and end as it would, changing nothing.\n\n" +
         p + L" --json --show|--check <Percentage>\n" + p + L" -j --show|--check <Percentage>\n" +
         p + L" /j --show|--check <Percentage>\n"
         L"\tPrint either as one JSON document; what the management tool prints goes to standard "
         L"error.\n";
}

std::wstring Version(const std::wstring& p) {
  return p + L" Version 1.5.\nCopyright (C) Halvorn Corporation.\nAll rights reserved.\n";
}

class FrontEndTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    g_layout = 0;
    TheMachine().registry[kVersionsKey][kReleaseValue] = fake::Text(L"2.1");
    TheMachine().files[kManagementTool] = "";
    TheMachine().listing = "h\nh\nP 200000 199000\n";
  }
  int Run(const std::vector<std::wstring>& args) {
    std::vector<std::wstring> argv = {kProgram};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunReserveTool(argv);
  }
};

const std::wstring kShowBegins = L"The installed release is \"2.1\".\n";
const std::wstring kCheckBegins = L"A request of 30% would store MinFreespacePerPoolPercent = 3000 ";
const std::wstring kReportBegins = L"{\n  \"tool\": \"snapreserve\",\n";

struct ArgumentCase {
  std::vector<std::wstring> args;
  int status;
  bool version;       // else usage
  bool show = false;  // the stored policy and the requests, not usage nor version
  std::wstring begins = kShowBegins;  // with `show`: how the console begins
};

void PrintTo(const ArgumentCase& c, std::ostream* os) {
  for (const std::wstring& arg : c.args) *os << '[' << platform::EncodeUtf8(arg) << ']';
}

class ArgumentTest : public FrontEndTest, public testing::WithParamInterface<ArgumentCase> {};

TEST_P(ArgumentTest, AnswersWithUsageVersionOrShow) {
  const ArgumentCase& c = GetParam();
  EXPECT_EQ(c.status, Run(c.args));
  if (c.show) {
    EXPECT_EQ(0u, TheMachine().console.rfind(c.begins, 0)) << TheMachine().console;
  } else {
    EXPECT_EQ(c.version ? Version(kProgram) : Usage(kProgram), TheMachine().console);
  }
  EXPECT_TRUE(fake::FindValue(kPolicyKey21, kPercentValue) == nullptr);
  for (const std::wstring& event : TheMachine().events) {
    EXPECT_NE(0u, event.rfind(L"set ", 0)) << "no registry write";
    EXPECT_NE(0u, event.rfind(L"create ", 0)) << "no key created";
    EXPECT_TRUE(event.find(L"VLMRMON") == std::wstring::npos || event == L"query VLMRMON" ||
                event.rfind(L"print ", 0) == 0)
        << "no service command";
    EXPECT_NE(0u, event.rfind(L"event ", 0)) << "no event but a request's";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ArgumentTest,
    testing::Values(ArgumentCase{{}, -1, false}, ArgumentCase{{L"10", L"20"}, -1, false},
                    ArgumentCase{{L"-h"}, -1, false}, ArgumentCase{{L"--HELP"}, -1, false},
                    ArgumentCase{{L"-hx"}, -1, false}, ArgumentCase{{L"/?"}, -1, false},
                    ArgumentCase{{L"-H"}, -1, false}, ArgumentCase{{L"--helpme"}, -1, false},
                    ArgumentCase{{L"-v"}, -2, true}, ArgumentCase{{L"--version"}, -2, true},
                    ArgumentCase{{L"/V"}, -2, true}, ArgumentCase{{L"-vx"}, -2, true},
                    ArgumentCase{{L"-version"}, -2, true}, ArgumentCase{{L"--h"}, -1, false},
                    ArgumentCase{{L"--v"}, -1, false}, ArgumentCase{{L"100"}, -1, false},
                    ArgumentCase{{L"+5"}, -1, false}, ArgumentCase{{L"-5"}, -1, false},
                    ArgumentCase{{L" 5"}, -1, false}, ArgumentCase{{L"%5"}, -1, false},
                    ArgumentCase{{L""}, -1, false}, ArgumentCase{{L"abc"}, -1, false},
                    ArgumentCase{{L"4294967296"}, -1, false},
                    ArgumentCase{{L"4294967306"}, -1, false},
                    ArgumentCase{{L"99999999999999999999"}, -1, false},
                    ArgumentCase{{L"\u0663"}, -1, false},  // ARABIC-INDIC DIGIT THREE
                    ArgumentCase{{L"--show"}, 0, false, true}, ArgumentCase{{L"-s"}, 0, false, true},
                    ArgumentCase{{L"/s"}, 0, false, true}, ArgumentCase{{L"-S"}, 0, false, true},
                    ArgumentCase{{L"--SHOWALL"}, 0, false, true},
                    ArgumentCase{{L"/Sx"}, 0, false, true}, ArgumentCase{{L"--s"}, -1, false},
                    ArgumentCase{{L"--sh"}, -1, false}, ArgumentCase{{L"s"}, -1, false},
                    ArgumentCase{{L"-s", L"30"}, -1, false},
                    ArgumentCase{{L"-hs"}, -1, false}, ArgumentCase{{L"-vs"}, -2, true},
                    // --check N and --json: two and three arguments.
                    ArgumentCase{{L"--check", L"30"}, 0, false, true, kCheckBegins},
                    ArgumentCase{{L"-c", L"30%"}, 0, false, true, kCheckBegins},
                    ArgumentCase{{L"/C", L"030"}, 0, false, true, kCheckBegins},
                    ArgumentCase{{L"-CHECKIT", L"30"}, 0, false, true, kCheckBegins},
                    ArgumentCase{{L"--c", L"30"}, -1, false}, ArgumentCase{{L"c", L"30"}, -1, false},
                    ArgumentCase{{L"-c"}, -1, false}, ArgumentCase{{L"-c", L""}, -1, false},
                    ArgumentCase{{L"-c", L"100"}, -1, false},
                    ArgumentCase{{L"-c", L"-5"}, -1, false},
                    ArgumentCase{{L"-c", L"\u0663"}, -1, false},
                    ArgumentCase{{L"-c", L"99999999999999999999"}, -1, false},
                    ArgumentCase{{L"-c", L"30", L"30"}, -1, false},
                    ArgumentCase{{L"-c", L"-s"}, -1, false},
                    ArgumentCase{{L"-h", L"30"}, -1, false}, ArgumentCase{{L"-v", L"30"}, -1, false},
                    ArgumentCase{{L"30", L"-c"}, -1, false},
                    ArgumentCase{{L"--json", L"--show"}, 0, false, true, kReportBegins},
                    ArgumentCase{{L"-J", L"-S"}, 0, false, true, kReportBegins},
                    ArgumentCase{{L"/jason", L"/showall"}, 0, false, true, kReportBegins},
                    ArgumentCase{{L"-j", L"-c", L"30"}, 0, false, true, kReportBegins},
                    ArgumentCase{{L"/J", L"--CHECK", L"7x"}, 0, false, true, kReportBegins},
                    ArgumentCase{{L"-j"}, -1, false}, ArgumentCase{{L"--j", L"-s"}, -1, false},
                    ArgumentCase{{L"-j", L"30"}, -1, false},
                    ArgumentCase{{L"-j", L"-h"}, -1, false},
                    ArgumentCase{{L"-j", L"-v"}, -1, false},
                    ArgumentCase{{L"-j", L"-j"}, -1, false},
                    ArgumentCase{{L"-j", L"-c"}, -1, false},
                    ArgumentCase{{L"-j", L"-c", L"100"}, -1, false},
                    ArgumentCase{{L"-j", L"-s", L"30"}, -1, false},
                    ArgumentCase{{L"-j", L"-c", L"30", L"x"}, -1, false},
                    ArgumentCase{{L"30", L"a", L"b", L"c"}, -1, false},
                    ArgumentCase{{L"-j", L"-j", L"-c", L"30"}, -1, false},
                    ArgumentCase{{L"-s", L"-j"}, -1, false},
                    ArgumentCase{{L"-c", L"-j", L"30"}, -1, false}));

struct RequestCase {
  std::wstring arg;
  std::uint32_t stored;  // MinFreespacePerPoolPercent afterwards
};

void PrintTo(const RequestCase& c, std::ostream* os) { *os << platform::EncodeUtf8(c.arg); }

class RequestTest : public FrontEndTest, public testing::WithParamInterface<RequestCase> {};

TEST_P(RequestTest, ReachesTheDecisionWithItsLeadingDigits) {
  EXPECT_EQ(0, Run({GetParam().arg}));
  const platform::RegistryValue* stored = fake::FindValue(kPolicyKey21, kPercentValue);
  ASSERT_NE(nullptr, stored);
  EXPECT_EQ(fake::Dword(GetParam().stored).data, stored->data);
}

INSTANTIATE_TEST_SUITE_P(Requests, RequestTest,
                         testing::Values(RequestCase{L"5%", 500}, RequestCase{L"007", 700},
                                         RequestCase{L"99", 9900}, RequestCase{L"1x", 100},
                                         RequestCase{L"00000000000000000042", 4200}));

TEST_F(FrontEndTest, ZeroIsARequest) {
  EXPECT_EQ(4, Run({L"0"}));
}

TEST_F(FrontEndTest, FrameworkFailureStopsAtOnce) {
  TheMachine().framework_starts = false;
  EXPECT_EQ(1, Run({L"30"}));
  EXPECT_EQ(L"Fatal Error: MFC initialization failed\n", TheMachine().console);
  EXPECT_TRUE(TheMachine().events.size() == 1);
}

TEST_F(FrontEndTest, MemoryRunningOutEndsWithAStatusOfItsOwn) {
  TheMachine().run = [](const std::vector<std::wstring>&) -> platform::RunResult {
    throw std::bad_alloc();
  };
  EXPECT_EQ(9, Run({L"30"}));
  EXPECT_EQ(L"\aThe tool ran out of memory and stopped; run it with --show to see what is stored.\n",
            TheMachine().console);
  // Memory that runs out for the event after the request has ended loses the
  // event, never the request's status.
  TheMachine().run = nullptr;
  TheMachine().event_out_of_memory = true;
  EXPECT_EQ(4, Run({L"0"}));
}

TEST_F(FrontEndTest, EventNamesWhatItsOwnStoreReplacedAndWroteWithInterruptsHeld) {
  // Another run stores 30% while this one surveys, and a third 35% while this
  // one restarts the monitor: neither is taken for this run's.
  TheMachine().run = [](const std::vector<std::wstring>& argv) {
    auto& key = TheMachine().registry[kPolicyKey21];
    if (argv[0] == kManagementTool) key[kPercentValue] = fake::Dword(3000);
    if (argv.size() == 3 && argv[1] == L"START") key[kPercentValue] = fake::Dword(3500);
    return platform::RunResult{};
  };
  EXPECT_EQ(4, Run({L"0"}));
  const auto& events = TheMachine().events;
  EXPECT_EQ(L"event 104 4: 0 | HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies | "
            L"MinFreespacePerPoolPercent = 3000 | MinFreespacePerPool = 1056 | 99% | 200000 MB | 4",
            events.back());
  EXPECT_NE(events.end(), std::find(events.begin(), events.end(), L"hold interrupts"));
}

TEST_F(FrontEndTest, NoReleaseGivesTheUsageAndTouchesNothing) {
  TheMachine().registry.clear();
  EXPECT_EQ(-1, Run({L"30"}));
  EXPECT_EQ(Usage(kProgram), TheMachine().console);
  EXPECT_TRUE(TheMachine().registry.empty());
}

TEST_F(FrontEndTest, ShowWithoutAReleaseNamesTheValueInsteadOfTheUsage) {
  TheMachine().registry.clear();
  EXPECT_EQ(-1, Run({L"--show"}));
  EXPECT_EQ(L"\aNo installed release could be read from "
            L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Corridan\\Versions\\VLMR.\n",
            TheMachine().console);
  EXPECT_TRUE(TheMachine().registry.empty());
  EXPECT_EQ(1u, TheMachine().events.size()) << "nothing run";
}

TEST_F(FrontEndTest, JsonReportIsTheOnlyOutputAsciiWithTheSurveysFailureInside) {
  // The release as stored, each character escaped like the tab and the line
  // feed; a monitor
  // whose state cannot be read as null; the survey's failure line
  // goes into the document, and the management tool writes to standard error
  // from its first run on.
  TheMachine().registry[kVersionsKey][kReleaseValue] = fake::Text(L"2.1\u00e9\u20ac\t\n\"\\");
  TheMachine().run = [](const std::vector<std::wstring>&) { return platform::RunResult{-1, 0}; };
  TheMachine().service_state = platform::ServiceState::kUnknown;
  EXPECT_EQ(5, Run({L"-j", L"-s"}));
  EXPECT_EQ(L"{\n"
            L"  \"tool\": \"snapreserve\",\n"
            L"  \"version\": \"1.5\",\n"
            L"  \"mode\": \"show\",\n"
            L"  \"status\": 5,\n"
            L"  \"release\": \"2.1\\u00e9\\u20ac\\u0009\\u000a\\\"\\\\\",\n"
            L"  \"policy_key\": \"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Halvorn\\\\Velmora\\\\2.0"
            L"\\\\Policies\",\n"
            L"  \"stored\": {\n"
            L"    \"MinFreespacePerPoolPercent\": null,\n"
            L"    \"MinFreespacePerPool\": null\n"
            L"  },\n"
            L"  \"monitor\": {\n"
            L"    \"service\": \"VLMRMON\",\n"
            L"    \"running\": null\n"
            L"  },\n"
            L"  \"survey\": {\n"
            L"    \"ran\": true,\n"
            L"    \"ok\": false,\n"
            L"    \"error\": \"Error in first spawn.\",\n"
            L"    \"smallest_free_share\": null,\n"
            L"    \"smallest_capacity_mb\": null\n"
            L"  },\n"
            L"  \"requests\": null,\n"
            L"  \"messages\": []\n"
            L"}\n",
            TheMachine().console);
  const auto& events = TheMachine().events;
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(L"child output to errors", events[0]);
  EXPECT_EQ(L"query VLMRMON", events[1]);
  EXPECT_EQ(0u, events[2].rfind(L"run ", 0)) << events[2];
}

TEST_F(FrontEndTest, ProgramNameIsPrintedAsPassed) {
  EXPECT_EQ(-2, Run({L"-v"}));
  EXPECT_EQ(0u, TheMachine().console.rfind(kProgram + L" Version 1.5.\n", 0));
}

}  // namespace
