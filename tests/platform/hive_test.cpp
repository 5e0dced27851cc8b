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

TEST(Hive, EveryDataFormGivesTheValueInEffectWithExactBytes)
{
    const std::string merged =
        inKey("\"A\"=\"1\"\n\"B\"=\"b\"\n[HKEY_LOCAL_MACHINE\\X]\n[hkey_local_machine\\software\\qvr]\n\"a\"=\"2\"\n");
    const std::tuple<std::string, const char*, HiveValue> cases[] = {
        {inKey("\"A\"=\"a\\\\b\\\"c\"\n"), "A", sz("a\\b\"c")},
        {inKey("@=\"d\"\n"), "", sz("d")},
        {inKey("\"A\"=dword:1fF\n"), "A", value(4, {"\xff\x01\0\0", 4})},
        {inKey("\"A\"=hex:0a,0B\n"), "A", value(3, "\x0a\x0b")},
        {inKey("\"A\"=hex(b):01\n"), "A", value(11, "\x01")},
        {inKey("\"A\"=hex(7):61,\\\n    62,\\\n\t00\n"), "A", value(7, {"ab\0", 3})},
        {inKey("  \"A\" \t= \"x\"  \t\n"), "A", sz("x")},
        // Sections of the same key, in any case, add up; the last duplicate counts.
        {merged, "A", sz("2")},
        {merged, "b", sz("b")},
        {"\xEF\xBB\xBFREGEDIT4 \r\n; note\r\n  ;x=y\r\n" + kSection + "\r\n\"A\"=\"x\"\r\n", "A", sz("x")},
    };
    for (const auto& [file, name, expected] : cases) {
        const auto doc = HiveDocument::parse(file);
        EXPECT_EQ(doc ? doc->findValue(kKey, name) : std::nullopt, expected) << file;
    }
}

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

// That a write never makes a key, the fuzz target and the settings' tests show.
TEST(Hive, EditsChangeOnlyTheValuesLineAndNewValuesFollowTheKeysLast)
{
    const std::string twoKeys =
        "\xEF\xBB\xBFREGEDIT4\n; keep me\n\n" + kSection + "\n\"Directory\" = \"/opt/q\"  \n"
        "\"Bin\"=hex:01,\\\n  02\n\"Directory\"=\"dup\"\n\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Client]\n"
        "\"GUID\"=\"\"\n";
    const std::string crLf = "REGEDIT4\r\n" + kSection + "\r\n\"A\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\X]\r\n" + kSection
                             + "\r\n; last\r\n\r\n";
    const std::string bare = "REGEDIT4\n" + kSection;
    const std::tuple<std::string, const char*, const char*, HiveValue, std::string> cases[] = {
        // The last duplicate, keeping its name's spelling.
        {twoKeys, "hkey_local_machine\\software\\qvr", "DIRECTORY", sz("/usr"),
         edited(twoKeys, "\"dup\"", "\"/usr\"")},
        {twoKeys, kKey, "Bin", value(11, "\xff"), edited(twoKeys, "hex:01,\\\n  02", "hex(b):ff")},
        // A new value goes to the key's last section, before its blank lines.
        {twoKeys, kKey, "New", value(4, {"\x2a\0\0\0", 4}),
         edited(twoKeys, "\"dup\"\n", "\"dup\"\n\"New\"=dword:0000002a\n")},
        {crLf, kKey, "", sz("d"), edited(crLf, "\r\n; last\r\n", "\r\n@=\"d\"\r\n; last\r\n")},
        // The comments that introduce the next key stay with it.
        {bare + "\n\"A\"=\"1\"\n\n; the next key\n[HKEY_LOCAL_MACHINE\\Y]\n", kKey, "B", sz("x"),
         bare + "\n\"A\"=\"1\"\n\"B\"=\"x\"\n\n; the next key\n[HKEY_LOCAL_MACHINE\\Y]\n"},
        {bare, kKey, "A", sz("x"), bare + "\n\"A\"=\"x\""},
    };
    for (const auto& [before, key, name, v, after] : cases) {
        auto doc = HiveDocument::parse(before);
        EXPECT_EQ(doc && doc->setValue(key, name, v) ? doc->serialize() : "not set", after) << before;
    }
}

} // namespace
} // namespace qvr
