#include "platform/stand_in/reg_file.h"

#include <cstring>
#include <type_traits>

#include "platform/ascii_case.h"
#include "platform/stand_in/wide_text.h"

// The file stays as its bytes. Reading it walks the lines in place, one code
// unit at a time (a byte, or a UTF-16 unit), and decodes text only where a
// name or a value is asked for: every character the format gives a meaning
// to is ASCII, so a walk over units finds the same lines, keys and values as
// one over decoded text. A change splices the bytes of the lines it touches.

namespace platform {

namespace {

const std::wstring kHeader5 = L"Windows Registry Editor Version 5.00";
const std::wstring kHeader4 = L"REGEDIT4";
const std::wstring kHive = L"HKEY_LOCAL_MACHINE";
const std::wstring kShortHive = L"HKLM";
const std::wstring kCrLf = L"\r\n";
const char kUtf16Mark[] = "\xFF\xFE";
const char kUtf8Mark[] = "\xEF\xBB\xBF";
const size_t kNone = static_cast<size_t>(-1);

bool IsBlank(char32_t c) { return c == U' ' || c == U'\t'; }

std::wstring FullPath(const std::wstring& path) {
  return path.empty() ? kHive : kHive + L"\\" + path;
}

// The value of each ASCII character as a hex digit, or -1.
struct HexDigits {
  signed char value[128];
  constexpr HexDigits() : value() {
    for (int c = 0; c < 128; ++c) {
      value[c] = static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                 : -1);
    }
  }
};
constexpr HexDigits kHexDigits;

int HexDigit(char32_t c) { return c < 128 ? kHexDigits.value[c] : -1; }

bool IsTextType(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Quoted text as read: each backslash takes the character after it as it is.
std::wstring Unescape(const std::wstring& quoted) {
  std::wstring text;
  for (size_t i = 0; i < quoted.size(); ++i) {
    if (quoted[i] == L'\\' && i + 1 < quoted.size()) ++i;
    text.push_back(quoted[i]);
  }
  return text;
}

// The code units of one physical line of the file, in place. W is the width
// of a unit in bytes: 2 for UTF-16LE, 1 for 8-bit text.
template <int W>
struct LineUnits {
  const unsigned char* bytes;  // the line's first unit
  size_t count;                // units
  size_t size() const { return count; }
  char32_t operator[](size_t i) const {
    return W == 2 ? static_cast<char32_t>(bytes[2 * i] | bytes[2 * i + 1] << 8) : bytes[i];
  }
  std::wstring Decode(size_t from, size_t to) const {
    if (W == 2) return DecodeUtf16(bytes + 2 * from, 2 * (to - from));
    return DecodeUtf8(std::string(reinterpret_cast<const char*>(bytes) + from, to - from));
  }
};

// A value continued over several lines, joined as decoded text, as the lines
// are joined before their value is read.
struct JoinedText {
  const std::wstring* text;
  size_t size() const { return text->size(); }
  char32_t operator[](size_t i) const { return static_cast<char32_t>((*text)[i]); }
  std::wstring Decode(size_t from, size_t to) const { return text->substr(from, to - from); }
};

template <class Units>
void TrimRange(const Units& units, size_t* from, size_t* to) {
  while (*from < *to && IsBlank(units[*from])) ++*from;
  while (*to > *from && IsBlank(units[*to - 1])) --*to;
}

// Reads 1 to `most` hex digits making up all of units [from, to).
template <class Units>
bool ParseHex(const Units& units, size_t from, size_t to, size_t most, std::uint32_t* number) {
  if (from >= to || to - from > most) return false;
  *number = 0;
  for (size_t i = from; i < to; ++i) {
    const int digit = HexDigit(units[i]);
    if (digit < 0) return false;
    *number = (*number << 4) | static_cast<std::uint32_t>(digit);
  }
  return true;
}

// Finds the end of a quoted text starting at units[*at] == '"', with the
// escapes \\ and \", within [*at, to): `close` is its closing quote, and *at
// moves past it.
template <class Units>
bool FindQuoted(const Units& units, size_t* at, size_t to, size_t* close) {
  size_t i = *at + 1;
  while (i < to && units[i] != U'"') {
    if (units[i] == U'\\' && i + 1 < to) ++i;
    ++i;
  }
  if (i >= to) return false;
  *close = i;
  *at = i + 1;
  return true;
}

template <class Units>
bool BeginsWithFolded(const Units& units, size_t from, size_t to, const char* prefix) {
  const size_t length = std::strlen(prefix);
  if (to - from < length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (FoldCase(static_cast<wchar_t>(units[from + i])) != static_cast<wchar_t>(prefix[i])) {
      return false;
    }
  }
  return true;
}

// The data after "hex:" or "hex(N):": bytes of one or two hex digits,
// separated by commas, blanks around each. `bytes` may be null: then the
// list is only checked. This is most of a registry file, so it is read in
// one pass.
template <class Units>
bool ParseHexBytes(const Units& units, size_t from, size_t to, std::vector<std::uint8_t>* bytes) {
  TrimRange(units, &from, &to);
  if (from == to) return true;
  for (size_t i = from, start = from;;) {
    // Most items are two digits and a comma, as the registry editor writes them.
    int high = 0, low = 0;
    while (i + 3 < to && (high = HexDigit(units[i])) >= 0 && (low = HexDigit(units[i + 1])) >= 0 &&
           units[i + 2] == U',') {
      if (bytes) bytes->push_back(static_cast<std::uint8_t>(high * 16 + low));
      i += 3;
      start = i;
    }
    while (i < to && IsBlank(units[i])) ++i;
    high = i < to ? HexDigit(units[i]) : -1;
    // No digit: only a comma at the very end may leave an empty item.
    if (high < 0) return i == to && start > from;
    int byte = high;
    if (++i < to && HexDigit(units[i]) >= 0) byte = byte * 16 + HexDigit(units[i++]);
    while (i < to && IsBlank(units[i])) ++i;
    if (i < to && units[i] != U',') return false;
    if (bytes) bytes->push_back(static_cast<std::uint8_t>(byte));
    if (i == to) return true;
    start = ++i;
  }
}

// The data of a value, units [from, to), trimmed. `value` may be null: then
// the data is only checked.
template <class Units>
bool ParseValueData(const Units& units, size_t from, size_t to, bool regedit4,
                    RegistryValue* value) {
  if (from < to && units[from] == U'"') {
    size_t at = from, close = 0;
    if (!FindQuoted(units, &at, to, &close)) return false;
    TrimRange(units, &at, &to);
    if (at != to) return false;
    if (value) {
      value->type = kRegSz;
      value->data = EncodeUtf16(Unescape(units.Decode(from + 1, close)));
      value->data.insert(value->data.end(), {0, 0});
    }
    return true;
  }
  if (BeginsWithFolded(units, from, to, "dword:")) {
    std::uint32_t number = 0;
    if (!ParseHex(units, from + 6, to, 8, &number)) return false;
    if (value) *value = DwordValue(number);
    return true;
  }
  if (!BeginsWithFolded(units, from, to, "hex")) return false;
  size_t colon = from + 3;
  std::uint32_t type = kRegBinary;
  if (to - from > 3 && units[from + 3] == U'(') {
    size_t close = from + 4;
    while (close < to && units[close] != U')') ++close;
    if (close == to || !ParseHex(units, from + 4, close, 8, &type)) return false;
    colon = close + 1;
  }
  if (colon >= to || units[colon] != U':') return false;
  if (!value) return ParseHexBytes(units, colon + 1, to, nullptr);
  value->type = type;
  value->data.clear();
  if (!ParseHexBytes(units, colon + 1, to, &value->data)) return false;
  if (regedit4 && IsTextType(type)) {
    // Text types hold 8-bit text in a REGEDIT4 file; the registry holds UTF-16.
    value->data = EncodeUtf16(DecodeUtf8(std::string(value->data.begin(), value->data.end())));
  }
  return true;
}

// What a value line defines, read only when asked for.
struct ValueLine {
  std::wstring name;  // empty for the default value
  RegistryValue value;
};

// A whole value line, its continuations joined. `line` may be null: then
// the line is only checked.
template <class Units>
bool ParseValueLine(const Units& units, bool regedit4, ValueLine* line) {
  const size_t size = units.size();
  size_t at = 0;
  while (at < size && IsBlank(units[at])) ++at;
  if (at < size && units[at] == U'@') {
    ++at;
  } else if (at < size && units[at] == U'"') {
    const size_t open = at;
    size_t close = 0;
    if (!FindQuoted(units, &at, size, &close)) return false;
    if (line) line->name = Unescape(units.Decode(open + 1, close));
  } else {
    return false;
  }
  while (at < size && IsBlank(units[at])) ++at;
  if (at >= size || units[at] != U'=') return false;
  size_t from = at + 1, to = size;
  TrimRange(units, &from, &to);
  return ParseValueData(units, from, to, regedit4, line ? &line->value : nullptr);
}

// One definition in the file: a key's header line, or a value of the key
// above it, which may run over several physical lines when its hex data is
// continued with "\". Offsets are into the file's bytes.
struct Definition {
  bool is_key = false;
  size_t first = 0;     // where its first line starts
  size_t next = 0;      // where the line after its last one starts
  size_t last_end = 0;  // where its last line's text ends, before the line end
  size_t name = 0;      // a key: its name between the brackets
  size_t name_end = 0;
  ValueLine value;      // a value: filled in when asked for
};

// One physical line: its text [begin, end) without the line end, and where
// the next line starts.
struct Line {
  size_t begin = 0;
  size_t end = 0;
  size_t next = 0;
  bool ended = false;  // by a line feed; only the last line may lack one
};

size_t TextStart(const RegFile& file) {
  const size_t mark = file.utf16 ? 2 : file.utf8_bom ? 3 : 0;
  return mark < file.bytes.size() ? mark : file.bytes.size();
}

// The file's lines, in units of W bytes.
template <int W>
class Text {
 public:
  static constexpr size_t kWidth = W;

  explicit Text(const RegFile& file)
      : bytes_(reinterpret_cast<const unsigned char*>(file.bytes.data())),
        begin_(TextStart(file)),
        end_(begin_ + (file.bytes.size() - begin_) / W * W),
        regedit4_(file.regedit4) {}

  size_t begin() const { return begin_; }
  size_t end() const { return end_; }

  char32_t Unit(size_t at) const {
    return W == 2 ? static_cast<char32_t>(bytes_[at] | bytes_[at + 1] << 8) : bytes_[at];
  }

  // The line starting at `at`. Only "\n" ends a line; a "\r" before it
  // belongs to the line end, any other "\r" to the text.
  Line LineAt(size_t at) const {
    size_t newline = at;
    for (;;) {
      const void* found = std::memchr(bytes_ + newline, '\n', end_ - newline);
      if (!found) {
        newline = end_;
        break;
      }
      newline = static_cast<size_t>(static_cast<const unsigned char*>(found) - bytes_);
      if (W == 1) break;
      // A UTF-16 line feed is the unit 0x000A, at a unit's first byte.
      if ((newline - at) % 2 == 0 && bytes_[newline + 1] == 0) break;
      ++newline;
    }
    Line line;
    line.begin = at;
    line.end = newline;
    line.ended = newline != end_;
    line.next = line.ended ? newline + W : end_;
    if (line.ended && line.end > at && Unit(line.end - W) == U'\r') line.end -= W;
    return line;
  }

  // The line without the blanks at either end of its text.
  Line Trimmed(Line line) const {
    while (line.begin < line.end && IsBlank(Unit(line.begin))) line.begin += W;
    while (line.end > line.begin && IsBlank(Unit(line.end - W))) line.end -= W;
    return line;
  }

  bool Is(const Line& line, const std::wstring& ascii) const {
    if ((line.end - line.begin) / W != ascii.size()) return false;
    for (size_t i = 0; i < ascii.size(); ++i) {
      if (Unit(line.begin + i * W) != static_cast<char32_t>(ascii[i])) return false;
    }
    return true;
  }

  Line TrimmedLineAt(size_t at) const { return Trimmed(LineAt(at)); }

  void AppendBytes(size_t from, size_t to, std::string* bytes) const {
    bytes->append(reinterpret_cast<const char*>(bytes_) + from, to - from);
  }

  bool IsBlankText(const Line& line) const {
    const Line text = Trimmed(line);
    return text.begin == text.end;
  }

  std::wstring Decode(size_t from, size_t to) const {
    bool plain = true;  // units that decode to themselves: no surrogate, no 8-bit byte
    for (size_t at = from; at < to && plain; at += W) {
      const char32_t unit = Unit(at);
      plain = W == 2 ? unit < 0xD800 || unit > 0xDFFF : unit < 0x80;
    }
    if (!plain) return LineUnits<W>{bytes_ + from, (to - from) / W}.Decode(0, (to - from) / W);
    std::wstring text((to - from) / W, L'\0');
    for (size_t at = from, i = 0; at < to; at += W, ++i) text[i] = static_cast<wchar_t>(Unit(at));
    return text;
  }

  // Whether the text [*at, to) starts with `prefix`, read as the decoders
  // read it and letters in any case; *at moves past the match.
  bool SkipFolded(size_t* at, size_t to, const std::wstring& prefix) const {
    for (const wchar_t wanted : prefix) {
      if (*at >= to) return false;
      wchar_t c = 0;
      if (W == 2) {
        const char32_t unit = Unit(*at);
        *at += 2;
        c = static_cast<wchar_t>(unit);
        if (unit >= 0xD800 && unit <= 0xDBFF && *at + 2 <= to) {
          const char32_t low = Unit(*at);
          if (low >= 0xDC00 && low <= 0xDFFF) {
            c = static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            *at += 2;
          }
        }
      } else {
        size_t length = 0;
        c = DecodeUtf8Char(reinterpret_cast<const char*>(bytes_) + *at, to - *at, &length);
        *at += length;
      }
      if (FoldCase(c) != FoldCase(wanted)) return false;
    }
    return true;
  }

  // Whether the key's name [name, name_end) is spelled as the importers of
  // Windows and Wine read it but this model does not: with the hive as HKLM,
  // or with a backslash at its end. Such a key would be read as none, and a
  // store would add a second section, of the same key for an importer.
  bool SpelledOtherwise(size_t name, size_t name_end) const {
    if (Unit(name_end - W) == U'\\') return true;
    size_t at = name;
    return SkipFolded(&at, name_end, kShortHive) && (at == name_end || Unit(at) == U'\\');
  }

  // A key's name is `full`, or names a subkey of it (with `or_below`).
  // `size` is the length of `full` in the file's encoding, which a name that
  // matches has too: most names are told apart by their length alone.
  bool NameIs(const RegFile::Section& section, const std::wstring& full, size_t size,
              bool or_below) const {
    const size_t name_size = section.name_end - section.name;
    if (or_below ? name_size < size : name_size != size) return false;
    // A subkey's name goes on with a backslash just after `full`.
    if (name_size > size && (name_size - size < W || Unit(section.name + size) != U'\\')) {
      return false;
    }
    size_t at = section.name;
    if (!SkipFolded(&at, section.name_end, full)) return false;
    return at == section.name_end || (or_below && Unit(at) == U'\\');
  }

  // Reads the definitions of the lines from `at` up to `to`, the first of
  // them line number `line`, calling `visit` with each; `in_key` says a key
  // came before. With `decode`, each value's name and data are read too.
  // False, with the line, where a definition does not parse.
  template <class Visit>
  bool Walk(size_t at, size_t to, int line, bool in_key, bool decode, int* bad_line,
            Visit visit) const {
    std::wstring joined;
    std::string joined_bytes;
    while (at < to) {
      const Line raw = LineAt(at);
      const Line text = Trimmed(raw);
      if (text.begin == text.end || Unit(text.begin) == U';') {
        at = text.next;
        ++line;
        continue;
      }
      Definition definition;
      definition.first = at;
      definition.next = text.next;
      definition.last_end = raw.end;
      int lines = 1;
      bool ok = false;
      const size_t units = (text.end - text.begin) / W;
      if (Unit(text.begin) == U'[') {
        // A key to delete ("[-...]") says what an import should do, not what
        // the registry holds: it has no place in a stored registry. Nor has a
        // key spelled otherwise than the model reads it.
        ok = Unit(text.end - W) == U']' && units > 2 && Unit(text.begin + W) != U'-' &&
             !SpelledOtherwise(text.begin + W, text.end - W);
        definition.is_key = in_key = true;
        definition.name = text.begin + W;
        definition.name_end = text.end - W;
      } else if (in_key) {
        ValueLine* value = decode ? &definition.value : nullptr;
        if (Unit(text.end - W) != U'\\') {
          ok = ParseValueLine(LineUnits<W>{bytes_ + text.begin, units}, regedit4_, value);
        } else {
          // Each line trimmed, its "\\" dropped, while the joined text ends so.
          // To check it, the lines' bytes are joined: every character that
          // decides whether it parses is ASCII, so they decide as the decoded
          // text would.
          joined.clear();
          joined_bytes.clear();
          const auto append = [&](const Line& part) {
            if (decode) joined += Decode(part.begin, part.end);
            if (!decode) AppendBytes(part.begin, part.end, &joined_bytes);
          };
          const auto continued = [&] {
            return decode ? !joined.empty() && joined.back() == L'\\'
                          : joined_bytes.size() >= W &&
                                joined_bytes[joined_bytes.size() - W] == '\\' &&
                                (W == 1 || joined_bytes.back() == '\0');
          };
          append(text);
          while (continued() && definition.next < to) {
            if (decode) joined.pop_back();
            if (!decode) joined_bytes.resize(joined_bytes.size() - W);
            const Line next = LineAt(definition.next);
            append(Trimmed(next));
            definition.last_end = next.end;
            definition.next = next.next;
            ++lines;
          }
          const auto* joined_units = reinterpret_cast<const unsigned char*>(joined_bytes.data());
          ok = decode ? ParseValueLine(JoinedText{&joined}, regedit4_, value)
                      : ParseValueLine(LineUnits<W>{joined_units, joined_bytes.size() / W}, regedit4_,
                                       nullptr);
        }
      }
      if (!ok) {
        *bad_line = line;
        return false;
      }
      visit(definition);
      at = definition.next;
      line += lines;
    }
    return true;
  }

  // Where the section of the key at `index` starts after its header line, and
  // where it ends.
  size_t SectionBody(const RegFile& file, size_t index) const {
    return LineAt(file.sections[index].line).next;
  }
  size_t SectionEnd(const RegFile& file, size_t index) const {
    return index + 1 < file.sections.size() ? file.sections[index + 1].line : end_;
  }

 private:
  const unsigned char* bytes_;
  size_t begin_;
  size_t end_;
  bool regedit4_;
};

// Runs `read` with the file's text in its own unit width.
template <class Read>
auto WithText(const RegFile& file, Read read) {
  if (file.utf16) return read(Text<2>(file));
  return read(Text<1>(file));
}

// Text in the file's own encoding.
std::string Encode(const RegFile& file, const std::wstring& text) {
  if (!file.utf16) return EncodeUtf8(text);
  const std::vector<std::uint8_t> data = EncodeUtf16(text);
  return std::string(data.begin(), data.end());
}

// The line end of the file's first line; CR LF where it has none.
std::wstring Newline(const RegFile& file) {
  return WithText(file, [](const auto& text) {
    const Line first = text.LineAt(text.begin());
    if (!first.ended) return kCrLf;
    return first.next - first.end == 2 * text.kWidth ? kCrLf : std::wstring(L"\n");
  });
}

// Replaces the bytes [from, to) with `with`, and moves the sections after them.
void Splice(RegFile* file, size_t from, size_t to, const std::string& with) {
  file->bytes.replace(from, to - from, with);
  for (RegFile::Section& section : file->sections) {
    if (section.line >= to) {
      section.line = section.line - (to - from) + with.size();
      section.name = section.name - (to - from) + with.size();
      section.name_end = section.name_end - (to - from) + with.size();
    }
  }
}

// The values named `name` in the sections of the key `full`, in file order,
// read in full; and where a new value goes: after the last value of the
// key's last section, or right after its header (kNone without a section).
struct KeyValues {
  std::vector<Definition> values;
  size_t insert_at = kNone;
};

KeyValues FindValues(const RegFile& file, const std::wstring& full, const std::wstring& name) {
  const size_t size = Encode(file, full).size();
  return WithText(file, [&](const auto& text) {
    KeyValues found;
    for (size_t i = 0; i < file.sections.size(); ++i) {
      if (!text.NameIs(file.sections[i], full, size, false)) continue;
      found.insert_at = text.SectionBody(file, i);
      int bad_line = 0;
      text.Walk(found.insert_at, text.SectionEnd(file, i), 0, true, true, &bad_line,
                [&](const Definition& definition) {
                  found.insert_at = definition.next;
                  if (SameFolded(definition.value.name, name)) found.values.push_back(definition);
                });
    }
    return found;
  });
}

std::wstring Quote(const std::wstring& text) {
  std::wstring quoted = L"\"";
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'"') quoted.push_back(L'\\');
    quoted.push_back(c);
  }
  return quoted + L"\"";
}

std::wstring HexList(const std::vector<std::uint8_t>& bytes) {
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring list;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) list.push_back(L',');
    list.push_back(kDigits[bytes[i] >> 4]);
    list.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return list;
}

// A string value is written as quoted text when its data is exactly that
// text and one terminating zero, and the text holds no line end, which would
// end the value's line inside the quotes.
bool AsQuotedText(const RegistryValue& value, std::wstring* text) {
  const auto& d = value.data;
  if (value.type != kRegSz || d.size() < 2 || d.size() % 2 != 0) return false;
  if (d[d.size() - 2] != 0 || d[d.size() - 1] != 0) return false;
  *text = DecodeUtf16(d.data(), d.size() - 2);
  return text->find_first_of(std::wstring(L"\0\r\n", 3)) == std::wstring::npos &&
         EncodeUtf16(*text).size() == d.size() - 2;
}

std::wstring FormatValueLine(const RegFile& file, const std::wstring& name,
                             const RegistryValue& value) {
  std::wstring line = (name.empty() ? L"@" : Quote(name)) + L"=";
  std::wstring text;
  if (value.type == kRegDword && value.data.size() == 4) {
    wchar_t digits[9];
    swprintf(digits, 9, L"%08x", DwordNumber(value.data));
    return line + L"dword:" + digits;
  }
  if (AsQuotedText(value, &text)) return line + Quote(text);
  std::vector<std::uint8_t> bytes = value.data;
  if (file.regedit4 && IsTextType(value.type)) {
    const std::string narrow = EncodeUtf8(DecodeUtf16(bytes.data(), bytes.size()));
    bytes.assign(narrow.begin(), narrow.end());
  }
  if (value.type == kRegBinary) return line + L"hex:" + HexList(bytes);
  wchar_t type[16];
  swprintf(type, 16, L"hex(%x):", value.type);
  return line + type + HexList(bytes);
}

// Whether the file's last line has a line end.
bool LastLineEnded(const RegFile& file) {
  return WithText(file, [](const auto& text) {
    return text.end() > text.begin() && text.Unit(text.end() - text.kWidth) == U'\n';
  });
}

// The file's last line, as it stands.
template <class Text>
Line LastLine(const Text& text) {
  size_t start = text.end() - text.kWidth;  // its line feed, if it has one
  while (start > text.begin() && text.Unit(start - text.kWidth) != U'\n') start -= text.kWidth;
  return text.LineAt(start);
}

// Appends a section for the key, which may exist already through a subkey
// of its own: a line end for a last line without one, a blank line unless
// the last line is blank, then the header and a blank line.
void AppendKeySection(RegFile* file, const std::wstring& path) {
  const std::string newline = Encode(*file, Newline(*file));
  const std::string name = Encode(*file, FullPath(path));
  const std::string bracket_open = Encode(*file, L"[");
  std::string added = WithText(*file, [&](const auto& text) {
    if (text.end() == text.begin()) return std::string();
    const Line last = LastLine(text);
    return (last.ended ? std::string() : newline) +
           (text.IsBlankText(last) ? std::string() : newline);
  });
  RegFile::Section section;
  section.line = file->bytes.size() + added.size();
  section.name = section.line + bracket_open.size();
  section.name_end = section.name + name.size();
  added += bracket_open + name + Encode(*file, L"]") + newline + newline;
  file->bytes += added;
  file->sections.push_back(section);
}

}  // namespace

RegFile NewRegFile() {
  RegFile file;
  file.bytes = std::string(kUtf16Mark) + Encode(file, kHeader5 + kCrLf + kCrLf);
  return file;
}

bool ParseRegFile(std::string bytes, RegFile* file, int* bad_line) {
  *file = RegFile();
  if (bytes.empty()) {
    *file = NewRegFile();
    return true;
  }
  file->utf16 = bytes.compare(0, 2, kUtf16Mark) == 0;
  file->utf8_bom = !file->utf16 && bytes.compare(0, 3, kUtf8Mark) == 0;
  file->bytes = std::move(bytes);
  return WithText(*file, [&](const auto& text) {
    if (file->utf16 && file->bytes.size() % 2 != 0) {
      // Half a character at the end: the file was cut short, and writing it
      // back could not give the same bytes. It stands on the last line.
      int lines = 1;
      for (size_t at = text.begin(); at < text.end();) {
        const Line line = text.LineAt(at);
        if (line.ended) ++lines;
        at = line.next;
      }
      *bad_line = lines;
      return false;
    }
    const Line header = text.TrimmedLineAt(text.begin());
    file->regedit4 = text.Is(header, kHeader4);
    if (!file->regedit4 && !text.Is(header, kHeader5)) {
      *bad_line = 1;
      return false;
    }
    using Units = std::decay_t<decltype(text)>;
    const Units reader(*file);  // with the header's REGEDIT4 setting
    return reader.Walk(header.next, reader.end(), 2, false, false, bad_line,
                       [&](const Definition& definition) {
                         if (definition.is_key) {
                           file->sections.push_back(
                               {definition.first, definition.name, definition.name_end});
                         }
                       });
  });
}

std::string SerializeRegFile(const RegFile& file) { return file.bytes; }

std::vector<RegDefinition> RegDefinitions(const RegFile& file) {
  return WithText(file, [&](const auto& text) {
    std::vector<RegDefinition> definitions;
    std::wstring key;
    int bad_line = 0;
    text.Walk(text.TrimmedLineAt(text.begin()).next, text.end(), 2, false, true, &bad_line,
              [&](const Definition& definition) {
                if (definition.is_key) {
                  key = text.Decode(definition.name, definition.name_end);
                  definitions.push_back({true, key, L"", RegistryValue()});
                } else {
                  definitions.push_back({false, key, definition.value.name, definition.value.value});
                }
              });
    return definitions;
  });
}

bool RegKeyExists(const RegFile& file, const std::wstring& path) {
  const std::wstring full = FullPath(path);
  if (SameFolded(full, kHive)) return true;
  const size_t size = Encode(file, full).size();
  return WithText(file, [&](const auto& text) {
    for (const RegFile::Section& section : file.sections) {
      if (text.NameIs(section, full, size, true)) return true;
    }
    return false;
  });
}

bool FindRegValue(const RegFile& file, const std::wstring& path, const std::wstring& name,
                  RegistryValue* value) {
  const KeyValues found = FindValues(file, FullPath(path), name);
  if (found.values.empty()) return false;
  *value = found.values.back().value.value;  // a later definition overrides an earlier one
  return true;
}

bool AddRegKey(RegFile* file, const std::wstring& path) {
  if (RegKeyExists(*file, path)) return false;
  AppendKeySection(file, path);
  return true;
}

void SetRegValue(RegFile* file, const std::wstring& path, const std::wstring& name,
                 const RegistryValue& value) {
  const KeyValues found = FindValues(*file, FullPath(path), name);
  const std::string line = Encode(*file, FormatValueLine(*file, name, value));
  if (!found.values.empty()) {
    // The last definition is replaced in place, keeping its line end; earlier
    // ones would only be overridden, so they go and one line holds the value.
    const Definition& last = found.values.back();
    Splice(file, last.first, last.next,
           line + file->bytes.substr(last.last_end, last.next - last.last_end));
    for (size_t i = found.values.size() - 1; i-- > 0;) {
      Splice(file, found.values[i].first, found.values[i].next, std::string());
    }
    return;
  }
  if (found.insert_at == kNone) {
    AppendKeySection(file, path);
    SetRegValue(file, path, name, value);
    return;
  }
  const std::string newline = Encode(*file, Newline(*file));
  const bool after_last_line = found.insert_at == file->bytes.size();
  Splice(file, found.insert_at, found.insert_at,
         (after_last_line && !LastLineEnded(*file) ? newline : std::string()) + line + newline);
}

bool DeleteRegValue(RegFile* file, const std::wstring& path, const std::wstring& name) {
  const KeyValues found = FindValues(*file, FullPath(path), name);
  for (size_t i = found.values.size(); i-- > 0;) {
    Splice(file, found.values[i].first, found.values[i].next, std::string());
  }
  return !found.values.empty();
}

}  // namespace platform
