#ifndef SNAPRESERVE_TESTS_E2E_MACHINE_CHECKS_H_
#define SNAPRESERVE_TESTS_E2E_MACHINE_CHECKS_H_

// What every end-to-end runner needs, whatever machine it drives: the
// registry a scenario starts from, the output and service record it must end
// with, and the scratch files in between.

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/stand_in/reg_file.h"
#include "tests/e2e/scenarios.h"

namespace e2e {

const std::string kVersions = "SOFTWARE\\Halvorn\\Corridan\\Versions";
const std::string kKey20 = "SOFTWARE\\Halvorn\\Velmora\\2.0";
const std::string kKey21 = "SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies";
const std::string kListingName = "____HLV__PlexAdm__TempFile.vlmr";

inline std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

inline std::set<std::string> Entries(const std::string& directory) {
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

inline void Replace(std::string* text, const std::string& mark, const std::string& with) {
  for (size_t at = text->find(mark); at != std::string::npos; at = text->find(mark, at)) {
    text->replace(at, mark.size(), with);
    at += with.size();
  }
}

struct RunResult {
  std::string output;
  std::string errors;  // standard error, where the runner collected it
  int status = 0;  // the exit status, or -1000 less the signal that ended it
};

/// Starts `words` (a program, found on PATH unless it has a slash, and its
/// arguments) in `directory`, with standard output on a pipe whose read end
/// goes to `output`; `in_child` runs in the new process first (to set the
/// environment or a limit). Returns the process.
inline pid_t StartProgram(std::vector<std::string> words, const std::string& directory,
                          const std::function<void()>& in_child, int* output) {
  int out[2];
  if (pipe(out) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    if (chdir(directory.c_str()) != 0) _exit(120);
    if (in_child) in_child();
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(121);
  }
  close(out[1]);
  *output = out[0];
  return pid;
}

/// Collects what a started program printed, and how it ended.
inline RunResult FinishProgram(pid_t pid, int output) {
  RunResult result;
  char chunk[4096];
  ssize_t got;
  while ((got = read(output, chunk, sizeof chunk)) > 0) {
    result.output.append(chunk, static_cast<size_t>(got));
  }
  close(output);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
  return result;
}

inline std::string Describe(long long value) {
  return value == kNone ? "none" : std::to_string(value);
}

// One reserve value as a registry export writes it.
inline std::string PolicyData(long long value) {
  if (value == kBinary3000) return "hex:b8,0b,00,00";
  if (value == kShort1056) return "hex(4):20,04";
  char data[32];
  std::snprintf(data, sizeof data, "dword:%08llx", value);
  return data;
}

inline std::string PolicyLines(const Policy& policy) {
  std::string lines;
  if (policy.percent != kNone) {
    lines += "\"MinFreespacePerPoolPercent\"=" + PolicyData(policy.percent) + "\r\n";
  }
  if (policy.absolute != kNone) {
    lines += "\"MinFreespacePerPool\"=" + PolicyData(policy.absolute) + "\r\n";
  }
  return lines;
}

/// The keys of a registry export (without its header line): the release,
/// the policies, and unrelated values that must come through every run.
inline std::string RegistryKeys(const std::string& release, const Policy& before20,
                                const Policy& before21) {
  std::string reg;
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
  return reg;
}

/// The scenario's expected output (or, with `text`, that text) with its
/// marks filled in.
inline std::string ExpectedOutput(const Scenario& scenario, const std::string& program,
                                  const std::string& stop, const std::string& start,
                                  const std::string& start_failed,
                                  const std::string* text = nullptr) {
  std::string output = text ? *text : scenario.output;
  Replace(&output, "@PROG@", program);
  Replace(&output, "@LISTING@", scenario.listing);
  Replace(&output, "@STOP@", stop);
  Replace(&output, "@START_FAILED@", start_failed);
  Replace(&output, "@START@", start);
  return output;
}

/// Whether the expected output is the JSON report.
inline bool IsReport(const std::string& expected) {
  return !expected.empty() && expected[0] == '{';
}

/// Checks what the tool printed against the report's schema and, when one is
/// given, against the expected document, with tests/json/check-report.py
/// under the Python that has the schema validator.
inline void ExpectReport(const std::string& printed, const std::string& expected = "") {
  char folder[] = "/tmp/snapreserve-report-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(folder));
  const std::string output = std::string(folder) + "/output.json";
  const std::string wanted = std::string(folder) + "/expected.json";
  WriteFile(output, printed);
  std::string command = "'" SNAPRESERVE_PYTHON "' '" SNAPRESERVE_SOURCE_DIR
                        "/tests/json/check-report.py' '" SNAPRESERVE_SCHEMA "' '" + output + "'";
  if (!expected.empty()) {
    WriteFile(wanted, expected);
    command += " '" + wanted + "'";
  }
  command += " 2>&1";
  std::string said;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) said.append(chunk, got);
    EXPECT_EQ(0, pclose(pipe)) << said;
  } else {
    ADD_FAILURE() << "cannot run " << command;
  }
  unlink(output.c_str());
  unlink(wanted.c_str());
  rmdir(folder);
}

/// What the monitor service records: one stop, then one start that found
/// the new policy, the one under the key this run changed; the stop alone
/// when the monitor could not start again; or nothing.
inline std::string ExpectedRecord(const Scenario& s) {
  if (!s.monitor_starts) return "STOP VLMRMON\n";
  if (!s.restarted) return "";
  const Policy& in_force = s.after21 == s.before21 ? s.after20 : s.after21;
  return "STOP VLMRMON\nSTART VLMRMON MinFreespacePerPoolPercent=" + Describe(in_force.percent) +
         " MinFreespacePerPool=" + Describe(in_force.absolute) + "\n";
}

/// The ID and type of the event a scenario's run leaves, as "<id> <type>:";
/// empty where it leaves none: only a request that got past the release
/// leaves one, 100 plus its status.
inline std::string EventHead(const Scenario& s) {
  const bool request = s.args.size() == 1 && !s.args[0].empty() &&
                       std::isdigit(static_cast<unsigned char>(s.args[0][0]));
  if (!request || s.status < 0) return "";
  const char* type = s.status == 0 || s.status == 3 || s.status == 4 ? "information"
                     : s.status == 2 || s.status == 5               ? "warning"
                                                                    : "error";
  return std::to_string(100 + s.status) + " " + type + ":";
}

/// Checks the events a run left, each as "<id> <type>: <string> | ...": the
/// one the scenario leaves, whole where the scenario gives its strings, or none.
inline void ExpectEvents(const Scenario& s, const std::vector<std::string>& events) {
  const std::string head = EventHead(s);
  if (head.empty()) {
    EXPECT_TRUE(events.empty()) << events.size() << " events";
    return;
  }
  ASSERT_EQ(1u, events.size()) << "one event a request";
  EXPECT_EQ(0u, events[0].rfind(head, 0)) << events[0];
  if (!s.event.empty()) {
    EXPECT_EQ(head + " " + s.event, events[0]);
  }
}

/// Whether the run stores a policy: every run that does restarts the monitor,
/// and every other run (--show too) leaves the registry byte for byte.
inline bool Stores(const Scenario& s) { return s.restarted || !s.monitor_starts; }

/// A registry export, which must parse.
inline platform::RegFile ParsedExport(const std::string& bytes) {
  platform::RegFile file;
  int bad_line = 0;
  EXPECT_TRUE(platform::ParseRegFile(bytes, &file, &bad_line))
      << "the registry stops making sense at line " << bad_line;
  return file;
}

inline long long DwordAt(const platform::RegFile& file, const std::string& key,
                         const std::string& name) {
  platform::RegistryValue value;
  if (!platform::FindRegValue(file, Wide(key), Wide(name), &value)) return kNone;
  if (value.type == platform::kRegBinary && value.data == platform::DwordValue(3000).data) {
    return kBinary3000;
  }
  if (value.type == platform::kRegDword && value.data.size() == 2) return kShort1056;
  EXPECT_EQ(platform::kRegDword, value.type) << name;
  return platform::DwordNumber(value.data);
}

inline Policy PolicyIn(const platform::RegFile& file, const std::string& key) {
  return {DwordAt(file, key, "MinFreespacePerPoolPercent"), DwordAt(file, key, "MinFreespacePerPool")};
}

/// The values a run must never touch: the installer's beside the release,
/// the product's beside the policy, and a key of another program.
inline void ExpectUnrelatedValuesKept(bool release_installed, const platform::RegFile& product,
                                      const platform::RegFile& other) {
  platform::RegistryValue value;
  EXPECT_TRUE(platform::FindRegValue(other, L"SOFTWARE\\Unrelated", L"Keep", &value));
  EXPECT_EQ(std::vector<std::uint8_t>({1, 2, 3}), value.data);
  EXPECT_TRUE(platform::FindRegValue(product, Wide(kKey20), L"InstallDir", &value));
  EXPECT_EQ(release_installed,
            platform::FindRegValue(product, Wide(kVersions), L"Installer", &value));
}

inline void PrintTo(const Policy& policy, std::ostream* os) {
  *os << "{percent " << Describe(policy.percent) << ", absolute " << Describe(policy.absolute)
      << "}";
}

inline void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.name; }

}  // namespace e2e

#endif  // SNAPRESERVE_TESTS_E2E_MACHINE_CHECKS_H_
