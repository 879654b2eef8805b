// Simulated management tool for Windows: "pool" prints the listing kept beside
// it in pools.txt, byte for byte; the number in exit-status beside it, if any,
// is its exit status (-1 included). The word "vanish" there makes it move
// itself aside to plexadm.off once it has listed; "hang" makes it start a
// copy of itself that lingers ("plexadm linger") and then never end.

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::wstring Beside(const wchar_t* name) {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

std::string ReadAll(const std::wstring& path, bool* found) {
  std::string bytes;
  FILE* file = _wfopen(path.c_str(), L"rb");
  *found = file != nullptr;
  if (!file) return bytes;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
  std::fclose(file);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "linger") == 0) Sleep(INFINITE);
  if (argc != 2 || std::strcmp(argv[1], "pool") != 0) {
    std::printf("usage: plexadm pool\n");
    return 1;
  }
  bool found = false;
  const std::string listing = ReadAll(Beside(L"pools.txt"), &found);
  _setmode(_fileno(stdout), _O_BINARY);
  std::fwrite(listing.data(), 1, listing.size(), stdout);
  std::fflush(stdout);
  const std::string status = ReadAll(Beside(L"exit-status"), &found);
  if (status.rfind("hang", 0) == 0) {
    std::wstring line = L"plexadm.exe linger";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    CreateProcessW(Beside(L"plexadm.exe").c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                   nullptr, &startup, &child);
    Sleep(INFINITE);
  }
  if (status.rfind("vanish", 0) == 0) {
    return MoveFileExW(Beside(L"plexadm.exe").c_str(), Beside(L"plexadm.off").c_str(),
                       MOVEFILE_REPLACE_EXISTING)
               ? 0
               : 1;
  }
  return found ? std::atoi(status.c_str()) : 0;
}
