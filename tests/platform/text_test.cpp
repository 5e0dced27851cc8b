#include "platform/text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace qvr {
namespace {

TEST(Text, OnlyAsciiLettersHaveACaseWhateverTheLocale)
{
    // A locale with a case for bytes above 127, where there is one on this machine.
    std::setlocale(LC_CTYPE, "de_DE.ISO-8859-1");
    struct Case {
        std::string a, b;
        int order;
    };
    const Case cases[] = {
        {"Content-LENGTH", "content-length", 0},
        {"\xC9t\xC9", "\xE9t\xE9", -1}, // Latin-1 letters are bytes like any other
        {"[Song].mp3", "a.mp3", -1},    // '[' sorts before every letter, taken in lower case
        {"Zebra", "apple", 1},
        {"ab", "ABC", -1},              // a beginning sorts before the longer text
        {"a\xFF", "A\x01", 1},          // bytes compare as unsigned
        {"", "", 0},
        {std::string("a\0b", 3), std::string("A\0B", 3), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a + " | " + c.b);
        EXPECT_EQ(CompareIgnoringCase(c.a, c.b), c.order);
        EXPECT_EQ(CompareIgnoringCase(c.b, c.a), -c.order);
        EXPECT_EQ(EqualsIgnoringCase(c.a, c.b), c.order == 0);
    }
    std::setlocale(LC_CTYPE, "C");

    EXPECT_TRUE(StartsWithIgnoringCase("DWORD:0000", "dword:"));
    EXPECT_FALSE(StartsWithIgnoringCase("dwor", "dword:"));
    EXPECT_TRUE(EndsWithIgnoringCase("Song.MP3", ".mp3"));
    EXPECT_FALSE(EndsWithIgnoringCase("mp3", ".mp3"));
}

TEST(Text, TrimRemovesOnlyTheGivenBytesAtTheEnds)
{
    EXPECT_EQ(Trim(" \t\r\na b \r\n"), "a b");
    EXPECT_EQ(Trim("\r value\r", kBlanks), "\r value\r");
    EXPECT_EQ(TrimStart("  x  ", kBlanks), "x  ");
    EXPECT_EQ(TrimEnd("x \r \r", " \r"), "x");
    EXPECT_EQ(Trim(" \t "), "");
}

} // namespace
} // namespace qvr
