#ifndef SNAPRESERVE_PLATFORM_STAND_IN_WIDE_TEXT_H_
#define SNAPRESERVE_PLATFORM_STAND_IN_WIDE_TEXT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// UTF-8 bytes to wide text. A byte that is not part of valid UTF-8 becomes
/// U+DC80 + byte, which EncodeUtf8 turns back into that byte: any byte string
/// (a path, an argument) survives the round trip unchanged.
std::wstring DecodeUtf8(const std::string& bytes);
std::string EncodeUtf8(const std::wstring& text);

/// The first character that DecodeUtf8 reads from `size` bytes (at least
/// one), and in `length` how many of them it takes.
wchar_t DecodeUtf8Char(const char* bytes, size_t size, size_t* length);

/// UTF-16LE code units to wide text and back. Surrogate pairs join into one
/// character; a lone surrogate stays as it is, so any data survives. An odd
/// last byte is read as a unit whose high byte is zero.
std::wstring DecodeUtf16(const std::uint8_t* data, size_t size);
std::vector<std::uint8_t> EncodeUtf16(const std::wstring& text);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_STAND_IN_WIDE_TEXT_H_
