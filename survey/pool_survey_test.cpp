#include "survey/pool_survey.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"

namespace {

using fake::TheMachine;

const std::wstring kTool = L"C:\\Program Files\\Halvorn\\Velmora 2.0\\plexadm.exe";
const std::wstring kFile = L".\\____HLV__PlexAdm__TempFile.vlmr";
const std::wstring kFirstRun = L"run " + kTool + L" pool";
const std::wstring kShellRun = L"shell " + kTool + L" pool > " + kFile;
const std::wstring kOpen = L"open " + kFile;
const std::wstring kDelete = L"delete " + kFile;

class PoolSurveyTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    TheMachine().files[kTool] = "";
    TheMachine().listing = "h\nh\nP 1000 400\n";
  }
  int Survey(int percentage = 10) { return QueryPoolSpace(percentage, &figures_); }
  PoolFigures figures_;
};

TEST_F(PoolSurveyTest, RunsTheToolTwiceAndParsesTheSecondListing) {
  EXPECT_EQ(0, Survey(50));
  EXPECT_EQ(40, figures_.smallest_free_share);
  EXPECT_EQ(500, figures_.requested_reserve);
  const std::vector<std::wstring> expected = {kFirstRun, kShellRun, kOpen, kDelete};
  EXPECT_EQ(expected, TheMachine().events);
  EXPECT_EQ(0u, TheMachine().files.count(kFile)) << "no listing file left";
}

TEST_F(PoolSurveyTest, MissingToolRunsNothing) {
  TheMachine().files.clear();
  EXPECT_EQ(2, Survey());
  EXPECT_EQ(0, figures_.smallest_free_share);
  EXPECT_TRUE(TheMachine().events.empty());
  EXPECT_EQ(L"", TheMachine().console);
}

struct StartFailure {
  const char* what;
  platform::RunResult first;
  platform::RunResult shell;
  int status;
  std::wstring message;
};

void PrintTo(const StartFailure& c, std::ostream* os) { *os << c.what; }

class StartFailureTest : public PoolSurveyTest,
                         public testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailureTest, PrintsItsLineAndReportsErrno) {
  const StartFailure& c = GetParam();
  TheMachine().run = [&](const std::vector<std::wstring>&) { return c.first; };
  TheMachine().shell_result = c.shell;
  EXPECT_EQ(c.status, Survey()) << c.what;
  EXPECT_EQ(c.message, TheMachine().console) << c.what;
  EXPECT_EQ(kDelete, TheMachine().events.back()) << c.what;
  EXPECT_EQ(0, figures_.smallest_free_share) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, StartFailureTest,
    testing::Values(
        StartFailure{"tool not startable", {-1, 8}, {}, 8, L"Error in first spawn.\n"},
        StartFailure{"tool ended with -1: errno 0 still fails", {-1, 0}, {}, -1,
                     L"Error in first spawn.\n"},
        StartFailure{"shell not startable", {}, {-1, 13}, 13, L"Error in second spawn.\n"},
        StartFailure{"shell ended with -1", {}, {-1, 0}, -1, L"Error in second spawn.\n"}));

TEST_F(PoolSurveyTest, OtherExitStatusesAreNotFailures) {
  TheMachine().run = [](const std::vector<std::wstring>&) { return platform::RunResult{3, 0}; };
  TheMachine().shell_result = {1, 0};
  EXPECT_EQ(0, Survey());
}

TEST_F(PoolSurveyTest, ListingThatDoesNotOpenReportsErrno) {
  TheMachine().open_file_failure = 13;
  EXPECT_EQ(13, Survey());
  EXPECT_EQ(L"", TheMachine().console);
  EXPECT_EQ(kDelete, TheMachine().events.back());
}

TEST_F(PoolSurveyTest, EmptyListingGivesTheStartValues) {
  TheMachine().listing = "";
  EXPECT_EQ(0, Survey(10));
  EXPECT_EQ(100, figures_.smallest_free_share);
  EXPECT_EQ(214748364, figures_.requested_reserve);
}

TEST_F(PoolSurveyTest, StaleListingIsReplacedBeforeItIsRead) {
  TheMachine().files[kFile] = "h\nh\nStale 1000 10\n";
  EXPECT_EQ(0, Survey());
  EXPECT_EQ(40, figures_.smallest_free_share);
}

}  // namespace
