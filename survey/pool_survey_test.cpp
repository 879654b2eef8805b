#include "survey/pool_survey.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "platform/fake/fake_platform.h"

namespace {

using fake::TheMachine;

const std::wstring kTool = L"C:\\Program Files\\Halvorn\\Velmora 2.0\\plexadm.exe";
const std::wstring kFile = L".\\____HLV__PlexAdm__TempFile.vlmr";
const std::wstring kFirstRun = L"run " + kTool + L" pool";
// The shell is given the tool's path in quotes, for the spaces in it.
const std::wstring kShellRun =
    L"shell C:\\Windows\\System32\\cmd.exe: \"" + kTool + L"\" pool > " + kFile;
const std::wstring kOpen = L"open " + kFile;
const std::wstring kDelete = L"delete " + kFile;
const std::wstring kCreate = L"hold file " + kFile;
const std::wstring kRelease = L"release " + kFile;
const std::wstring kEndedAbnormally =
    L"\aThe management tool ended abnormally; its pool listing is not used.\n";

const std::wstring kNotRead = L"The pool listing file could not be read.";

class PoolSurveyTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    TheMachine().files[kTool] = "";
    TheMachine().listing = "h\nh\nP 1000 400\n";
  }
  int Survey(int percentage = 10) { return QueryPoolSpace(percentage, &figures_, &quiet_); }
  PoolFigures figures_;
  std::wstring quiet_;  // why a survey failed that printed no line
};

TEST_F(PoolSurveyTest, RunsTheToolTwiceAndParsesTheSecondListing) {
  EXPECT_EQ(0, Survey(50));
  EXPECT_EQ(40, figures_.smallest_free_share);
  EXPECT_EQ(500, figures_.requested_reserve);
  // The leftover goes, then the listing is created and held from before the
  // shell runs until it is read and removed.
  const std::vector<std::wstring> expected = {kFirstRun, kDelete,  kCreate,
                                              kShellRun, kOpen,    kRelease};
  EXPECT_EQ(expected, TheMachine().events);
  EXPECT_EQ(0u, TheMachine().files.count(kFile)) << "no listing file left";
}

TEST_F(PoolSurveyTest, MissingToolRunsNothing) {
  TheMachine().files.clear();
  EXPECT_EQ(2, Survey());
  EXPECT_EQ(0, figures_.smallest_free_share);
  EXPECT_TRUE(TheMachine().events.empty());
  EXPECT_EQ(L"The management tool is not installed.", TheMachine().console + quiet_);
}

struct StartFailure {
  const char* what;
  platform::RunResult first;
  platform::RunResult shell;
  int status;
  std::wstring message;  // printed, or for a failure that prints nothing, the quiet reason
  bool stuck_leftover = false;  // a listing is left that cannot be removed
  std::function<void(fake::Machine&)> machine = nullptr;  // anything else about it
  const wchar_t* runs = L"both";  // which runs start: "both", "first" or "none"
};

void PrintTo(const StartFailure& c, std::ostream* os) { *os << c.what; }

class StartFailureTest : public PoolSurveyTest,
                         public testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailureTest, PrintsItsLineAndReportsErrno) {
  const StartFailure& c = GetParam();
  TheMachine().run = [&](const std::vector<std::wstring>&) { return c.first; };
  TheMachine().shell_result = c.shell;
  if (c.stuck_leftover) {
    TheMachine().files[kFile] = "h\nh\nStale 1000 10\n";
    TheMachine().stuck_files.insert(kFile);
  }
  if (c.machine) c.machine(TheMachine());
  EXPECT_EQ(c.status, Survey()) << c.what;
  EXPECT_EQ(c.message, TheMachine().console + quiet_) << c.what;
  EXPECT_EQ(c.stuck_leftover ? 1u : 0u, TheMachine().files.count(kFile)) << "nothing left";
  EXPECT_EQ(0, figures_.smallest_free_share) << c.what;
  std::wstring runs;
  for (const std::wstring& event : TheMachine().events) {
    if (event.rfind(L"run ", 0) == 0) runs += L"first";
    if (event.rfind(L"shell ", 0) == 0) runs = L"both";
  }
  EXPECT_EQ(c.runs, runs.empty() ? L"none" : runs) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, StartFailureTest,
    testing::Values(
        StartFailure{"tool not startable", {-1, 8}, {}, 8, L"Error in first spawn.\n", false,
                     nullptr, L"first"},
        StartFailure{"tool ended with -1: errno 0 still fails", {-1, 0}, {}, -1,
                     L"Error in first spawn.\n", false, nullptr, L"first"},
        StartFailure{"shell not startable", {}, {-1, 13}, 13, L"Error in second spawn.\n"},
        StartFailure{"shell ended with -1", {}, {-1, 0}, -1, L"Error in second spawn.\n"},
        // The name taken again before the listing is created: the shell
        // never starts, and nothing at the name is read.
        StartFailure{"leftover listing cannot be removed", {}, {}, EEXIST,
                     L"Error in second spawn.\n", true, nullptr, L"first"},
        StartFailure{"listing cannot be created", {}, {}, EACCES,
                     L"The pool listing file could not be created in the working folder.", false,
                     [](fake::Machine& m) { m.create_file_failure = EACCES; }, L"first"},
        StartFailure{"tool crashed part way through its listing", {},
                     {static_cast<int>(0xC0000005u), 0, true}, EIO, kEndedAbnormally},
        StartFailure{"listing given a second name while it was written", {}, {}, EMLINK,
                     kNotRead, false, [](fake::Machine& m) { m.held_file_links = 2; }},
        // The shell ran but could not run the tool (cmd.exe says 9009, sh 127,
        // having emptied the file): no pools were listed.
        StartFailure{"shell could not run the tool", {}, {127, 0}, ENOENT,
                     L"Error in second spawn.\n", false,
                     [](fake::Machine& m) { m.listing.clear(); }},
        // An empty listing would let every request through.
        StartFailure{"shell's redirection never reached the listing", {}, {}, ENOENT, kNotRead,
                     false,
                     [](fake::Machine& m) { m.shell_writes_listing = false; }},
        // A tool that failed may have listed some pools and not others.
        StartFailure{"listing run ended with a failure", {}, {1, 0}, EIO,
                     L"\aThe management tool ended with status 1; its pool listing is not "
                     L"used.\n"},
        StartFailure{"listing without its headings: no pools of this machine", {}, {}, EIO,
                     L"\aThe pool listing lacks its two heading lines; it is not used.\n", false,
                     [](fake::Machine& m) { m.listing = "Pool 1000 0\n"; }},
        StartFailure{"network working folder: cmd.exe would write elsewhere", {}, {}, EACCES,
                     L"\aThe pools cannot be surveyed from a network folder; start the tool "
                     L"from a folder on a drive.\n",
                     false, [](fake::Machine& m) { m.working_folder = L"\\\\server\\share\\ops"; },
                     L"none"}));

TEST_F(PoolSurveyTest, ConsoleRunsExitStatusIsNotExamined) {
  TheMachine().run = [](const std::vector<std::wstring>&) { return platform::RunResult{3, 0}; };
  EXPECT_EQ(0, Survey());
}

TEST_F(PoolSurveyTest, ListingThatDoesNotOpenReportsErrno) {
  TheMachine().open_file_failure = 13;
  EXPECT_EQ(13, Survey());
  EXPECT_EQ(kNotRead, TheMachine().console + quiet_);
  EXPECT_EQ(kRelease, TheMachine().events.back());
}

TEST_F(PoolSurveyTest, ListingCutShortByAReadErrorFailsTheSurvey) {
  // The full pool comes after the failure: the figures of what was read
  // would let 50% through.
  TheMachine().listing = "h\nh\nP 1000 900\nFull 1000 0\n";
  TheMachine().read_failure_at = 16;
  EXPECT_EQ(5, Survey(50));  // EIO
  EXPECT_EQ(0, figures_.smallest_free_share);
  EXPECT_EQ(kNotRead, TheMachine().console + quiet_);
  EXPECT_EQ(kRelease, TheMachine().events.back());
}

TEST_F(PoolSurveyTest, HeadingsWithoutPoolsGiveTheStartValues) {
  TheMachine().listing = "h\nh";
  EXPECT_EQ(0, Survey(10));
  EXPECT_EQ(100, figures_.smallest_free_share);
  EXPECT_EQ(214748364, figures_.requested_reserve);
}

TEST_F(PoolSurveyTest, StaleListingIsReplacedBeforeItIsRead) {
  TheMachine().files[kFile] = "h\nh\nStale 1000 10\n";
  EXPECT_EQ(0, Survey());
  EXPECT_EQ(40, figures_.smallest_free_share);
}

// Where each program is looked for, in order: the fixed path, then the
// folders the system reports. `files` are the programs present.
struct ProgramPlaces {
  const char* what;
  std::vector<std::wstring> files;
  std::wstring system_folder;
  std::vector<std::wstring> program_folders;
  std::wstring tool, shell, net;
};

void PrintTo(const ProgramPlaces& c, std::ostream* os) { *os << c.what; }

class ProgramPlacesTest : public PoolSurveyTest,
                          public testing::WithParamInterface<ProgramPlaces> {};

const std::wstring kWinnt = L"C:\\WINNT\\System32\\";
const std::wstring kWindows = L"C:\\Windows\\System32\\";
const std::wstring kX86Tool = L"C:\\Program Files (x86)\\Halvorn\\Velmora 2.0\\plexadm.exe";

TEST_P(ProgramPlacesTest, FixedPathFirstThenTheSystemsFolders) {
  const ProgramPlaces& c = GetParam();
  TheMachine().files.clear();
  for (const std::wstring& file : c.files) TheMachine().files[file] = "";
  TheMachine().system_folder = c.system_folder;
  TheMachine().program_folders = c.program_folders;
  EXPECT_EQ(c.tool, ManagementToolPath());
  EXPECT_EQ(c.shell, SystemProgramPath(kShellName));
  EXPECT_EQ(c.net, SystemProgramPath(kNetName));
  // The survey runs the programs found there, by those paths.
  if (TheMachine().files.count(c.tool) == 0) return;
  EXPECT_EQ(0, Survey());
  EXPECT_EQ(L"run " + c.tool + L" pool", TheMachine().events.at(0));
  EXPECT_EQ(L"shell " + c.shell + L": \"" + c.tool + L"\" pool > " + kFile,
            TheMachine().events.at(3));
}

INSTANTIATE_TEST_SUITE_P(
    Machines, ProgramPlacesTest,
    testing::Values(
        ProgramPlaces{"fixed tool path wins; a C:\\WINNT that is no system folder never runs",
                      {kTool, kX86Tool, kWinnt + L"cmd.exe", kWinnt + L"NET.exe",
                       kWindows + L"cmd.exe", kWindows + L"NET.exe"},
                      L"C:\\Windows\\System32",
                      {L"C:\\Program Files (x86)", L"C:\\Program Files"},
                      kTool, kWindows + L"cmd.exe", kWindows + L"NET.exe"},
        ProgramPlaces{"server installed in C:\\WINNT: its system folder, spelled as always",
                      {kTool, kWinnt + L"cmd.exe", kWinnt + L"NET.exe"},
                      L"C:\\winnt\\system32",
                      {L"C:\\Program Files"},
                      kTool, kWinnt + L"cmd.exe", kWinnt + L"NET.exe"},
        ProgramPlaces{"current 64-bit server",
                      {kX86Tool, kWindows + L"cmd.exe", kWindows + L"NET.exe"},
                      L"C:\\Windows\\System32",
                      {L"C:\\Program Files (x86)", L"C:\\Program Files"},
                      kX86Tool, kWindows + L"cmd.exe", kWindows + L"NET.exe"},
        ProgramPlaces{"32-bit folder before the programs folder, as the system names them",
                      {L"D:\\Apps (x86)\\Halvorn\\Velmora 2.0\\plexadm.exe",
                       L"D:\\Apps\\Halvorn\\Velmora 2.0\\plexadm.exe"},
                      L"D:\\OS\\System32",
                      {L"D:\\Apps (x86)", L"D:\\Apps"},
                      L"D:\\Apps (x86)\\Halvorn\\Velmora 2.0\\plexadm.exe",
                      L"D:\\OS\\System32\\cmd.exe", L"D:\\OS\\System32\\NET.exe"},
        ProgramPlaces{"programs folder when the 32-bit one lacks the tool",
                      {L"D:\\Apps\\Halvorn\\Velmora 2.0\\plexadm.exe"},
                      L"C:\\Windows\\System32",
                      {L"D:\\Apps (x86)", L"D:\\Apps"},
                      L"D:\\Apps\\Halvorn\\Velmora 2.0\\plexadm.exe",
                      kWindows + L"cmd.exe", kWindows + L"NET.exe"},
        ProgramPlaces{"nothing anywhere, nothing reported: the fixed paths",
                      {}, L"", {}, kTool, kWinnt + L"cmd.exe", kWinnt + L"NET.exe"}));

TEST_F(PoolSurveyTest, ToolFoundNowhereRunsNothing) {
  TheMachine().files.clear();
  TheMachine().files[L"C:\\Program Files (x86)\\Halvorn\\plexadm.exe"] = "";
  EXPECT_EQ(2, Survey());
  EXPECT_TRUE(TheMachine().events.empty());
}

}  // namespace
