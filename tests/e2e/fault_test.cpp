// Faults and load on the stand-in machine: a registry save that fails or is
// cut short, a run killed at any moment, many runs at once, and hostile
// working directories. Whatever happens, the registry parses and holds the
// old policy or the new one, and nothing outside the run is touched.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/machine_checks.h"
#include "tests/e2e/scenarios.h"
#include "tests/e2e/stand_in_machine.h"

namespace e2e {
namespace {

const std::string kStoreFailed =
    "\aThe snapshot reserve policy could not be stored.\nNo change effected.\n";

class FaultTest : public testing::Test {
 protected:
  void SetUp() override {
    machine_.InstallTool(kTwoPools, 0);
    machine_.LayRegistry("\"2.1\"", kEmpty, kMinimum);
    // A registry larger than any listing, so that a file size limit between
    // the two stops the registry's new copy and nothing else.
    std::string padding = "\"Padding\"=hex:";
    for (int i = 0; i < 20000; ++i) padding += "00,";
    WriteFile(machine_.registry_path(),
              ReadFile(machine_.registry_path()) +
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Large]\r\n" + padding + "00\r\n");
    before_ = ReadFile(machine_.registry_path());
  }

  // Runs "snapreserve 30" with new files limited to `bytes`; `die` leaves the
  // signal that enforces the limit to kill the tool, as a crash halfway
  // through a write would, else the write fails as on a full disk.
  RunResult RunWithFileSizeLimit(rlim_t bytes, bool die) {
    int output = -1;
    const pid_t pid = machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &output, [bytes, die] {
      const rlimit limit = {bytes, bytes};
      setrlimit(RLIMIT_FSIZE, &limit);
      signal(SIGXFSZ, die ? SIG_DFL : SIG_IGN);
    });
    return Machine::Finish(pid, output);
  }

  std::set<std::string> RootEntries() const { return Entries(machine_.root()); }

  Machine machine_;
  std::string before_;
};

// A program the tool runs that never ends, with the grandchild it started,
// is ended with it when the wait runs out (one second here): a management
// tool fails the survey; a NET that hangs is ended and the status comes from
// the service manager. The grandchild never outlives the run.
TEST_F(FaultTest, ChildThatNeverEndsIsEndedWithAllItStarted) {
  const std::string tool = machine_.root() + "/drive_c/Program Files/Halvorn/Velmora 2.0/plexadm.exe";
  const std::string net = machine_.root() + "/drive_c/WINNT/System32/NET.exe";
  const std::string real_net = machine_.root() + "/drive_c/Real/System32/NET.exe";
  ASSERT_EQ(0, std::system(("mkdir -p \"$(dirname '" + real_net + "')\" && mv '" + net + "' '" +
                            real_net + "'").c_str()));
  const std::string hang = " && { sleep 300 > /dev/null 2>&1 & echo $! > ../grandchild; wait; }";
  const std::string timed_out =
      "\aThe management tool did not finish in 120 seconds; its pool listing is not used.\n";
  const std::string stored = kTwoPools + std::string("New allocated percentage of pool free space "
                                                     "reserved for snapshots is 30%.\n");
  const struct {
    std::string tool, net;
    int status;
    std::string output;
  } cases[] = {
      {"[ -f ____HLV__PlexAdm__TempFile.vlmr ]" + hang, "", 5, kTwoPools + timed_out},
      {"[ ! -f ____HLV__PlexAdm__TempFile.vlmr ]" + hang, "", 5, timed_out},
      {"", "[ \"$1\" = STOP ]" + hang, 0, stored + "The VLMRMON service was started successfully.\n"},
      {"", "[ \"$1\" = START ]" + hang, 7, stored + "The VLMRMON service was stopped successfully.\n"
       "\aThe policy was stored, but the monitor service VLMRMON did not start again.\n"},
      // An interrupt that the tool takes only once its child has ended still
      // stops it, and the listing file goes first.
      {"[ -f ____HLV__PlexAdm__TempFile.vlmr ] && { kill -STOP $PPID; kill -TERM $PPID; "
       "(sleep 0.3; kill -CONT $PPID) & }", "", -1000 - SIGTERM, kTwoPools},
  };
  for (const auto& c : cases) {
    machine_.LayRegistry("\"2.1\"", kEmpty, kMinimum);
    WriteFile(tool, "#!/bin/sh\n" + c.tool + "\ncat \"$(dirname \"$0\")/pools.txt\"\n");
    WriteFile(net, "#!/bin/sh\n" + c.net + "\nexec '" + real_net + "' \"$@\"\n");
    ASSERT_EQ(0, chmod(tool.c_str(), 0755) | chmod(net.c_str(), 0755));
    int output = -1;
    const pid_t pid = machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &output,
                                     [] { setenv("VELMORA_CHILD_WAIT_SECONDS", "1", 1); });
    const RunResult run = Machine::Finish(pid, output);
    EXPECT_EQ(c.status, run.status) << c.tool << c.net;
    EXPECT_EQ(c.output, run.output) << c.tool << c.net;
    EXPECT_EQ(c.status == 0 || c.status == 7 ? kThirty : kMinimum, machine_.PolicyAt(kKey21))
        << c.tool << c.net;
    // The grandchild is gone, or a zombie that only waits to be reaped.
    const std::string left = ReadFile(machine_.root() + "/../grandchild");
    const std::string stat =
        left.empty() ? "" : ReadFile("/proc/" + left.substr(0, left.find('\n')) + "/stat");
    EXPECT_TRUE(stat.find(") S ") == std::string::npos) << c.tool << c.net;
    if (!stat.empty()) kill(std::stoi(left), SIGKILL);
    EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
  }
}

TEST_F(FaultTest, FullDiskLeavesTheRegistryByteForByte) {
  const std::string log = machine_.root() + "/eventlog/Application.log";
  WriteFile(log, std::string(16384 - 40, 'x') + "\n");  // room for part of a line
  const RunResult run = RunWithFileSizeLimit(16384, false);
  EXPECT_EQ(std::string(16384 - 40, 'x') + "\n", ReadFile(log)) << "no half line";
  EXPECT_EQ(kTwoPools + kStoreFailed, run.output);
  EXPECT_EQ(6, run.status);
  EXPECT_EQ(before_, ReadFile(machine_.registry_path()));
  EXPECT_EQ(std::set<std::string>({"drive_c", "eventlog", "services", "system.reg"}), RootEntries());
  EXPECT_EQ("", machine_.ServiceRecord());
}

TEST_F(FaultTest, CrashHalfwayThroughASaveLeavesTheRegistryByteForByte) {
  // The administrator's own copies beside the registry, named as the tool's
  // copies were once named; no save may take them for its own.
  const std::vector<std::string> backups = {"system.reg.backup", "system.reg.bak001"};
  for (const std::string& name : backups) WriteFile(machine_.root() + "/" + name, name + "\n");

  const RunResult run = RunWithFileSizeLimit(16384, true);
  EXPECT_EQ(-1000 - SIGXFSZ, run.status);
  EXPECT_EQ(before_, ReadFile(machine_.registry_path()));
  EXPECT_EQ("", machine_.ServiceRecord());
  std::set<std::string> left = RootEntries();
  for (const char* name : {"drive_c", "eventlog", "services", "system.reg", "system.reg.backup", "system.reg.bak001"}) {
    EXPECT_EQ(1u, left.erase(name)) << name;
  }
  ASSERT_EQ(1u, left.size()) << "the crashed writer's copy";
  EXPECT_EQ(0u, left.begin()->rfind(".system.reg.snapreserve-", 0)) << *left.begin();
  // In its place, a second name of a backup: removed, never written through.
  const std::string copy = machine_.root() + "/" + *left.begin();
  ASSERT_EQ(0, unlink(copy.c_str()));
  ASSERT_EQ(0, link((machine_.root() + "/" + backups[0]).c_str(), copy.c_str()));

  // The next save clears away the copy that the crash left behind, and only that.
  EXPECT_EQ(0, machine_.Run({"30"}).status);
  EXPECT_EQ(kThirty, machine_.PolicyAt(kKey21));
  EXPECT_EQ(std::set<std::string>({"drive_c", "eventlog", "services", "service.log", "system.reg", "system.reg.backup",
                                   "system.reg.bak001"}),
            RootEntries());
  for (const std::string& name : backups) {
    EXPECT_EQ(name + "\n", ReadFile(machine_.root() + "/" + name));
  }
}

TEST_F(FaultTest, KillAtAnyMomentLeavesTheOldPolicyOrTheNew) {
  // Kills spread evenly over one and a half times a whole run (the middle of
  // three), so that some land after the save even on a busy machine.
  std::vector<long> runs_ns;
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, machine_.Run({"30"}).status);
    runs_ns.push_back(static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                            std::chrono::steady_clock::now() - start)
                                            .count()));
  }
  std::sort(runs_ns.begin(), runs_ns.end());
  const long run_ns = runs_ns[1] * 3 / 2;
  const int kKills = 80;
  std::set<std::string> seen;
  for (int i = 0; i < kKills; ++i) {
    WriteFile(machine_.registry_path(), before_);
    int output = -1;
    const pid_t pid = machine_.Start({i % 2 ? "0" : "30"}, {}, SNAPRESERVE_BINARY, &output);
    const long delay = run_ns * i / kKills;
    const timespec pause = {delay / 1000000000L, delay % 1000000000L};
    nanosleep(&pause, nullptr);
    kill(pid, SIGKILL);
    Machine::Finish(pid, output);

    const Policy policy = machine_.PolicyAt(kKey21);
    const Policy stored = i % 2 ? kMinimum : kThirty;
    EXPECT_TRUE(policy == kMinimum || policy == stored) << "kill " << i;
    seen.insert(policy == kMinimum ? "old" : "new");
    platform::RegistryValue value;
    EXPECT_TRUE(platform::FindRegValue(machine_.Registry(), L"SOFTWARE\\Large", L"Padding", &value));
  }
  EXPECT_EQ(std::set<std::string>({"new", "old"}), seen) << "kills before and after the save";
}

TEST_F(FaultTest, ConcurrentRunsLoseNothingAndLeaveOnePolicy) {
  const int kRuns = 32;
  std::vector<pid_t> pids;
  std::vector<int> outputs;
  for (int i = 0; i < kRuns; ++i) {
    const std::string work = machine_.work() + "/" + std::to_string(i);
    mkdir(work.c_str(), 0755);
    // 0 and 15 store the minimum; 20 to 40 a percentage.
    const std::string request = i % 4 == 0 ? "0" : i % 4 == 1 ? "15" : std::to_string(20 + i % 21);
    int output = -1;
    pids.push_back(machine_.Start({request}, {}, SNAPRESERVE_BINARY, &output, nullptr, work));
    outputs.push_back(output);
  }
  // A run that asks about the monitor just after another run stopped it
  // finds it not running, and says so with 7; every run starts it after its
  // own stop, so the last word is a start.
  int confirmed = 0;
  for (size_t i = 0; i < pids.size(); ++i) {
    const int status = Machine::Finish(pids[i], outputs[i]).status;
    EXPECT_TRUE(status == 0 || status == 3 || status == 4 || status == 7) << status;
    if (status != 7) ++confirmed;
  }
  EXPECT_GT(confirmed, 0) << "some run finds the monitor running on its policy";
  EXPECT_EQ("RUNNING\n", machine_.ServiceState());

  const Policy policy = machine_.PolicyAt(kKey21);
  EXPECT_NE(policy.percent == kNone, policy.absolute == kNone) << "exactly one value";
  if (policy.absolute != kNone) {
    EXPECT_EQ(1056, policy.absolute);
  }
  if (policy.percent != kNone) {
    EXPECT_EQ(0, policy.percent % 100);
    EXPECT_GE(policy.percent, 2000);
    EXPECT_LE(policy.percent, 4000);
  }
  const platform::RegFile after = machine_.Registry();
  ExpectUnrelatedValuesKept(true, after, after);
  platform::RegistryValue value;
  EXPECT_TRUE(platform::FindRegValue(after, L"SOFTWARE\\Large", L"Padding", &value));
  EXPECT_EQ(20001u, value.data.size());
  for (int i = 0; i < kRuns; ++i) {
    EXPECT_EQ(std::set<std::string>(), Entries(machine_.work() + "/" + std::to_string(i)));
  }
  EXPECT_EQ(std::set<std::string>({"drive_c", "eventlog", "services", "service.log", "system.reg"}), RootEntries());
}

TEST_F(FaultTest, RemovedWorkingDirectoryFailsTheSurveyAndTouchesNothing) {
  const std::string gone = machine_.work() + "/gone";
  mkdir(gone.c_str(), 0755);
  int output = -1;
  const pid_t pid = machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &output,
                                   [gone] { rmdir(gone.c_str()); }, gone);
  const RunResult run = Machine::Finish(pid, output);
  EXPECT_EQ(kTwoPools, run.output);
  EXPECT_EQ(5, run.status);
  EXPECT_EQ(before_, ReadFile(machine_.registry_path()));
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
  EXPECT_EQ(std::set<std::string>({"drive_c", "eventlog", "services", "system.reg"}), RootEntries());
}

// Every lock a user who may only read the registry can take: its folder and
// the file itself, through descriptors open for reading. None holds a store
// back.
TEST_F(FaultTest, LocksAnyReaderCanTakeNeverHoldAStoreBack) {
  const int folder = open(machine_.root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int file = open(machine_.registry_path().c_str(), O_RDONLY | O_CLOEXEC);
  struct flock shared = {};
  shared.l_type = F_RDLCK;
  ASSERT_EQ(0, flock(folder, LOCK_EX));
  ASSERT_EQ(0, flock(file, LOCK_EX));
  ASSERT_EQ(0, fcntl(file, F_OFD_SETLK, &shared));
  int output = -1;
  const pid_t pid = machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &output, [] { alarm(30); });
  EXPECT_EQ(0, Machine::Finish(pid, output).status);
  EXPECT_EQ(kThirty, machine_.PolicyAt(kKey21));
  close(file);
  close(folder);
}

// Another store that keeps the lock, as one stuck would: the new copy,
// write-locked. While the run waits for it an interrupt still stops it; left
// alone, it gives up within seconds, storing nothing and leaving the monitor
// alone. The alarm ends a run that would wait on.
TEST_F(FaultTest, StoreWaitsForAnotherOnlyAWhileAndCanBeStoppedMeanwhile) {
  const int held = open((machine_.root() + "/.system.reg.snapreserve-new").c_str(),
                        O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  struct flock exclusive = {};
  exclusive.l_type = F_WRLCK;
  ASSERT_EQ(0, fcntl(held, F_OFD_SETLK, &exclusive));
  int output = -1;
  const pid_t stopped = machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &output, [] { alarm(30); });
  sleep(2);  // the survey is over; the store waits
  kill(stopped, SIGTERM);
  EXPECT_EQ(-1000 - SIGTERM, Machine::Finish(stopped, output).status);
  const pid_t waiting = machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &output, [] { alarm(30); });
  const RunResult run = Machine::Finish(waiting, output);
  close(held);
  EXPECT_EQ(kTwoPools + std::string("\aThe registry is locked by another run of snapreserve.\n") + kStoreFailed,
            run.output);
  EXPECT_EQ(6, run.status);
  EXPECT_EQ(before_, ReadFile(machine_.registry_path()));
  EXPECT_EQ("", machine_.ServiceRecord());
}

// A file bind-mounted over system.reg, as a container is handed one file,
// in a mount namespace of the run's own: no rename can replace it, so the
// check says 6, as the request then ends, and the file is left as it was.
TEST_F(FaultTest, CheckSaysARequestFailsOnABindMountedRegistry) {
  const std::string handed = machine_.root() + "/../handed.reg";
  WriteFile(handed, before_);
  const std::string mount = "mount --bind '" + handed + "' '" + machine_.registry_path() + "'";
  if (geteuid() != 0 ||
      std::system(("unshare -m --propagation private /bin/sh -c \"" + mount + "\"").c_str()) != 0) {
    GTEST_SKIP() << "needs root and a mount namespace of its own: " << mount;
  }
  const std::vector<std::string> in_namespace = {
      "unshare", "-m", "--propagation", "private", "/bin/sh", "-c", mount + " && exec \"$0\" \"$@\""};
  const RunResult check = machine_.Run({"-c", "30"}, in_namespace);
  const RunResult request = machine_.Run({"30"}, in_namespace);
  EXPECT_EQ(kTwoPools + std::string("A request of 30% would fail: this user may not store "
                                    "MinFreespacePerPoolPercent = 3000 under HKEY_LOCAL_MACHINE\\"
                                    "SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies.\n"),
            check.output);
  EXPECT_EQ(6, check.status);
  EXPECT_EQ(kTwoPools + kStoreFailed, request.output);
  EXPECT_EQ(6, request.status);
  EXPECT_EQ(before_, ReadFile(handed));
  EXPECT_EQ(before_, ReadFile(machine_.registry_path()));
  EXPECT_EQ("", machine_.ServiceRecord());
}

}  // namespace
}  // namespace e2e
