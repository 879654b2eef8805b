#include "app/front_end.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"
#include "platform/wide_text.h"
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

struct ArgumentCase {
  std::vector<std::wstring> args;
  int status;
  bool version;       // else usage
  bool show = false;  // the stored policy and the requests, not usage nor version
};

const std::wstring kShowBegins = L"The installed release is \"2.1\".\n";

void PrintTo(const ArgumentCase& c, std::ostream* os) {
  for (const std::wstring& arg : c.args) *os << '[' << platform::EncodeUtf8(arg) << ']';
}

class ArgumentTest : public FrontEndTest, public testing::WithParamInterface<ArgumentCase> {};

TEST_P(ArgumentTest, AnswersWithUsageVersionOrShow) {
  const ArgumentCase& c = GetParam();
  EXPECT_EQ(c.status, Run(c.args));
  if (c.show) {
    EXPECT_EQ(0u, TheMachine().console.rfind(kShowBegins, 0)) << TheMachine().console;
  } else {
    EXPECT_EQ(c.version ? Version(kProgram) : Usage(kProgram), TheMachine().console);
  }
  EXPECT_TRUE(fake::FindValue(kPolicyKey21, kPercentValue) == nullptr);
  for (const std::wstring& event : TheMachine().events) {
    EXPECT_NE(0u, event.rfind(L"set ", 0)) << "no registry write";
    EXPECT_EQ(std::wstring::npos, event.find(L"VLMRMON")) << "no service command";
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
                    ArgumentCase{{L"-hs"}, -1, false}, ArgumentCase{{L"-vs"}, -2, true}));

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

TEST_F(FrontEndTest, ProgramNameIsPrintedAsPassed) {
  EXPECT_EQ(-2, Run({L"-v"}));
  EXPECT_EQ(0u, TheMachine().console.rfind(kProgram + L" Version 1.5.\n", 0));
}

}  // namespace
