#include "platform/stand_in/reg_file.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/stand_in/wide_text.h"

namespace {

using platform::RegFile;
using platform::RegistryValue;

const std::wstring kPolicies = L"SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies";

std::string Utf16File(const std::wstring& text) {
  const std::vector<std::uint8_t> data = platform::EncodeUtf16(text);
  return "\xFF\xFE" + std::string(data.begin(), data.end());
}

const std::wstring kExport =
    L"Windows Registry Editor Version 5.00\r\n"
    L"\r\n"
    L"; exported from a test server \u4e0a by hand\r\n"  // a unit whose low byte is a line feed
    L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Corridan\\Versions]\r\n"
    L"\"VLMR\"=\"2.1.0\"\r\n"
    L"@=\"default \\\"quoted\\\" \\\\ text\"\r\n"
    L"\r\n"
    L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies]\r\n"
    L"\"MinFreespacePerPool\"=dword:00000420\r\n"
    L"\"Paths\"=hex(7):43,00,3a,00,5c,00,00,00,\\\r\n"
    L"  44,00,00,00,00,00\r\n"
    L"\"Blob\"=hex:de,ad,be,ef\r\n"
    L"\"Nothing\"=hex(0):\r\n"
    L"\r\n";

RegFile Parse(const std::string& bytes) {
  RegFile file;
  int bad_line = 0;
  EXPECT_TRUE(platform::ParseRegFile(bytes, &file, &bad_line)) << "bad line " << bad_line;
  return file;
}

RegistryValue Value(const RegFile& file, const std::wstring& key, const std::wstring& name) {
  RegistryValue value;
  EXPECT_TRUE(platform::FindRegValue(file, key, name, &value)) << platform::EncodeUtf8(name);
  return value;
}

RegistryValue Dword(std::uint32_t number) { return platform::DwordValue(number); }

std::vector<std::uint8_t> Utf16z(const std::wstring& text) {
  std::vector<std::uint8_t> data = platform::EncodeUtf16(text);
  data.insert(data.end(), {0, 0});
  return data;
}

TEST(RegFileTest, ReadsEveryFormOfAnExport) {
  const RegFile file = Parse(Utf16File(kExport));
  EXPECT_TRUE(file.utf16);
  EXPECT_FALSE(file.regedit4);

  const RegistryValue release = Value(file, L"software\\halvorn\\corridan\\VERSIONS", L"vlmr");
  EXPECT_EQ(platform::kRegSz, release.type);
  EXPECT_EQ(Utf16z(L"2.1.0"), release.data);
  EXPECT_EQ(Utf16z(L"default \"quoted\" \\ text"),
            Value(file, L"SOFTWARE\\Halvorn\\Corridan\\Versions", L"").data);

  EXPECT_EQ(Dword(1056).data, Value(file, kPolicies, L"MinFreespacePerPool").data);
  const RegistryValue paths = Value(file, kPolicies, L"Paths");
  EXPECT_EQ(7u, paths.type);
  EXPECT_EQ(std::vector<std::uint8_t>({0x43, 0, 0x3a, 0, 0x5c, 0, 0, 0, 0x44, 0, 0, 0, 0, 0}),
            paths.data);
  const RegistryValue blob = Value(file, kPolicies, L"Blob");
  EXPECT_EQ(platform::kRegBinary, blob.type);
  EXPECT_EQ(std::vector<std::uint8_t>({0xde, 0xad, 0xbe, 0xef}), blob.data);
  EXPECT_EQ(0u, Value(file, kPolicies, L"Nothing").type);

  EXPECT_TRUE(platform::RegKeyExists(file, L"SOFTWARE\\Halvorn"));
  EXPECT_TRUE(platform::RegKeyExists(file, L""));
  EXPECT_FALSE(platform::RegKeyExists(file, L"SOFTWARE\\Halv"));
  RegistryValue missing;
  EXPECT_FALSE(platform::FindRegValue(file, kPolicies, L"MinFreespacePerPoolPercent", &missing));
}

TEST(RegFileTest, Regedit4TextTypesHoldEightBitText) {
  const RegFile file = Parse(
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n"
      "\"Dir\"=hex(2):25,53,59,53,25,00\n"
      "\"Name\"=\"caf\xC3\xA9\"\n\"VLMR\"=hex(7):32,2e,31,00,00\n\"N\"=DWORD:0000000a\n");
  EXPECT_TRUE(file.regedit4);
  EXPECT_FALSE(file.utf16);
  EXPECT_EQ(Utf16z(L"%SYS%"), Value(file, L"SOFTWARE\\X", L"Dir").data);
  EXPECT_EQ(Utf16z(L"caf\u00e9"), Value(file, L"SOFTWARE\\X", L"Name").data);
  EXPECT_EQ(Utf16z(std::wstring(L"2.1\0", 4)), Value(file, L"SOFTWARE\\X", L"VLMR").data);
  EXPECT_EQ(Dword(10).data, Value(file, L"SOFTWARE\\X", L"N").data);
}

TEST(RegFileTest, UntouchedFileComesBackByteForByte) {
  for (const std::string& bytes :
       {Utf16File(kExport), std::string("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:1"),
        std::string("\xEF\xBB\xBFREGEDIT4\r\n\r\n; only a comment\r\n\xFF raw byte\r\n"),
        // 8-bit bytes that are no UTF-8, wherever they stand.
        std::string("REGEDIT4\n; \xE9 \xFF\n[HKEY_LOCAL_MACHINE\\A\xFF]\n\"x\xFF\"=\"\xFF\xC3\"")}) {
    RegFile file;
    int bad_line = 0;
    if (!platform::ParseRegFile(bytes, &file, &bad_line)) {
      // The last sample has a line that is no definition: it must not parse.
      EXPECT_EQ(4, bad_line);
      continue;
    }
    EXPECT_EQ(bytes, platform::SerializeRegFile(file));
  }
}

TEST(RegFileTest, ChangesTouchOnlyTheirOwnLines) {
  RegFile file = Parse(Utf16File(kExport));
  platform::DeleteRegValue(&file, kPolicies, L"minfreespaceperpool");
  platform::SetRegValue(&file, kPolicies, L"MinFreespacePerPoolPercent", Dword(3000));
  std::wstring expected = kExport;
  const std::wstring removed = L"\"MinFreespacePerPool\"=dword:00000420\r\n";
  expected.replace(expected.find(removed), removed.size(), L"");
  expected.replace(expected.find(L"\r\n\r\n", expected.find(L"\"Nothing\"")), 2,
                   L"\r\n\"MinFreespacePerPoolPercent\"=dword:00000bb8\r\n");
  EXPECT_EQ(Utf16File(expected), platform::SerializeRegFile(file));
}

TEST(RegFileTest, SettingAnExistingValueReplacesItInPlace) {
  RegFile file = Parse(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:00000001\n\"b\"=hex:01,\\\n  02\n"
      "\"C\"=dword:00000003\n[HKEY_LOCAL_MACHINE\\K]\n\"B\"=dword:00000009\n");
  EXPECT_EQ(Dword(9).data, Value(file, L"K", L"b").data) << "the last definition counts";
  platform::SetRegValue(&file, L"k", L"B", Dword(0x20));
  EXPECT_EQ(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:00000001\n"
      "\"C\"=dword:00000003\n[HKEY_LOCAL_MACHINE\\K]\n\"B\"=dword:00000020\n",
      platform::SerializeRegFile(file));
  EXPECT_EQ(Dword(0x20).data, Value(file, L"K", L"b").data);
}

TEST(RegFileTest, MissingKeyIsAddedAtTheEnd) {
  RegFile file = Parse("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Other]\n\"x\"=\"y\"");
  EXPECT_TRUE(platform::AddRegKey(&file, kPolicies));
  EXPECT_FALSE(platform::AddRegKey(&file, L"SOFTWARE\\HALVORN"));
  platform::SetRegValue(&file, kPolicies, L"MinFreespacePerPool", Dword(1056));
  EXPECT_EQ(
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Other]\n\"x\"=\"y\"\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies]\n"
      "\"MinFreespacePerPool\"=dword:00000420\n\n",
      platform::SerializeRegFile(file));
}

TEST(RegFileTest, KeyKnownOnlyThroughASubkeyGetsItsOwnSection) {
  RegFile file = Parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]\n");
  EXPECT_TRUE(platform::RegKeyExists(file, L"A"));
  platform::SetRegValue(&file, L"A", L"V", Dword(1));
  EXPECT_EQ("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]\n\n[HKEY_LOCAL_MACHINE\\A]\n\"V\"=dword:00000001\n\n",
            platform::SerializeRegFile(file));
}

TEST(RegFileTest, EmptyFileIsAnEmptyRegistryInTheWindowsFormat) {
  RegFile file = Parse("");
  platform::SetRegValue(&file, L"K", L"V", Dword(1));
  EXPECT_EQ(Utf16File(L"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n"
                      L"\"V\"=dword:00000001\r\n\r\n"),
            platform::SerializeRegFile(file));
}

TEST(RegFileTest, ValuesOfEveryTypeSurviveAWriteAndARead) {
  for (bool regedit4 : {false, true}) {
    RegFile file = Parse(regedit4 ? "REGEDIT4\n" : "");
    std::vector<std::pair<std::wstring, RegistryValue>> values;
    RegistryValue text{platform::kRegSz, Utf16z(L"a \"b\" \\c \u00e9")};
    RegistryValue unterminated{platform::kRegSz, {0x41, 0x00}};
    RegistryValue expand{platform::kRegExpandSz, Utf16z(L"%SystemRoot%\\x")};
    RegistryValue multi{platform::kRegMultiSz, Utf16z(std::wstring(L"one\0two\0", 8))};
    RegistryValue binary{platform::kRegBinary, {0, 1, 0xfe, 0xff}};
    RegistryValue qword{0xb, {1, 2, 3, 4, 5, 6, 7, 8}};
    RegistryValue empty{platform::kRegNone, {}};
    // A line end inside quotes would end the line: such text goes as hex.
    RegistryValue lines{platform::kRegSz, Utf16z(L"one\ntwo\rthree")};
    values = {{L"Text", text}, {L"Lines", lines}, {L"Unterminated", unterminated}, {L"Expand", expand},
              {L"Multi", multi}, {L"Binary", binary}, {L"Qword", qword},
              {L"", empty}, {L"Dword", Dword(0xfffffffe)}, {L"odd \"name\" \\", Dword(3)}};
    for (const auto& [name, value] : values) platform::SetRegValue(&file, L"Key\\Sub", name, value);
    const RegFile again = Parse(platform::SerializeRegFile(file));
    for (const auto& [name, value] : values) {
      const RegistryValue read = Value(again, L"KEY\\SUB", name);
      EXPECT_EQ(value.type, read.type) << regedit4 << platform::EncodeUtf8(name);
      EXPECT_EQ(value.data, read.data) << regedit4 << platform::EncodeUtf8(name);
    }
  }
}

TEST(RegFileTest, EditsFindEveryLineOfTheirValue) {
  const std::string key = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n";
  const auto remove_v = [](RegFile* file) { platform::DeleteRegValue(file, L"K", L"v"); };
  const auto add_n = [](RegFile* file) { platform::SetRegValue(file, L"K", L"n", Dword(1)); };
  const auto set_v = [](RegFile* file) { platform::SetRegValue(file, L"K", L"v", Dword(5)); };
  const struct {
    std::string before;
    std::function<void(RegFile*)> edit;
    std::string after;
  } cases[] = {
      {key + "\"v\"=dword:1\n\"w\"=dword:2\n\"V\"=dword:3\n\"x\"=dword:4\n", remove_v,
       key + "\"w\"=dword:2\n\"x\"=dword:4\n"},
      {key + "\"v\"=hex:01,\\\n  02\n\"w\"=dword:2\n\"v\"=hex:03,\\\n 04\n;end\n", remove_v,
       key + "\"w\"=dword:2\n;end\n"},
      {key + "\"a\"=hex:01,\\\n  02\n", add_n,
       key + "\"a\"=hex:01,\\\n  02\n\"n\"=dword:00000001\n"},
      {key + "\"a\"=hex:01,\\\n  02", add_n, key + "\"a\"=hex:01,\\\n  02\n\"n\"=dword:00000001\n"},
      {key + "\"v\"=dword:1\n\"v\"=dword:2\n\"v\"=dword:3\n", set_v, key + "\"v\"=dword:00000005\n"},
      {key + "\"v\"=dword:1\n[HKEY_LOCAL_MACHINE\\L]\n\"v\"=dword:2\n", set_v,
       key + "\"v\"=dword:00000005\n[HKEY_LOCAL_MACHINE\\L]\n\"v\"=dword:2\n"},
  };
  for (const auto& c : cases) {
    RegFile file = Parse(c.before);
    c.edit(&file);
    EXPECT_EQ(c.after, platform::SerializeRegFile(file)) << c.before;
  }
}

TEST(RegFileTest, DeletingAnAbsentValueChangesNothing) {
  RegFile file = Parse(Utf16File(kExport));
  EXPECT_FALSE(platform::DeleteRegValue(&file, kPolicies, L"MinFreespacePerPoolPercent"));
  EXPECT_FALSE(platform::DeleteRegValue(&file, L"No\\Such\\Key", L"X"));
  EXPECT_EQ(Utf16File(kExport), platform::SerializeRegFile(file));
}

struct BadFile {
  std::string bytes;
  int line;
};

void PrintTo(const BadFile& c, std::ostream* os) { *os << "line " << c.line << ": " << c.bytes; }

class BadRegFileTest : public testing::TestWithParam<BadFile> {};

TEST_P(BadRegFileTest, NamesTheLineWhereItStopsMakingSense) {
  RegFile file;
  int bad_line = 0;
  EXPECT_FALSE(platform::ParseRegFile(GetParam().bytes, &file, &bad_line));
  EXPECT_EQ(GetParam().line, bad_line);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadRegFileTest,
    testing::Values(BadFile{"not a registry\n", 1}, BadFile{"REGEDIT5\n", 1},
                    BadFile{"REGEDIT4\n\"v\"=dword:1\n", 2},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:123456789\n", 3},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:\n", 3},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex:1g\n", 3},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex:,01\n", 3},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex(7:00\n", 3},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v=\"x\"\n", 3},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"x\" trailing\n", 3},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=-\n", 3},
                    BadFile{"REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\K]\n", 3},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K\n", 2},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex:01,\\\n", 3},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\nv=1\n", 3},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"VLMR\"=\"2.1.0\\\"\n", 3},
                    BadFile{"REGEDIT4\n[]\n", 2},
                    BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:1\r", 3},
                    // Keys an importer reads as HKEY_LOCAL_MACHINE\K, which a store would add again.
                    BadFile{"REGEDIT4\n[hklm\\K]\n", 2}, BadFile{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K\\]\n", 2},
                    // UTF-16 cut short by one byte, even where that byte would read as a
                    // line of its own that makes sense.
                    BadFile{Utf16File(L"Windows Registry Editor Version 5.00\r\n\r\n") + "[", 3},
                    BadFile{Utf16File(L"Windows Registry Editor Version 5.00\r\n\r\n") + ";", 3}));

// The encodings at the edges of each length, and bytes that are no UTF-8,
// which must come back as they were.
TEST(WideTextTest, EncodesEachCharacterInBothFormsAndBack) {
  const struct {
    std::wstring text;
    std::string utf8;
    std::vector<std::uint8_t> utf16;
  } cases[] = {
      {L"\u007f", "\x7F", {0x7F, 0x00}},
      {L"\u0080", "\xC2\x80", {0x80, 0x00}},
      {L"\u07ff", "\xDF\xBF", {0xFF, 0x07}},
      {L"\u0800", "\xE0\xA0\x80", {0x00, 0x08}},
      {L"\uffff", "\xEF\xBF\xBF", {0xFF, 0xFF}},
      {L"\U00010000", "\xF0\x90\x80\x80", {0x00, 0xD8, 0x00, 0xDC}},
      {L"\U0010ffff", "\xF4\x8F\xBF\xBF", {0xFF, 0xDB, 0xFF, 0xDF}},
      {std::wstring(1, wchar_t{0xDCFF}), "\xFF", {0xFF, 0xDC}},
      {std::wstring(1, wchar_t{0xDC80}), "\x80", {0x80, 0xDC}},
  };
  for (const auto& c : cases) {
    const std::string utf8(c.utf8);
    EXPECT_EQ(utf8, platform::EncodeUtf8(c.text)) << utf8;
    EXPECT_EQ(c.text, platform::DecodeUtf8(utf8)) << utf8;
    EXPECT_EQ(c.utf16, platform::EncodeUtf16(c.text)) << utf8;
    EXPECT_EQ(c.text, platform::DecodeUtf16(c.utf16.data(), c.utf16.size())) << utf8;
  }
}

}  // namespace
