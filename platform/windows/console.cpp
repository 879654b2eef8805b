#include <windows.h>

#include <cstdio>

#include "platform/console.h"

namespace platform {

namespace {

std::wstring* held_text = nullptr;

// Each "\n" as "\r\n", as the C runtime's text mode wrote it.
std::wstring WindowsLineEnds(const std::wstring& text) {
  std::wstring lines;
  lines.reserve(text.size() + 8);
  for (wchar_t c : text) {
    if (c == L'\n') lines.push_back(L'\r');
    lines.push_back(c);
  }
  return lines;
}

void WriteToConsole(HANDLE console, const std::wstring& text) {
  const wchar_t* rest = text.data();
  DWORD left = static_cast<DWORD>(text.size());
  while (left > 0) {
    DWORD written = 0;
    if (!WriteConsoleW(console, rest, left, &written, nullptr) || written == 0) return;
    rest += written;
    left -= written;
  }
}

// Redirected output goes in the console's output code page, or the OEM one
// when there is no console, as the system's own console programs write it: a
// character the page lacks becomes the page's default character, never a
// look-alike ("best fit") that could name another, real folder. A few pages
// (UTF-8 among them) take no flags; they have every character anyway.
void WriteConverted(HANDLE file, const std::wstring& text) {
  UINT page = GetConsoleOutputCP();
  if (page == 0) page = GetOEMCP();
  const int wide_length = static_cast<int>(text.size());
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  int length =
      WideCharToMultiByte(page, flags, text.data(), wide_length, nullptr, 0, nullptr, nullptr);
  if (length <= 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;
    length = WideCharToMultiByte(page, flags, text.data(), wide_length, nullptr, 0, nullptr,
                                 nullptr);
  }
  if (length <= 0) return;
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(page, flags, text.data(), wide_length, &bytes[0], length, nullptr,
                      nullptr);
  const char* rest = bytes.data();
  DWORD left = static_cast<DWORD>(bytes.size());
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(file, rest, left, &written, nullptr) || written == 0) return;
    rest += written;
    left -= written;
  }
}

}  // namespace

// Written straight to the standard output handle, which the programs the tool
// starts share, so the text lands before anything they write. Whatever the C
// runtime might still hold for stdout goes first. A console is given the
// text as it is, so every letter of a program path shows; a file or pipe is
// given the bytes of the console's code page.
void HoldPrintedText(std::wstring* held) { held_text = held; }

// Writes to the standard handle `which` as PrintText writes.
void PrintTo(DWORD which, const std::wstring& text) {
  std::fflush(stdout);
  const HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  const std::wstring lines = WindowsLineEnds(text);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    WriteToConsole(out, lines);
  } else {
    WriteConverted(out, lines);
  }
}

void PrintText(const std::wstring& text) {
  if (held_text) {
    *held_text += text;
    return;
  }
  PrintTo(STD_OUTPUT_HANDLE, text);
}

void PrintError(const std::wstring& text) { PrintTo(STD_ERROR_HANDLE, text); }

}  // namespace platform
