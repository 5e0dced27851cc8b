// What a start reads before anything else: its command line and the settings.
#include "app/command_line.h"
#include "app/settings.h"
#include "app/application.h"

#include "tests/support/program_fixture.h"
#include "tests/support/sync_log.h"

namespace qvr {
namespace {

using test::makeHive;

struct Loaded {
    std::string directory {}, downloadFolder {}, installationId {}, rawQueue {}, downloadQueue {};
    bool operator==(const Loaded&) const = default;
};

// What a start loads from the file at `path`, after writing `hive` there.
Loaded loaded(const std::string& path, const std::optional<std::string>& hive = std::nullopt)
{
    if (hive)
        test::writeFile(path, *hive);
    ApplicationStrings app;
    loadSettings(Registry(path), app);
    return {app.m_strDirectory, app.m_strDownloadFolder, app.m_strInstallationId, app.m_strRawQueuePath,
            app.m_strDownloadQueuePath};
}

struct ReadCommandLine { const char* name; std::vector<const char*> args; bool install = false, switchOver = false; std::string file {}; };
class CommandLine : public testing::TestWithParam<ReadCommandLine> {};

TEST_P(CommandLine, ReadsEachArgumentAsASwitchOrAPath)
{
    std::vector<const char*> args = GetParam().args;
    args.insert(args.begin(), "quavero");
    CMyCommandLineInfo info;
    parseCommandLine(static_cast<int>(args.size()), args.data(), info);
    EXPECT_EQ(info.m_bInstall != 0, GetParam().install);
    EXPECT_EQ(info.m_bSwitch != 0, GetParam().switchOver);
    EXPECT_EQ(info.m_fileName, GetParam().file);
}

// Near misses and the framework's own switches change nothing; Qt's option takes its value.
INSTANTIATE_TEST_SUITE_P(Startup, CommandLine, testing::Values(
    ReadCommandLine {.name = "InstallAfterASlash", .args = {"/install"}, .install = true},
    ReadCommandLine {.name = "InstallAfterTwoDashes", .args = {"--install"}, .install = true},
    ReadCommandLine {.name = "InstallInAnyCase", .args = {"-InStAlL"}, .install = true},
    ReadCommandLine {.name = "ANearMiss", .args = {"/installs"}},
    ReadCommandLine {.name = "TheFrameworksOwn", .args = {"/Embedding"}},
    ReadCommandLine {.name = "LaterPathsUnread", .args = {"/switch", "/tmp/install", "second.qvr", "--install"},
                     .install = true, .switchOver = true, .file = "/tmp/install"},
    ReadCommandLine {.name = "ASwitchsNameAsAFolder", .args = {"/install/", "relative.qvr"}, .file = "/install/"},
    ReadCommandLine {.name = "PathsAfterTwoDashes", .args = {"--", "-a.qvr", "/install"}, .file = "-a.qvr"},
    ReadCommandLine {.name = "QtsOptionWithItsValue", .args = {"-platform", "/switch", "b.qvr"}, .file = "b.qvr"}), test::kByName);

// Which text is a value of which type is the hive's test (tests/platform).
struct SettingsFile { const char* name; std::string hive; Loaded values {}; };
class SettingsValues : public testing::TestWithParam<SettingsFile> {};

TEST_P(SettingsValues, AreTheStringsOfAtMost1023CharactersOfTheirKeys)
{
    test::TempDir dir;
    EXPECT_EQ(loaded(dir.file("registry.reg"), GetParam().hive), GetParam().values);
}

const std::string kFits(1023, 'f');
INSTANTIATE_TEST_SUITE_P(Settings, SettingsValues, testing::Values(
    // Value names compare without case; REG_EXPAND_SZ is taken.
    SettingsFile {.name = "OfEachKey",
                  .hive = makeHive("\"Directory\"=\"/opt/quavero\"", "\"downloadfolder\"=\"/music/Q\"\r\n\"GUID\"=\"ABC\"",
                                   "\"RawQueue\"=\"/q/raw.txt\"\r\n\"DownloadQueue\"=hex(2):2f,64,00"),
                  .values = {.directory = "/opt/quavero", .downloadFolder = "/music/Q", .installationId = "ABC",
                             .rawQueue = "/q/raw.txt", .downloadQueue = "/d"}},
    SettingsFile {.name = "OfTheLongestLength", .hive = makeHive("", "\"DownloadFolder\"=\"" + kFits + "\"", ""),
                  .values = {.downloadFolder = kFits}},
    SettingsFile {.name = "TooLong", .hive = makeHive("", "\"DownloadFolder\"=\"" + kFits + "x\"", "")},
    // No NUL, a DWORD, REG_BINARY: refused; size 0 is the empty string.
    SettingsFile {.name = "OfOtherTypes",
                  .hive = makeHive("\"Directory\"=hex(1):2f,61", "\"GUID\"=dword:0000002a\r\n\"DownloadFolder\"=hex:2f,00",
                                   "\"RawQueue\"=hex(1):\r\n\"DownloadQueue\"=\"%HOME%\\\\queue.txt\""),
                  .values = {.downloadQueue = "%HOME%\\queue.txt"}},
    SettingsFile {.name = "OfAMissingKey", .hive = makeHive("\"Directory\"=\"/opt\"", "\"GUID\"=\"G\"", ""),
                  .values = {.directory = "/opt", .installationId = "G"}}), test::kByName);

// Written, synced, named and its name synced: a power cut leaves the old settings or the new.
TEST(Settings, AWrittenFolderReachesTheDiskBeforeItsName)
{
    test::TempDir dir;
    const std::string path = dir.file("registry.reg");
    test::writeFile(path, makeHive("", "\"DownloadFolder\"=\"/old\"", ""));
    EXPECT_NE(writeStringValue(Registry(path), queueKeyPath(), "RawQueue", "/x"), RegSuccess);
    static_cast<void>(test::takeDiskEvents()); // those of earlier tests
    ASSERT_EQ(writeStringValue(Registry(path), clientKeyPath(), "DownloadFolder", "/new \"q\""), RegSuccess);
    const auto events = test::takeDiskEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_TRUE(events[0].kind == test::DiskEvent::Sync && events[0].path.starts_with(dir.file(".registry.reg.")));
    EXPECT_EQ(events[1], (test::DiskEvent {test::DiskEvent::Rename, path}));
    EXPECT_EQ(events[2], (test::DiskEvent {test::DiskEvent::Sync, dir.path()}));
    EXPECT_EQ(loaded(path), Loaded {.downloadFolder = "/new \"q\""});
    EXPECT_EQ(test::readFile(path).find("Queue]"), std::string::npos);
}

} // namespace
} // namespace qvr
