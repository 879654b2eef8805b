// Drives the built tool on scratch stand-in machines and inspects each machine
// afterwards: standard output, exit status, the registry file, the monitor
// service's record and what is left in the working directory.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/reg_file.h"
#include "tests/e2e/scenarios.h"

namespace e2e {
namespace {

const std::string kVersions = "SOFTWARE\\Halvorn\\Corridan\\Versions";
const std::string kKey20 = "SOFTWARE\\Halvorn\\Velmora\\2.0";
const std::string kKey21 = "SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies";
const std::string kListingName = "____HLV__PlexAdm__TempFile.vlmr";
const std::string kStopMessage = "The VLMRMON service was stopped successfully.\n";
const std::string kStartMessage = "The VLMRMON service was started successfully.\n";

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::set<std::string> Entries(const std::string& directory) {
  std::set<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

void Replace(std::string* text, const std::string& mark, const std::string& with) {
  for (size_t at = text->find(mark); at != std::string::npos; at = text->find(mark, at)) {
    text->replace(at, mark.size(), with);
    at += with.size();
  }
}

std::string PolicyLines(const Policy& policy) {
  std::string lines;
  char line[64];
  if (policy.percent != kNone) {
    std::snprintf(line, sizeof line, "\"MinFreespacePerPoolPercent\"=dword:%08llx\r\n",
                  policy.percent);
    lines += line;
  }
  if (policy.absolute != kNone) {
    std::snprintf(line, sizeof line, "\"MinFreespacePerPool\"=dword:%08llx\r\n", policy.absolute);
    lines += line;
  }
  return lines;
}

std::string Describe(long long value) { return value == kNone ? "none" : std::to_string(value); }

struct RunResult {
  std::string output;
  int status = 0;
};

// One stand-in machine in a fresh scratch directory, removed afterwards. Its
// root has a space in its name, as Windows paths often do.
class Machine {
 public:
  Machine() {
    char scratch[] = "/tmp/snapreserve-e2e-XXXXXX";
    base_ = mkdtemp(scratch);
    root_ = base_ + "/machine root";
    work_ = base_ + "/work";
    product_ = root_ + "/drive_c/Program Files/Halvorn/Velmora 2.0";
    const std::string system32 = root_ + "/drive_c/WINNT/System32";
    Shell("mkdir -p '" + product_ + "' '" + system32 + "' '" + work_ + "' && cp '" SIM_DIR
          "/NET.exe' '" + system32 + "/NET.exe'");
  }
  ~Machine() { Shell("chmod -R u+rwx '" + base_ + "'; rm -rf '" + base_ + "'"); }
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  const std::string& root() const { return root_; }
  const std::string& work() const { return work_; }
  std::string registry_path() const { return root_ + "/system.reg"; }

  void InstallTool(const std::string& listing, int exit_status) {
    Shell("cp '" SIM_DIR "/plexadm.exe' '" + product_ + "/plexadm.exe'");
    WriteFile(product_ + "/pools.txt", listing);
    WriteFile(product_ + "/exit-status", std::to_string(exit_status & 0xFF));
  }

  // A REGEDIT4 registry with the release, the policies and unrelated values
  // that must come through every run untouched.
  void LayRegistry(const std::string& release, const Policy& before20, const Policy& before21) {
    std::string reg = "REGEDIT4\r\n\r\n";
    if (!release.empty()) {
      reg += "[HKEY_LOCAL_MACHINE\\" + kVersions + "]\r\n\"VLMR\"=" + release +
             "\r\n\"Installer\"=\"keep me\"\r\n\r\n";
    }
    reg += "[HKEY_LOCAL_MACHINE\\" + kKey20 +
           "]\r\n\"InstallDir\"=\"C:\\\\Program Files\\\\Halvorn\\\\Velmora 2.0\"\r\n" +
           PolicyLines(before20) + "\r\n";
    if (before21.percent != kNone || before21.absolute != kNone) {
      reg += "[HKEY_LOCAL_MACHINE\\" + kKey21 + "]\r\n" + PolicyLines(before21) + "\r\n";
    }
    reg += "; a comment that stays\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Unrelated]\r\n"
           "\"Keep\"=hex:01,02,03\r\n\r\n";
    WriteFile(registry_path(), reg);
  }

  // Runs the tool in the working directory, through `prefix` (a command that
  // starts it, such as a change of user) if given.
  RunResult Run(const std::vector<std::string>& args, const std::vector<std::string>& prefix = {},
                const std::string& program = SNAPRESERVE_BINARY) const {
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      if (chdir(work_.c_str()) != 0) _exit(120);
      setenv("VELMORA_ROOT", root_.c_str(), 1);
      std::vector<std::string> words = prefix;
      words.push_back(program);
      words.insert(words.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& word : words) argv.push_back(&word[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(121);
    }
    close(out[1]);
    RunResult result;
    char chunk[4096];
    ssize_t got;
    while ((got = read(out[0], chunk, sizeof chunk)) > 0) {
      result.output.append(chunk, static_cast<size_t>(got));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
    return result;
  }

  platform::RegFile Registry() const {
    platform::RegFile file;
    int bad_line = 0;
    EXPECT_TRUE(platform::ParseRegFile(ReadFile(registry_path()), &file, &bad_line))
        << "system.reg stops making sense at line " << bad_line;
    return file;
  }

  Policy PolicyAt(const std::string& key) const {
    const platform::RegFile file = Registry();
    Policy policy;
    policy.percent = Dword(file, key, "MinFreespacePerPoolPercent");
    policy.absolute = Dword(file, key, "MinFreespacePerPool");
    return policy;
  }

  std::string ServiceRecord() const { return ReadFile(root_ + "/service.log"); }

 private:
  static void Shell(const std::string& command) {
    ASSERT_EQ(0, std::system(command.c_str())) << command;
  }
  static long long Dword(const platform::RegFile& file, const std::string& key,
                         const std::string& name) {
    platform::RegistryValue value;
    if (!platform::FindRegValue(file, Wide(key), Wide(name), &value)) return kNone;
    EXPECT_EQ(platform::kRegDword, value.type) << name;
    return platform::DwordNumber(value.data);
  }

  std::string base_, root_, work_, product_;
};

std::string ExpectedOutput(const Scenario& scenario) {
  std::string output = scenario.output;
  Replace(&output, "@PROG@", SNAPRESERVE_BINARY);
  Replace(&output, "@LISTING@", scenario.listing);
  Replace(&output, "@STOP@", kStopMessage);
  Replace(&output, "@START@", kStartMessage);
  return output;
}

class ScenarioTest : public testing::TestWithParam<Scenario> {};

TEST_P(ScenarioTest, LeavesTheMachineAsExpected) {
  const Scenario& s = GetParam();
  Machine machine;
  if (s.installed) machine.InstallTool(s.listing, s.tool_exit);
  machine.LayRegistry(s.release, s.before20, s.before21);
  const std::string registry_before = ReadFile(machine.registry_path());

  const RunResult run = machine.Run(s.args);

  EXPECT_EQ(ExpectedOutput(s), run.output);
  EXPECT_EQ(s.status & 0xFF, run.status);
  EXPECT_EQ(s.after20, machine.PolicyAt(kKey20));
  EXPECT_EQ(s.after21, machine.PolicyAt(kKey21));

  const bool stored = s.status == 0 || s.status == 3 || s.status == 4;
  if (!stored) {
    EXPECT_EQ(registry_before, ReadFile(machine.registry_path())) << "registry untouched";
  }
  // Everything else in the registry comes through.
  const platform::RegFile after = machine.Registry();
  platform::RegistryValue value;
  EXPECT_TRUE(platform::FindRegValue(after, L"SOFTWARE\\Unrelated", L"Keep", &value));
  EXPECT_EQ(std::vector<std::uint8_t>({1, 2, 3}), value.data);
  EXPECT_TRUE(platform::FindRegValue(after, Wide(kKey20), L"InstallDir", &value));
  EXPECT_EQ(!s.release.empty(),
            platform::FindRegValue(after, Wide(kVersions), L"Installer", &value));

  // The monitor restarted once, stop before start, and found the new policy:
  // the one under the key this run changed.
  std::string record;
  if (s.restarted) {
    const Policy& in_force = s.after21 == s.before21 ? s.after20 : s.after21;
    record = "STOP VLMRMON\nSTART VLMRMON MinFreespacePerPoolPercent=" +
             Describe(in_force.percent) + " MinFreespacePerPool=" + Describe(in_force.absolute) +
             "\n";
  }
  EXPECT_EQ(record, machine.ServiceRecord());

  EXPECT_EQ(std::set<std::string>(), Entries(machine.work())) << "nothing left behind";
  std::set<std::string> root = {"drive_c", "system.reg"};
  if (s.restarted) root.insert("service.log");
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
  Machine machine_;
};

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

TEST_F(StandInMachineTest, MissingRegistryIsEmpty) {
  unlink(machine_.registry_path().c_str());
  EXPECT_EQ(255, machine_.Run({"30"}).status);
  EXPECT_EQ(std::set<std::string>({"drive_c"}), Entries(machine_.root()));
}

TEST_F(StandInMachineTest, LinkAtTheListingNameIsReplacedNotFollowed) {
  const std::string target = machine_.root() + "/precious";
  WriteFile(target, "do not touch\n");
  ASSERT_EQ(0, symlink(target.c_str(), (machine_.work() + "/" + kListingName).c_str()));
  EXPECT_EQ(0, machine_.Run({"30"}).status);
  EXPECT_EQ("do not touch\n", ReadFile(target));
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
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
  // store cannot be saved. Root writes anywhere, so the tool runs as nobody.
  std::vector<std::string> as_user;
  std::string program = SNAPRESERVE_BINARY;
  if (geteuid() == 0) {
    // A copy of the tool that the user can reach wherever the build lies.
    program = machine_.root() + "/../snapreserve";
    ASSERT_EQ(0, std::system(("cp '" SNAPRESERVE_BINARY "' '" + program + "'").c_str()));
    as_user = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    chmod((machine_.root() + "/..").c_str(), 0755);
    chmod(machine_.work().c_str(), 0777);
    chmod(machine_.root().c_str(), 0555);
    chmod(machine_.registry_path().c_str(), 0644);
  } else {
    chmod(machine_.root().c_str(), 0555);
  }
  const std::string before = ReadFile(machine_.registry_path());
  const RunResult run = machine_.Run({"30"}, as_user, program);
  chmod(machine_.root().c_str(), 0755);
  EXPECT_EQ(kTwoPools + std::string("\aThe snapshot reserve policy could not be stored.\n"
                                    "No change effected.\n"),
            run.output);
  EXPECT_EQ(6, run.status);
  EXPECT_EQ(before, ReadFile(machine_.registry_path()));
  EXPECT_EQ("", machine_.ServiceRecord());
  EXPECT_EQ(std::set<std::string>({"drive_c", "system.reg"}), Entries(machine_.root()));
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
}

}  // namespace

bool operator==(const Policy& a, const Policy& b) {
  return a.percent == b.percent && a.absolute == b.absolute;
}

void PrintTo(const Policy& policy, std::ostream* os) {
  *os << "{percent " << Describe(policy.percent) << ", absolute " << Describe(policy.absolute)
      << "}";
}

void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.name; }

}  // namespace e2e
