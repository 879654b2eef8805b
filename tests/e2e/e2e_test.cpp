// Drives the built tool on scratch stand-in machines and inspects each machine
// afterwards: standard output, exit status, the registry file, the monitor
// service's record and what is left in the working directory.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>

#include "platform/stand_in/reg_file.h"
#include "tests/e2e/machine_checks.h"
#include "tests/e2e/scenarios.h"
#include "tests/e2e/stand_in_machine.h"

namespace e2e {
namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SNAPRESERVE_UNDER_ASAN 1
#endif
#endif
#if defined(SNAPRESERVE_UNDER_ASAN) || defined(__SANITIZE_ADDRESS__)
const bool kUnderAddressSanitizer = true;
#else
const bool kUnderAddressSanitizer = false;
#endif

const std::string kStopMessage = "The VLMRMON service was stopped successfully.\n";
const std::string kStartMessage = "The VLMRMON service was started successfully.\n";
const std::string kStartFailed =
    "System error 2 has occurred.\n\nThe system cannot find the file specified.\n";

class ScenarioTest : public testing::TestWithParam<Scenario> {};

TEST_P(ScenarioTest, LeavesTheMachineAsExpected) {
  const Scenario& s = GetParam();
  Machine machine;
  machine.UseLayout(s.layout);
  if (s.installed) machine.InstallTool(s.listing, s.tool_exit);
  if (!s.monitor_starts) machine.RemoveMonitorProgram();
  if (!s.monitor_running) WriteFile(machine.root() + "/services/VLMRMON", "STOPPED\n");
  machine.LayRegistry(s.release, s.before20, s.before21);
  const std::string registry_before = ReadFile(machine.registry_path());

  const RunResult run = machine.Run(s.args);

  const std::string expected =
      ExpectedOutput(s, SNAPRESERVE_BINARY, kStopMessage, kStartMessage, kStartFailed);
  if (IsReport(expected)) {
    ExpectReport(run.output, expected);
  } else {
    EXPECT_EQ(expected, run.output);
  }
  if (s.errors != kAnyErrors) {
    EXPECT_EQ(ExpectedOutput(s, SNAPRESERVE_BINARY, kStopMessage, kStartMessage, kStartFailed,
                             &s.errors),
              run.errors);
  }
  EXPECT_EQ(s.status & 0xFF, run.status);
  EXPECT_EQ(s.after20, machine.PolicyAt(kKey20));
  EXPECT_EQ(s.after21, machine.PolicyAt(kKey21));

  if (!Stores(s)) {
    EXPECT_EQ(registry_before, ReadFile(machine.registry_path())) << "registry untouched";
  }
  const platform::RegFile after = machine.Registry();
  ExpectUnrelatedValuesKept(!s.release.empty(), after, after);
  EXPECT_EQ(ExpectedRecord(s), machine.ServiceRecord());
  const bool runs_after = Stores(s) ? s.monitor_starts : s.monitor_running;
  EXPECT_EQ(runs_after ? "RUNNING\n" : "STOPPED\n", machine.ServiceState());

  ExpectEvents(s, machine.Events());

  EXPECT_EQ(std::set<std::string>(), Entries(machine.work())) << "nothing left behind";
  std::set<std::string> root = {"drive_c", "eventlog", "services", "system.reg"};
  if (Stores(s)) root.insert("service.log");
  EXPECT_EQ(root, Entries(machine.root()));
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ScenarioTest, testing::ValuesIn(Scenarios()),
                         [](const testing::TestParamInfo<Scenario>& param) {
                           return std::string(param.param.name);
                         });

// Single cases that only this stand-in machine can show.

class StandInMachineTest : public testing::Test {
 protected:
  void SetUp() override {
    machine_.InstallTool(kTwoPools, 0);
    machine_.LayRegistry("\"2.1\"", kEmpty, kMinimum);
  }
  // Runs the tool as a user without root's right to write anywhere: nobody,
  // with a copy of the tool that nobody can reach wherever the build lies.
  RunResult RunAsAnotherUser(const std::vector<std::string>& args, const std::string& uid = "65534") {
    if (geteuid() != 0 || uid == "0") return machine_.Run(args);
    const std::string program = machine_.root() + "/../snapreserve";
    EXPECT_EQ(0, std::system(("cp '" SNAPRESERVE_BINARY "' '" + program + "'").c_str()));
    chmod((machine_.root() + "/..").c_str(), 0755);
    const RunResult run = machine_.Run(
        args, {"/usr/bin/setpriv", "--reuid=" + uid, "--regid=" + uid, "--clear-groups"}, program);
    unlink(program.c_str());
    return run;
  }
  std::string ToolPath() const {
    return machine_.root() + "/drive_c/Program Files/Halvorn/Velmora 2.0/plexadm.exe";
  }
  // A management tool that prints the pools, then runs `command` in the shell.
  void InstallToolThatRuns(const std::string& command) {
    WriteFile(ToolPath(), "#!/bin/sh\ncat \"$(dirname \"$0\")/pools.txt\"\n" + command + "\n");
    chmod(ToolPath().c_str(), 0755);
  }
  Machine machine_;
};

// What stands at `path`: a FIFO, a link and where it leads, or a file.
std::string Node(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return "nothing";
  if (S_ISFIFO(info.st_mode)) return "FIFO";
  if (!S_ISLNK(info.st_mode)) return "file";
  char target[256] = {};
  if (readlink(path.c_str(), target, sizeof target - 1) < 0) return "link";
  return "link to " + std::string(target);
}

TEST_F(StandInMachineTest, Utf16RegistryKeepsItsEncoding) {
  const std::wstring text =
      L"Windows Registry Editor Version 5.00\r\n\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Corridan\\Versions]\r\n\"VLMR\"=\"2.1\"\r\n\r\n";
  std::string bytes = "\xFF\xFE";
  for (wchar_t c : text) bytes += {static_cast<char>(c), '\0'};
  WriteFile(machine_.registry_path(), bytes);

  EXPECT_EQ(0, machine_.Run({"30"}).status);
  const std::string after = ReadFile(machine_.registry_path());
  ASSERT_GT(after.size(), bytes.size());
  EXPECT_EQ(bytes, after.substr(0, bytes.size())) << "header and earlier lines kept";
  EXPECT_EQ(kThirty, machine_.PolicyAt(kKey21));
}

TEST_F(StandInMachineTest, RegistryThatDoesNotParseIsNamedAndNeverRewritten) {
  const std::string broken = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n\"VLMR\"=oops\n";
  WriteFile(machine_.registry_path(), broken);
  const RunResult run = machine_.Run({"30"});
  std::string usage = kUsage;
  Replace(&usage, "@PROG@", SNAPRESERVE_BINARY);
  EXPECT_EQ("\aThe registry file " + machine_.registry_path() +
                " does not parse at line 4.\n" + usage,
            run.output);
  EXPECT_EQ(255, run.status);
  EXPECT_EQ(broken, ReadFile(machine_.registry_path()));
}

TEST_F(StandInMachineTest, LinkedRegistryStaysALinkAndItsFileIsChanged) {
  // system.reg linked to a file in a folder of its own, by a link relative to
  // the root rather than to the tool's working directory.
  const std::string folder = machine_.root() + "/managed";
  const std::string link = "managed/velmora.reg";
  ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
  ASSERT_EQ(0, rename(machine_.registry_path().c_str(), (folder + "/velmora.reg").c_str()));
  ASSERT_EQ(0, symlink(link.c_str(), machine_.registry_path().c_str()));

  EXPECT_EQ(0, machine_.Run({"30"}).status);
  struct stat info;
  ASSERT_EQ(0, lstat(machine_.registry_path().c_str(), &info));
  EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link stays a link";
  char points_to[256] = {};
  EXPECT_EQ(static_cast<ssize_t>(link.size()),
            readlink(machine_.registry_path().c_str(), points_to, sizeof points_to - 1));
  EXPECT_EQ(link, points_to);
  EXPECT_EQ(kThirty, PolicyIn(ParsedExport(ReadFile(folder + "/velmora.reg")), kKey21));
  EXPECT_EQ(std::set<std::string>({"velmora.reg"}), Entries(folder)) << "no copy left";
  EXPECT_EQ(std::set<std::string>({"drive_c", "eventlog", "services", "managed", "service.log", "system.reg"}),
            Entries(machine_.root()));
}

// A machine without its registry file says nothing of it; a root that does
// not exist is named, with the file looked for.
TEST_F(StandInMachineTest, MissingRegistryIsEmpty) {
  unlink(machine_.registry_path().c_str());
  const RunResult run = machine_.Run({"30"});
  EXPECT_EQ(255, run.status);
  EXPECT_EQ(std::string::npos, run.output.find("names no machine"));
  EXPECT_EQ(std::set<std::string>({"drive_c", "eventlog", "services"}), Entries(machine_.root()));
  const std::string nowhere = machine_.root() + "/nowhere";
  EXPECT_EQ("\aThe registry file " + nowhere + "/system.reg does not exist: no machine is there "
            "(VELMORA_ROOT names the machine's folder).\n\aNo installed release could be read from HKEY_LOCAL_MACHINE\\SOFTWARE\\"
            "Halvorn\\Corridan\\Versions\\VLMR.\n",
            machine_.Run({"--show"}, {"env", "VELMORA_ROOT=" + nowhere}).output);
}

TEST_F(StandInMachineTest, RegistryRemovedBeforeTheStoreIsEmptyAndTheStoreMakesIt) {
  InstallToolThatRuns("rm -f \"$VELMORA_ROOT/system.reg\"");
  EXPECT_EQ(0, machine_.Run({"30"}).status);
  EXPECT_EQ(kThirty, machine_.PolicyAt(kKey21));
  EXPECT_EQ(kEmpty, machine_.PolicyAt(kKey20));
}

TEST_F(StandInMachineTest, SaveKeepsTheRegistryFilesModeAndOwner) {
  const std::string path = machine_.registry_path();
  ASSERT_EQ(0, chmod(path.c_str(), 0640));
  // Only root can give the file to another user (nobody); anyone else keeps it.
  const uid_t owner = geteuid() == 0 ? 65534 : geteuid();
  const gid_t group = geteuid() == 0 ? 65534 : getegid();
  ASSERT_EQ(0, chown(path.c_str(), owner, group));
  ASSERT_EQ(0, setxattr(path.c_str(), "user.kept", "1", 1, 0));
  EXPECT_EQ(0, machine_.Run({"30"}).status);
  char kept[2] = {};
  EXPECT_EQ(1, getxattr(path.c_str(), "user.kept", kept, sizeof kept));
  struct stat info;
  ASSERT_EQ(0, stat(path.c_str(), &info));
  EXPECT_EQ(0640u, info.st_mode & 07777);
  EXPECT_EQ(owner, info.st_uid);
  EXPECT_EQ(group, info.st_gid);
  EXPECT_EQ(kThirty, machine_.PolicyAt(kKey21));
}

// A system.reg that is no regular file, there from the start or put there
// by the management tool between the release read and the store: a FIFO
// would wait for a writer, /dev/zero never ends, a link to itself cannot be
// opened. Each is refused as an unreadable registry and left as it is. The
// alarm and the memory limit end a run that waits or reads on.
TEST_F(StandInMachineTest, RegistryThatIsNoRegularFileIsRefusedAndLeftAsItIs) {
  // The zero device. Root links to a node of its own beside the machine:
  // were the tool ever to save through a link to /dev/zero, as root it would
  // replace the real one. Other users cannot write /dev.
  std::string zero = "/dev/zero";
  if (geteuid() == 0) {
    zero = machine_.root() + "/../zero";
    ASSERT_EQ(0, mknod(zero.c_str(), S_IFCHR | 0666, makedev(1, 5)));
  }
  const struct {
    const char* plant;  // in the shell, with $R the registry's path and $Z the zero device
    bool before_the_store;
    const char* node;  // what stands there, before the run and after it
  } cases[] = {
      {"rm \"$R\" && mkfifo \"$R\"", false, "FIFO"},
      {"rm \"$R\" && mkfifo \"$R\"", true, "FIFO"},
      {"ln -sfn \"$Z\" \"$R\"", false, "link to $Z"},
      {"ln -sfn \"$Z\" \"$R\"", true, "link to $Z"},
      {"ln -sfn system.reg \"$R\"", false, "link to system.reg"},
      {"ln -sfn system.reg \"$R\"", true, "link to system.reg"},
  };
  const std::string not_stored =
      kTwoPools + std::string("\aThe snapshot reserve policy could not be stored.\n"
                              "No change effected.\n");
  std::string usage = kUsage;
  Replace(&usage, "@PROG@", SNAPRESERVE_BINARY);
  const std::string path = machine_.registry_path();
  for (const auto& c : cases) {
    const std::string plant =
        "R=\"$VELMORA_ROOT/system.reg\"; Z='" + zero + "'; " + std::string(c.plant);
    std::string node = c.node;
    Replace(&node, "$Z", zero);
    InstallToolThatRuns(c.before_the_store ? plant : "");
    unlink(path.c_str());
    unlink((machine_.root() + "/service.log").c_str());
    machine_.LayRegistry("\"2.1\"", kEmpty, kMinimum);
    if (!c.before_the_store) {
      ASSERT_EQ(0, std::system(("VELMORA_ROOT='" + machine_.root() + "'; " + plant).c_str()));
    }
    int output = -1;
    const pid_t pid = machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &output, [] {
      // AddressSanitizer maps its shadow memory before the tool starts, far
      // beyond any limit on the address space; it keeps an eye on memory
      // itself.
      if (kUnderAddressSanitizer) {
        setenv("ASAN_OPTIONS", "hard_rss_limit_mb=1024", 1);
      } else {
        const rlimit memory = {1 << 30, 1 << 30};
        setrlimit(RLIMIT_AS, &memory);
      }
      alarm(10);
    });
    const RunResult run = Machine::Finish(pid, output);
    const std::string what = plant + (c.before_the_store ? " before the store" : " at the start");
    EXPECT_EQ(c.before_the_store ? not_stored : usage, run.output) << what;
    EXPECT_EQ(c.before_the_store ? 6 : 255, run.status) << what;
    EXPECT_EQ(node, Node(path)) << what;
    EXPECT_EQ("", machine_.ServiceRecord()) << what;
    EXPECT_EQ(std::set<std::string>({"drive_c", "eventlog", "services", "system.reg"}), Entries(machine_.root())) << what;
  }
}

// A registry file too large to hold in memory, 3 GiB where the run may map
// 2, there from the start or grown by the management tool before the store:
// refused as an unreadable registry, as above, and left as it is.
TEST_F(StandInMachineTest, RegistryTooLargeToHoldIsRefusedAndLeftAsItIs) {
  if (kUnderAddressSanitizer) {
    GTEST_SKIP() << "AddressSanitizer ends a run whose memory runs out";
  }
  const std::string path = machine_.registry_path();
  const std::string size = std::to_string(3LL << 30);
  std::string usage = kUsage;
  Replace(&usage, "@PROG@", SNAPRESERVE_BINARY);
  for (const bool before_the_store : {false, true}) {
    machine_.LayRegistry("\"2.1\"", kEmpty, kMinimum);
    InstallToolThatRuns(before_the_store ? "truncate -s " + size + " \"$VELMORA_ROOT/system.reg\"" : "");
    if (!before_the_store) {
      ASSERT_EQ(0, truncate(path.c_str(), std::stoll(size)));
    }
    struct stat laid = {}, left = {};
    stat(path.c_str(), &laid);
    int output = -1;
    const pid_t pid = machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &output, [] {
      const rlimit memory = {2UL << 30, 2UL << 30};
      setrlimit(RLIMIT_AS, &memory);
      alarm(30);
    });
    const RunResult run = Machine::Finish(pid, output);
    EXPECT_EQ(before_the_store ? kTwoPools + std::string("\aThe snapshot reserve policy could not "
                                                         "be stored.\nNo change effected.\n")
                               : usage,
              run.output);
    EXPECT_EQ(before_the_store ? 6 : 255, run.status);
    ASSERT_EQ(0, stat(path.c_str(), &left));
    EXPECT_EQ(laid.st_ino, left.st_ino);
    EXPECT_EQ(std::stoll(size), left.st_size);
    EXPECT_EQ("", machine_.ServiceRecord());
    EXPECT_EQ(0u, Entries(machine_.root()).count(".system.reg.snapreserve-new"));
  }
}

TEST_F(StandInMachineTest, RunUnderAParentThatIgnoresEndedChildrenSucceeds) {
  // A parent that ignores SIGCHLD hands that on: children would be reaped by
  // the kernel before the tool could learn how they ended.
  int output = -1;
  const pid_t pid = machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &output,
                                   [] { signal(SIGCHLD, SIG_IGN); });
  const RunResult run = Machine::Finish(pid, output);
  std::string expected = Stored(30);
  Replace(&expected, "@LISTING@", kTwoPools);
  Replace(&expected, "@STOP@", kStopMessage);
  Replace(&expected, "@START@", kStartMessage);
  EXPECT_EQ(expected, run.output);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(kThirty, machine_.PolicyAt(kKey21));
  EXPECT_EQ("STOP VLMRMON\nSTART VLMRMON MinFreespacePerPoolPercent=3000 MinFreespacePerPool=none\n",
            machine_.ServiceRecord());
}


TEST_F(StandInMachineTest, OutputsTheCallerClosedLeaveTheStatusAsItIs) {
  // `snapreserve 30 | head -n 0`: the reader is gone before the first line.
  int output = -1;
  const pid_t pid = machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &output,
                                   [] { signal(SIGPIPE, SIG_DFL); });
  close(output);
  EXPECT_EQ(0, Machine::Finish(pid, -1).status);
  EXPECT_EQ(kThirty, machine_.PolicyAt(kKey21));
  EXPECT_EQ("RUNNING\n", machine_.ServiceState());
  // `snapreserve --json --check 30 2>&-`: the listing has nowhere to go.
  const pid_t check = machine_.Start({"--json", "--check", "30"}, {}, SNAPRESERVE_BINARY,
                                     &output, [] { close(2); });
  const RunResult run = Machine::Finish(check, output);
  EXPECT_EQ(8, run.status);
  EXPECT_NE(std::string::npos, run.output.find("\"survey\": {\n    \"ran\": true,\n    \"ok\": true"))
      << run.output;
  // `snapreserve --check 30 >&-`: the listing file never takes the place of the output.
  const pid_t closed = machine_.Start({"--check", "30"}, {}, SNAPRESERVE_BINARY, &output,
                                      [] { close(1); });
  EXPECT_EQ(8, Machine::Finish(closed, output).status);
}
TEST_F(StandInMachineTest, LinkAtTheListingNameIsReplacedNotFollowed) {
  const std::string target = machine_.root() + "/precious";
  WriteFile(target, "do not touch\n");
  ASSERT_EQ(0, symlink(target.c_str(), (machine_.work() + "/" + kListingName).c_str()));
  EXPECT_EQ(0, machine_.Run({"30"}).status);
  EXPECT_EQ("do not touch\n", ReadFile(target));
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
}

TEST_F(StandInMachineTest, ListingPlantedAfterTheLeftoverGoesIsNeverDecidedOn) {
  // Someone who can make files in the working folder, but not write the
  // tool's own, waits for the leftover to go and then, after a delay, puts
  // at the name a listing (or a hard link to one) with room for 90%. On
  // these pools, 40% free at most, 90% must never be stored: the run either
  // refuses or finds the name taken.
  const std::string name = machine_.work() + "/" + kListingName;
  const std::string roomy = machine_.root() + "/roomy";
  WriteFile(roomy, "h\nh\nRoomy 1000 990\n");
  const std::string before = ReadFile(machine_.registry_path());
  for (const std::string& plant : {"set -C; cat '" + roomy + "' > ", "ln '" + roomy + "' "}) {
    for (const char* delay : {"0", "0.0005", "0.001", "0.002", "0.005", "0", "0.001", "0.002"}) {
      WriteFile(name, "h\nh\nStale 1000 10\n");
      int planted = -1;
      const pid_t planter = StartProgram(
          {"timeout", "20", "sh", "-c",
           std::string("while [ -e ") + kListingName + " ]; do :; done; sleep " + delay + "; " +
               plant + kListingName},
          machine_.work(), nullptr, &planted);
      const RunResult run = machine_.Run({"90"});
      FinishProgram(planter, planted);
      EXPECT_TRUE(run.status == 2 || run.status == 5) << plant << delay << ": " << run.status;
      if (run.status == 5) {
        EXPECT_EQ(kTwoPools + std::string("Error in second spawn.\n"), run.output);
      }
      EXPECT_EQ(before, ReadFile(machine_.registry_path()));
      EXPECT_EQ("h\nh\nRoomy 1000 990\n", ReadFile(roomy)) << "never written through";
      unlink(name.c_str());
    }
  }
  EXPECT_EQ("", machine_.ServiceRecord());
}

TEST_F(StandInMachineTest, TwoRunsInOneFolderNeverShareAListing) {
  // A slow management tool, and a second run started while the first one's
  // listing run goes on: the second finds the name taken, as on Windows,
  // and the first is undisturbed.
  const std::string tool = machine_.root() +
                           "/drive_c/Program Files/Halvorn/Velmora 2.0/plexadm.exe";
  WriteFile(tool, "#!/bin/sh\nsleep 1\ncat \"$(dirname \"$0\")/pools.txt\"\n");
  chmod(tool.c_str(), 0755);
  int first_output = -1, second_output = -1;
  const pid_t first = machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &first_output);
  usleep(500000);  // so that its leftover check falls in the first run's listing run
  const pid_t second = machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &second_output);
  const RunResult second_run = Machine::Finish(second, second_output);
  const RunResult first_run = Machine::Finish(first, first_output);
  EXPECT_EQ(0, first_run.status);
  EXPECT_EQ(5, second_run.status);
  EXPECT_EQ(kTwoPools + std::string("Error in second spawn.\n"), second_run.output);
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
}

TEST_F(StandInMachineTest, InterruptDuringTheStopStillStartsTheMonitor) {
  // A NET command that interrupts the tool while it stops the monitor, as a
  // Ctrl+C at the console would reach both, then does its work.
  const std::string net = machine_.root() + "/drive_c/WINNT/System32/NET.exe";
  const std::string real = machine_.root() + "/drive_c/Real/System32/NET.exe";
  ASSERT_EQ(0, std::system(("mkdir -p \"$(dirname '" + real + "')\" && mv '" + net + "' '" +
                            real + "'").c_str()));
  // Last, the interrupt reaches NET STOP too, which keeps its default
  // handling and ends; the start follows all the same.
  const std::string start = "START VLMRMON MinFreespacePerPoolPercent=3000 MinFreespacePerPool=none\n";
  for (const std::string signal :
       {"kill -INT $PPID", "kill -TERM $PPID", "kill -HUP $PPID", "kill -QUIT $PPID",
        "kill -PIPE $PPID", "kill -INT $PPID && kill -INT $$"}) {
    WriteFile(net, "#!/bin/sh\n[ \"$1\" = STOP ] && " + signal + "\nexec '" + real + "' \"$@\"\n");
    chmod(net.c_str(), 0755);
    unlink((machine_.root() + "/service.log").c_str());
    const RunResult run = machine_.Run({"30"});
    EXPECT_EQ(0, run.status) << signal;
    const bool stop_ended = signal.find("$$") != std::string::npos;
    EXPECT_EQ(stop_ended ? start : "STOP VLMRMON\n" + start, machine_.ServiceRecord()) << signal;
    EXPECT_EQ("RUNNING\n", machine_.ServiceState()) << signal;
  }
}

TEST_F(StandInMachineTest, StaleListingIsOverwrittenAndRemoved) {
  WriteFile(machine_.work() + "/" + kListingName, "h\nh\nFull 1000 0\n");
  EXPECT_EQ(0, machine_.Run({"30"}).status);
  EXPECT_EQ(kThirty, machine_.PolicyAt(kKey21));
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
}

TEST_F(StandInMachineTest, ListingIsReadableByItsOwnerOnly) {
  // A management tool that reports the listing file's mode while it writes it.
  const std::string tool = machine_.root() +
                           "/drive_c/Program Files/Halvorn/Velmora 2.0/plexadm.exe";
  WriteFile(tool, "#!/bin/sh\ncat \"$(dirname \"$0\")/pools.txt\"\n"
                  "stat -c %a ____HLV__PlexAdm__TempFile.vlmr >> ../modes 2>/dev/null\n");
  chmod(tool.c_str(), 0755);
  EXPECT_EQ(0, machine_.Run({"30"}).status);
  EXPECT_EQ("600\n", ReadFile(machine_.work() + "/../modes"));
}

TEST_F(StandInMachineTest, FifoPutAtTheListingNameFailsTheSurveyAtOnce) {
  // A management tool that, on its second run, puts a FIFO where the shell
  // had just created the listing. Reading it would wait for a writer that
  // never comes; the alarm ends the run should it wait.
  const std::string tool = machine_.root() +
                           "/drive_c/Program Files/Halvorn/Velmora 2.0/plexadm.exe";
  WriteFile(tool, "#!/bin/sh\ncat \"$(dirname \"$0\")/pools.txt\"\n"
                  "[ -e ../ran ] || { touch ../ran; exit 0; }\n"
                  "rm -f ____HLV__PlexAdm__TempFile.vlmr\n"
                  "mkfifo ____HLV__PlexAdm__TempFile.vlmr\n");
  chmod(tool.c_str(), 0755);
  const std::string before = ReadFile(machine_.registry_path());
  int output = -1;
  const pid_t pid =
      machine_.Start({"30"}, {}, SNAPRESERVE_BINARY, &output, [] { alarm(20); });
  const RunResult run = Machine::Finish(pid, output);
  EXPECT_EQ(kTwoPools, run.output);
  EXPECT_EQ(5, run.status);
  EXPECT_EQ(before, ReadFile(machine_.registry_path()));
  EXPECT_EQ("", machine_.ServiceRecord());
  // The tool's own listing is gone; what took its name is not the tool's to
  // remove (it could be another run's listing).
  EXPECT_EQ(std::set<std::string>({kListingName}), Entries(machine_.work()));
}

TEST_F(StandInMachineTest, ListingThatCannotBeWrittenFailsTheSurvey) {
  if (geteuid() == 0) {
    // Root writes anywhere: make the name a directory, which no listing opens.
    ASSERT_EQ(0, mkdir((machine_.work() + "/" + kListingName).c_str(), 0755));
  } else {
    chmod(machine_.work().c_str(), 0555);
  }
  const std::string before = ReadFile(machine_.registry_path());
  const RunResult run = machine_.Run({"30"});
  EXPECT_EQ(5, run.status);
  EXPECT_EQ(kTwoPools, run.output);
  EXPECT_EQ(before, ReadFile(machine_.registry_path()));
  EXPECT_EQ("", machine_.ServiceRecord());
}

TEST_F(StandInMachineTest, PolicyThatCannotBeStoredIsReportedAndChangesNothing) {
  // The registry's folder is closed to the user who runs the tool, so the
  // store cannot be saved.
  chmod(machine_.work().c_str(), 0777);
  chmod(machine_.registry_path().c_str(), 0644);
  chmod(machine_.root().c_str(), 0555);
  chmod((machine_.root() + "/eventlog").c_str(), 01777);  // any user may write the log: no event
  const std::string before = ReadFile(machine_.registry_path());
  const RunResult run = RunAsAnotherUser({"30"});
  chmod(machine_.root().c_str(), 0755);
  EXPECT_EQ(kTwoPools + std::string("\aThe snapshot reserve policy could not be stored.\n"
                                    "No change effected.\n"),
            run.output);
  EXPECT_EQ(6, run.status);
  EXPECT_EQ("\aThe request was not recorded in the Application log: others than its owner may "
            "write the event log or its folder.\n", run.errors);
  EXPECT_EQ(std::vector<std::string>(), machine_.Events());
  EXPECT_EQ(before, ReadFile(machine_.registry_path()));
  EXPECT_EQ("", machine_.ServiceRecord());
  EXPECT_EQ(std::set<std::string>({"drive_c", "eventlog", "services", "system.reg"}), Entries(machine_.root()));
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
}

// The audit log only where no one but the machine's owner (or root) may write
// it: its folder made where missing, each request's line appended, by number
// for a user without a name; anything else refused and said, the status
// standing.
TEST_F(StandInMachineTest, EventsGoOnlyWhereTheMachinesOwnerAloneMayWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the log to other users";
  const std::string other_name = "the event log is a link or no regular file, or has another name";
  const struct { std::string plant, refused, uid; } rows[] = {
      {"rm -r eventlog", "", "0"},
      {"touch eventlog/Application.log && chmod 0664 eventlog/Application.log",
       "others than its owner may write the event log or its folder", "0"},
      {"touch ../kept && ln ../kept eventlog/Application.log", other_name, "0"},
      {"ln -s ../kept eventlog/Application.log", other_name, "0"},
      {"chown 65534 eventlog", "the event log or its folder belongs to another user than the machine's owner", "0"},
      {"chown -R 12345 . ../work", "", "12345"},
  };
  for (const auto& row : rows) {
    ASSERT_EQ(0, std::system(("cd '" + machine_.root() + "' && rm -rf eventlog && mkdir eventlog && " + row.plant).c_str()));
    RunResult run = RunAsAnotherUser({"30"}, row.uid);
    run = RunAsAnotherUser({"30"}, row.uid);
    EXPECT_EQ(row.refused.empty() ? "" : "\aThe request was not recorded in the Application log: " + row.refused + ".\n", run.errors);
    const std::vector<std::string> events = machine_.Events();
    ASSERT_EQ(row.refused.empty() ? 2u : 0u, events.size()) << row.plant;
    EXPECT_TRUE(events.empty() ||
                events[1].substr(events[1].rfind('|')) == "| " + std::to_string(run.status));
  }
}

TEST_F(StandInMachineTest, CheckSaysWhereThisUserMayNotStoreThePolicy) {
  // The registry's folder closed to the user, as in the test above: the
  // request would fail, so the check ends with 6; a policy already in effect
  // needs no rights, so that check still says 8.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
  chmod(machine_.work().c_str(), 0777);
  chmod(machine_.registry_path().c_str(), 0644);
  chmod(machine_.root().c_str(), 0555);
  const std::string before = ReadFile(machine_.registry_path());
  const RunResult check = RunAsAnotherUser({"-c", "30"});
  const RunResult in_effect = RunAsAnotherUser({"-c", "15"});
  const RunResult report = RunAsAnotherUser({"-j", "-c", "30"});
  chmod(machine_.root().c_str(), 0755);
  EXPECT_EQ(kTwoPools + std::string("A request of 30% would fail: this user may not store "
                                    "MinFreespacePerPoolPercent = 3000 under HKEY_LOCAL_MACHINE\\"
                                    "SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies.\n"),
            check.output);
  EXPECT_EQ(6, check.status);
  EXPECT_EQ(8, in_effect.status);
  EXPECT_EQ(6, report.status);
  ExpectReport(report.output,
               Report("check", 6, R"("2.1")", JsonKey(kKey21), JsonPolicy(kMinimum),
                      kSurveyTwoPools,
                      CheckFields(30, R"("percentage")", "MinFreespacePerPoolPercent", 3000,
                                  "null", false, "false")));
  EXPECT_EQ(kTwoPools, report.errors);
  EXPECT_EQ(before, ReadFile(machine_.registry_path()));
  EXPECT_EQ(std::set<std::string>({"drive_c", "eventlog", "services", "system.reg"}), Entries(machine_.root()));
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
  // The folder open to all, sticky or not, or to its group: no one's store
  // is trusted there, its owner's neither, and the check says so as the
  // request does. The folder this user owns but may not read: 6 as well.
  const std::string refused = "\aThe registry's folder " + machine_.root() +
                              " may be written by others than its owner, so the tool stores "
                              "nothing in it.\n";
  for (const mode_t mode : {0777u, 01777u, 0775u}) {
    chmod(machine_.root().c_str(), mode);
    EXPECT_EQ(kTwoPools + refused + check.output.substr(sizeof kTwoPools - 1),
              RunAsAnotherUser({"-c", "30"}).output) << mode;
    EXPECT_EQ(kTwoPools + refused + "\aThe snapshot reserve policy could not be stored.\nNo change "
              "effected.\n", machine_.Run({"30"}).output) << mode;
  }
  ExpectReport(machine_.Run({"-j", "-c", "30"}).output,
               Report("check", 6, R"("2.1")", JsonKey(kKey21), JsonPolicy(kMinimum),
                      kSurveyTwoPools,
                      CheckFields(30, R"("percentage")", "MinFreespacePerPoolPercent", 3000,
                                  "null", false, "false"),
                      "[\"" + refused.substr(1, refused.size() - 2) + "\"]"));
  chown(machine_.root().c_str(), 65534, 65534);
  chown(machine_.registry_path().c_str(), 65534, 65534);
  chmod(machine_.root().c_str(), 0300);
  EXPECT_EQ(6, RunAsAnotherUser({"-c", "30"}).status);
  chown(machine_.root().c_str(), 0, 0);
  chmod(machine_.root().c_str(), 0755);
  EXPECT_EQ(before, ReadFile(machine_.registry_path()));
  // A file no rename replaces, where the file system can make one.
  if (std::system(("chattr +i '" + machine_.registry_path() + "' 2>/dev/null").c_str()) == 0) {
    EXPECT_EQ(6, machine_.Run({"-c", "30"}).status);
    EXPECT_EQ(0, std::system(("chattr -i '" + machine_.registry_path() + "'").c_str()));
  }
  // Nothing a store could lock at the copy's name: a folder, a link.
  const std::string left = machine_.root() + "/.system.reg.snapreserve-new";
  ASSERT_EQ(0, mkdir(left.c_str(), 0777));
  EXPECT_EQ(6, machine_.Run({"-c", "30"}).status);
  rmdir(left.c_str());
  ASSERT_EQ(0, symlink("system.reg", left.c_str()));
  EXPECT_EQ(6, machine_.Run({"-c", "30"}).status);
  unlink(left.c_str());
  chmod(machine_.root().c_str(), 0755);
}

TEST_F(StandInMachineTest, CheckAsksTheFolderOfTheFileALinkedRegistryLeadsTo) {
  // system.reg links into a folder of its own: that folder decides, as it
  // does for the store, not the root that holds the link.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
  const std::string folder = machine_.root() + "/managed";
  ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
  ASSERT_EQ(0, rename(machine_.registry_path().c_str(), (folder + "/velmora.reg").c_str()));
  ASSERT_EQ(0, symlink("managed/velmora.reg", machine_.registry_path().c_str()));
  chmod((folder + "/velmora.reg").c_str(), 0644);
  chown((folder + "/velmora.reg").c_str(), 65534, 65534);
  chmod(machine_.work().c_str(), 0777);
  chown(folder.c_str(), 65534, 65534);
  chmod(machine_.root().c_str(), 0555);
  const RunResult open_folder = RunAsAnotherUser({"-c", "30"});
  chmod(folder.c_str(), 0555);
  const RunResult closed_folder = RunAsAnotherUser({"-c", "30"});
  // Open to all but sticky, as /tmp is: open to others, so the check says 6,
  // as the request then ends.
  chmod(folder.c_str(), 01777);
  const RunResult sticky_check = RunAsAnotherUser({"-c", "30"});
  const RunResult sticky_request = RunAsAnotherUser({"30"});
  chmod(machine_.root().c_str(), 0755);
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(0, open_folder.status) << open_folder.output;
  EXPECT_EQ(6, closed_folder.status) << closed_folder.output;
  EXPECT_EQ(6, sticky_check.status) << sticky_check.output;
  EXPECT_EQ(6, sticky_request.status) << sticky_request.output;
  EXPECT_EQ(kMinimum, PolicyIn(ParsedExport(ReadFile(folder + "/velmora.reg")), kKey21));
}

TEST_F(StandInMachineTest, CheckEndsAsTheRequestThenDoes) {
  // Many machines: pools, release, a stored policy (often the one the
  // request would store), a management tool that fails now and then, and
  // now and then a user who may not store. On each, the check's status is
  // the status the request then ends with, and 8 exactly
  // where the request stored what was already there; without rights it
  // fails with 6 then, as it fails today.
  std::mt19937 random(20261207);
  auto below = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const bool can_change_user = geteuid() == 0;
  std::set<int> seen;
  for (int round = 0; round < 40; ++round) {
    Machine machine;
    std::string listing = "Pool name  Capacity(MB)  Free(MB)\n---------  ----  ----\n";
    for (int pool = below(4); pool > 0; --pool) {
      const int capacity = 500 + below(below(2) == 0 ? 8000 : 300000);
      listing += "P" + std::to_string(pool) + "  " + std::to_string(capacity) + "  " +
                 std::to_string(below(capacity + 1)) + "\n";
    }
    machine.InstallTool(listing, below(10) == 0 ? -1 : 0);
    const int request = below(3) == 0 ? 0 : below(100);
    const Policy choices[] = {kEmpty, kMinimum, {request * 100LL, kNone}, {1000, kNone},
                              {request * 100LL, 1056}};
    const Policy policy = choices[below(5)];
    const bool layout21 = below(2) == 0;
    machine.LayRegistry(layout21 ? "\"2.1\"" : "\"2.0\"", layout21 ? kEmpty : policy,
                        layout21 ? policy : kEmpty);
    const std::string key = layout21 ? kKey21 : kKey20;
    const bool no_rights = can_change_user && below(4) == 0;
    if (no_rights) {
      chmod(machine.work().c_str(), 0777);
      chmod(machine.registry_path().c_str(), 0644);
      chmod(machine.root().c_str(), 0555);
    }
    auto run = [&](const std::vector<std::string>& args) {
      if (!no_rights) return machine.Run(args);
      const std::string program = machine.root() + "/../snapreserve";
      EXPECT_EQ(0, std::system(("cp '" SNAPRESERVE_BINARY "' '" + program + "'").c_str()));
      chmod((machine.root() + "/..").c_str(), 0755);
      const RunResult ran = machine.Run(
          args, {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"},
          program);
      unlink(program.c_str());
      return ran;
    };
    const std::string percent = std::to_string(request);
    const RunResult check = run({"-c", percent});
    const Policy before = machine.PolicyAt(key);
    const RunResult applied = run({percent});
    chmod(machine.root().c_str(), 0755);
    const Policy after = machine.PolicyAt(key);
    SCOPED_TRACE("round " + std::to_string(round) + ", request " + percent + ", listing\n" +
                 listing + check.output);
    seen.insert(check.status);
    if (check.status == 8) {
      EXPECT_EQ(no_rights ? 6 : 0, applied.status == 3 || applied.status == 4 ? 0 : applied.status);
      EXPECT_EQ(before, after);
    } else {
      EXPECT_EQ(check.status, applied.status);
      if (applied.status == 0 || applied.status == 3 || applied.status == 4) {
        EXPECT_FALSE(before == after) << "a request the check did not call in effect changes";
      }
    }
  }
  std::set<int> every = {0, 2, 3, 4, 5, 8};
  if (can_change_user) every.insert(6);
  EXPECT_EQ(every, seen) << "every status the check gives was seen";
}

TEST_F(StandInMachineTest, UnwritableWorkingDirectoryFailsTheSurveyQuietly) {
  chmod(machine_.work().c_str(), 0555);
  const std::string before = ReadFile(machine_.registry_path());
  const RunResult run = RunAsAnotherUser({"30"});
  chmod(machine_.work().c_str(), 0755);
  EXPECT_EQ(kTwoPools, run.output);
  EXPECT_EQ(5, run.status);
  EXPECT_EQ(before, ReadFile(machine_.registry_path()));
  EXPECT_EQ("", machine_.ServiceRecord());
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
  EXPECT_EQ(std::set<std::string>({"drive_c", "eventlog", "services", "system.reg"}), Entries(machine_.root()));
}

TEST_F(StandInMachineTest, LeftoverListingThatCannotBeRemovedIsNeverRead) {
  // A full pool in an old listing would refuse 30%. The working folder is
  // closed to the user, so the listing cannot be replaced: the survey fails
  // rather than decide on old figures.
  const std::string leftover = machine_.work() + "/" + kListingName;
  WriteFile(leftover, "h\nh\nFull 1000 0\n");
  chmod(leftover.c_str(), 0644);
  chmod(machine_.work().c_str(), 0555);
  const std::string before = ReadFile(machine_.registry_path());
  const RunResult run = RunAsAnotherUser({"30"});
  chmod(machine_.work().c_str(), 0755);
  EXPECT_EQ(kTwoPools + std::string("Error in second spawn.\n"), run.output);
  EXPECT_EQ(5, run.status);
  EXPECT_EQ(before, ReadFile(machine_.registry_path()));
  EXPECT_EQ("h\nh\nFull 1000 0\n", ReadFile(leftover));
}

}  // namespace
}  // namespace e2e
