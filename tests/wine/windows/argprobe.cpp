// A Windows program for the Wine suite that starts programs through the
// tool's own platform layer and reports what arrives:
//   argprobe run LIST     RunAndWait on the lines of LIST: a program, then
//                         its arguments
//   argprobe shell LIST   RunThroughShell: the first line of LIST is the
//                         shell, the second the command as cmd.exe reads it
//   argprobe plant NAME DELAY SOURCE
//                         waits up to 20 s for NAME to go, then DELAY
//                         microseconds, then puts SOURCE's bytes there in a
//                         new file held for 2 s without write sharing, or,
//                         where DELAY ends in "l", a hard link to SOURCE
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

// Plants a file at `name` as soon as it is gone: what someone who can
// create files in the working folder could do between the tool's removal
// of a leftover and its next step.
int Plant(const wchar_t* name, const wchar_t* delay, const wchar_t* source) {
  const ULONGLONG until = GetTickCount64() + 20000;
  while (GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount64() > until) return 1;
  }
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const LONGLONG wait = _wtoi(delay) * frequency.QuadPart / 1000000;
  do {
    QueryPerformanceCounter(&now);
  } while (now.QuadPart - start.QuadPart < wait);
  if (delay[0] != L'\0' && delay[std::wcslen(delay) - 1] == L'l') {
    return CreateHardLinkW(name, source, nullptr) ? 0 : 2;
  }
  const HANDLE file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  const std::vector<std::wstring> lines = Lines(source);
  std::string bytes;
  for (const std::wstring& line : lines) bytes += Utf8(line) + "\n";
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  Sleep(2000);
  CloseHandle(file);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 5 && std::wcscmp(argv[1], L"plant") == 0) return Plant(argv[2], argv[3], argv[4]);
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
