#include "platform/text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <tuple>

namespace qvr {
namespace {

// How blanks are trimmed the hive's and the HTTP heads' tests show.
TEST(Text, OnlyAsciiLettersHaveACaseWhateverTheLocale)
{
    // A locale with a case for bytes above 127, where there is one on this machine.
    std::setlocale(LC_CTYPE, "de_DE.ISO-8859-1");
    const std::tuple<std::string, std::string, int> cases[] = {
        {"Content-LENGTH", "content-length", 0},
        {"\xC9t\xC9", "\xE9t\xE9", -1}, // Latin-1 letters are bytes like any other
        {"[Song].mp3", "a.mp3", -1},    // '[' sorts before every letter, taken in lower case
        {"ab", "ABC", -1},              // a beginning sorts before the longer text
        {"a\xFF", "A\x01", 1},          // bytes compare as unsigned
        {std::string("a\0b", 3), std::string("A\0B", 3), 0},
    };
    for (const auto& [a, b, order] : cases) {
        SCOPED_TRACE(a + " | " + b);
        EXPECT_EQ(CompareIgnoringCase(a, b), order);
        EXPECT_EQ(CompareIgnoringCase(b, a), -order);
        EXPECT_EQ(EqualsIgnoringCase(a, b), order == 0);
    }
    std::setlocale(LC_CTYPE, "C");
    EXPECT_TRUE(StartsWithIgnoringCase("DWORD:0000", "dword:") && !StartsWithIgnoringCase("dwor", "dword:"));
    EXPECT_TRUE(EndsWithIgnoringCase("Song.MP3", ".mp3") && !EndsWithIgnoringCase("mp3", ".mp3"));
}

} // namespace
} // namespace qvr
