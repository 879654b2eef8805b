#include "platform/stand_in/machine.h"

#include <cstdlib>
#include <cwctype>

#include "platform/stand_in/wide_text.h"

namespace platform {

std::string MachineRoot() {
  const char* root = std::getenv("VELMORA_ROOT");
  return root && *root ? root : SNAPRESERVE_DEFAULT_ROOT;
}

std::string HostPath(const std::wstring& windows_path) {
  std::wstring path = windows_path;
  std::string prefix;
  if (path.size() >= 3 && std::iswalpha(static_cast<wint_t>(path[0])) && path[1] == L':' &&
      path[2] == L'\\') {
    prefix = MachineRoot() + "/drive_" +
             static_cast<char>(std::towlower(static_cast<wint_t>(path[0])));
    path = path.substr(2);
  }
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  return prefix + EncodeUtf8(path);
}

std::string RegistryFilePath() { return MachineRoot() + "/" + kRegistryFileName; }

}  // namespace platform
