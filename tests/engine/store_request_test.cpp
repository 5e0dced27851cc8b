// Track-info answers and download addresses are the fuzz targets' (tests/fuzz).
#include "engine/store_request.h"

#include <gtest/gtest.h>

namespace qvr {
namespace {

const std::string kLargest = "18446744073709551615", kPastLargest = "18446744073709551616";  // 2^64 - 1, 2^64

TEST(StoreRequest, RequestTextIsEncodedOnlyWhereAQueryMustBe)
{
    EXPECT_EQ(encodeRequestText("track=1&x=%41"), "track=1&x=%41");
    EXPECT_EQ(encodeRequestText("a b\"<>\\^`{|}#\x01\x7f\xc3\xa9"), "a%20b%22%3C%3E%5C%5E%60%7B%7C%7D%23%01%7F%C3%A9");
}

TEST(StoreRequest, AnArgumentIsNeverReadAsPartOfTheFormat)
{
    EXPECT_EQ(formatStrings("/p?%s&guid=%s", {"a%sb", "ID"}), "/p?a%sb&guid=ID");
}

// Never in a fragment, which is not sent.
TEST(StoreRequest, ATrackFileIsAskedForWithTheInstallationIdInItsQuery)
{
    EXPECT_EQ(trackFileRequestUrl("http://h/t?x=1", "ID"), "http://h/t?x=1&guid=ID");
    EXPECT_EQ(trackFileRequestUrl("http://h/t?x=1#f#g", "ID"), "http://h/t?x=1&guid=ID#f#g");
    EXPECT_FALSE(trackFileRequestUrl("file:///t?x=1", "ID"));
}

// After blanks and a plus; a figure past 64 bits is refused, never read as a smaller one.
TEST(ContentLength, IsItsLeadingNumberWithin64Bits)
{
    EXPECT_EQ(parseContentLength(" \t+0012"), 12u);
    EXPECT_EQ(parseContentLength(kLargest + "x"), UINT64_MAX);
    EXPECT_EQ(parseContentLength("-5"), 0u);
    EXPECT_EQ(parseContentLength(kPastLargest), 0u);
}

// A range's first byte, or the whole size where the range starts at or past the end.
TEST(ContentRange, IsReadWithin64Bits)
{
    EXPECT_EQ(contentRangeStart("  bytes 5-9/10"), 5u);
    EXPECT_EQ(contentRangeStart("bytes " + kLargest + "-1/2"), UINT64_MAX);
    EXPECT_EQ(contentRangeStart("bytes " + kPastLargest + "-1/2"), std::nullopt);
    EXPECT_EQ(contentRangeStart("bytes 5/10"), std::nullopt);
    EXPECT_EQ(contentRangeStart("bytes */200"), std::nullopt);
    EXPECT_EQ(unsatisfiedRangeSize("bytes */0200"), 200u);
    EXPECT_EQ(unsatisfiedRangeSize("bytes */200 "), std::nullopt);
    EXPECT_EQ(unsatisfiedRangeSize("bytes */" + kPastLargest), std::nullopt);
    EXPECT_EQ(unsatisfiedRangeSize("bytes 5-9/10"), std::nullopt);
}

// "Store Busy": a server error, 408 or 429; the store is asked again later. Any other
// answer is the store's last word on the request or track.
TEST(StoreRequest, AServerError408Or429MeansTheStoreIsBusy)
{
    for (const int status : {500, 502, 503, 504, 599, 408, 429})
        EXPECT_TRUE(storeBusy(status)) << status;
    for (const int status : {400, 403, 404, 410, 416, 499})
        EXPECT_FALSE(storeBusy(status)) << status;
}

// Of nothing it is 0; a body longer than its announced length gives large figures,
// never a wrapped one.
TEST(Percent, IsCutTowardZeroWithoutWrapping)
{
    EXPECT_EQ(percentOf(5000, 10000), 50);
    EXPECT_EQ(percentOf(9999, 10000), 99);
    EXPECT_EQ(percentOf(3000000000ull, 6000000000ull), 50);
    EXPECT_EQ(percentOf(7, 0), 0);
    EXPECT_EQ(percentOf(10001, 10000), 100);
    EXPECT_EQ(percentOf(UINT64_MAX, 1), INT32_MAX);
    EXPECT_EQ(percentOf(1, UINT64_MAX), 0);
}

} // namespace
} // namespace qvr
