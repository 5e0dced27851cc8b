#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/process_launch.h"
#include "platform/unique_fd.h"

#include "tests/support/process.h"
#include "tests/support/wait_for_files.h"

#include <fcntl.h>
#include <signal.h>

#include <atomic>
#include <sstream>
#include <thread>

namespace qvr {
namespace {

using test::TempDir;

TEST(NamedMutex, OnlyOpenHoldersCountOnlyTheOwnerReleasesAndAChildInheritsNothing)
{
    TempDir dir;
    auto first = NamedMutex::create(dir.path(), "m");
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->alreadyExisted() || first->openElsewhere());
    // A program started meanwhile (a browser opened from the window) must not inherit the name
    // and keep it after we let it go.
    test::ChildProcess child({"/bin/sh", "-c", "echo started; exec cat"});
    ASSERT_EQ(child.readLine(), "started");
    auto second = NamedMutex::create(dir.path(), "m");
    ASSERT_TRUE(second && second->alreadyExisted() && first->openElsewhere());
    EXPECT_FALSE(NamedMutex::create(dir.path(), "another name").value().alreadyExisted());

    // The gate between the window and a worker: owned twice, handed over after two releases.
    EXPECT_FALSE(second->unlock()) << "releasing a mutex one does not own";
    ASSERT_TRUE(first->lock() && first->lock());
    std::atomic<bool> secondOwns {false};
    std::thread thread([&] { secondOwns = second->lock(); });
    EXPECT_TRUE(first->unlock());
    EXPECT_FALSE(secondOwns) << "still owned once";
    EXPECT_TRUE(first->unlock());
    thread.join();
    EXPECT_TRUE(secondOwns && !first->unlock() && second->unlock());

    second.reset();
    EXPECT_FALSE(first->openElsewhere() || first->openElsewhere()) << "asking does not let the name go";
    first.reset();
    EXPECT_FALSE(NamedMutex::create(dir.path(), "m").value().alreadyExisted()) << "its file stays, but nobody holds it";
}

// That a killed holder or owner frees its part, the second-start tests show with the program
// killed, and the crash test at every round. Descriptors of their own make threads race as
// processes do, often enough to hit a window of a few instructions.
TEST(NamedMutex, CreatorsRacingForANameFindExactlyOneFirst)
{
    TempDir dir;
    for (int round = 0; round < 500; ++round) {
        std::atomic<int> ready {0};
        std::optional<NamedMutex> made[3];
        {
            std::vector<std::jthread> creators;
            for (auto& mutex : made)
                creators.emplace_back([&, name = "m" + std::to_string(round)] {
                    for (++ready; ready < 3;) {
                    }
                    mutex = NamedMutex::create(dir.path(), name);
                });
        }
        ASSERT_TRUE(made[0] && made[1] && made[2]) << "round " << round;
        ASSERT_EQ(std::ranges::count_if(made, [](const auto& m) { return !m->alreadyExisted(); }), 1) << round;
    }
}

TEST(NamedMutex, ANameWeMayNotOpenIsSomebodysElseAndOtherFailuresAreNot)
{
    TempDir dir;
    ASSERT_TRUE(NamedMutex::create(dir.path(), "m"));
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.file("m").c_str(), ::getuid() == 0 ? 0600 : 0), 0);
    const auto failure = [](const std::string& folder, const std::string& name) {
        NamedMutex::Failure why = NamedMutex::Failure::None;
        return NamedMutex::create(folder, name, &why) ? -1 : static_cast<int>(why);
    };
    // Root opens everything: the other user is played by a child process.
    const int denied = ::getuid() == 0 ? test::exitCodeAsNobody([&] { return failure(dir.path(), "m"); })
                                       : failure(dir.path(), "m");
    EXPECT_EQ(denied, static_cast<int>(NamedMutex::Failure::AccessDenied));
    EXPECT_EQ(failure(dir.file("missing"), "m"), static_cast<int>(NamedMutex::Failure::Other)) << "a missing folder";
}

TEST(RuntimeDirectory, IsPrivateAndRefusesAFolderOfAnotherKind)
{
    TempDir dir;
    const std::string folder = dir.file("objects");
    ASSERT_TRUE(ensurePrivateDirectory(folder));
    ::chmod(folder.c_str(), 0755);
    ASSERT_TRUE(ensurePrivateDirectory(folder));
    EXPECT_EQ(test::modeOf(folder), 0700u) << "a folder others can enter is closed again";
    test::writeFile(dir.file("plain"), "x");
    ASSERT_EQ(::symlink(folder.c_str(), dir.file("link").c_str()), 0);
    // An unusable folder (a file, a planted link) is passed over for the next, alike by every start.
    EXPECT_EQ(firstPrivateDirectory({dir.file("plain"), dir.file("plain/x"), dir.file("link"), dir.file("mine")}),
              dir.file("mine"));
    EXPECT_FALSE(firstPrivateDirectory({dir.file("plain/x")}));
}

TEST(StartDetached, TheNewProgramHasItsOwnSessionDefaultSignalsAndNoneOfOurDescriptors)
{
    TempDir dir;
    const UniqueFd ours(::open(dir.file("held").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_TRUE(ours);
    ::signal(SIGUSR1, SIG_IGN);
    // The shell writes its session and its id, whether it ignores SIGUSR1 and whether it has our descriptor.
    const std::string script = "{ echo $(cut -d' ' -f6 /proc/$$/stat) $$;"
                               " mask=$(sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status);"
                               " [ $((0x$mask & 0x200)) -ne 0 ] && echo ignored || echo default;"
                               " test -e /proc/$$/fd/" + std::to_string(ours.get()) + " && echo inherited || echo clean;"
                               " } > \"$0.part\" && mv \"$0.part\" \"$0\"";
    ASSERT_TRUE(StartDetached("/bin/sh", {"-c", script, dir.file("report")}));
    ::signal(SIGUSR1, SIG_DFL);
    ASSERT_TRUE(test::waitForFiles(dir.path(), [&] { return ::access(dir.file("report").c_str(), F_OK) == 0; }));
    std::istringstream report(test::readFile(dir.file("report")));
    std::string session, self, signals, descriptors;
    EXPECT_TRUE(report >> session >> self >> signals >> descriptors);
    EXPECT_EQ(std::tuple(session, signals, descriptors), std::tuple(self, "default", "clean")) << "session, signals, fds";
    EXPECT_FALSE(StartDetached("/no/such/program", {}));
}

} // namespace
} // namespace qvr
