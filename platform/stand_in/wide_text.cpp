#include "platform/stand_in/wide_text.h"

// One wide character holds any Unicode character here, as on Linux: a
// surrogate pair joins into one. A 16-bit wchar_t would need other code.
static_assert(sizeof(wchar_t) == 4, "wide text is UTF-32 on the stand-in machine");

namespace platform {

namespace {

const char32_t kEscapeBase = 0xDC80;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

void PutUnit(std::vector<std::uint8_t>& out, char32_t unit) {
  out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  out.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
}

}  // namespace

wchar_t DecodeUtf8Char(const char* bytes, size_t size, size_t* length) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  size_t count = 0;
  char32_t code = 0;
  char32_t lowest = 0;
  if (lead < 0x80) {
    count = 1, code = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    count = 2, code = lead & 0x1Fu, lowest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    count = 3, code = lead & 0x0Fu, lowest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    count = 4, code = lead & 0x07u, lowest = 0x10000;
  }
  bool valid = count != 0 && count <= size;
  for (size_t k = 1; valid && k < count; ++k) {
    const auto c = static_cast<unsigned char>(bytes[k]);
    valid = IsContinuation(c);
    code = (code << 6) | (c & 0x3Fu);
  }
  valid = valid && code >= lowest && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
  *length = valid ? count : 1;
  return static_cast<wchar_t>(valid ? code : kEscapeBase + lead - 0x80);
}

std::wstring DecodeUtf8(const std::string& bytes) {
  std::wstring text;
  for (size_t i = 0, length = 0; i < bytes.size(); i += length) {
    text.push_back(DecodeUtf8Char(bytes.data() + i, bytes.size() - i, &length));
  }
  return text;
}

std::string EncodeUtf8(const std::wstring& text) {
  std::string bytes;
  for (wchar_t wc : text) {
    const auto c = static_cast<char32_t>(wc);
    if (c >= kEscapeBase && c <= kEscapeBase + 0x7F) {
      bytes.push_back(static_cast<char>(c - kEscapeBase + 0x80));
    } else if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      bytes.push_back(static_cast<char>(0xC0 | (c >> 6)));
      bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      bytes.push_back(static_cast<char>(0xE0 | (c >> 12)));
      bytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      bytes.push_back(static_cast<char>(0xF0 | ((c >> 18) & 0x07)));
      bytes.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return bytes;
}

std::wstring DecodeUtf16(const std::uint8_t* data, size_t size) {
  std::wstring text;
  for (size_t i = 0; i < size; i += 2) {
    const char32_t unit = data[i] | (i + 1 < size ? char32_t{data[i + 1]} << 8 : 0u);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < size) {
      const char32_t next = data[i + 2] | char32_t{data[i + 3]} << 8;
      if (next >= 0xDC00 && next <= 0xDFFF) {
        text.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00)));
        i += 2;
        continue;
      }
    }
    text.push_back(static_cast<wchar_t>(unit));
  }
  return text;
}

std::vector<std::uint8_t> EncodeUtf16(const std::wstring& text) {
  std::vector<std::uint8_t> data;
  for (wchar_t wc : text) {
    const auto c = static_cast<char32_t>(wc);
    if (c >= 0x10000) {
      PutUnit(data, 0xD800 + ((c - 0x10000) >> 10));
      PutUnit(data, 0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      PutUnit(data, c);
    }
  }
  return data;
}

}  // namespace platform
