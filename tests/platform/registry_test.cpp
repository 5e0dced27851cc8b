// Which keys open, and how the settings read values through them, the settings' own tests show.
#include "platform/registry.h"
#include "platform/hive.h"

#include "tests/support/common.h"
#include "tests/support/disk_full.h"


namespace qvr {
namespace {

const std::string kHive =
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]\n\"Directory\"=\"/opt/q\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Client]\n\"GUID\"=\"\"\n; end\n\n";
const std::string kMalformed = kHive + "\"Stray\"=-\n";
constexpr const char* kClient = "SOFTWARE\\QVR\\Client";

struct RegistryTest : testing::Test {
    RegistryTest() { test::writeFile(m_path, kHive); }
    test::TempDir m_dir;
    std::string m_path = m_dir.file("registry.reg");
    Registry m_registry {m_path};
};

TEST_F(RegistryTest, AWriteChangesOnlyItsValuesLineThroughAWriteKey)
{
    RegistryKey reader, writer;
    ASSERT_EQ(m_registry.openKey(kClient, RegAccess::Read, reader), RegSuccess);
    ASSERT_EQ(m_registry.openKey(kClient, RegAccess::Write, writer), RegSuccess);
    std::uint32_t size = 0;
    EXPECT_EQ(writer.queryValue("GUID", nullptr, nullptr, &size), RegAccessDenied);
    EXPECT_EQ(reader.setStringValue("GUID", "X"), RegAccessDenied);
    ASSERT_EQ(writer.setStringValue("guid", "a\"b\\c"), RegSuccess);
    ASSERT_EQ(writer.setStringValue("DownloadFolder", "/m \"q\"\\\r\n"), RegSuccess);
    EXPECT_EQ(writer.setStringValue("Bad\nName", "x"), RegInvalidParameter);
    std::string expected = kHive;
    expected.replace(expected.find("\"GUID\"=\"\""), 9, "\"GUID\"=\"a\\\"b\\\\c\"");
    expected.insert(expected.find("; end"), "\"DownloadFolder\"=hex(1):2f,6d,20,22,71,22,5c,0d,0a,00\n");
    EXPECT_EQ(test::readFile(m_path), expected);

    // A full disk: the result is looked at only once the limit is gone again.
    const long result = [&] {
        const test::DiskFull full(expected.size());
        return writer.setStringValue("GUID", "0123456789ABCDEF0123456789ABCDEF");
    }();
    EXPECT_EQ(result, RegWriteFault);
    EXPECT_EQ(test::readFile(m_path), expected);
    EXPECT_EQ(test::countEntries(m_dir.path()), 1u) << "a temporary file was left behind";

    // The key vanished or the file became malformed since the open, or the next start could not
    // read what would be written: the file stays as it is.
    const std::string keyGone = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]\n";
    const std::string nearlyFull = kHive + ";" + std::string(HiveDocument::kMaxFileSize - kHive.size() - 2, 'x') + "\n";
    for (const auto& [changed, answer] :
         {std::pair(keyGone, RegKeyDeleted), {kMalformed, RegBadDb}, {nearlyFull, RegWriteFault}}) {
        test::writeFile(m_path, changed);
        EXPECT_EQ(writer.setStringValue("GUID", "0123456789ABCDEF0123456789ABCDEF"), answer);
        EXPECT_TRUE(test::readFile(m_path) == changed);
    }
    writer.close();
    EXPECT_EQ(writer.setStringValue("GUID", "X"), RegInvalidHandle);
}

} // namespace
} // namespace qvr
