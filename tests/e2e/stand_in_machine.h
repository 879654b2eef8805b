#ifndef SNAPRESERVE_TESTS_E2E_STAND_IN_MACHINE_H_
#define SNAPRESERVE_TESTS_E2E_STAND_IN_MACHINE_H_

// A scratch stand-in machine for the end-to-end tests, and a way to run the
// built tool on it as an administrator would.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/stand_in/reg_file.h"
#include "tests/e2e/machine_checks.h"
#include "tests/e2e/scenarios.h"

namespace e2e {

// One stand-in machine in a fresh scratch directory, removed afterwards. Its
// root has a space in its name, as Windows paths often do.
class Machine {
 public:
  Machine() {
    umask(022);  // a machine only its owner may write, as the tool stores nowhere else
    char scratch[] = "/tmp/snapreserve-e2e-XXXXXX";
    base_ = mkdtemp(scratch);
    root_ = base_ + "/machine root";
    work_ = base_ + "/work";
    product_ = root_ + "/drive_c/Program Files/Halvorn/Velmora 2.0";
    const std::string system32 = root_ + "/drive_c/WINNT/System32";
    Shell("mkdir -p '" + product_ + "' '" + system32 + "' '" + work_ + "' '" + root_ +
          "/services' '" + root_ + "/eventlog' && cp '" SIM_DIR "/NET.exe' '" + system32 +
          "/NET.exe' && echo RUNNING > '" + root_ + "/services/VLMRMON'");
  }
  ~Machine() { Shell("chmod -R u+rwx '" + base_ + "'; rm -rf '" + base_ + "'"); }
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  const std::string& root() const { return root_; }
  const std::string& work() const { return work_; }
  std::string registry_path() const { return root_ + "/system.reg"; }

  // Lays out the system folder and the product's folder as `layout` says.
  // The copies of the Layout::kBoth machine betray any use: the management
  // tool's under C:\Program Files (x86) refuses every request, and the NET.exe
  // planted in C:\WINNT\System32 leaves decoy.log in the root.
  void UseLayout(Layout layout) {
    if (layout == Layout::kFixedPaths) return;
    const std::string drive = root_ + "/drive_c";
    const std::string windows = drive + "/Windows/System32";
    const std::string x86 = drive + "/Program Files (x86)/Halvorn/Velmora 2.0";
    Shell("mkdir -p '" + windows + "' '" + x86 + "'");
    if (layout == Layout::kCurrentServer) {
      Shell("mv '" + drive + "/WINNT/System32/NET.exe' '" + windows + "/' && rm -rf '" + drive +
            "/WINNT' '" + drive + "/Program Files'");
      product_ = x86;
      return;
    }
    const std::string planted = drive + "/WINNT/System32/NET.exe";
    Shell("mv '" + planted + "' '" + windows + "/'");
    WriteFile(planted, "#!/bin/sh\necho \"$0 $*\" >> \"$VELMORA_ROOT/decoy.log\"\n");
    Shell("chmod +x '" + planted + "' && cp '" SIM_DIR "/plexadm.exe' '" + x86 + "/'");
    WriteFile(x86 + "/pools.txt", kDecoyPools);
  }

  // The management tool, and the monitor's program beside it.
  void InstallTool(const std::string& listing, int exit_status) {
    Shell("cp '" SIM_DIR "/plexadm.exe' '" + product_ + "/plexadm.exe' && touch '" + product_ +
          "/vlmrmon.exe'");
    WriteFile(product_ + "/pools.txt", listing);
    // A crash here is a signal; an exit status keeps its low 8 bits.
    WriteFile(product_ + "/exit-status",
              exit_status == kCrashed    ? std::string("crash")
              : exit_status == kVanishes ? std::string("vanish")
                                         : std::to_string(exit_status & 0xFF));
  }

  // A REGEDIT4 registry with the release, the policies and unrelated values
  // that must come through every run untouched.
  void LayRegistry(const std::string& release, const Policy& before20, const Policy& before21) {
    WriteFile(registry_path(), "REGEDIT4\r\n\r\n" + RegistryKeys(release, before20, before21));
  }

  // Runs the tool in the working directory, through `prefix` (a command that
  // starts it, such as a change of user) if given. Standard error is
  // collected in a file beside the machine.
  RunResult Run(const std::vector<std::string>& args, const std::vector<std::string>& prefix = {},
                const std::string& program = SNAPRESERVE_BINARY) const {
    const std::string errors = base_ + "/errors";
    int output = -1;
    const pid_t pid = Start(args, prefix, program, &output, [errors] {
      const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (fd >= 0) dup2(fd, 2);
    });
    RunResult run = Finish(pid, output);
    run.errors = ReadFile(errors);
    unlink(errors.c_str());
    return run;
  }

  // Starts the tool and returns at once: its process, and the read end of
  // its standard output. `in_child` runs in the new process before the tool
  // starts (to set a limit, say); `work` is the working directory.
  pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& prefix,
              const std::string& program, int* output,
              const std::function<void()>& in_child = nullptr,
              const std::string& work = std::string()) const {
    std::vector<std::string> words = prefix;
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    const std::string root = root_;
    return StartProgram(words, work.empty() ? work_ : work, [root, in_child] {
      setenv("VELMORA_ROOT", root.c_str(), 1);
      if (in_child) in_child();
    }, output);
  }

  // Collects what a started tool printed and how it ended.
  static RunResult Finish(pid_t pid, int output) { return FinishProgram(pid, output); }

  platform::RegFile Registry() const { return ParsedExport(ReadFile(registry_path())); }

  Policy PolicyAt(const std::string& key) const { return PolicyIn(Registry(), key); }

  std::string ServiceRecord() const { return ReadFile(root_ + "/service.log"); }

  // The events in the machine's Application log, each as "<id> <type>:
  // <string> | ...", once its line is seen to be whole: of the tool's source,
  // at a UTC time, by a user.
  std::vector<std::string> Events() const {
    std::vector<std::string> events;
    std::istringstream log(ReadFile(root_ + "/eventlog/Application.log"));
    for (std::string line; std::getline(log, line);) {
      const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
      EXPECT_FALSE(event.is_discarded()) << line;
      if (event.is_discarded()) continue;
      EXPECT_EQ("snapreserve", event.value("source", "")) << line;
      EXPECT_FALSE(event.value("user", "").empty()) << line;
      EXPECT_EQ('Z', event.value("time", " ").back()) << line;
      std::string text = std::to_string(event.value("id", 0)) + " " + event.value("type", "") + ":";
      const char* separator = " ";
      for (const auto& string : event.at("strings")) {
        text += separator + string.get<std::string>();
        separator = " | ";
      }
      events.push_back(text);
    }
    return events;
  }

  // The service manager's record of the monitor: RUNNING or STOPPED.
  std::string ServiceState() const { return ReadFile(root_ + "/services/VLMRMON"); }

  // Takes the monitor's program away, so that the monitor stops but never
  // starts again.
  void RemoveMonitorProgram() { Shell("rm '" + product_ + "/vlmrmon.exe'"); }

 private:
  static void Shell(const std::string& command) {
    ASSERT_EQ(0, std::system(command.c_str())) << command;
  }

  std::string base_, root_, work_, product_;
};

}  // namespace e2e

#endif  // SNAPRESERVE_TESTS_E2E_STAND_IN_MACHINE_H_
