#include "platform/text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <tuple>

namespace qvr {
namespace {

// How blanks are trimmed the hive's and the HTTP heads' tests show; how names sort,
// and are found by their beginning or end, the downloaded files' tests.
TEST(Text, OnlyAsciiLettersHaveACaseWhateverTheLocale)
{
    // A locale with a case for bytes above 127, where there is one on this machine.
    std::setlocale(LC_CTYPE, "de_DE.ISO-8859-1");
    const std::tuple<std::string, std::string, int> cases[] = {
        {"\xC9t\xC9", "\xE9t\xE9", -1}, // Latin-1 letters are bytes like any other
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
}

} // namespace
} // namespace qvr
