// Simulated NET command of the stand-in machine, for the monitor service
// VLMRMON only. "STOP VLMRMON" and "START VLMRMON" each append a line to
// <root>/service.log; a start records the policy the monitor finds then:
//   STOP VLMRMON
//   START VLMRMON MinFreespacePerPoolPercent=3000 MinFreespacePerPool=none
// The monitor reads the policy key of its release, as the product does:
// ...\2.0\Policies when the release text holds "2.1", else ...\2.0.
// The service manager's record, <root>/services/VLMRMON, holds RUNNING or
// STOPPED after each; without it there is no such service. As on Windows, a
// start fails when the monitor's program, vlmrmon.exe in the product's
// folder, is not there.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <utility>
#include <string>

#include "platform/stand_in/reg_file.h"
#include "platform/stand_in/wide_text.h"

namespace {

// Its own path is <root>/drive_c/<Windows folder>/System32/NET.exe.
const std::string kDrive = "/drive_c/";
const std::string kSelf = "/System32/NET.exe";
const std::wstring kService = L"VLMRMON";
const std::wstring kVersionsKey = L"SOFTWARE\\Halvorn\\Corridan\\Versions";
const std::wstring kPolicyKey20 = L"SOFTWARE\\Halvorn\\Velmora\\2.0";
const std::wstring kPolicyKey21 = L"SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies";
const std::wstring kPolicyValues[] = {L"MinFreespacePerPoolPercent", L"MinFreespacePerPool"};
const std::string kRecord = "/services/VLMRMON";
const std::string kMonitorPrograms[] = {
    "/drive_c/Program Files/Halvorn/Velmora 2.0/vlmrmon.exe",
    "/drive_c/Program Files (x86)/Halvorn/Velmora 2.0/vlmrmon.exe"};

bool IsFile(const std::string& path) {
  std::ifstream in(path);
  return in.good();
}

std::string Describe(const platform::RegFile& file, const std::wstring& key,
                     const std::wstring& name) {
  platform::RegistryValue value;
  if (!platform::FindRegValue(file, key, name, &value)) return "none";
  if (value.type != platform::kRegDword || value.data.size() != 4) return "unreadable";
  return std::to_string(platform::DwordNumber(value.data));
}

std::string PolicyInForce(const std::string& root) {
  // Read straight into the one string the file is kept in.
  std::ifstream in(root + "/system.reg", std::ios::binary | std::ios::ate);
  std::string bytes(in ? static_cast<size_t>(in.tellg()) : 0, '\0');
  in.seekg(0);
  in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  platform::RegFile file;
  int bad_line = 0;
  if (!platform::ParseRegFile(std::move(bytes), &file, &bad_line)) return " registry-unreadable";
  platform::RegistryValue release;
  std::wstring text;
  if (platform::FindRegValue(file, kVersionsKey, L"VLMR", &release)) {
    text = platform::DecodeUtf16(release.data.data(), release.data.size());
    text = text.substr(0, text.find(L'\0'));  // a multi-string's first string
  }
  const std::wstring key = text.find(L"2.1") != std::wstring::npos ? kPolicyKey21 : kPolicyKey20;
  std::string record;
  for (const std::wstring& name : kPolicyValues) {
    record += " " + platform::EncodeUtf8(name) + "=" + Describe(file, key, name);
  }
  return record;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string self = argv[0];
  const std::string verb = argc > 1 ? argv[1] : "";
  const size_t drive = self.rfind(kDrive);
  if (argc != 3 || platform::DecodeUtf8(argv[2]) != kService || (verb != "STOP" && verb != "START") ||
      drive == std::string::npos || self.size() < kSelf.size() ||
      self.compare(self.size() - kSelf.size(), kSelf.size(), kSelf)) {
    std::cout << "The syntax of this command is:\n\nNET STOP VLMRMON | NET START VLMRMON\n";
    return 1;
  }
  const std::string root = self.substr(0, drive);
  if (!IsFile(root + kRecord)) {
    std::cout << "The service name is invalid.\n\n"
                 "More help is available by typing NET HELPMSG 2185.\n";
    return 2;
  }
  bool found = false;
  for (const std::string& program : kMonitorPrograms) found = found || IsFile(root + program);
  if (verb == "START" && !found) {
    std::cout << "System error 2 has occurred.\n\nThe system cannot find the file specified.\n";
    return 2;
  }
  std::string record = verb + " VLMRMON";
  if (verb == "START") record += PolicyInForce(root);
  std::ofstream log(root + "/service.log", std::ios::app);
  log << record << "\n";
  std::ofstream state(root + kRecord, std::ios::trunc);
  state << (verb == "STOP" ? "STOPPED" : "RUNNING") << "\n";
  std::cout << "The VLMRMON service was " << (verb == "STOP" ? "stopped" : "started")
            << " successfully.\n";
  return log.good() && state.good() ? 0 : 2;
}
