// A Windows program for the Wine suite that starts programs through the
// tool's own platform layer and reports what arrives:
//   argprobe run LIST     RunAndWait on the lines of LIST: a program, then
//                         its arguments
//   argprobe shell LIST   RunThroughShell: the first line of LIST is the
//                         shell, the second the command as cmd.exe reads it
//   argprobe ...          anything else: writes its command line as it came,
//                         then each argument as the C runtime read it, one a
//                         line, to standard output
// LIST is UTF-8, one item a line; a line may hold spaces, tabs and quotes.
// The exit status is the started program's, or 100 when it did not start.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/process.h"

namespace {

std::string Utf8(const std::wstring& text) {
  std::string bytes(text.size() * 3, '\0');
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         &bytes[0], static_cast<int>(bytes.size()), nullptr, nullptr);
  bytes.resize(static_cast<size_t>(length));
  return bytes;
}

std::vector<std::wstring> Lines(const wchar_t* path) {
  std::vector<std::wstring> lines;
  FILE* file = _wfopen(path, L"rb");
  if (!file) return lines;
  std::string bytes;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
  std::fclose(file);
  std::wstring text(bytes.size(), L'\0');
  const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                         &text[0], static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(length));
  size_t start = 0;
  for (size_t end = text.find(L'\n'); end != std::wstring::npos; end = text.find(L'\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

int Ended(const platform::RunResult& run) { return run.status == -1 ? 100 : run.status; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"run") == 0) {
    return Ended(platform::RunAndWait(Lines(argv[2])));
  }
  if (argc == 3 && std::wcscmp(argv[1], L"shell") == 0) {
    const std::vector<std::wstring> lines = Lines(argv[2]);
    if (lines.size() != 2) return 100;
    // The Windows platform gives cmd.exe the text alone.
    return Ended(platform::RunThroughShell(lines[0], {{}, L"", lines[1]}, platform::HeldFile()));
  }
  std::string record = Utf8(GetCommandLineW()) + "\n";
  for (int i = 1; i < argc; ++i) record += Utf8(argv[i]) + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), record.data(), static_cast<DWORD>(record.size()),
            &written, nullptr);
  return 0;
}
