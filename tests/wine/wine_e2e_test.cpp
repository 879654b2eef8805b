// Runs the Windows program under Wine, on the prefix that prepare-prefix.sh
// made, as an administrator would from cmd.exe; then inspects the machine:
// standard output, the exit status as cmd.exe reports it, the registry as
// reg.exe exports it, the monitor service's record and the working folder.
//
// Each run is one batch file: make sure the monitor runs and clear its
// record, import the scenario's registry into the 32-bit view, export it,
// run the tool from a working folder whose path has a space, note
// %ERRORLEVEL%, and export the registry again.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/stand_in/reg_file.h"
#include "platform/stand_in/wide_text.h"
#include "tests/e2e/machine_checks.h"
#include "tests/e2e/scenarios.h"

namespace e2e {
namespace {

// Each test of a program that this machine cannot run under Wine is
// reported as skipped, with the reason, never as passed.
class WineTest : public testing::Test {
 protected:
  void SetUp() override {
    if (std::string(SKIP_REASON) != "") GTEST_SKIP() << SKIP_REASON;
  }
};

const std::string kProgram = "C:\\Tools\\snapreserve.exe";
const std::string kWorkFolder = "C:\\work dir";
const std::string kScratch = "C:\\snapreserve-tests";
const std::string kProductFolder = "C:\\Program Files\\Halvorn\\Velmora 2.0";
const std::string kProbeCopy = "C:\\snapreserve-tests\\probe dir\\argprobe.exe";
const std::string kStopMessage =
    "The VLMRMON service is stopping.\nThe VLMRMON service was stopped successfully.\n";
const std::string kStartMessage =
    "The VLMRMON service is starting.\nThe VLMRMON service was started successfully.\n";
const std::string kStartFailed = "The VLMRMON service is starting.\nFile not found.\n";

// Line ends as the console shows them: the C runtime's text mode and NET
// write "\r\n", the management tool whatever its listing holds.
std::string Lines(std::string text) {
  Replace(&text, "\r\n", "\n");
  return text;
}

// An argument as cmd.exe must see it in a batch file to pass it on as is.
std::string BatchWord(const std::string& word) {
  std::string escaped;
  for (char c : word) {
    if (c == '%') {
      escaped += "%%";
    } else {
      if (c == '&' || c == '|' || c == '<' || c == '>' || c == '^') escaped += '^';
      escaped += c;
    }
  }
  return escaped;
}

struct ToolRun {
  std::string output;
  std::string errors;  // the tool's standard error
  int status = 0;  // as %ERRORLEVEL% shows it: -1, not 255
  std::vector<std::string> events;  // as "<id> <type>: <string> | ..."
};

// The events ReportEventW was given, from Wine's trace of it (the
// "+eventlog,fixme+advapi" channels): the call with its type, ID and user,
// then one line per insertion string. Wine's log keeps nothing to read back.
std::vector<std::string> ReportedEvents(const std::string& trace) {
  std::vector<std::string> events;
  std::istringstream lines(trace);
  const char* separator = " ";
  for (std::string line; std::getline(lines, line);) {
    unsigned type = 0, id = 0;
    char user[32] = {};
    const size_t call = line.find(":advapi:ReportEventW (");
    if (call != std::string::npos &&
        std::sscanf(line.c_str() + call, ":advapi:ReportEventW (%*[^,],0x%x,0x%*x,0x%x,%31[^,],",
                    &type, &id, user) == 3) {
      const bool no_user = std::string(user).find_first_not_of("0(nil)") == std::string::npos;
      events.push_back(std::to_string(id) + " " +
                       (type == 4 ? "information" : type == 2 ? "warning" : "error") +
                       (no_user ? " (no user):" : ":"));
      separator = " ";
      continue;
    }
    const size_t string = line.find(":eventlog:ReportEventW L\"");
    if (string == std::string::npos || events.empty()) continue;
    std::string text;
    for (size_t i = line.find('"', string) + 1; i + 1 < line.size(); ++i) {
      if (line[i] == '\\') ++i;  // Wine doubles a backslash and escapes a quote
      text.push_back(line[i]);
    }
    events.back() += separator + text;
    separator = " | ";
  }
  return events;
}

class WindowsMachine {
 public:
  WindowsMachine()
      : drive_(std::string(WINE_PREFIX) + "/drive_c"),
        product_(drive_ + "/Program Files/Halvorn/Velmora 2.0"),
        x86_product_(drive_ + "/Program Files (x86)/Halvorn/Velmora 2.0"),
        tool_folder_(product_),
        scratch_(drive_ + "/snapreserve-tests"),
        work_(drive_ + "/work dir") {
    // The fixed layout: C:\WINNT leads to Wine's Windows folder, and the
    // product is under C:\Program Files alone.
    Shell("rm -rf '" + scratch_ + "' '" + work_ + "' '" + x86_product_ + "' && mkdir -p '" +
          scratch_ + "' '" + work_ + "' '" + drive_ + "/Tools' && cp '" SNAPRESERVE_EXE "' '" +
          drive_ + "/Tools/snapreserve.exe' && rm -rf '" + drive_ + "/WINNT' && ln -s windows '" + drive_ + "/WINNT' && (test -f '" +
          product_ + "/plexadm.exe' || mv '" + product_ + "/plexadm.off' '" + product_ +
          "/plexadm.exe') && (test -f '" + product_ + "/vlmrmon.exe' || mv '" + product_ +
          "/vlmrmon.off' '" + product_ + "/vlmrmon.exe')");
  }
  WindowsMachine(const WindowsMachine&) = delete;
  WindowsMachine& operator=(const WindowsMachine&) = delete;

  const std::string& drive() const { return drive_; }
  const std::string& work() const { return work_; }

  // A current server has no C:\WINNT, and the product under Program Files
  // (x86). The Layout::kBoth machine keeps the product at its fixed path too,
  // with a copy under (x86) that refuses every request.
  void UseLayout(Layout layout) {
    if (layout == Layout::kFixedPaths) return;
    Shell("mkdir -p '" + x86_product_ + "' && cp '" + product_ + "/plexadm.exe' '" +
          x86_product_ + "/'");
    Shell("rm '" + drive_ + "/WINNT'");
    if (layout == Layout::kBoth) {
      // A C:\WINNT of its own, not Wine's Windows folder, with copies of the
      // management tool posing as cmd.exe and NET.exe: run, they would print
      // their usage and leave the listing unwritten and the monitor alone.
      WriteFile(x86_product_ + "/pools.txt", kDecoyPools);
      const std::string planted = drive_ + "/WINNT/System32";
      Shell("mkdir -p '" + planted + "' && cp '" + product_ + "/plexadm.exe' '" + planted +
            "/cmd.exe' && cp '" + product_ + "/plexadm.exe' '" + planted + "/NET.exe'");
      return;
    }
    Shell("mv '" + product_ + "/plexadm.exe' '" + product_ + "/plexadm.off'");
    tool_folder_ = x86_product_;
  }

  void InstallTool(const std::string& listing, int exit_status) {
    WriteFile(tool_folder_ + "/pools.txt", listing);
    WriteFile(tool_folder_ + "/exit-status",
              exit_status == kVanishes ? std::string("vanish")
              : exit_status == kHangs  ? std::string("hang")
                                       : std::to_string(exit_status));
  }
  // The monitor's program, which the service manager starts, goes: the
  // monitor stops and cannot start again.
  // The monitor is made sure to run first: from then on it cannot start.
  void RemoveMonitorProgram() {
    Wine({"net", "start", "VLMRMON"});
    Shell("mv '" + product_ + "/vlmrmon.exe' '" + product_ + "/vlmrmon.off'");
  }
  void RemoveTool() {
    Shell("mv '" + tool_folder_ + "/plexadm.exe' '" + tool_folder_ + "/plexadm.off'");
  }

  // The scenario's keys (UTF-8 text), imported after what earlier runs left is deleted.
  void LayRegistry(const std::string& release, const Policy& before20, const Policy& before21) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n" + RegistryKeys(release, before20, before21);
    const std::vector<std::uint8_t> utf16 =
        platform::EncodeUtf16(L"\xFEFF" + platform::DecodeUtf8(text));
    WriteFile(scratch_ + "/lay.reg", std::string(utf16.begin(), utf16.end()));
  }

  // Runs `command line` (the program and its arguments, ready for cmd.exe)
  // in the working folder; `redirect` is appended to it as it stands.
  // `before` and `after` are batch lines run just before and after the tool.
  ToolRun RunCommand(const std::string& command, const std::string& redirect = "",
                     const std::string& before = "", const std::string& after = "") {
    for (const char* name :
         {"status.txt", "errors.txt", "before.reg", "after.reg", "unrelated.reg"}) {
      unlink((scratch_ + "/" + name).c_str());
    }
    const std::string batch =
        "@echo off\r\n"
        "net start VLMRMON >nul 2>&1\r\n"
        // NET may return before the monitor has recorded its start, which it
        // does before it reports itself running: wait for that (a few
        // seconds at most, as a monitor whose program is gone never runs).
        "set tries=0\r\n"
        ":running\r\n"
        // "if errorlevel", not "&&": Wine 8's cmd runs what follows "&&"
        // whatever status the program before it ended with.
        "sc query VLMRMON | find \"RUNNING\" >nul\r\n"
        "if not errorlevel 1 goto cleared\r\n"
        "set /a tries+=1\r\n"
        "if %tries% lss 50 (ping -n 1 127.0.0.1 >nul & goto running)\r\n"
        ":cleared\r\n"
        "type nul > \"C:\\Program Files\\Halvorn\\Velmora 2.0\\service.log\"\r\n"
        // Not "[-key]" in the import: Wine's 64-bit reg.exe removes such a
        // key from the 64-bit view whatever /reg:32 says.
        "reg delete HKLM\\SOFTWARE\\Halvorn /reg:32 /f >nul 2>&1\r\n"
        "reg delete HKLM\\SOFTWARE\\Unrelated /reg:32 /f >nul 2>&1\r\n"
        "reg import " + kScratch + "\\lay.reg /reg:32 >nul 2>&1\r\n"
        "reg export HKLM\\SOFTWARE\\Halvorn " + kScratch + "\\before.reg /reg:32 /y >nul 2>&1\r\n"
        "cd /d \"" + kWorkFolder + "\"\r\n" + before + "\r\n" +
        command + redirect + " 2> " + kScratch + "\\errors.txt\r\n"
        "echo status %ERRORLEVEL% > " + kScratch + "\\status.txt\r\n" + after + "\r\n"
        "cd /d C:\\\r\n"
        "reg export HKLM\\SOFTWARE\\Halvorn " + kScratch + "\\after.reg /reg:32 /y >nul 2>&1\r\n"
        "reg export HKLM\\SOFTWARE\\Unrelated " + kScratch + "\\unrelated.reg /reg:32 /y >nul 2>&1\r\n";
    WriteFile(scratch_ + "/run.bat", batch);

    ToolRun run;
    run.output = Wine({"cmd", "/c", kScratch + "\\run.bat"});
    // Now and then Wine starts nothing at all (seen once in many runs): the
    // batch never reached its first export, so the tool never ran, and the
    // batch, which lays out the registry first, runs once more.
    if (run.output.empty() && access((scratch_ + "/before.reg").c_str(), F_OK) != 0) {
      std::fprintf(stderr, "Wine ran nothing; running the batch again\n");
      run.output = Wine({"cmd", "/c", kScratch + "\\run.bat"});
    }
    run.errors = ReadFile(scratch_ + "/errors.txt");
    // Seldom, Wine's cmd does not find the tool at its path, which is there
    // (seen once in many runs): the tool never ran, and the batch runs once
    // more.
    if (run.errors.rfind("Can't recognize '" + command, 0) == 0) {
      std::fprintf(stderr, "Wine's cmd found no program; running the batch again\n");
      run.output = Wine({"cmd", "/c", kScratch + "\\run.bat"});
      run.errors = ReadFile(scratch_ + "/errors.txt");
    }
    run.events = ReportedEvents(ReadFile(scratch_ + "/trace.txt"));
    const std::string status = ReadFile(scratch_ + "/status.txt");
    EXPECT_EQ(1, std::sscanf(status.c_str(), "status %d", &run.status)) << status;
    return run;
  }

  // Runs the probe of the platform layer (tests/wine/windows/argprobe.cpp) in
  // `mode` on `lines`, with a copy of it waiting at kProbeCopy.
  ToolRun RunProbe(const std::string& mode, const std::vector<std::string>& lines) {
    Shell("mkdir -p '" + scratch_ + "/probe dir' && cp '" ARG_PROBE_EXE "' '" + scratch_ +
          "/' && cp '" ARG_PROBE_EXE "' '" + scratch_ + "/probe dir/'");
    std::string list;
    for (const std::string& line : lines) list += line + "\n";
    WriteFile(scratch_ + "/list.txt", list);
    return RunCommand(kScratch + "\\argprobe.exe " + mode + " " + kScratch + "\\list.txt");
  }

  // `before`: batch lines run just before the tool.
  ToolRun RunTool(const std::vector<std::string>& args, const std::string& before = "") {
    std::string command = "\"" + kProgram + "\"";
    for (const std::string& arg : args) command += " " + BatchWord(arg);
    return RunCommand(command, "", before);
  }

  std::string RegistryBefore() const { return ReadFile(scratch_ + "/before.reg"); }
  std::string RegistryAfter() const { return ReadFile(scratch_ + "/after.reg"); }
  platform::RegFile Registry() const { return ParsedExport(RegistryAfter()); }
  platform::RegFile UnrelatedKey() const {
    return ParsedExport(ReadFile(scratch_ + "/unrelated.reg"));
  }
  std::string ServiceRecord() const { return ReadFile(product_ + "/service.log"); }

 private:
  static void Shell(const std::string& command) {
    ASSERT_EQ(0, std::system(command.c_str())) << command;
  }

  // Standard output of a Wine command.
  std::string Wine(const std::vector<std::string>& args) const {
    std::vector<std::string> words = {WINE_LOADER};
    words.insert(words.end(), args.begin(), args.end());
    int output = -1;
    const std::string trace = scratch_ + "/trace.txt";
    const pid_t pid = StartProgram(words, drive_, [trace] {
      setenv("WINEPREFIX", WINE_PREFIX, 1);
      setenv("WINEDEBUG", "-all,+eventlog,fixme+advapi", 1);
      const int fd = open(trace.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (fd >= 0) dup2(fd, 2);
      // Wine takes its code pages from the locale: these are US English's,
      // ANSI 1252 and OEM 437, whatever the machine's own language.
      setenv("LC_ALL", "C.UTF-8", 1);
      if (std::string(WINE_LOADER) != "wine") setenv("WINELOADER", WINE_LOADER, 1);
    }, &output);
    return FinishProgram(pid, output).output;
  }

  std::string drive_, product_, x86_product_, tool_folder_, scratch_, work_;
};

class ScenarioTest : public WineTest, public testing::WithParamInterface<Scenario> {};

TEST_P(ScenarioTest, LeavesTheMachineAsExpected) {
  const Scenario& s = GetParam();
  WindowsMachine machine;
  machine.UseLayout(s.layout);
  machine.InstallTool(s.listing, s.tool_exit);
  if (!s.installed) machine.RemoveTool();
  if (!s.monitor_starts) machine.RemoveMonitorProgram();
  machine.LayRegistry(s.release, s.before20, s.before21);

  // A monitor stopped before the run, its record cleared of the stop.
  const ToolRun run = machine.RunTool(
      s.args, s.monitor_running ? "" : "net stop VLMRMON >nul 2>&1\r\ntype nul > \"" +
                                           kProductFolder + "\\service.log\"");

  const std::string expected =
      ExpectedOutput(s, kProgram, kStopMessage, kStartMessage, kStartFailed);
  if (IsReport(expected)) {
    ExpectReport(run.output, expected);
  } else {
    EXPECT_EQ(Lines(expected), Lines(run.output));
  }
  if (s.errors != kAnyErrors) {
    EXPECT_EQ(Lines(ExpectedOutput(s, kProgram, kStopMessage, kStartMessage, kStartFailed,
                                   &s.errors)),
              Lines(run.errors));
  }
  EXPECT_EQ(s.status, run.status);
  const platform::RegFile after = machine.Registry();
  EXPECT_EQ(s.after20, PolicyIn(after, kKey20));
  // Wine's reg export writes a DWORD of two bytes as four, the last two as
  // they come: the export compared below holds such a value unchanged.
  if (s.after21.absolute != kShort1056) {
    EXPECT_EQ(s.after21, PolicyIn(after, kKey21));
  }
  if (!Stores(s)) {
    EXPECT_EQ(machine.RegistryBefore(), machine.RegistryAfter()) << "registry untouched";
  }
  ExpectUnrelatedValuesKept(!s.release.empty(), after, machine.UnrelatedKey());
  EXPECT_EQ(ExpectedRecord(s), machine.ServiceRecord());
  EXPECT_EQ(std::set<std::string>(), Entries(machine.work())) << "nothing left behind";
  ExpectEvents(s, run.events);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ScenarioTest, testing::ValuesIn(Scenarios()),
                         [](const testing::TestParamInfo<Scenario>& param) {
                           return std::string(param.param.name);
                         });

// What only Windows can show.

class WindowsOnlyTest : public WineTest {
 protected:
  void SetUp() override {
    WineTest::SetUp();
    if (IsSkipped()) return;
    machine_.InstallTool(kTwoPools, 0);
    machine_.LayRegistry("\"2.1\"", kEmpty, kMinimum);
  }
  std::string Stored30() const {
    return Lines(kTwoPools +
                 std::string("New allocated percentage of pool free space reserved for "
                             "snapshots is 30%.\n") +
                 kStopMessage + kStartMessage);
  }
  WindowsMachine machine_;
};

TEST_F(WindowsOnlyTest, ToolInAFolderWithSpacesNamesItselfAndRuns) {
  const std::string folder = machine_.drive() + "/Program Files/Snapshot Tools";
  ASSERT_EQ(0, std::system(("mkdir -p '" + folder + "' && cp '" SNAPRESERVE_EXE "' '" + folder +
                            "/snapreserve.exe'").c_str()));
  const std::string program = "C:\\Program Files\\Snapshot Tools\\snapreserve.exe";
  std::string version = kVersion;
  Replace(&version, "@PROG@", program);
  ToolRun run = machine_.RunCommand("\"" + program + "\" /V");
  EXPECT_EQ(Lines(version), Lines(run.output));
  EXPECT_EQ(-2, run.status);

  run = machine_.RunCommand("\"" + program + "\" 30");
  EXPECT_EQ(Stored30(), Lines(run.output));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(kThirty, PolicyIn(machine_.Registry(), kKey21));
}

TEST_F(WindowsOnlyTest, ProgramPathBeyondAsciiArrivesInTheConsoleCodePage) {
  // The version text names the program as it was started. Redirected, it
  // arrives in the console's code page, OEM 437 here (no console: Wine's
  // cmd.exe has none), with Windows line ends; a letter the page lacks
  // becomes "?" and cuts nothing short, even one with a look-alike in the
  // page (a fullwidth A is no A). cmd.exe reads a batch file in that page
  // too, so the folder is reached through a wildcard.
  const std::string folder = "/Tools/\xC3\x9Cn\xC3\xAF" "code \xE4\xB8\xAD\xEF\xBC\xA1 dir";
  ASSERT_EQ(0, std::system(("mkdir -p '" + machine_.drive() + folder + "' && cp '" SNAPRESERVE_EXE
                            "' '" + machine_.drive() + folder + "/'")
                               .c_str()));
  const std::string oem_name = "\x9An\x8B" "code";  // \u00DCn\u00EFcode
  const ToolRun run = machine_.RunCommand(
      "for /d %%d in (" + oem_name + "*) do \"C:\\Tools\\%%d\\snapreserve.exe\" /V",
      " > " + kScratch + "\\version.txt", "cd /d C:\\Tools");
  EXPECT_EQ(-2, run.status);
  EXPECT_EQ("C:\\Tools\\" + oem_name + " ?? dir\\snapreserve.exe Version 1.5.\r\n"
            "Copyright (C) Halvorn Corporation.\r\nAll rights reserved.\r\n",
            ReadFile(machine_.drive() + "/snapreserve-tests/version.txt"));
}

TEST_F(WindowsOnlyTest, ArgumentsReachAProgramInAFolderWithSpacesAsSent) {
  // Where 8.3 names are turned off, the management tool's short path is its
  // long one, spaces and all. Wine always makes short names, so the probe
  // starts a program in a folder with spaces itself, the way the survey
  // does, with arguments that need quoting, and the program reports its
  // command line and what the C runtime read from it.
  const std::vector<std::string> args = {
      "two words", "tab\tthere", "say \"hi\"", "\"", "trailing\\", "folder with space\\",
      "a\\\\b c\\\\", "back\\\"quote", "", "plain", "\xC3\x9Cn\xC3\xAF"};
  std::vector<std::string> lines = {kProbeCopy};
  lines.insert(lines.end(), args.begin(), args.end());
  const ToolRun run = machine_.RunProbe("run", lines);
  // Quotes only where they are needed; backslashes doubled only before one.
  std::string expected = R"("C:\snapreserve-tests\probe dir\argprobe.exe" "two words" )"
                         "\"tab\tthere\" "
                         R"("say \"hi\"" "\"" trailing\ "folder with space\\" "a\\b c\\\\" )"
                         R"("back\\\"quote" "" plain )"
                         "\xC3\x9Cn\xC3\xAF\n";
  for (const std::string& arg : args) expected += arg + "\n";
  EXPECT_EQ(expected, run.output);
  EXPECT_EQ(0, run.status);
  // One that cannot start gives the C runtime's reason: ENOENT, ENOEXEC.
  for (const auto& [program, status] : {std::pair<std::string, int>{"C:\\nowhere\\a.exe", 102},
                                        {"C:\\windows\\win.ini", 108}}) {
    EXPECT_EQ(status, machine_.RunProbe("run", {program}).status) << program;
  }
}

TEST_F(WindowsOnlyTest, ShellSkipsAutoRunAndGetsTheCommandAsItStands) {
  // The probe stands in for cmd.exe and reports the command line the shell
  // is given: /D, so that no AutoRun command runs first (Wine's cmd.exe runs
  // none anyway), /V:OFF, so that no "!" is expanded, then /C and the
  // command in one pair of outer quotes.
  const std::string command = "\"" + kProbeCopy + "\" pool > .\\listing.txt";
  ToolRun run = machine_.RunProbe("shell", {kProbeCopy, command});
  EXPECT_EQ("\"" + kProbeCopy + "\" /D /V:OFF /C \"" + command + "\"",
            run.output.substr(0, run.output.find('\n')));
  EXPECT_EQ(0, run.status);
  // cmd.exe itself runs the program in the folder with spaces with its one
  // argument, its output in the file.
  run = machine_.RunProbe("shell", {"C:\\WINNT\\System32\\cmd.exe", command});
  EXPECT_EQ("", run.output);
  EXPECT_EQ(0, run.status);
  const std::string listing = ReadFile(machine_.work() + "/listing.txt");
  EXPECT_EQ("pool\n", listing.substr(listing.find('\n') + 1)) << listing;
}

TEST_F(WindowsOnlyTest, OutputToAFileKeepsTheToolsLinesBeforeNets) {
  // Redirected, the C runtime buffers the tool's output; it must reach the
  // file before NET, which shares it, writes its own lines.
  const ToolRun run = machine_.RunCommand("\"" + kProgram + "\" 30",
                                   " > \"" + kScratch + "\\output file.txt\"");
  EXPECT_EQ("", run.output);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(Stored30(), Lines(ReadFile(machine_.drive() + "/snapreserve-tests/output file.txt")));
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
}

TEST_F(WindowsOnlyTest, ListingComesFreshThroughCmdRedirection) {
  // A listing left by an earlier run would refuse 30%; cmd.exe's redirection
  // writes the new one over it, and it is gone afterwards.
  WriteFile(machine_.work() + "/" + kListingName, "h\nh\nFull 1000 0\n");
  const ToolRun run = machine_.RunTool({"30"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(Stored30(), Lines(run.output));
  EXPECT_EQ(kThirty, PolicyIn(machine_.Registry(), kKey21));
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
}

TEST_F(WindowsOnlyTest, ListingPlantedAfterTheLeftoverGoesIsNeverDecidedOn) {
  // The probe waits for the leftover to go and then, after a delay, puts at
  // the name a listing with room for 90%, held without write sharing, or a
  // hard link to it. On these pools, 40% free at most, 90% must never be
  // stored: the run either refuses or finds the name taken.
  const std::string scratch = machine_.drive() + "/snapreserve-tests";
  const std::string roomy = "h\nh\nRoomy 1000 990\n";
  WriteFile(scratch + "/roomy.txt", roomy);
  ASSERT_EQ(0, std::system(("cp '" ARG_PROBE_EXE "' '" + scratch + "/'").c_str()));
  for (const char* delay : {"0", "200", "1000", "3000", "0", "0l", "200l", "1000l"}) {
    WriteFile(machine_.work() + "/" + kListingName, "h\nh\nStale 1000 10\n");
    const ToolRun run = machine_.RunCommand(
        "\"" + kProgram + "\" 90", "",
        "start \"\" /b " + kScratch + "\\argprobe.exe plant " + kListingName + " " + delay + " " +
            kScratch + "\\roomy.txt");
    EXPECT_TRUE(run.status == 2 || run.status == 5) << delay << ": " << run.status;
    if (run.status == 5) {
      EXPECT_EQ(Lines(kTwoPools + std::string("Error in second spawn.\n")), Lines(run.output));
    }
    EXPECT_EQ(machine_.RegistryBefore(), machine_.RegistryAfter()) << delay;
    EXPECT_EQ(roomy, ReadFile(scratch + "/roomy.txt")) << "never written through";
    unlink((machine_.work() + "/" + kListingName).c_str());
  }
  EXPECT_EQ("", machine_.ServiceRecord());
}

TEST_F(WindowsOnlyTest, ReadOnlyLeftoverListingIsNeverRead) {
  // cmd.exe cannot write over a read-only file, so the old listing, which
  // would refuse 30%, would be read as the new one: the survey fails instead.
  const std::string leftover = machine_.work() + "/" + kListingName;
  WriteFile(leftover, "h\nh\nFull 1000 0\n");
  ASSERT_EQ(0, chmod(leftover.c_str(), 0444));
  const ToolRun run = machine_.RunTool({"30"});
  EXPECT_EQ(Lines(kTwoPools + std::string("Error in second spawn.\n")), Lines(run.output));
  EXPECT_EQ(5, run.status);
  EXPECT_EQ(machine_.RegistryBefore(), machine_.RegistryAfter());
  EXPECT_EQ("", machine_.ServiceRecord());
  EXPECT_EQ("h\nh\nFull 1000 0\n", ReadFile(leftover));
}

TEST_F(WindowsOnlyTest, PolicyThatCannotBeStoredIsReportedAndChangesNothing) {
  // Without administrator rights the policy key is read-only. The manifest
  // asks for no elevation, so Windows does not redirect the writes into a
  // per-user store: they fail, and the tool says so.
  const std::string lock = "C:\\Tools\\lockkey.exe read-only \"" + kKey21 + "\"";
  const std::string unlock = "C:\\Tools\\lockkey.exe full \"" + kKey21 + "\"";
  const ToolRun run = machine_.RunCommand("\"" + kProgram + "\" 30", "", lock, unlock);
  EXPECT_EQ(Lines(kTwoPools + std::string("\aThe snapshot reserve policy could not be stored.\n"
                                          "No change effected.\n")),
            Lines(run.output));
  EXPECT_EQ(6, run.status);
  EXPECT_EQ(machine_.RegistryBefore(), machine_.RegistryAfter());
  EXPECT_EQ(kMinimum, PolicyIn(machine_.Registry(), kKey21));
  EXPECT_EQ("", machine_.ServiceRecord());
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
}

TEST_F(WindowsOnlyTest, ManagementToolThatNeverEndsIsEndedWithWhatItStarted) {
  // Its console run lists the pools, starts a copy of itself and never ends:
  // after 120 seconds both are ended, with the job they run in.
  machine_.InstallTool(kTwoPools, kHangs);
  const ToolRun run = machine_.RunTool({"30"});
  EXPECT_EQ(Lines(kTwoPools + std::string("\aThe management tool did not finish in 120 seconds; "
                                          "its pool listing is not used.\n")),
            Lines(run.output));
  EXPECT_EQ(5, run.status);
  EXPECT_EQ(kMinimum, PolicyIn(machine_.Registry(), kKey21));
  EXPECT_EQ("", machine_.ServiceRecord());
  EXPECT_NE(0, std::system("pgrep -f 'plexadm[.]exe linger' > /dev/null")) << "the copy lingers";
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
}

TEST_F(WindowsOnlyTest, ReportReachesAnAgentsPipesWhole) {
  // An automation agent (Ansible's win_command, PowerShell remoting) starts
  // the tool with its output on pipes of high handle values: the report
  // arrives there whole, and the listing on standard error. Given one pipe
  // for both, the listing comes first on it; given no standard error, the
  // listing goes nowhere, never into the report.
  ASSERT_EQ(0, std::system(("cp '" ARG_PROBE_EXE "' '" + machine_.drive() + "/snapreserve-tests/'")
                               .c_str()));
  struct Launch {
    const char *form, *handles, *before_report;
    bool report;
    const char* errors;
  };
  for (const Launch& l : {Launch{"-j -s", "", "", true, kTwoPools},
                          {"-j -c 30", "", "", true, kTwoPools},
                          {"-j -c 30", "shared", kTwoPools, true, ""},
                          {"-j -s", "no-output", "", false, kTwoPools},
                          {"-j -c 30", "no-errors", "", true, ""}}) {
    const ToolRun run = machine_.RunCommand(kScratch + "\\argprobe.exe launch \"" + kProgram +
                                            " " + l.form + "\" " + l.handles);
    const std::string where = std::string(l.form) + " " + l.handles;
    EXPECT_EQ(0, run.status) << where;
    const size_t report = l.report ? std::min(run.output.find('{'), run.output.size())
                                   : std::string::npos;
    EXPECT_EQ(Lines(l.before_report), Lines(run.output.substr(0, report))) << where;
    if (l.report) ExpectReport(run.output.substr(report));
    EXPECT_EQ(Lines(l.errors), Lines(run.errors)) << where;
  }
  EXPECT_EQ(machine_.RegistryBefore(), machine_.RegistryAfter());
}

TEST_F(WindowsOnlyTest, CheckSaysWhereThisUserMayNotStoreThePolicy) {
  // The policy key read-only: the request would fail, so the check ends with
  // 6, but a policy already in effect needs no rights and still gives 8.
  // Where the key is missing, its nearest parent decides: read-only, no
  // subkey could be made there (Wine refuses the missing key's open outright
  // then, where Windows reports it missing and asks the parent); open again,
  // the key would be made there, and the check says so, making nothing.
  const std::string lock = "C:\\Tools\\lockkey.exe read-only \"" + kKey21 + "\"";
  const std::string unlock = "C:\\Tools\\lockkey.exe full \"" + kKey21 + "\"";
  ToolRun run = machine_.RunCommand("\"" + kProgram + "\" -c 30", "", lock, unlock);
  EXPECT_EQ(Lines(kTwoPools + std::string("A request of 30% would fail: this user may not store "
                                          "MinFreespacePerPoolPercent = 3000 under "
                                          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0"
                                          "\\Policies.\n")),
            Lines(run.output));
  EXPECT_EQ(6, run.status);
  EXPECT_EQ(machine_.RegistryBefore(), machine_.RegistryAfter());
  run = machine_.RunCommand("\"" + kProgram + "\" -c 15", "", lock, unlock);
  EXPECT_EQ(8, run.status) << run.output;

  machine_.LayRegistry("\"2.1\"", kEmpty, kEmpty);
  const std::string lock_parent = "C:\\Tools\\lockkey.exe read-only \"" + kKey20 + "\"";
  const std::string unlock_parent = "C:\\Tools\\lockkey.exe full \"" + kKey20 + "\"";
  run = machine_.RunCommand("\"" + kProgram + "\" -j -c 30", "", lock_parent, unlock_parent);
  EXPECT_EQ(6, run.status);
  ExpectReport(run.output,
               Report("check", 6, R"("2.1")", JsonKey(kKey21), JsonPolicy(kEmpty),
                      kSurveyTwoPools,
                      CheckFields(30, R"("percentage")", "MinFreespacePerPoolPercent", 3000,
                                  "null", false, "false")));
  EXPECT_EQ(Lines(kTwoPools), Lines(run.errors));
  EXPECT_EQ(machine_.RegistryBefore(), machine_.RegistryAfter()) << "no key created";
  run = machine_.RunCommand("\"" + kProgram + "\" -c 30");
  EXPECT_EQ(0, run.status) << "with the parent open again: " << run.output;
  EXPECT_EQ("", machine_.ServiceRecord());
  EXPECT_EQ(std::set<std::string>(), Entries(machine_.work()));
}

}  // namespace
}  // namespace e2e
