#include "platform/hive.h"

#include "tests/support/common.h"

#include <ostream>

namespace qvr {

void PrintTo(const HiveValue& value, std::ostream* os)
{
    *os << "type " << value.type << ", bytes " << testing::PrintToString(value.data);
}

namespace {

constexpr char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR";
const std::string kSection = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]";

HiveValue value(std::uint32_t type, std::string_view bytes) { return {type, {bytes.begin(), bytes.end()}}; }
HiveValue sz(std::string_view text) { return value(1, std::string(text) + '\0'); }
// The whole file is the header, one section line and `body`.
std::string inKey(std::string_view body) { return "REGEDIT4\n\n" + kSection + "\n" + std::string(body); }

// A file, and the value one of its names has in the key.
struct Reading {
    const char* name;
    std::string file;
    const char* valueName;
    HiveValue value;
};

class HiveReading : public ::testing::TestWithParam<Reading> {};

TEST_P(HiveReading, GivesTheValueInEffectWithExactBytes)
{
    const auto doc = HiveDocument::parse(GetParam().file);
    EXPECT_EQ(doc ? doc->findValue(kKey, GetParam().valueName) : std::nullopt, GetParam().value);
}

// Sections of the same key, in any case, add up; the last duplicate counts.
const std::string kMerged =
    inKey("\"A\"=\"1\"\n\"B\"=\"b\"\n[HKEY_LOCAL_MACHINE\\X]\n[hkey_local_machine\\software\\qvr]\n\"a\"=\"2\"\n");

INSTANTIATE_TEST_SUITE_P(Forms, HiveReading, ::testing::Values(
    Reading {.name = "AnEscapedString", .file = inKey("\"A\"=\"a\\\\b\\\"c\"\n"), .valueName = "A", .value = sz("a\\b\"c")},
    Reading {.name = "TheDefaultValue", .file = inKey("@=\"d\"\n"), .valueName = "", .value = sz("d")},
    Reading {.name = "ADword", .file = inKey("\"A\"=dword:1fF\n"), .valueName = "A", .value = value(4, {"\xff\x01\0\0", 4})},
    Reading {.name = "Hex", .file = inKey("\"A\"=hex:0a,0B\n"), .valueName = "A", .value = value(3, "\x0a\x0b")},
    Reading {.name = "HexOfAType", .file = inKey("\"A\"=hex(b):01\n"), .valueName = "A", .value = value(11, "\x01")},
    Reading {.name = "HexOverLines", .file = inKey("\"A\"=hex(7):61,\\\n    62,\\\n\t00\n"), .valueName = "A",
             .value = value(7, {"ab\0", 3})},
    Reading {.name = "SpacesAroundTheLine", .file = inKey("  \"A\" \t= \"x\"  \t\n"), .valueName = "A", .value = sz("x")},
    Reading {.name = "TheLastDuplicate", .file = kMerged, .valueName = "A", .value = sz("2")},
    Reading {.name = "ANameInAnyCase", .file = kMerged, .valueName = "b", .value = sz("b")},
    Reading {.name = "AMarkCommentsAndCrLf", .file = "\xEF\xBB\xBFREGEDIT4 \r\n; note\r\n  ;x=y\r\n" + kSection + "\r\n\"A\"=\"x\"\r\n",
             .valueName = "A", .value = sz("x")}), test::kByName);

TEST(Hive, MalformedFilesAreRefusedWhole)
{
    const std::string malformed[] = {
        "Windows Registry Editor Version 5.00\n", "REGEDIT4\n\"A\"=\"x\"\n" + kSection + "\n",
        "REGEDIT4\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]\n", "REGEDIT4\n[HKEY_LOCAL_MACHINE\n",
        inKey("\"A\"=-\n"), inKey("\"A\"=\"a\\nb\"\n"), inKey("\"A\"=\"abc\n"), inKey("\"A\"=\"x\" y\n"),
        inKey("\"A\"=str:x\n"), inKey("\"A\"=dword:123456789\n"), inKey("\"A\"=dword:12g4\n"),
        inKey("\"A\"=hex:123\n"), inKey("\"A\"=hex:01,\\"), inKey("A=\"x\"\n"),
    };
    for (const std::string& file : malformed)
        EXPECT_FALSE(HiveDocument::parse(file)) << testing::PrintToString(file);

    std::string file = inKey(";");
    file.resize(HiveDocument::kMaxFileSize, 'x');
    EXPECT_TRUE(HiveDocument::parse(file));
    EXPECT_FALSE(HiveDocument::parse(file + 'x'));
}

std::string edited(std::string text, std::string_view from, std::string_view to)
{
    return text.replace(text.find(from), from.size(), to);
}

// A file before, the value set, and the file after: only the value's line changes, and a new
// value follows the key's last section. That a write never makes a key, the fuzz target and the
// settings' tests show.
struct Edit {
    const char* name;
    std::string before;
    const char* key;
    const char* valueName;
    HiveValue value;
    std::string after;
};

class HiveEdit : public ::testing::TestWithParam<Edit> {};

TEST_P(HiveEdit, ChangesOnlyWhatItSets)
{
    auto doc = HiveDocument::parse(GetParam().before);
    EXPECT_EQ(doc && doc->setValue(GetParam().key, GetParam().valueName, GetParam().value) ? doc->serialize() : "not set",
              GetParam().after);
}

const std::string kTwoKeys =
    "\xEF\xBB\xBFREGEDIT4\n; keep me\n\n" + kSection + "\n\"Directory\" = \"/opt/q\"  \n"
    "\"Bin\"=hex:01,\\\n  02\n\"Directory\"=\"dup\"\n\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Client]\n\"GUID\"=\"\"\n";
const std::string kCrLf =
    "REGEDIT4\r\n" + kSection + "\r\n\"A\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\X]\r\n" + kSection + "\r\n; last\r\n\r\n";
const std::string kBare = "REGEDIT4\n" + kSection;

INSTANTIATE_TEST_SUITE_P(Edits, HiveEdit, ::testing::Values(
    Edit {.name = "TheLastDuplicateKeepingItsNamesSpelling", .before = kTwoKeys, .key = "hkey_local_machine\\software\\qvr",
          .valueName = "DIRECTORY", .value = sz("/usr"), .after = edited(kTwoKeys, "\"dup\"", "\"/usr\"")},
    Edit {.name = "AValueOverLines", .before = kTwoKeys, .key = kKey, .valueName = "Bin", .value = value(11, "\xff"),
          .after = edited(kTwoKeys, "hex:01,\\\n  02", "hex(b):ff")},
    Edit {.name = "ANewValueBeforeTheBlankLines", .before = kTwoKeys, .key = kKey, .valueName = "New",
          .value = value(4, {"\x2a\0\0\0", 4}), .after = edited(kTwoKeys, "\"dup\"\n", "\"dup\"\n\"New\"=dword:0000002a\n")},
    Edit {.name = "ANewValueInTheKeysLastSection", .before = kCrLf, .key = kKey, .valueName = "", .value = sz("d"),
          .after = edited(kCrLf, "\r\n; last\r\n", "\r\n@=\"d\"\r\n; last\r\n")},
    // The comments that introduce the next key stay with it.
    Edit {.name = "ANewValueBeforeTheNextKeysComments", .before = kBare + "\n\"A\"=\"1\"\n\n; the next key\n[HKEY_LOCAL_MACHINE\\Y]\n",
          .key = kKey, .valueName = "B", .value = sz("x"),
          .after = kBare + "\n\"A\"=\"1\"\n\"B\"=\"x\"\n\n; the next key\n[HKEY_LOCAL_MACHINE\\Y]\n"},
    Edit {.name = "ANewValueInAKeyWithoutALineEnd", .before = kBare, .key = kKey, .valueName = "A", .value = sz("x"),
          .after = kBare + "\n\"A\"=\"x\""}), test::kByName);

} // namespace
} // namespace qvr
