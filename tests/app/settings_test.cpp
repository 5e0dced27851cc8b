#include "app/settings.h"

#include "app/application.h"

#include "tests/app/hive_fixture.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace qvr {
namespace {

using test::makeHive;
using test::readFile;
using test::TempDir;
using test::writeFile;

class Settings : public ::testing::Test {
protected:
    CquaveromfcApp load(const std::string& hiveText)
    {
        writeFile(m_dir.file("registry.reg"), hiveText);
        CquaveromfcApp app(AppEnvironment {m_dir.file("registry.reg"), std::nullopt, ""});
        LoadSettings(registry(), app);
        return app;
    }
    Registry registry() const { return Registry(m_dir.file("registry.reg")); }
    std::string hive() const { return readFile(m_dir.file("registry.reg")); }

    TempDir m_dir;
};

TEST_F(Settings, AllFiveValuesLoadFromTheirKeys)
{
    const auto app = load(makeHive("\"Directory\"=\"/opt/quavero\"",
                                   "\"downloadfolder\"=\"/music/Q\"\r\n\"GUID\"=\"ABC\"",
                                   "\"RawQueue\"=\"/q/raw.txt\"\r\n\"DownloadQueue\"=hex(2):2f,64,00"));
    EXPECT_EQ(app.m_strDirectory, "/opt/quavero");
    EXPECT_EQ(app.m_strDownloadFolder, "/music/Q") << "value names compare without case";
    EXPECT_EQ(app.m_strInstallationId, "ABC");
    EXPECT_EQ(app.m_strRawQueuePath, "/q/raw.txt");
    EXPECT_EQ(app.m_strDownloadQueuePath, "/d") << "REG_EXPAND_SZ is accepted";
}

TEST_F(Settings, LengthLimitIs1023Characters)
{
    const std::string fits(1023, 'f');
    auto app = load(makeHive("", "\"DownloadFolder\"=\"" + fits + "\"", ""));
    EXPECT_EQ(app.m_strDownloadFolder, fits);
    app = load(makeHive("", "\"DownloadFolder\"=\"" + fits + "x\"", ""));
    EXPECT_EQ(app.m_strDownloadFolder, "");
}

TEST_F(Settings, RejectedValuesLeaveTheirMemberEmpty)
{
    const auto app = load(makeHive("\"Directory\"=hex(1):2f,61",                 // no NUL
                                   "\"GUID\"=dword:0000002a\r\n"                  // wrong type
                                   "\"DownloadFolder\"=hex:2f,00",                // REG_BINARY
                                   "\"RawQueue\"=hex(1):\r\n"                     // size 0
                                   "\"DownloadQueue\"=\"%HOME%\\\\queue.txt\""));  // kept verbatim
    EXPECT_EQ(app.m_strDirectory, "");
    EXPECT_EQ(app.m_strInstallationId, "");
    EXPECT_EQ(app.m_strDownloadFolder, "");
    EXPECT_EQ(app.m_strRawQueuePath, "") << "size 0 is the empty string";
    EXPECT_EQ(app.m_strDownloadQueuePath, "%HOME%\\queue.txt");
}

TEST_F(Settings, AMissingKeySkipsOnlyItsOwnValues)
{
    const auto app = load(makeHive("\"Directory\"=\"/opt\"", "\"GUID\"=\"G\"", ""));
    EXPECT_EQ(app.m_strDirectory, "/opt");
    EXPECT_EQ(app.m_strInstallationId, "G");
    EXPECT_EQ(app.m_strRawQueuePath, "");
    EXPECT_EQ(app.m_strDownloadQueuePath, "");
}

TEST_F(Settings, AMalformedHiveGivesEmptySettingsAndIsNeverRewritten)
{
    const std::string broken = makeHive("\"Directory\"=\"/opt\"", "\"GUID\"=\"G\"", "")
        + "\"stray\"=bogus:12\r\n";
    const auto app = load(broken);
    EXPECT_EQ(app.m_strDirectory, "");
    EXPECT_EQ(app.m_strInstallationId, "");
    EXPECT_NE(WriteStringValue(registry(), ClientKeyPath(), "GUID", "NEW"), RegSuccess);
    EXPECT_EQ(hive(), broken);
}

TEST_F(Settings, WritingNeverCreatesAKeyAndKeepsTheRestOfTheFile)
{
    const std::string text = "REGEDIT4\r\n\r\n; installed by hand\r\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Client]\r\n"
                              "\"DownloadFolder\"=\"/old\"\r\n\"Other\"=dword:00000001\r\n";
    writeFile(m_dir.file("registry.reg"), text);
    EXPECT_NE(WriteStringValue(registry(), QueueKeyPath(), "RawQueue", "/x"), RegSuccess);
    EXPECT_EQ(hive(), text);

    ASSERT_EQ(WriteStringValue(registry(), ClientKeyPath(), "DownloadFolder", "/new \"q\""), RegSuccess);
    std::string expected = text;
    expected.replace(expected.find("\"/old\""), 6, "\"/new \\\"q\\\"\"");
    EXPECT_EQ(hive(), expected);

    CquaveromfcApp app(AppEnvironment {m_dir.file("registry.reg"), std::nullopt, ""});
    LoadSettings(registry(), app);
    EXPECT_EQ(app.m_strDownloadFolder, "/new \"q\"");
}

TEST(InstallationId, FormatsDataFieldsAsUpperCaseHex)
{
    const Guid guid {0x0123abcd, 0x4e5f, 0x0a0b, {0xde, 0xad, 0xbe, 0xef, 0x00, 0x01, 0x02, 0xff}};
    EXPECT_EQ(FormatInstallationId(guid), "0123ABCD4E5F0A0BDEADBEEF000102FF");
    const std::array<std::uint8_t, 16> bytes {0xcd, 0xab, 0x23, 0x01, 0x5f, 0x4e, 0x0b, 0x0a,
                                              0xde, 0xad, 0xbe, 0xef, 0x00, 0x01, 0x02, 0xff};
    EXPECT_EQ(FormatInstallationId(GuidFromBytes(bytes)), "0123ABCD4E5F0A0BDEADBEEF000102FF");
}

} // namespace
} // namespace qvr
