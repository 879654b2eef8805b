#include "reserve/reserve.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"
#include "policy/policy_store.h"
#include "survey/pool_survey.h"

namespace {

using fake::TheMachine;

const std::string kTwoPools = "Name Cap Free\n---- --- ----\nPoolA 20000 8000\nPoolB 5000 3000\n";

const std::wstring kExceeds =
    L"\aThe requested percentage of pool free space exceeds available capacity.\n"
    L"No change effected.\n"
    L"The percentage of pool space available is 40%.\n"
    L"You must reduce the requested percentage, reduce disk usage,\n"
    L"or add additional storage and try again.\n"
    L"Please see chapter 4 of the Corridan Quarrin Administration Guide for aditional details.\n";
const std::wstring kTail =
    L"New allocated minimum amount of pool free space is 1056 MB.\n"
    L"\aSnapshot capability turned off.\n";
const std::wstring kNotStored =
    L"\aThe snapshot reserve policy could not be stored.\nNo change effected.\n";

class ReserveTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    g_layout = 21;
    Listing(kTwoPools);
    TheMachine().files[L"C:\\WINNT\\System32\\NET.exe"] = "";
  }
  void Listing(const std::string& listing) {
    TheMachine().files[kManagementTool] = "";
    TheMachine().listing = listing;
  }
  const std::wstring& Printed() { return TheMachine().console; }
  std::vector<std::wstring> EventsFrom(const std::wstring& first) {
    auto& events = TheMachine().events;
    for (size_t i = 0; i < events.size(); ++i) {
      if (events[i].rfind(first, 0) == 0) return {events.begin() + static_cast<long>(i), events.end()};
    }
    return {};
  }
  const platform::RegistryValue* Policy(const std::wstring& name) {
    return fake::FindValue(kPolicyKey21, name);
  }
};

const std::wstring kStop = L"run C:\\WINNT\\System32\\NET.exe STOP VLMRMON";
const std::wstring kStart = L"run C:\\WINNT\\System32\\NET.exe START VLMRMON";

TEST_F(ReserveTest, StoresThePercentageAndRestarts) {
  TheMachine().registry[kPolicyKey21][kAbsoluteValue] = fake::Dword(1056);
  EXPECT_EQ(0, ApplyReserve(30));
  EXPECT_EQ(L"New allocated percentage of pool free space reserved for snapshots is 30%.\n",
            Printed());
  const std::vector<std::wstring> expected = {
      L"remove " + kPolicyKey21 + L" MinFreespacePerPool",
      L"set " + kPolicyKey21 + L" MinFreespacePerPoolPercent=3000",
      L"print New allocated percentage of pool free space reserved for snapshots is 30%.", kStop,
      kStart};
  EXPECT_EQ(expected, EventsFrom(L"remove"));
}

TEST_F(ReserveTest, StoresHundredthsOfThePercentage) {
  Listing("h\nh\nP 100000 100000\n");
  EXPECT_EQ(0, ApplyReserve(7));
  EXPECT_EQ(fake::Dword(700).data, Policy(kPercentValue)->data);
}

TEST_F(ReserveTest, RefusesMoreThanTheSmallestFreeShare) {
  TheMachine().registry[kPolicyKey21][kAbsoluteValue] = fake::Dword(1056);
  EXPECT_EQ(2, ApplyReserve(50));
  EXPECT_EQ(kExceeds, Printed());
  EXPECT_EQ(fake::Dword(1056).data, Policy(kAbsoluteValue)->data);
  EXPECT_EQ(nullptr, Policy(kPercentValue));
  EXPECT_TRUE(EventsFrom(L"run C:\\WINNT").empty()) << "service left alone";
}

TEST_F(ReserveTest, RequestEqualToTheFreeShareIsAccepted) {
  EXPECT_EQ(0, ApplyReserve(40));
}

TEST_F(ReserveTest, FallsBackToTheMinimumBelow1056Mb) {
  TheMachine().registry[kPolicyKey21][kPercentValue] = fake::Dword(2000);
  EXPECT_EQ(3, ApplyReserve(15));
  EXPECT_EQ(L"\aThe requested percentage is 15%.\n"
            L"The minimum, based on available disk space, is 21%.\n"
            L"The percentage will be set to 21%.\n"
            L"This reflects the minimum value which is 1056 MB.\n" +
                kTail,
            Printed());
  const std::vector<std::wstring> expected = {
      L"remove " + kPolicyKey21 + L" MinFreespacePerPoolPercent",
      L"set " + kPolicyKey21 + L" MinFreespacePerPool=1056",
      L"print New allocated minimum amount of pool free space is 1056 MB.",
      L"print \aSnapshot capability turned off.", kStop, kStart};
  EXPECT_EQ(expected, EventsFrom(L"remove"));
}

TEST_F(ReserveTest, ReserveOfExactly1056MbKeepsThePercentage) {
  Listing("h\nh\nP 10560 10000\n");
  EXPECT_EQ(0, ApplyReserve(10));
}

TEST_F(ReserveTest, ZeroTurnsSnapshotsOff) {
  Listing("h\nh\nFull 1000 0\n");
  EXPECT_EQ(4, ApplyReserve(0));
  EXPECT_EQ(L"You have elected to turn off snapshot capability.\n"
            L"To re-enable snapshots, run this utility again and with a non-zero argument\n" +
                kTail,
            Printed());
  EXPECT_EQ(fake::Dword(1056).data, Policy(kAbsoluteValue)->data);
  EXPECT_EQ(kStart, TheMachine().events.back());
}

TEST_F(ReserveTest, WithoutPoolsEveryRequestPasses) {
  Listing("");
  EXPECT_EQ(0, ApplyReserve(99));
  EXPECT_EQ(4, ApplyReserve(0));
}

TEST_F(ReserveTest, MinimumPercentageOfAZeroReserveShowsAsZero) {
  Listing("h\nh\nTiny 1 1\n");
  EXPECT_EQ(3, ApplyReserve(50));
  EXPECT_NE(std::wstring::npos, Printed().find(L"disk space, is 0%.\n"));
  EXPECT_NE(std::wstring::npos, Printed().find(L"will be set to 0%.\n"));
}

TEST_F(ReserveTest, NegativeCapacityGivesANegativeMinimum) {
  Listing("h\nh\nOdd -1000 -1000\n");  // share 100, reserve -100 at 10%
  EXPECT_EQ(3, ApplyReserve(10));
  EXPECT_NE(std::wstring::npos, Printed().find(L"disk space, is -105%.\n"));
}

TEST_F(ReserveTest, FailedSurveyChangesNothing) {
  TheMachine().files.clear();  // management tool not installed
  EXPECT_EQ(5, ApplyReserve(30));
  EXPECT_EQ(L"", Printed());
  EXPECT_TRUE(TheMachine().events.empty());
}

TEST_F(ReserveTest, PolicyThatCannotBeStoredIsNeverReportedAsStored) {
  TheMachine().registry[kPolicyKey21][kAbsoluteValue] = fake::Dword(1056);
  TheMachine().replace_failure = platform::kRegistryAccessDenied;
  EXPECT_EQ(6, ApplyReserve(30));
  EXPECT_EQ(kNotStored, Printed());
  EXPECT_EQ(fake::Dword(1056).data, Policy(kAbsoluteValue)->data);
  EXPECT_EQ(nullptr, Policy(kPercentValue));
  EXPECT_TRUE(EventsFrom(L"run C:\\WINNT").empty()) << "service left alone";
}

TEST_F(ReserveTest, MinimumThatCannotBeStoredKeepsItsFirstMessages) {
  TheMachine().replace_failure = platform::kRegistryWriteFault;
  EXPECT_EQ(6, ApplyReserve(0));
  EXPECT_EQ(L"You have elected to turn off snapshot capability.\n"
            L"To re-enable snapshots, run this utility again and with a non-zero argument\n" +
                kNotStored,
            Printed());
  EXPECT_EQ(nullptr, Policy(kAbsoluteValue));
  EXPECT_TRUE(EventsFrom(L"run C:\\WINNT").empty());
}

TEST_F(ReserveTest, AbsentOtherValueIsNoFailure) {
  EXPECT_EQ(3, ApplyReserve(15));
  EXPECT_EQ(fake::Dword(1056).data, Policy(kAbsoluteValue)->data);
}

TEST_F(ReserveTest, ServiceStartIsTriedWhenTheStopFails) {
  TheMachine().run = [](const std::vector<std::wstring>& argv) {
    return argv.size() > 1 && argv[1] == L"STOP" ? platform::RunResult{-1, 2}
                                                 : platform::RunResult{};
  };
  EXPECT_EQ(0, ApplyReserve(30));
  EXPECT_EQ(kStart, TheMachine().events.back());
}

TEST_F(ReserveTest, WritesGoUnderTheProbedLayout) {
  g_layout = 20;
  EXPECT_EQ(0, ApplyReserve(30));
  EXPECT_NE(nullptr, fake::FindValue(kPolicyKey20, kPercentValue));
  EXPECT_FALSE(fake::KeyExists(kPolicyKey21));
}

}  // namespace
