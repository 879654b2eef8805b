#include "platform/reg_file.h"

#include "platform/ascii_case.h"
#include "platform/wide_text.h"

namespace platform {

namespace {

const std::wstring kHeader5 = L"Windows Registry Editor Version 5.00";
const std::wstring kHeader4 = L"REGEDIT4";
const std::wstring kHive = L"HKEY_LOCAL_MACHINE";
const std::wstring kCrLf = L"\r\n";

// One definition in the file: a key's header line, or a value, which may run
// over several physical lines when its hex data is continued with "\".
struct Entry {
  bool is_key = false;
  size_t first = 0;   // index of its first physical line
  size_t count = 1;   // physical lines it spans
  std::wstring key;   // the key it is or belongs to, as written (hive included)
  std::wstring name;  // value name; empty for the default value
  RegistryValue value;
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring Trim(const std::wstring& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::wstring FullPath(const std::wstring& path) {
  return path.empty() ? kHive : kHive + L"\\" + path;
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads 1 to `most` hex digits making up all of `text`.
bool ParseHex(const std::wstring& text, size_t most, std::uint32_t* number) {
  if (text.empty() || text.size() > most) return false;
  *number = 0;
  for (wchar_t c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    *number = (*number << 4) | static_cast<std::uint32_t>(digit);
  }
  return true;
}

// Reads a quoted text starting at text[*at] == '"', with the escapes \\ and \".
bool ParseQuoted(const std::wstring& text, size_t* at, std::wstring* out) {
  size_t i = *at + 1;
  out->clear();
  while (i < text.size() && text[i] != L'"') {
    if (text[i] == L'\\' && i + 1 < text.size()) ++i;
    out->push_back(text[i++]);
  }
  if (i >= text.size()) return false;
  *at = i + 1;
  return true;
}

std::wstring Quote(const std::wstring& text) {
  std::wstring quoted = L"\"";
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'"') quoted.push_back(L'\\');
    quoted.push_back(c);
  }
  return quoted + L"\"";
}

bool IsTextType(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// The data after "hex:" or "hex(N):": two-digit bytes separated by commas.
bool ParseHexBytes(const std::wstring& list, std::vector<std::uint8_t>* bytes) {
  bytes->clear();
  const std::wstring all = Trim(list);
  if (all.empty()) return true;
  size_t start = 0;
  for (;;) {
    const size_t comma = all.find(L',', start);
    const std::wstring item = Trim(all.substr(start, comma - start));
    std::uint32_t byte = 0;
    const bool last = comma == std::wstring::npos;
    if (!(item.empty() && last && start > 0)) {  // a trailing comma is allowed
      if (!ParseHex(item, 2, &byte)) return false;
      bytes->push_back(static_cast<std::uint8_t>(byte));
    }
    if (last) return true;
    start = comma + 1;
  }
}

bool ParseValueData(const std::wstring& data, bool regedit4, RegistryValue* value) {
  value->data.clear();
  if (!data.empty() && data[0] == L'"') {
    size_t at = 0;
    std::wstring text;
    if (!ParseQuoted(data, &at, &text) || !Trim(data.substr(at)).empty()) return false;
    value->type = kRegSz;
    value->data = EncodeUtf16(text);
    value->data.insert(value->data.end(), {0, 0});
    return true;
  }
  if (BeginsWithFolded(data, L"dword:")) {
    std::uint32_t number = 0;
    if (!ParseHex(data.substr(6), 8, &number)) return false;
    *value = DwordValue(number);
    return true;
  }
  if (!BeginsWithFolded(data, L"hex")) return false;
  size_t colon = 3;
  value->type = kRegBinary;
  if (data.size() > 3 && data[3] == L'(') {
    const size_t close = data.find(L')');
    if (close == std::wstring::npos || !ParseHex(data.substr(4, close - 4), 8, &value->type)) {
      return false;
    }
    colon = close + 1;
  }
  if (colon >= data.size() || data[colon] != L':') return false;
  if (!ParseHexBytes(data.substr(colon + 1), &value->data)) return false;
  if (regedit4 && IsTextType(value->type)) {
    // Text types hold 8-bit text in a REGEDIT4 file; the registry holds UTF-16.
    value->data = EncodeUtf16(DecodeUtf8(std::string(value->data.begin(), value->data.end())));
  }
  return true;
}

bool ParseValueLine(const std::wstring& text, bool regedit4, Entry* entry) {
  size_t at = 0;
  while (at < text.size() && IsBlank(text[at])) ++at;
  if (at < text.size() && text[at] == L'@') {
    entry->name.clear();
    ++at;
  } else if (at < text.size() && text[at] == L'"') {
    if (!ParseQuoted(text, &at, &entry->name)) return false;
  } else {
    return false;
  }
  while (at < text.size() && IsBlank(text[at])) ++at;
  if (at >= text.size() || text[at] != L'=') return false;
  return ParseValueData(Trim(text.substr(at + 1)), regedit4, &entry->value);
}

// Reads the file's definitions. False, with the 1-based line, where one of
// them does not parse.
bool IndexEntries(const RegFile& file, std::vector<Entry>* entries, int* bad_line) {
  entries->clear();
  const std::wstring header = Trim(file.lines.empty() ? std::wstring() : file.lines[0].text);
  if (header != (file.regedit4 ? kHeader4 : kHeader5)) {
    *bad_line = 1;
    return false;
  }
  std::wstring key;
  for (size_t i = 1; i < file.lines.size();) {
    const std::wstring line = Trim(file.lines[i].text);
    Entry entry;
    entry.first = i;
    if (line.empty() || line[0] == L';') {
      ++i;
      continue;
    }
    bool ok = false;
    if (line[0] == L'[') {
      // A key to delete ("[-...]") says what an import should do, not what
      // the registry holds: it has no place in a stored registry.
      ok = line.back() == L']' && line.size() > 2 && line[1] != L'-';
      entry.is_key = true;
      entry.key = key = line.substr(1, line.size() - 2);
    } else if (!key.empty()) {
      std::wstring logical = line;
      while (!logical.empty() && logical.back() == L'\\' && i + entry.count < file.lines.size()) {
        logical.pop_back();
        logical += Trim(file.lines[i + entry.count].text);
        ++entry.count;
      }
      entry.key = key;
      ok = ParseValueLine(logical, file.regedit4, &entry);
    }
    if (!ok) {
      *bad_line = static_cast<int>(i + 1);
      return false;
    }
    i += entry.count;
    entries->push_back(entry);
  }
  return true;
}

std::vector<Entry> Entries(const RegFile& file) {
  std::vector<Entry> entries;
  int bad_line = 0;
  IndexEntries(file, &entries, &bad_line);
  return entries;
}

std::wstring Newline(const RegFile& file) {
  return file.lines.empty() || file.lines[0].ending.empty() ? kCrLf : file.lines[0].ending;
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

void EnsureLastLineEnded(RegFile* file) {
  if (!file->lines.empty() && file->lines.back().ending.empty()) {
    file->lines.back().ending = Newline(*file);
  }
}

// Appends a section for the key, which may exist already through a subkey
// of its own.
void AppendKeySection(RegFile* file, const std::wstring& path) {
  const std::wstring newline = Newline(*file);
  EnsureLastLineEnded(file);
  if (!file->lines.empty() && !Trim(file->lines.back().text).empty()) {
    file->lines.push_back({L"", newline});
  }
  file->lines.push_back({L"[" + FullPath(path) + L"]", newline});
  file->lines.push_back({L"", newline});
}

}  // namespace

RegFile NewRegFile() {
  RegFile file;
  file.lines = {{kHeader5, kCrLf}, {L"", kCrLf}};
  return file;
}

bool ParseRegFile(const std::string& bytes, RegFile* file, int* bad_line) {
  *file = RegFile();
  if (bytes.empty()) {
    *file = NewRegFile();
    return true;
  }
  std::wstring text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    text = DecodeUtf16(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2, bytes.size() - 2);
  } else {
    file->utf16 = false;
    file->utf8_bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    text = DecodeUtf8(file->utf8_bom ? bytes.substr(3) : bytes);
  }
  size_t start = 0;
  while (start < text.size()) {
    const size_t newline = text.find(L'\n', start);
    RegFile::Line line;
    if (newline == std::wstring::npos) {
      line.text = text.substr(start);
      start = text.size();
    } else {
      line.text = text.substr(start, newline - start);
      line.ending = L"\n";
      if (!line.text.empty() && line.text.back() == L'\r') {
        line.text.pop_back();
        line.ending = kCrLf;
      }
      start = newline + 1;
    }
    file->lines.push_back(line);
  }
  if (file->utf16 && bytes.size() % 2 != 0) {
    // Half a character at the end: the file was cut short, and writing it
    // back could not give the same bytes.
    *bad_line = static_cast<int>(file->lines.size());
    return false;
  }
  file->regedit4 = !file->lines.empty() && Trim(file->lines[0].text) == kHeader4;
  std::vector<Entry> entries;
  return IndexEntries(*file, &entries, bad_line);
}

std::string SerializeRegFile(const RegFile& file) {
  std::wstring text;
  for (const RegFile::Line& line : file.lines) text += line.text + line.ending;
  if (file.utf16) {
    const std::vector<std::uint8_t> data = EncodeUtf16(text);
    return "\xFF\xFE" + std::string(data.begin(), data.end());
  }
  return (file.utf8_bom ? "\xEF\xBB\xBF" : "") + EncodeUtf8(text);
}

std::vector<RegDefinition> RegDefinitions(const RegFile& file) {
  std::vector<RegDefinition> definitions;
  for (const Entry& entry : Entries(file)) {
    definitions.push_back({entry.is_key, entry.key, entry.name, entry.value});
  }
  return definitions;
}

bool RegKeyExists(const RegFile& file, const std::wstring& path) {
  const std::wstring full = FullPath(path);
  if (SameFolded(full, kHive)) return true;
  for (const Entry& entry : Entries(file)) {
    if (entry.is_key && (SameFolded(entry.key, full) || BeginsWithFolded(entry.key, full + L"\\"))) {
      return true;
    }
  }
  return false;
}

bool FindRegValue(const RegFile& file, const std::wstring& path, const std::wstring& name,
                  RegistryValue* value) {
  const std::wstring full = FullPath(path);
  bool found = false;
  for (const Entry& entry : Entries(file)) {
    if (!entry.is_key && SameFolded(entry.key, full) && SameFolded(entry.name, name)) {
      *value = entry.value;  // a later definition overrides an earlier one
      found = true;
    }
  }
  return found;
}

bool AddRegKey(RegFile* file, const std::wstring& path) {
  if (RegKeyExists(*file, path)) return false;
  AppendKeySection(file, path);
  return true;
}

void SetRegValue(RegFile* file, const std::wstring& path, const std::wstring& name,
                 const RegistryValue& value) {
  const std::wstring full = FullPath(path);
  std::vector<Entry> entries = Entries(*file);
  const Entry* last_key = nullptr;
  const Entry* last_value = nullptr;  // the one to replace in place
  for (const Entry& entry : entries) {
    if (entry.is_key && SameFolded(entry.key, full)) last_key = &entry;
    if (!entry.is_key && SameFolded(entry.key, full) && SameFolded(entry.name, name)) {
      last_value = &entry;
    }
  }
  const std::wstring line = FormatValueLine(*file, name, value);
  if (last_value) {
    const size_t first = last_value->first;
    const std::wstring ending = file->lines[first + last_value->count - 1].ending;
    file->lines.erase(file->lines.begin() + static_cast<std::ptrdiff_t>(first + 1),
                      file->lines.begin() + static_cast<std::ptrdiff_t>(first + last_value->count));
    file->lines[first] = {line, ending.empty() ? std::wstring() : ending};
    // Earlier definitions would only be overridden; drop them so that one
    // line holds the value.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      if (&*it != last_value && it->first < first && !it->is_key &&
          SameFolded(it->key, full) && SameFolded(it->name, name)) {
        file->lines.erase(file->lines.begin() + static_cast<std::ptrdiff_t>(it->first),
                          file->lines.begin() + static_cast<std::ptrdiff_t>(it->first + it->count));
      }
    }
    return;
  }
  if (!last_key) {
    AppendKeySection(file, path);
    SetRegValue(file, path, name, value);
    return;
  }
  // After the last value of the key's last section, or right after its header.
  size_t at = last_key->first + 1;
  for (const Entry& entry : entries) {
    if (entry.first <= last_key->first) continue;
    if (entry.is_key) break;
    at = entry.first + entry.count;
  }
  if (file->lines[at - 1].ending.empty()) file->lines[at - 1].ending = Newline(*file);
  file->lines.insert(file->lines.begin() + static_cast<std::ptrdiff_t>(at),
                     {line, Newline(*file)});
}

bool DeleteRegValue(RegFile* file, const std::wstring& path, const std::wstring& name) {
  const std::wstring full = FullPath(path);
  const std::vector<Entry> entries = Entries(*file);
  bool deleted = false;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (!it->is_key && SameFolded(it->key, full) && SameFolded(it->name, name)) {
      file->lines.erase(file->lines.begin() + static_cast<std::ptrdiff_t>(it->first),
                        file->lines.begin() + static_cast<std::ptrdiff_t>(it->first + it->count));
      deleted = true;
    }
  }
  return deleted;
}

}  // namespace platform
