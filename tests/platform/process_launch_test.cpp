#include "platform/process_launch.h"
#include "platform/unique_fd.h"

#include "tests/support/temp_dir.h"
#include "tests/support/wait_for_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <string>

namespace qvr {
namespace {

TEST(StartDetached, TheNewProgramHasItsOwnSessionAndNoneOfOurDescriptors)
{
    test::TempDir dir;
    // Ours: close-on-exec, as every descriptor we open; a lock file, say.
    const UniqueFd ours(::open(dir.file("held").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_TRUE(ours);
    ::signal(SIGUSR1, SIG_IGN);
    // The shell writes its session, whether it ignores SIGUSR1, and whether it has our descriptor.
    const std::string script = "{ echo $(cut -d' ' -f6 /proc/$$/stat) $$;"
                               " mask=$(sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status);"
                               " [ $((0x$mask & 0x200)) -ne 0 ] && echo ignored || echo default;"
                               " test -e /proc/$$/fd/" + std::to_string(ours.get()) + " && echo inherited || echo clean;"
                               " } > \"$0.part\" && mv \"$0.part\" \"$0\"";
    ASSERT_TRUE(StartDetached("/bin/sh", {"-c", script, dir.file("report")}));
    ::signal(SIGUSR1, SIG_DFL);
    ASSERT_TRUE(test::waitForFiles(dir.path(), [&] { return ::access(dir.file("report").c_str(), F_OK) == 0; }));
    const std::string report = test::readFile(dir.file("report"));
    const auto space = report.find(' ');
    const auto line = report.find('\n');
    ASSERT_NE(line, std::string::npos) << report;
    EXPECT_EQ(report.substr(0, space), report.substr(space + 1, line - space - 1)) << "leads a session of its own";
    EXPECT_EQ(report.substr(line + 1), "default\nclean\n");
    EXPECT_FALSE(StartDetached("/no/such/program", {}));
}

} // namespace
} // namespace qvr
