#include "app/command_line.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace qvr {
namespace {

TEST(CommandLine, OwnSwitchesInAnyCaseAndTheFirstPathAsTheFile)
{
    using Parsed = std::tuple<int, int, std::string>; // install, switch, file name
    const std::pair<std::vector<const char*>, Parsed> cases[] = {
        {{"/install"}, {1, 0, ""}}, {{"--install"}, {1, 0, ""}}, {{"-InStAlL"}, {1, 0, ""}}, {{"/SWITCH"}, {0, 1, ""}},
        // Near misses and the framework's own switches change nothing.
        {{"/installs"}, {0, 0, ""}}, {{"/Embedding"}, {0, 0, ""}}, {{"-"}, {0, 0, ""}}, {{"--long/with/slashes"}, {0, 0, ""}},
        // A path that only looks like a switch name; later file names have no effect.
        {{"/switch", "/tmp/install", "second.qvr", "--install"}, {1, 1, "/tmp/install"}},
        {{"/install/", "relative.qvr"}, {0, 0, "/install/"}},
    };
    for (auto [args, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        args.insert(args.begin(), "quavero");
        CMyCommandLineInfo info;
        ParseCommandLine(static_cast<int>(args.size()), args.data(), info);
        EXPECT_EQ(Parsed(info.m_bInstall, info.m_bSwitch, info.m_strFileName), expected);
    }
}

} // namespace
} // namespace qvr
