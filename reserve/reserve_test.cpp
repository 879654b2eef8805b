#include "reserve/reserve.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>

#include "platform/fake/fake_platform.h"
#include "platform/stand_in/wide_text.h"
#include "policy/policy_store.h"
#include "reserve/show.h"
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
    TheMachine().system_folder = L"C:\\WINNT\\System32";
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
// The monitor is asked about after the restart; interrupts are held from
// before the store to the end of the restart.
const std::wstring kHold = L"hold interrupts";
const std::wstring kQuery = L"query VLMRMON";

TEST_F(ReserveTest, StoresThePercentageAndRestarts) {
  TheMachine().registry[kPolicyKey21][kAbsoluteValue] = fake::Dword(1056);
  EXPECT_EQ(0, ApplyReserve(30));
  EXPECT_EQ(L"New allocated percentage of pool free space reserved for snapshots is 30%.\n",
            Printed());
  const std::vector<std::wstring> expected = {
      kHold, L"remove " + kPolicyKey21 + L" MinFreespacePerPool",
      L"set " + kPolicyKey21 + L" MinFreespacePerPoolPercent=3000",
      L"print New allocated percentage of pool free space reserved for snapshots is 30%.", kStop,
      kStart, kQuery};
  EXPECT_EQ(expected, EventsFrom(kHold));
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
      kHold, L"remove " + kPolicyKey21 + L" MinFreespacePerPoolPercent",
      L"set " + kPolicyKey21 + L" MinFreespacePerPool=1056",
      L"print New allocated minimum amount of pool free space is 1056 MB.",
      L"print \aSnapshot capability turned off.", kStop, kStart, kQuery};
  EXPECT_EQ(expected, EventsFrom(kHold));
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
  EXPECT_EQ(kQuery, TheMachine().events.back());
}

TEST_F(ReserveTest, MonitorThatDoesNotRunAgainIsNoSuccess) {
  // Each outcome that restarts the monitor: the policy stays stored, and the
  // status says the monitor is not running on it. Last, a monitor that runs
  // on, but on the old policy: NET could neither stop nor start it.
  const std::wstring not_running =
      L"\aThe policy was stored, but the monitor service VLMRMON did not start again.\n";
  TheMachine().service_state = platform::ServiceState::kNotRunning;
  const int requests[] = {30, 15, 0, 30};
  for (const int request : requests) {
    if (&request == &requests[3]) {
      TheMachine().service_state = platform::ServiceState::kRunning;
      TheMachine().run = [](const std::vector<std::wstring>&) { return platform::RunResult{2, 0}; };
    }
    TheMachine().console.clear();
    TheMachine().events.clear();
    EXPECT_EQ(7, ApplyReserve(request)) << request;
    ASSERT_GE(Printed().size(), not_running.size());
    EXPECT_EQ(not_running, Printed().substr(Printed().size() - not_running.size())) << request;
    EXPECT_EQ(kStart, EventsFrom(kStart).at(0)) << "the start was tried";
  }
  EXPECT_EQ(fake::Dword(3000).data, Policy(kPercentValue)->data);
}

TEST_F(ReserveTest, WithoutPoolsEveryRequestPasses) {
  Listing("h\nh\n");
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
  EXPECT_TRUE(EventsFrom(kHold).empty()) << "a store that backed out never held interrupts";
}

TEST_F(ReserveTest, OldPolicyThatCouldNotBePutBackIsNotCalledUnchanged) {
  TheMachine().replace_failure = platform::kRegistryRemovedNotRestored;
  EXPECT_EQ(6, ApplyReserve(30));
  EXPECT_EQ(L"\aThe snapshot reserve policy could not be stored, and the policy it replaces "
            L"could not be put back.\nThe policy key now holds neither form of the policy.\n",
            Printed());
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
  EXPECT_FALSE(EventsFrom(kStart).empty()) << "the start is tried";
}

TEST_F(ReserveTest, WritesGoUnderTheProbedLayout) {
  g_layout = 20;
  EXPECT_EQ(0, ApplyReserve(30));
  EXPECT_NE(nullptr, fake::FindValue(kPolicyKey20, kPercentValue));
  EXPECT_FALSE(fake::KeyExists(kPolicyKey21));
}

// --show: what it prints, and that it changes nothing.

const std::wstring kShowHead =
    L"The installed release is \"2.1\".\n"
    L"Its policy key is HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies.\n";
const std::wstring kShowRunning = L"The monitor service VLMRMON is running.\n";
const std::wstring kShowTwoPools =
    L"The monitor service VLMRMON is running.\n"
    L"The smallest free share of any pool is 40%.\n"
    L"The smallest pool capacity is 5000 MB.\n"
    L"What each percentage would do on these pools now:\n"
    L"\t0 turns snapshots off.\n"
    L"\t1 to 21 stores the minimum of 1056 MB.\n"
    L"\t22 to 40 stores the percentage.\n"
    L"\t41 to 99 is refused.\n";

class ShowTest : public ReserveTest {
 protected:
  void SetUp() override {
    ReserveTest::SetUp();
    g_layout = 0;
    TheMachine().registry[kVersionsKey][kReleaseValue] = fake::Text(L"2.1");
  }
  // Nothing but the survey ran, and nothing was written.
  void ExpectNothingChanged() {
    for (const std::wstring& event : TheMachine().events) {
      EXPECT_TRUE(event.rfind(L"print ", 0) == 0 || event.rfind(L"run " + kManagementTool, 0) == 0 ||
                  event.rfind(L"shell ", 0) == 0 || event.rfind(L"open ", 0) == 0 ||
                  event.rfind(L"delete ", 0) == 0 || event.rfind(L"hold file ", 0) == 0 ||
                  event.rfind(L"release .", 0) == 0 || event == L"query VLMRMON")
          << platform::EncodeUtf8(event);
    }
  }
};

TEST_F(ShowTest, ShowsThePolicyThePoolsAndEveryRequest) {
  TheMachine().registry[kPolicyKey21][kAbsoluteValue] = fake::Dword(1056);
  EXPECT_EQ(0, ShowReserve());
  EXPECT_EQ(kShowHead +
                L"Stored minimum amount of pool free space: MinFreespacePerPool = 1056, that is "
                L"1056 MB.\n" +
                kShowTwoPools,
            Printed());
  ExpectNothingChanged();
  EXPECT_EQ(L"delete .\\____HLV__PlexAdm__TempFile.vlmr", EventsFrom(L"delete").front())
      << "the listing file is removed";
}

TEST_F(ShowTest, ShowsEachFormOfTheStoredPolicy) {
  g_layout = 0;
  TheMachine().registry[kVersionsKey][kReleaseValue] = fake::Text(L"2.0");
  const std::wstring percent =
      L"Stored percentage of pool free space reserved for snapshots: MinFreespacePerPoolPercent = ";
  const std::wstring absolute = L"Stored minimum amount of pool free space: MinFreespacePerPool ";
  struct {
    std::vector<std::pair<std::wstring, platform::RegistryValue>> values;
    std::wstring shown;
  } const cases[] = {
      {{}, L"No snapshot reserve policy is stored.\n"},
      {{{kPercentValue, fake::Dword(3000)}}, percent + L"3000, that is 30%.\n"},
      {{{kPercentValue, fake::Dword(3050)}}, percent + L"3050, that is 30.5%.\n"},
      {{{kPercentValue, fake::Dword(3010)}}, percent + L"3010, that is 30.1%.\n"},
      {{{kPercentValue, fake::Dword(5)}}, percent + L"5, that is 0.05%.\n"},
      {{{kPercentValue, fake::Dword(4294967295u)}}, percent + L"4294967295, that is 42949672.95%.\n"},
      {{{kAbsoluteValue, fake::Dword(2048)}}, absolute + L"= 2048, that is 2048 MB.\n"},
      {{{kAbsoluteValue, fake::Text(L"1056")}}, absolute + L"holds no DWORD number.\n"},
      // Two bytes 20,04 would read as 1056; the monitor reads no number there.
      {{{kAbsoluteValue, {platform::kRegDword, {0x20, 0x04}}}},
       absolute + L"holds no DWORD number.\n"},
      {{{kPercentValue, fake::Dword(3000)}, {kAbsoluteValue, fake::Dword(1056)}},
       percent + L"3000, that is 30%.\n" + absolute + L"= 1056, that is 1056 MB.\n"
       L"\aBoth forms of the policy are stored; only one should be.\n"},
  };
  for (const auto& c : cases) {
    TheMachine().registry.erase(kPolicyKey20);
    for (const auto& [name, value] : c.values) TheMachine().registry[kPolicyKey20][name] = value;
    TheMachine().registry[kPolicyKey21][kPercentValue] = fake::Dword(9900);  // the other layout's
    TheMachine().console.clear();
    EXPECT_EQ(0, ShowReserve());
    EXPECT_EQ(L"The installed release is \"2.0\".\n"
              L"Its policy key is HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0.\n" +
                  c.shown + kShowTwoPools,
              Printed());
  }
  ExpectNothingChanged();
}

TEST_F(ShowTest, PrintsEachRunOfRequestsWithTheSameOutcome) {
  const struct {
    std::string listing;
    std::wstring shown;
  } cases[] = {
      {"h\nh\n", L"The smallest free share of any pool is 100%.\n"
           L"The smallest pool capacity is 2147483647 MB.\n"
           L"What each percentage would do on these pools now:\n"
           L"\t0 turns snapshots off.\n\t1 to 99 stores the percentage.\n"},
      {"h\nh\nZero 0 0\nP 1000 900\n",
       L"The smallest free share of any pool is 0%.\n"
       L"The smallest pool capacity is 0 MB.\n"
       L"What each percentage would do on these pools now:\n"
       L"\t0 turns snapshots off.\n\t1 to 99 is refused.\n"},
      {"h\nh\nExact 10560 1056\n",
       L"The smallest free share of any pool is 10%.\n"
       L"The smallest pool capacity is 10560 MB.\n"
       L"What each percentage would do on these pools now:\n"
       L"\t0 turns snapshots off.\n\t1 to 9 stores the minimum of 1056 MB.\n"
       L"\t10 stores the percentage.\n\t11 to 99 is refused.\n"},
      {"h\nh\nOdd -1000 -1000\n",
       L"The smallest free share of any pool is 100%.\n"
       L"The smallest pool capacity is -1000 MB.\n"
       L"What each percentage would do on these pools now:\n"
       L"\t0 turns snapshots off.\n\t1 to 99 stores the minimum of 1056 MB.\n"},
      {"h\nh\nOdd -1000 500\n",
       L"The smallest free share of any pool is -50%.\n"
       L"The smallest pool capacity is -1000 MB.\n"
       L"What each percentage would do on these pools now:\n"
       L"\t0 to 99 is refused.\n"},
  };
  for (const auto& c : cases) {
    Listing(c.listing);
    TheMachine().console.clear();
    EXPECT_EQ(0, ShowReserve());
    EXPECT_EQ(kShowHead + L"No snapshot reserve policy is stored.\n" + kShowRunning + c.shown,
              Printed());
  }
  ExpectNothingChanged();
}

TEST_F(ShowTest, FailedSurveyEndsTheShow) {
  TheMachine().run = [](const std::vector<std::wstring>&) { return platform::RunResult{-1, 2}; };
  TheMachine().service_state = platform::ServiceState::kNotRunning;
  EXPECT_EQ(5, ShowReserve());
  EXPECT_EQ(kShowHead + L"No snapshot reserve policy is stored.\n" +
                L"\aThe monitor service VLMRMON is not running.\n" + L"Error in first spawn.\n",
            Printed());
  ExpectNothingChanged();
}

// What --show predicts for each request, read back from its lines ("\tN what"
// or "\tN to M what"), as the outcome code the request would end with.
std::vector<int> PredictedOutcomes(const std::wstring& shown) {
  const std::pair<std::wstring, int> kWhat[] = {{L"is refused.", 2},
                                                {L"turns snapshots off.", 4},
                                                {L"stores the minimum of 1056 MB.", 3},
                                                {L"stores the percentage.", 0}};
  std::vector<int> outcomes;
  std::wistringstream lines(shown);
  for (std::wstring line; std::getline(lines, line);) {
    if (line.empty() || line[0] != L'\t') continue;
    std::wistringstream words(line.substr(1));
    size_t first = 0;
    size_t last = 0;
    std::wstring word;
    words >> first >> word;
    last = first;
    if (word == L"to") words >> last;
    std::wstring what;
    std::getline(words >> std::ws, what);
    if (word != L"to") what = word + L" " + what;
    int outcome = -100;
    for (const auto& [text, code] : kWhat) {
      if (what == text) outcome = code;
    }
    EXPECT_NE(-100, outcome) << platform::EncodeUtf8(line);
    EXPECT_EQ(outcomes.size(), first) << "runs follow each other";
    for (size_t request = first; request <= last; ++request) outcomes.push_back(outcome);
  }
  return outcomes;
}

// Listings of one to three pools from figures around every edge of the
// decision: no capacity, a reserve of exactly 1056 MB, the 32-bit limits,
// numbers beyond them and negative ones.
std::vector<std::string> PropertyListings() {
  std::vector<std::string> listings = {"h\nh", "h\nh\n", kTwoPools};
  const char* const kFigures[] = {"0",     "1",      "-1",   "3",          "1055",
                                  "1056",  "1057",   "5000", "10560",      "105600",
                                  "105601", "2147483647", "-2147483648", "99999999999",
                                  "-99999999999", "n/a"};
  const std::uint32_t count = sizeof kFigures / sizeof kFigures[0];
  std::uint32_t seed = 2024;
  auto next = [&seed](std::uint32_t below) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % below;
  };
  for (int n = 0; n < 300; ++n) {
    std::string listing = "Name Cap Free\n---- --- ----\n";
    for (std::uint32_t pool = 0, pools = 1 + next(3); pool < pools; ++pool) {
      // Half the figures from the edges, half ordinary pools.
      const std::string capacity =
          next(2) ? kFigures[next(count)] : std::to_string(next(200000));
      const std::string free_space =
          next(2) ? kFigures[next(count)] : std::to_string(next(200000));
      listing += "P" + std::to_string(pool) + " " + capacity + " " + free_space + "\n";
    }
    listings.push_back(listing);
  }
  return listings;
}

TEST_F(ShowTest, EveryRequestDoesWhatShowPredicted) {
  for (const std::string& listing : PropertyListings()) {
    Listing(listing);
    TheMachine().registry.erase(kPolicyKey21);
    TheMachine().console.clear();
    ASSERT_EQ(0, ShowReserve()) << listing;
    const std::vector<int> predicted = PredictedOutcomes(Printed());
    ASSERT_EQ(100u, predicted.size()) << listing;
    for (int request = 0; request < 100; ++request) {
      ASSERT_EQ(predicted[static_cast<size_t>(request)], ApplyReserve(request))
          << "request " << request << " on\n" << listing;
    }
  }
}

}  // namespace
