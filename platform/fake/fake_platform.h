#ifndef SNAPRESERVE_PLATFORM_FAKE_FAKE_PLATFORM_H_
#define SNAPRESERVE_PLATFORM_FAKE_FAKE_PLATFORM_H_

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service.h"

// An in-memory machine behind the platform operations, for the unit tests of
// the logic above them. Every operation that changes something, and every
// line printed, is appended to `events` so that a test can check the order
// of effects; any operation can be made to fail.

namespace fake {

struct Machine {
  // Framework and console.
  bool framework_starts = true;
  std::wstring console;
  std::wstring errors;  // PrintError's
  std::wstring* held_text = nullptr;  // HoldPrintedText's

  // Registry: key path (as first created) -> value name -> value. Keys and
  // names match without regard to case.
  std::map<std::wstring, std::map<std::wstring, platform::RegistryValue>> registry;
  long open_failure = 0;                     // OpenRegistryKey fails with this
  long create_failure = 0;                   // CreateRegistryKey fails with this
  long replace_failure = 0;                  // ReplaceRegistryValue fails with this
  bool may_store = true;                     // MayStoreUnderRegistryKey answers this

  // Files of the machine (Windows paths) and of the working directory.
  std::map<std::wstring, std::string> files;
  // Files that no delete removes and no shell writes over (read-only, say).
  std::set<std::wstring> stuck_files;
  int open_file_failure = 0;  // ReadHeldFile fails with this errno
  int create_file_failure = 0;  // CreateHeldFile fails with this errno
  unsigned held_file_links = 1;  // names a held file has when it is read
  std::wstring working_folder = L"C:\\Work";
  long read_failure_at = -1;  // a file read fails after this many bytes
  // Folders as the system reports them; empty: not reported.
  std::wstring system_folder = L"C:\\Windows\\System32";
  std::vector<std::wstring> program_folders = {L"C:\\Program Files (x86)",
                                               L"C:\\Program Files"};

  // Child processes. `run` answers RunAndWait; the shell records the text of
  // its command, writes `listing` into the held file and answers with
  // `shell_result`.
  std::function<platform::RunResult(const std::vector<std::wstring>&)> run;
  std::string listing;
  bool shell_writes_listing = true;  // false: the redirection never reached the file
  platform::RunResult shell_result;
  // The service manager: what it reports of the monitor.
  platform::ServiceState service_state = platform::ServiceState::kRunning;

  std::vector<std::wstring> events;
  bool event_out_of_memory = false;  // WriteEvent runs out of memory
  std::wstring event_refused;        // WriteEvent fails, saying this
};

/// The machine the platform operations act on; Reset gives a fresh one.
Machine& TheMachine();
void Reset();

/// Helpers for tests.
platform::RegistryValue Text(const std::wstring& text, std::uint32_t type = platform::kRegSz);
platform::RegistryValue Dword(std::uint32_t value);
/// The value, or nullptr; keys and names match without regard to case.
const platform::RegistryValue* FindValue(const std::wstring& key, const std::wstring& name);
bool KeyExists(const std::wstring& key);

}  // namespace fake

#endif  // SNAPRESERVE_PLATFORM_FAKE_FAKE_PLATFORM_H_
