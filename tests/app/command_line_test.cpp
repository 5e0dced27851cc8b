#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace qvr {
namespace {

struct Parsed {
    int install;
    int switchFlag;
    std::string fileName;
};

Parsed parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "quavero");
    CMyCommandLineInfo info;
    ParseCommandLine(static_cast<int>(args.size()), args.data(), info);
    return {info.m_bInstall, info.m_bSwitch, info.m_strFileName};
}

TEST(CommandLine, OwnSwitchesInAnyCaseWithSlashOrDash)
{
    for (const char* arg : {"/install", "-install", "--install", "/INSTALL", "-InStAlL"}) {
        const Parsed p = parse({arg});
        EXPECT_EQ(p.install, 1) << arg;
        EXPECT_EQ(p.switchFlag, 0) << arg;
        EXPECT_EQ(p.fileName, "") << arg;
    }
    for (const char* arg : {"/switch", "-SWITCH", "--Switch"}) {
        const Parsed p = parse({arg});
        EXPECT_EQ(p.switchFlag, 1) << arg;
        EXPECT_EQ(p.install, 0) << arg;
    }
    // Near misses and the framework's own switches change nothing.
    for (const char* arg : {"/installs", "-swit", "/pt", "/Embedding", "-", "/"}) {
        const Parsed p = parse({arg});
        EXPECT_EQ(p.install + p.switchFlag, 0) << arg;
        EXPECT_EQ(p.fileName, "") << arg;
    }
}

TEST(CommandLine, FirstPathIsTheFileNameAndPathsAreNotSwitches)
{
    Parsed p = parse({"/home/me/Downloads/track.qvr"});
    EXPECT_EQ(p.fileName, "/home/me/Downloads/track.qvr");
    EXPECT_EQ(p.install, 0);

    p = parse({"/switch", "/tmp/install", "second.qvr", "--install"});
    EXPECT_EQ(p.fileName, "/tmp/install") << "a path that only looks like a switch name";
    EXPECT_EQ(p.switchFlag, 1);
    EXPECT_EQ(p.install, 1);

    p = parse({"relative.qvr", "other.qvr"});
    EXPECT_EQ(p.fileName, "relative.qvr") << "later file names have no effect";
}

TEST(CommandLine, SwitchClassification)
{
    EXPECT_TRUE(IsSwitchArgument("/install"));
    EXPECT_TRUE(IsSwitchArgument("-x"));
    EXPECT_TRUE(IsSwitchArgument("--long/with/slashes"));
    EXPECT_FALSE(IsSwitchArgument("/a/b"));
    EXPECT_FALSE(IsSwitchArgument("/install/"));
    EXPECT_FALSE(IsSwitchArgument("file.qvr"));
    EXPECT_FALSE(IsSwitchArgument(""));
}

} // namespace
} // namespace qvr
