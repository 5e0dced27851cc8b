#include "res/strings.h"

#include <gtest/gtest.h>

namespace qvr {
namespace {

TEST(StringTable, StoreHostGoesIntoEveryStoreAddressAndNowhereElse)
{
    EXPECT_EQ(loadString(IDS_STORE_HOST, "127.0.0.1:8080"), "127.0.0.1:8080");
    EXPECT_EQ(loadString(IDS_RADIO_URL, "127.0.0.1:8080"), "http://127.0.0.1:8080/radio_2/radio_dlm2.html");
    EXPECT_EQ(loadString(IDS_HOME_URL, "shop.test"), "http://shop.test/");
    EXPECT_EQ(loadString(IDS_UPDATE_FOLDER_URL, "shop.test"),
              "http://shop.test/downloader/app_versions/QVR_DLM/");
    EXPECT_EQ(loadString(IDS_TRACK_INFO_PATH, "shop.test"), "/downloader/downloader_dlm.html?%s&guid=%s");
    EXPECT_EQ(loadString(IDS_REGISTRY_BASE, "shop.test"), "SOFTWARE\\QVR");
    EXPECT_EQ(loadString(2009, "shop.test"), "") << "a number the table does not have";
}

TEST(StringTable, OnlyPlausibleHostsAreTakenFromTheEnvironment)
{
    for (const char* host : {"localhost", "127.0.0.1:1", "store.example:65535", "[::1]:8080", "[::1]"})
        EXPECT_TRUE(isValidStoreHost(host)) << host;
    for (const char* host : {"", "a b", "host/path", "host:0", "host:65536", "host:", ":80",
                             "user@host", "host:80x", "[::1", "[]:80", "[::1]x"})
        EXPECT_FALSE(isValidStoreHost(host)) << host;

    ::setenv("QVR_STORE_HOST", "127.0.0.1:4242", 1);
    EXPECT_EQ(loadString(IDS_HOME_URL), "http://127.0.0.1:4242/");
    ::setenv("QVR_STORE_HOST", "evil/../path", 1);
    EXPECT_EQ(storeHostFromEnvironment(), defaultStoreHost());
    ::unsetenv("QVR_STORE_HOST");
    EXPECT_EQ(storeHostFromEnvironment(), defaultStoreHost());
}

} // namespace
} // namespace qvr
