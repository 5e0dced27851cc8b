#include "platform/registry.h"

#include "tests/support/disk_full.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>

namespace qvr {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

const std::string kHive =
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]\n\"Directory\"=\"/opt/q\"\n"
    "\"Count\"=dword:00000007\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Client]\n\"GUID\"=\"\"\n; end\n\n";

class RegistryTest : public testing::Test {
protected:
    RegistryTest() { writeFile(m_path, kHive); }

    RegistryKey open(std::string_view subKey, RegAccess access)
    {
        RegistryKey key;
        EXPECT_EQ(m_registry.openKey(subKey, access, key), RegSuccess);
        return key;
    }

    TempDir m_dir;
    std::string m_path = m_dir.file("registry.reg");
    Registry m_registry{m_path};
};

TEST_F(RegistryTest, OpenKeyFindsOnlyExistingKeysOfAParsableFile)
{
    struct Case {
        std::optional<std::string> file;
        const char* subKey;
        long expected;
    };
    const Case cases[] = {
        {kHive, "software\\qvr\\CLIENT", RegSuccess},
        {kHive, "SOFTWARE\\QVR\\Queue", RegFileNotFound},
        {kHive, "SOFTWARE", RegFileNotFound},
        {std::nullopt, "SOFTWARE\\QVR", RegFileNotFound},
        {kHive + "\"Stray\"=-\n", "SOFTWARE\\QVR", RegBadDb},
    };
    // One key object throughout: a failed open must leave it closed, not as it was.
    RegistryKey key;
    for (const Case& c : cases) {
        std::filesystem::remove(m_path);
        if (c.file)
            writeFile(m_path, *c.file);
        for (RegAccess access : {RegAccess::Read, RegAccess::Write}) {
            SCOPED_TRACE(std::string(c.subKey) + (c.file ? "" : " without file"));
            EXPECT_EQ(m_registry.openKey(c.subKey, access, key), c.expected);
            EXPECT_EQ(key.isOpen(), c.expected == RegSuccess);
        }
        EXPECT_EQ(std::filesystem::exists(m_path), c.file.has_value());
    }
}

TEST_F(RegistryTest, QueryValueReportsTypeSizeAndRawBytesOfWhatWasOpened)
{
    const RegistryKey key = open("SOFTWARE\\QVR", RegAccess::Read);
    std::filesystem::remove(m_path);
    std::uint32_t type = 0;
    std::uint8_t data[16] = {};
    std::uint32_t size = sizeof data;
    ASSERT_EQ(key.queryValue("directory", &type, data, &size), RegSuccess);
    EXPECT_EQ(type, RegSz);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("/opt/q\0", 7));

    type = 0;
    size = 6;
    data[0] = 'x';
    EXPECT_EQ(key.queryValue("Directory", &type, data, &size), RegMoreData);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(type, RegSz);
    EXPECT_EQ(data[0], 'x');

    size = 0;
    EXPECT_EQ(key.queryValue("Count", nullptr, nullptr, &size), RegSuccess);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(key.queryValue("Count", &type, nullptr, nullptr), RegSuccess);
    EXPECT_EQ(type, RegDword);
    EXPECT_EQ(key.queryValue("Count", nullptr, data, &size), RegSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("\x07\0\0\0", 4));

    EXPECT_EQ(key.queryValue("Count", nullptr, data, nullptr), RegInvalidParameter);
    EXPECT_EQ(key.queryValue("Missing", &type, data, &size), RegFileNotFound);
}

TEST_F(RegistryTest, EachAccessAllowsOnlyItsOwnOperation)
{
    RegistryKey reader = open("SOFTWARE\\QVR\\Client", RegAccess::Read);
    RegistryKey writer = open("SOFTWARE\\QVR\\Client", RegAccess::Write);
    std::uint32_t size = 0;
    EXPECT_EQ(writer.queryValue("GUID", nullptr, nullptr, &size), RegAccessDenied);
    EXPECT_EQ(reader.setStringValue("GUID", "X"), RegAccessDenied);
    EXPECT_EQ(readFile(m_path), kHive);

    RegistryKey moved = std::move(reader);
    EXPECT_EQ(moved.queryValue("GUID", nullptr, nullptr, &size), RegSuccess);
    moved.close();
    writer.close();
    for (RegistryKey* key : {&moved, &reader, &writer}) {
        EXPECT_EQ(key->queryValue("GUID", nullptr, nullptr, &size), RegInvalidHandle);
        EXPECT_EQ(key->setStringValue("GUID", "X"), RegInvalidHandle);
    }
}

TEST_F(RegistryTest, WriteChangesOnlyItsValuesLine)
{
    RegistryKey writer = open("SOFTWARE\\QVR\\Client", RegAccess::Write);
    ASSERT_EQ(writer.setStringValue("guid", "a\"b\\c"), RegSuccess);
    ASSERT_EQ(writer.setStringValue("DownloadFolder", "/m \"q\"\\\r\n"), RegSuccess);
    EXPECT_EQ(writer.setStringValue("Bad\nName", "x"), RegInvalidParameter);

    std::string expected = kHive;
    expected.replace(expected.find("\"GUID\"=\"\""), 9, "\"GUID\"=\"a\\\"b\\\\c\"");
    expected.insert(expected.size() - 1, "\"DownloadFolder\"=hex(1):2f,6d,20,22,71,22,5c,0d,0a,00\n");
    EXPECT_EQ(readFile(m_path), expected);
}

TEST_F(RegistryTest, WriteLeavesTheFileAloneWhenKeyOrFileChanged)
{
    struct Case {
        const char* what;
        std::optional<std::string> file;
        long expected;
    };
    const Case cases[] = {
        {"key removed", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]\n", RegKeyDeleted},
        {"malformed", kHive + "\"Stray\"=-\n", RegBadDb},
        {"file removed", std::nullopt, RegKeyDeleted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(m_path, kHive);
        RegistryKey writer = open("SOFTWARE\\QVR\\Client", RegAccess::Write);
        std::filesystem::remove(m_path);
        if (c.file)
            writeFile(m_path, *c.file);
        EXPECT_EQ(writer.setStringValue("GUID", "X"), c.expected);
        if (c.file)
            EXPECT_EQ(readFile(m_path), *c.file);
        else
            EXPECT_FALSE(std::filesystem::exists(m_path));
    }
}

TEST_F(RegistryTest, FailedReplaceKeepsTheOldFileWhole)
{
    RegistryKey writer = open("SOFTWARE\\QVR\\Client", RegAccess::Write);
    long result = RegSuccess;
    {
        const test::DiskFull full(kHive.size());
        result = writer.setStringValue("GUID", "0123456789ABCDEF0123456789ABCDEF");
    }
    EXPECT_EQ(result, RegWriteFault);
    EXPECT_EQ(readFile(m_path), kHive);
    EXPECT_EQ(test::countEntries(m_dir.path()), 1u) << "a temporary file was left behind";
}

TEST_F(RegistryTest, ConcurrentWritersLoseNoValue)
{
    constexpr int kWrites = 20;
    auto writeMany = [this](char prefix) {
        const Registry registry(m_path);
        RegistryKey key;
        ASSERT_EQ(registry.openKey("SOFTWARE\\QVR\\Client", RegAccess::Write, key), RegSuccess);
        for (int i = 0; i < kWrites; ++i)
            EXPECT_EQ(key.setStringValue(prefix + std::to_string(i), "v"), RegSuccess);
    };
    std::thread first(writeMany, 'a');
    std::thread second(writeMany, 'b');
    first.join();
    second.join();

    const RegistryKey reader = open("SOFTWARE\\QVR\\Client", RegAccess::Read);
    for (char prefix : {'a', 'b'}) {
        for (int i = 0; i < kWrites; ++i) {
            std::uint32_t size = 0;
            EXPECT_EQ(reader.queryValue(prefix + std::to_string(i), nullptr, nullptr, &size), RegSuccess)
                << prefix << i;
        }
    }
}

} // namespace
} // namespace qvr
