#include "platform/fake/fake_platform.h"

#include <new>

#include "platform/ascii_case.h"
#include "platform/block_stream.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/framework.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/stand_in/wide_text.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <sstream>

namespace fake {

namespace {

Machine machine;

std::map<std::wstring, platform::RegistryValue>* FindKey(const std::wstring& path) {
  for (auto& [key, values] : machine.registry) {
    if (platform::SameFolded(key, path)) return &values;
  }
  return nullptr;
}

std::map<std::wstring, platform::RegistryValue>::iterator FindName(
    std::map<std::wstring, platform::RegistryValue>& values, const std::wstring& name) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (platform::SameFolded(it->first, name)) return it;
  }
  return values.end();
}

std::wstring Joined(const std::vector<std::wstring>& words) {
  std::wstring line;
  for (const std::wstring& word : words) line += (line.empty() ? L"" : L" ") + word;
  return line;
}

std::wstring Describe(const platform::RegistryValue& value) {
  if (value.type == platform::kRegDword && value.data.size() == 4) {
    return std::to_wstring(platform::DwordNumber(value.data));
  }
  return L"type " + std::to_wstring(value.type);
}

}  // namespace

Machine& TheMachine() { return machine; }
void Reset() { machine = Machine(); }

platform::RegistryValue Text(const std::wstring& text, std::uint32_t type) {
  platform::RegistryValue value;
  value.type = type;
  value.data = platform::EncodeUtf16(text);
  value.data.insert(value.data.end(), {0, 0});
  return value;
}

platform::RegistryValue Dword(std::uint32_t number) { return platform::DwordValue(number); }

const platform::RegistryValue* FindValue(const std::wstring& key, const std::wstring& name) {
  auto* values = FindKey(key);
  if (!values) return nullptr;
  auto it = FindName(*values, name);
  return it == values->end() ? nullptr : &it->second;
}

bool KeyExists(const std::wstring& path) {
  for (const auto& entry : machine.registry) {
    const std::wstring& key = entry.first;
    if (platform::SameFolded(key, path) || platform::BeginsWithFolded(key, path + L"\\")) {
      return true;
    }
  }
  return false;
}

}  // namespace fake

namespace platform {

using fake::machine;

bool InitializeFramework() { return machine.framework_starts; }

void HoldPrintedText(std::wstring* held) { machine.held_text = held; }

void PrintText(const std::wstring& text) {
  if (machine.held_text) {
    *machine.held_text += text;
    return;
  }
  machine.console += text;
  machine.events.push_back(L"print " + text.substr(0, text.find(L'\n')));
}

void PrintError(const std::wstring& text) {
  machine.errors += text;
  machine.events.push_back(L"error " + text.substr(0, text.find(L'\n')));
}

long OpenRegistryKey(const std::wstring& path, RegistryKey* key) {
  if (machine.open_failure != 0) return machine.open_failure;
  if (!fake::KeyExists(path)) return kRegistryNotFound;
  key->path = path;
  return kRegistryOk;
}

long CreateRegistryKey(const std::wstring& path, RegistryKey* key) {
  if (machine.create_failure != 0) return machine.create_failure;
  if (!fake::FindKey(path)) {
    machine.registry[path];
    machine.events.push_back(L"create " + path);
  }
  key->path = path;
  return kRegistryOk;
}

long QueryRegistryValue(const RegistryKey& key, const std::wstring& name, RegistryValue* value) {
  const RegistryValue* found = fake::FindValue(key.path, name);
  if (!found) return kRegistryNotFound;
  *value = *found;
  return kRegistryOk;
}

long ReplaceRegistryValue(const RegistryKey& key, const std::wstring& removed,
                          const std::wstring& name, const RegistryValue& value,
                          ReplacedValues* replaced) {
  if (machine.replace_failure != 0) return machine.replace_failure;
  // Past this point a store is not taken back.
  HoldInterrupts();
  auto* found = fake::FindKey(key.path);
  auto& values = found ? *found : machine.registry[key.path];
  ReplacedValues before;
  auto old = fake::FindName(values, removed);
  if (old != values.end()) {
    before.had_removed = true;
    before.removed = old->second;
    values.erase(old);
    machine.events.push_back(L"remove " + key.path + L" " + removed);
  }
  old = fake::FindName(values, name);
  if (old != values.end()) {
    before.had_name = true;
    before.name = old->second;
    values.erase(old);
  }
  if (replaced) *replaced = before;
  values[name] = value;
  machine.events.push_back(L"set " + key.path + L" " + name + L"=" + fake::Describe(value));
  return kRegistryOk;
}

bool MayStoreUnderRegistryKey(const std::wstring& path) {
  machine.events.push_back(L"may store " + path);
  return machine.may_store;
}

void CloseRegistryKey(RegistryKey* key) { key->path.clear(); }

void SendChildOutputToErrors(bool to_errors) {
  machine.events.push_back(to_errors ? L"child output to errors" : L"child output to output");
}

RunResult RunAndWait(const std::vector<std::wstring>& argv) {
  machine.events.push_back(L"run " + fake::Joined(argv));
  return machine.run ? machine.run(argv) : RunResult{};
}

RunResult RunThroughShell(const std::wstring& shell, const ShellCommand& command,
                          const HeldFile& output) {
  machine.events.push_back(L"shell " + shell + L": " + command.text);
  if (machine.shell_result.status != -1 && output.handle >= 0) {
    machine.files[output.path] = machine.listing;
  }
  return machine.shell_result;
}

void HoldInterrupts() { machine.events.push_back(L"hold interrupts"); }

ServiceState QueryServiceState(const std::wstring& name) {
  machine.events.push_back(L"query " + name);
  return machine.service_state;
}

const std::wstring kEventSource = L"snapreserve";

// As "event <id> <type>: <string> | <string> ...".
std::wstring WriteEvent(EventType type, std::uint32_t id, const std::vector<std::wstring>& strings) {
  if (machine.event_out_of_memory) throw std::bad_alloc();
  if (!machine.event_refused.empty()) return machine.event_refused;
  std::wstring line = L"event " + std::to_wstring(id) + L" " + std::to_wstring(type) + L":";
  for (size_t i = 0; i < strings.size(); ++i) line += (i == 0 ? L" " : L" | ") + strings[i];
  machine.events.push_back(line);
  return std::wstring();
}

long ShortPathName(const std::wstring& path, std::wstring* short_path) {
  if (machine.files.count(path) == 0) return 2;
  *short_path = path;
  return 0;
}

// The held file's bytes, as the platform hands them out.
static int OpenHeldBytes(const std::wstring& path, std::unique_ptr<std::istream>* stream) {
  if (machine.open_file_failure != 0) return machine.open_file_failure;
  auto it = machine.files.find(path);
  if (it == machine.files.end()) return 2;  // ENOENT
  machine.events.push_back(L"open " + path);
  if (machine.read_failure_at < 0) {
    *stream = std::make_unique<std::istringstream>(it->second);
    return 0;
  }
  // The file stream the platforms use, over a file whose reads fail part way.
  auto at = std::make_shared<size_t>(0);
  const std::string bytes = it->second.substr(0, static_cast<size_t>(machine.read_failure_at));
  *stream = std::make_unique<platform::BlockStream>(
      [at, bytes](char* buffer, unsigned size) -> long {
        if (*at == bytes.size()) return -1;
        const size_t got = std::min<size_t>(size, bytes.size() - *at);
        bytes.copy(buffer, got, *at);
        *at += got;
        return static_cast<long>(got);
      },
      [] {});
  return 0;
}

bool FileExists(const std::wstring& path) { return machine.files.count(path) != 0; }

std::wstring SystemFolder() { return machine.system_folder; }

std::vector<std::wstring> ProgramFolders() { return machine.program_folders; }

bool DeleteFileAt(const std::wstring& path) {
  machine.events.push_back(L"delete " + path);
  return machine.stuck_files.count(path) == 0 && machine.files.erase(path) != 0;
}

int CreateHeldFile(const std::wstring& path, HeldFile* file) {
  if (machine.create_file_failure != 0) return machine.create_file_failure;
  if (machine.files.count(path) != 0) return EEXIST;
  machine.events.push_back(L"hold file " + path);
  machine.files[path] = "";
  file->path = path;
  file->handle = 1;
  return 0;
}

int ReadHeldFile(const HeldFile& file, std::unique_ptr<std::istream>* stream) {
  if (machine.held_file_links != 1) return EMLINK;
  if (!machine.shell_writes_listing) return ENOENT;  // the redirection never reached it
  return OpenHeldBytes(file.path, stream);
}

void ReleaseHeldFile(HeldFile* file) {
  if (file->handle < 0) return;
  machine.events.push_back(L"release " + file->path);
  machine.files.erase(file->path);
  file->handle = -1;
}

std::wstring WorkingFolder() { return machine.working_folder; }

}  // namespace platform
