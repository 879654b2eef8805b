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
//   argprobe launch LINE [HANDLES]
//                         starts the command line LINE as an automation agent
//                         would: its standard output and error on pipes of
//                         high handle values, both passed on as they come;
//                         HANDLES "shared" gives it one pipe for both (passed
//                         on as output), "no-output" or "no-errors" none for
//                         that one; the exit status is LINE's
//   argprobe render FILE FIRST LAST
//                         loads FILE as a data file and prints the text of
//                         each message ID from FIRST to LAST that it holds,
//                         as "<id>: <text>", with "<1>" ... "<9>" for its
//                         insertion strings; the exit status is how many
//                         IDs it holds
//   argprobe ...          anything else: writes its command line as it came,
//                         then each argument as the C runtime read it, one a
//                         line, to standard output
// LIST is UTF-8, one item a line; a line may hold spaces, tabs and quotes.
// The exit status is the started program's, or 100 plus the reason's errno
// when it did not start.

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

int Ended(const platform::RunResult& run) {
  return run.status == -1 ? 100 + run.error : run.status;
}

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

struct Collected {
  HANDLE pipe;
  std::string bytes;
};

DWORD WINAPI Collect(void* context) {
  Collected* collected = static_cast<Collected*>(context);
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(collected->pipe, chunk, sizeof chunk, &got, nullptr) && got != 0) {
    collected->bytes.append(chunk, got);
  }
  return 0;
}

void Pass(DWORD which, const std::string& bytes) {
  DWORD written = 0;
  WriteFile(GetStdHandle(which), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Handles taken first push the pipes' handle values up, where a program that
// returns its standard output under a new handle value is caught out.
int Launch(const wchar_t* line, const std::wstring& handles) {
  for (int i = 0; i < 60; ++i) CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  if (!CreatePipe(&out_read, &out_write, &inherited, 0) ||
      !CreatePipe(&err_read, &err_write, &inherited, 0)) {
    return 100;
  }
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = handles == L"no-output" ? nullptr : out_write;
  startup.hStdError = handles == L"shared" ? out_write : err_write;
  if (handles == L"no-errors") startup.hStdError = nullptr;
  PROCESS_INFORMATION process;
  std::wstring command = line;
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return 100;
  }
  CloseHandle(out_write);
  CloseHandle(err_write);
  Collected out = {out_read, {}}, err = {err_read, {}};
  HANDLE readers[] = {CreateThread(nullptr, 0, Collect, &out, 0, nullptr),
                      CreateThread(nullptr, 0, Collect, &err, 0, nullptr)};
  WaitForSingleObject(process.hProcess, INFINITE);
  WaitForMultipleObjects(2, readers, TRUE, INFINITE);
  DWORD code = 100;
  GetExitCodeProcess(process.hProcess, &code);
  Pass(STD_OUTPUT_HANDLE, out.bytes);
  Pass(STD_ERROR_HANDLE, err.bytes);
  return static_cast<int>(code);
}

// The messages of an event message file, as an event viewer renders them.
int Render(const wchar_t* file, DWORD first, DWORD last) {
  const HMODULE module =
      LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) return 0;
  const wchar_t* strings[] = {L"<1>", L"<2>", L"<3>", L"<4>", L"<5>",
                              L"<6>", L"<7>", L"<8>", L"<9>"};
  int found = 0;
  for (DWORD id = first; id <= last; ++id) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        module, id, 0x409, reinterpret_cast<wchar_t*>(&text), 0,
        reinterpret_cast<va_list*>(const_cast<wchar_t**>(strings)));
    if (length == 0) continue;
    ++found;
    std::string utf8(static_cast<size_t>(
                         WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr,
                                             0, nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &utf8[0],
                        static_cast<int>(utf8.size()), nullptr, nullptr);
    std::printf("%lu: %s\n", static_cast<unsigned long>(id), utf8.c_str());
    LocalFree(text);
  }
  FreeLibrary(module);
  return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 5 && std::wcscmp(argv[1], L"render") == 0) {
    return Render(argv[2], std::wcstoul(argv[3], nullptr, 10), std::wcstoul(argv[4], nullptr, 10));
  }
  if ((argc == 3 || argc == 4) && std::wcscmp(argv[1], L"launch") == 0) {
    return Launch(argv[2], argc == 4 ? argv[3] : L"");
  }
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
