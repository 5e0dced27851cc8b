#include "platform/hive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace qvr {

void PrintTo(const HiveValue& value, std::ostream* os)
{
    *os << "type " << value.type << ", bytes " << testing::PrintToString(value.data);
}

namespace {

constexpr char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR";
const std::string kSection = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]";

HiveValue value(std::uint32_t type, std::string_view bytes)
{
    return {type, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

HiveValue sz(std::string_view text)
{
    HiveValue v = value(1, text);
    v.data.push_back(0);
    return v;
}

// The whole file is the header, one section line and `body`.
std::string inKey(std::string_view body)
{
    return "REGEDIT4\n\n" + kSection + "\n" + std::string(body);
}

struct ParseCase {
    const char* what;
    std::string file;
    const char* name;
    HiveValue expected;
};

class HiveParse : public testing::TestWithParam<ParseCase> {};

TEST_P(HiveParse, GivesTheValueInEffectWithExactBytes)
{
    const auto doc = HiveDocument::parse(GetParam().file);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->findValue(kKey, GetParam().name), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(HiveForms, HiveParse, testing::Values(
    ParseCase{"string", inKey("\"A\"=\"/opt/q\"\n"), "A", sz("/opt/q")},
    ParseCase{"escapes", inKey("\"A\"=\"a\\\\b\\\"c\"\n"), "A", sz("a\\b\"c")},
    ParseCase{"default", inKey("@=\"d\"\n"), "", sz("d")},
    ParseCase{"dword", inKey("\"A\"=dword:0000002a\n"), "A", value(4, {"\x2a\0\0\0", 4})},
    ParseCase{"shortDword", inKey("\"A\"=dword:1fF\n"), "A", value(4, {"\xff\x01\0\0", 4})},
    ParseCase{"binary", inKey("\"A\"=hex:0a,0B\n"), "A", value(3, "\x0a\x0b")},
    ParseCase{"expandSz", inKey("\"A\"=hex(2):61,62,00\n"), "A", value(2, {"ab\0", 3})},
    ParseCase{"hexTypeIsHex", inKey("\"A\"=hex(b):01\n"), "A", value(11, "\x01")},
    ParseCase{"szSizeZero", inKey("\"A\"=hex(1):\n"), "A", value(1, "")},
    ParseCase{"szWithoutNul", inKey("\"A\"=hex(1):61,62\n"), "A", value(1, "ab")},
    ParseCase{"continuation", inKey("\"A\"=hex(7):61,\\\n    62,\\\n\t00\n"), "A",
              value(7, {"ab\0", 3})},
    ParseCase{"blanksAroundEquals", inKey("  \"A\" \t= \"x\"  \t\n"), "A", sz("x")},
    ParseCase{"caseInsensitive", "REGEDIT4\n[hkey_local_machine\\software\\qvr]\n\"dIr\"=\"x\"\n",
              "DIR", sz("x")},
    ParseCase{"lastDuplicateWins", inKey("\"A\"=\"1\"\n\"a\"=\"2\"\n"), "A", sz("2")},
    ParseCase{"sectionsMerge", inKey("\"A\"=\"1\"\n[HKEY_LOCAL_MACHINE\\X]\n" + kSection + "\n\"B\"=\"2\"\n"),
              "A", sz("1")},
    ParseCase{"duplicateAcrossSections", inKey("\"A\"=\"1\"\n\n" + kSection + "\n\"A\"=\"2\"\n"), "A",
              sz("2")},
    ParseCase{"crlfAndComments",
              "\xEF\xBB\xBFREGEDIT4 \r\n; note\r\n  ;x=y\r\n" + kSection + "\r\n\"A\"=\"x\"\r\n", "A",
              sz("x")}),
    [](const auto& info) { return std::string(info.param.what); });

class HiveMalformed : public testing::TestWithParam<std::string> {};

TEST_P(HiveMalformed, IsRefusedWhole)
{
    EXPECT_FALSE(HiveDocument::parse(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(HiveVariants, HiveMalformed, testing::Values(
    "", "Windows Registry Editor Version 5.00\n", "\nREGEDIT4\n",
    "REGEDIT4\n\"A\"=\"x\"\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]\n",
    "REGEDIT4\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]\n", "REGEDIT4\n[HKEY_LOCAL_MACHINE\n",
    inKey("\"A\"=-\n"), inKey("\"A\"=\"a\\nb\"\n"), inKey("\"A\"=\"abc\n"), inKey("\"A\"=\"x\" y\n"),
    inKey("\"A\"=str:x\n"), inKey("\"A\"=dword:123456789\n"), inKey("\"A\"=dword:12g4\n"),
    inKey("\"A\"=hex:123\n"), inKey("\"A\"=hex:01,,02\n"), inKey("\"A\"=hex(2:01\n"),
    inKey("\"A\"=hex:01,\\"), inKey("A=\"x\"\n"), inKey("junk\n")));

TEST(HiveMalformed, FileOverSixteenMebibytesIsRefused)
{
    std::string file = inKey(";");
    file.resize(HiveDocument::kMaxFileSize, 'x');
    EXPECT_TRUE(HiveDocument::parse(file));
    file += 'x';
    EXPECT_FALSE(HiveDocument::parse(file));
}

struct EditCase {
    const char* what;
    std::string before;
    const char* key;
    const char* name;
    HiveValue value;
    std::string after;
};

class HiveEdit : public testing::TestWithParam<EditCase> {};

TEST_P(HiveEdit, ChangesOnlyTheValuesLine)
{
    auto doc = HiveDocument::parse(GetParam().before);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->serialize(), GetParam().before);
    ASSERT_TRUE(doc->setValue(GetParam().key, GetParam().name, GetParam().value));
    EXPECT_EQ(doc->serialize(), GetParam().after);
    EXPECT_EQ(doc->findValue(GetParam().key, GetParam().name), GetParam().value);
}

const std::string kTwoKeys =
    "\xEF\xBB\xBFREGEDIT4\n; keep me\n\n" + kSection + "\n\"Directory\" = \"/opt/q\"  \n"
    "\"Bin\"=hex:01,\\\n  02\n\"Directory\"=\"dup\"\n\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Client]\n"
    "\"GUID\"=\"\"\n";
const std::string kCrLf =
    "REGEDIT4\r\n" + kSection + "\r\n\"A\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\X]\r\n" + kSection + "\r\n; last\r\n\r\n";

std::string edited(std::string text, std::string_view from, std::string_view to)
{
    return text.replace(text.find(from), from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(HiveCases, HiveEdit, testing::Values(
    EditCase{"replacesLastDuplicateKeepingNameSpelling", kTwoKeys, "hkey_local_machine\\software\\qvr",
             "DIRECTORY", sz("/usr"), edited(kTwoKeys, "\"dup\"", "\"/usr\"")},
    EditCase{"replacesContinuedLineWhole", kTwoKeys, kKey, "Bin", value(11, "\xff"),
             edited(kTwoKeys, "hex:01,\\\n  02", "hex(b):ff")},
    EditCase{"addsBeforeBlankLinesOfTheSection", kTwoKeys, kKey, "New", value(4, {"\x2a\0\0\0", 4}),
             edited(kTwoKeys, "\"dup\"\n", "\"dup\"\n\"New\"=dword:0000002a\n")},
    EditCase{"addsToTheKeysLastSectionInCrLf", kCrLf, kKey, "", sz("d"),
             edited(kCrLf, "; last\r\n", "; last\r\n@=\"d\"\r\n")},
    EditCase{"addsRightAfterAnEmptySection", "REGEDIT4\n" + kSection + "\n\n[HKEY_LOCAL_MACHINE\\Y]\n", kKey,
             "A", sz("x"), "REGEDIT4\n" + kSection + "\n\"A\"=\"x\"\n\n[HKEY_LOCAL_MACHINE\\Y]\n"},
    EditCase{"fileWithoutFinalLineEndStaysWithout", "REGEDIT4\n" + kSection, kKey, "A", sz("x"),
             "REGEDIT4\n" + kSection + "\n\"A\"=\"x\""}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(HiveEdit, NeverCreatesAKey)
{
    auto doc = HiveDocument::parse(kTwoKeys);
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->setValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Queue", "A", sz("x")));
    EXPECT_FALSE(doc->setValue("HKEY_LOCAL_MACHINE\\SOFTWARE", "A", sz("x")));
    EXPECT_EQ(doc->serialize(), kTwoKeys);
}

class HiveRoundTrip : public testing::TestWithParam<HiveValue> {};

TEST_P(HiveRoundTrip, WrittenValueReadsBackWithTheSameBytes)
{
    auto doc = HiveDocument::parse(inKey("\"Other\"=\"o\"\n"));
    ASSERT_TRUE(doc);
    ASSERT_TRUE(doc->setValue(kKey, "V", GetParam()));
    ASSERT_TRUE(doc->setValue(kKey, "Other", GetParam()));
    // One line more, and no line end of the data's own that another editor could mangle.
    const std::string text = doc->serialize();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
    const auto reread = HiveDocument::parse(text);
    ASSERT_TRUE(reread) << text;
    EXPECT_EQ(reread->findValue(kKey, "V"), GetParam());
    EXPECT_EQ(reread->findValue(kKey, "Other"), GetParam());
}

INSTANTIATE_TEST_SUITE_P(HiveValues, HiveRoundTrip, testing::Values(
    sz(""), sz("C:\\a \"b\" \\\\"), sz("\\"), sz("line\nbreak"), sz("cr\r"), sz("\r\n"),
    value(1, {"a\0b\0", 4}), value(1, "no nul"), value(1, {"\0\0", 2}), value(1, ""),
    value(2, {"%HOME%\0", 7}), value(4, {"\x01\x02\x03\xff", 4}), value(4, "\x01"),
    value(3, ""), value(7, {"a\0b\0\0", 5}), value(0x12345678, "\\\"")));

} // namespace
} // namespace qvr
