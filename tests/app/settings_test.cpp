// What a start reads before anything else: its command line and the settings.
#include "app/command_line.h"
#include "app/settings.h"
#include "app/application.h"

#include "tests/support/program_fixture.h"
#include "tests/support/sync_log.h"

namespace qvr {
namespace {

using test::makeHive;

// Directory, DownloadFolder, GUID, RawQueue and DownloadQueue as loaded from `hive`.
std::vector<std::string> loaded(const std::string& path, const std::optional<std::string>& hive = std::nullopt)
{
    if (hive)
        test::writeFile(path, *hive);
    ApplicationStrings app;
    loadSettings(Registry(path), app);
    return {app.m_strDirectory, app.m_strDownloadFolder, app.m_strInstallationId, app.m_strRawQueuePath,
            app.m_strDownloadQueuePath};
}

TEST(CommandLine, OwnSwitchesInAnyCaseAndTheFirstPathAsTheFile)
{
    using Parsed = std::tuple<int, int, std::string>; // install, switch, file name
    const std::pair<std::vector<const char*>, Parsed> cases[] = {
        {{"/install"}, {1, 0, ""}}, {{"--install"}, {1, 0, ""}}, {{"-InStAlL"}, {1, 0, ""}}, {{"/SWITCH"}, {0, 1, ""}},
        // Near misses and the framework's own switches change nothing.
        {{"/installs"}, {0, 0, ""}}, {{"/Embedding"}, {0, 0, ""}},
        // A path that only looks like a switch name; later file names have no effect.
        {{"/switch", "/tmp/install", "second.qvr", "--install"}, {1, 1, "/tmp/install"}},
        {{"/install/", "relative.qvr"}, {0, 0, "/install/"}},
        // After "--" everything is a path; the value of Qt's option is none.
        {{"--", "-a.qvr", "/install"}, {0, 0, "-a.qvr"}}, {{"-platform", "/switch", "b.qvr"}, {0, 0, "b.qvr"}},
    };
    for (auto [args, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        args.insert(args.begin(), "quavero");
        CMyCommandLineInfo info;
        parseCommandLine(static_cast<int>(args.size()), args.data(), info);
        EXPECT_EQ(Parsed(info.m_bInstall, info.m_bSwitch, info.m_strFileName), expected);
    }
}

TEST(Settings, EachValueComesFromItsKeyAsAStringOfAtMost1023Characters)
{
    const std::string fits(1023, 'f');
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        // Value names compare without case; REG_EXPAND_SZ is taken.
        {makeHive("\"Directory\"=\"/opt/quavero\"", "\"downloadfolder\"=\"/music/Q\"\r\n\"GUID\"=\"ABC\"",
                  "\"RawQueue\"=\"/q/raw.txt\"\r\n\"DownloadQueue\"=hex(2):2f,64,00"),
         {"/opt/quavero", "/music/Q", "ABC", "/q/raw.txt", "/d"}},
        {makeHive("", "\"DownloadFolder\"=\"" + fits + "\"", ""), {"", fits, "", "", ""}},
        {makeHive("", "\"DownloadFolder\"=\"" + fits + "x\"", ""), {"", "", "", "", ""}},
        // No NUL, a DWORD, REG_BINARY: refused; size 0 is the empty string.
        {makeHive("\"Directory\"=hex(1):2f,61", "\"GUID\"=dword:0000002a\r\n\"DownloadFolder\"=hex:2f,00",
                  "\"RawQueue\"=hex(1):\r\n\"DownloadQueue\"=\"%HOME%\\\\queue.txt\""),
         {"", "", "", "", "%HOME%\\queue.txt"}},
        // A missing key skips only its own values.
        {makeHive("\"Directory\"=\"/opt\"", "\"GUID\"=\"G\"", ""), {"/opt", "", "G", "", ""}},
        {makeHive("\"Directory\"=\"/opt\"", "\"GUID\"=\"G\"", "") + "\"stray\"=bogus:12\r\n", {"", "", "", "", ""}},
    };
    test::TempDir dir;
    for (const auto& [hive, values] : cases) {
        SCOPED_TRACE(hive.substr(0, 200));
        EXPECT_EQ(loaded(dir.file("registry.reg"), hive), values);
    }
}

// Written, synced, named and its name synced: a power cut leaves the old settings or the new.
TEST(Settings, AWrittenFolderReachesTheDiskBeforeItsNameLoadsBackAndNoKeyIsMade)
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
    EXPECT_EQ(loaded(path), (std::vector<std::string> {"", "/new \"q\"", "", "", ""}));
    EXPECT_EQ(test::readFile(path).find("Queue]"), std::string::npos);
}

} // namespace
} // namespace qvr
