// The version texts and addresses the updater works with.
#include "platform/network.h"
#include "update/auto_updater.h"
#include "update/url.h"

#include <gtest/gtest.h>

#include <tuple>

namespace qvr {
namespace {

TEST(VersionText, ComparesNumericallyFieldByFieldAndTellsMalformedTextsApart)
{
    using namespace std::string_view_literals;
    const std::tuple<std::string_view, std::string_view, int> cases[] = {
        {"2.1.0.1", "2.1.0.0", 1}, {"2.1.0.0", "2.1.0.1", -1}, {"2.1", "2.1.0.0", 0}, {"02.1", "2.1.0.0", 0},
        {"2.10.0.0", "2.9.0.0", 1}, {"2.1.0.65535", "2.1.1.0", -1}, {"2147483647", "2147483646.9", 1},
        // Dots only separate fields.
        {"..2..1.", "2.1.0.0", 0}, {"2.1.0.1", "..2.1..0.0..", 1},
        {"", "2.1.0.0", VER_BAD_FIRST}, {"...", "2.1.0.0", VER_BAD_FIRST}, {"2.1.0.1\n", "2.1.0.0", VER_BAD_FIRST},
        {"2.1.0.1.5", "2.1.0.0", VER_BAD_FIRST}, {"v2.1.0.1", "2.1.0.0", VER_BAD_FIRST}, {"-1", "2.1.0.0", VER_BAD_FIRST},
        {"2.1\0" "1"sv, "2.1.0.0", VER_BAD_FIRST}, {"2147483648", "2.1.0.0", VER_BAD_FIRST},
        {"99999999999999999999.1", "2.1.0.0", VER_BAD_FIRST}, {"2.1.0.0", "2,1", VER_BAD_SECOND}, {"x", "y", VER_BAD_FIRST},
    };
    for (const auto& [first, second, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(first) + " against " + testing::PrintToString(second));
        EXPECT_EQ(CAutoUpdater::CompareVersions(first, second), expected);
    }
}

TEST(Url, CanonicalFormEscapesOnlyBeforeTheQuery)
{
    const std::pair<const char*, const char*> cases[] = {
        {"http://h/app versions/index.html", "http://h/app%20versions/index.html"},
        {"http://h/a\"<>\\^`{|}b", "http://h/a%22%3C%3E%5C%5E%60%7B%7C%7Db"},
        {"http://h/t\tab\x7f\xc3\xa9", "http://h/t%09ab%7F%C3%A9"},
        {"http://h/a b?x y#z w", "http://h/a%20b?x y#z w"},
        {"http://h/already%20done/~user/[x]", "http://h/already%20done/~user/[x]"},
        {"http://[::1]:8080/QVR_DLM/", "http://[::1]:8080/QVR_DLM/"},
    };
    for (const auto& [given, canonical] : cases) {
        SCOPED_TRACE(given);
        EXPECT_EQ(CanonicalizeUrl(given), std::optional<std::string>(canonical));
    }
    const std::string longest = "http://h/" + std::string(kCanonicalUrlBuffer - 10, 'a');
    EXPECT_EQ(CanonicalizeUrl(longest), longest) << "1023 bytes and the NUL fit";
    EXPECT_FALSE(CanonicalizeUrl(longest + "a"));
    EXPECT_FALSE(CanonicalizeUrl("http://h/" + std::string(400, ' '))) << "too long once escaped";
}

TEST(Url, HostAndLoopback)
{
    EXPECT_EQ(UrlHost("http://127.0.0.1:8080/downloader/"), "127.0.0.1");
    EXPECT_EQ(UrlHost("http://user@store.example/x"), "store.example");
    EXPECT_EQ(UrlHost("http://[::1]:80/x"), "[::1]");
    EXPECT_EQ(UrlHost("no address"), "");
    for (const char* host : {"127.255.0.9", "::1", "[::1]", "LocalHost"})
        EXPECT_TRUE(IsLoopbackHost(host)) << host;
    for (const char* host : {"128.0.0.1", "", "::2", "127.0.0.1.example"})
        EXPECT_FALSE(IsLoopbackHost(host)) << host;
}

} // namespace
} // namespace qvr
