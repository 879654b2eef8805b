#ifndef SNAPRESERVE_PLATFORM_ASCII_CASE_H_
#define SNAPRESERVE_PLATFORM_ASCII_CASE_H_

// Text that matches without regard to case: the tool's switches, and registry
// key and value names. Only the letters A to Z fold, as the C library folds
// them in its default locale: every name the tool itself uses is ASCII. No
// system call here, so the logic, the platforms and the fake share it.

#include <string>

namespace platform {

/// A to Z as a to z; any other character as it is.
constexpr wchar_t FoldCase(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

/// True when `text` begins with `prefix`, letters in any case.
inline bool BeginsWithFolded(const std::wstring& text, const std::wstring& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (FoldCase(text[i]) != FoldCase(prefix[i])) return false;
  }
  return true;
}

/// True when `a` and `b` are the same text, letters in any case.
inline bool SameFolded(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && BeginsWithFolded(a, b);
}

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_ASCII_CASE_H_
