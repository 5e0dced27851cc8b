#include "platform/named_mutex.h"
#include "platform/paths.h"

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace qvr {
namespace {

using test::ChildProcess;
using test::TempDir;

TEST(NamedMutex, ExistsWhileSomeoneHoldsItOpen)
{
    TempDir dir;
    auto first = NamedMutex::create(dir.path(), "m");
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->alreadyExisted());
    {
        auto second = NamedMutex::create(dir.path(), "m");
        ASSERT_TRUE(second);
        EXPECT_TRUE(second->alreadyExisted());
        auto other = NamedMutex::create(dir.path(), "another name");
        ASSERT_TRUE(other);
        EXPECT_FALSE(other->alreadyExisted());
    }
    first.reset();
    auto again = NamedMutex::create(dir.path(), "m");
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->alreadyExisted()) << "a closed mutex must not count, although its file stays";
}

TEST(NamedMutex, RefusesNamesThatAreNotPlainAndMissingFolders)
{
    TempDir dir;
    EXPECT_FALSE(NamedMutex::create(dir.path(), "a/b"));
    EXPECT_FALSE(NamedMutex::create(dir.path(), ".."));
    EXPECT_FALSE(NamedMutex::create(dir.path(), ""));
    EXPECT_FALSE(NamedMutex::create(dir.file("missing"), "m"));
}

std::unique_ptr<ChildProcess> startProbe(const std::string& folder, const char* mode = nullptr)
{
    std::vector<std::string> args {QVR_INSTANCE_PROBE, folder};
    if (mode)
        args.push_back(mode);
    return std::make_unique<ChildProcess>(args);
}

std::string probeAnswer(ChildProcess& probe)
{
    probe.closeInput();
    return probe.readLine();
}

TEST(NamedMutex, OnlyLiveProcessesCountAndATakeoverKeepsTheNameAlive)
{
    TempDir dir;
    auto first = startProbe(dir.path());
    ASSERT_EQ(probeAnswer(*first), "alone");
    auto second = startProbe(dir.path());
    ASSERT_EQ(probeAnswer(*second), "other");

    // The first instance is killed: the second still holds the name.
    first->kill(SIGKILL);
    EXPECT_EQ(first->wait(), 128 + SIGKILL);
    auto third = startProbe(dir.path());
    EXPECT_EQ(probeAnswer(*third), "other");

    second->kill(SIGKILL);
    second->wait();
    third->kill(SIGKILL);
    third->wait();
    auto fourth = startProbe(dir.path());
    EXPECT_EQ(probeAnswer(*fourth), "alone") << "a killed holder must not keep the name";
}

TEST(NamedMutex, CreatorsRacingForANameFindExactlyOneFirst)
{
    // Descriptors of their own make threads race as processes do, and threads can
    // race often enough to hit a window of a few instructions.
    constexpr int kRounds = 500;
    TempDir dir;
    for (int round = 0; round < kRounds; ++round) {
        const std::string name = "m" + std::to_string(round);
        std::atomic<int> ready {0};
        std::optional<NamedMutex> made[3];
        std::vector<std::thread> creators;
        for (auto& mutex : made) {
            creators.emplace_back([&] {
                ++ready;
                while (ready < 3) {
                }
                mutex = NamedMutex::create(dir.path(), name);
            });
        }
        for (auto& creator : creators)
            creator.join();
        ASSERT_TRUE(made[0] && made[1] && made[2]) << "round " << round;
        ASSERT_EQ(std::count_if(std::begin(made), std::end(made), [](const auto& m) { return !m->alreadyExisted(); }), 1)
            << "round " << round;
    }
}

TEST(NamedMutex, OnlyItsHoldersKeepANameAndTheyCanTellWhetherOthersDo)
{
    TempDir dir;
    auto mutex = NamedMutex::create(dir.path(), "m");
    ASSERT_TRUE(mutex);
    EXPECT_FALSE(mutex->openElsewhere());
    {
        // A program started meanwhile (a browser opened from the window) must not
        // inherit the name and keep it after we let it go.
        ChildProcess child({"/bin/sh", "-c", "echo started; exec cat"});
        ASSERT_EQ(child.readLine(), "started");
        auto other = NamedMutex::create(dir.path(), "m");
        EXPECT_TRUE(mutex->openElsewhere());
        other.reset();
        EXPECT_FALSE(mutex->openElsewhere());
        EXPECT_FALSE(mutex->openElsewhere()) << "asking does not let the name go";
        mutex.reset();
        auto again = NamedMutex::create(dir.path(), "m");
        ASSERT_TRUE(again);
        EXPECT_FALSE(again->alreadyExisted()) << "the child holds nothing of ours";
    }
}

TEST(NamedMutex, ANameWeMayNotOpenIsSomebodysElse)
{
    TempDir dir;
    ASSERT_TRUE(NamedMutex::create(dir.path(), "m"));
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.file("m").c_str(), 0600), 0);
    const auto failureAs = [&](bool otherUser) {
        if (otherUser && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 9;
        NamedMutex::Failure failure = NamedMutex::Failure::None;
        const bool made = NamedMutex::create(dir.path(), "m", &failure).has_value();
        return made ? 1 : failure == NamedMutex::Failure::AccessDenied ? 0 : 2;
    };
    // Root opens everything: the other user is played by a child process.
    if (::getuid() == 0) {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(failureAs(true));
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "exit " << WEXITSTATUS(status);
    } else {
        ASSERT_EQ(::chmod(dir.file("m").c_str(), 0), 0);
        EXPECT_EQ(failureAs(false), 0);
    }
    NamedMutex::Failure failure = NamedMutex::Failure::None;
    EXPECT_FALSE(NamedMutex::create(dir.file("missing"), "m", &failure));
    EXPECT_EQ(failure, NamedMutex::Failure::Other);
}

TEST(NamedMutex, OwnershipIsHandedOverAndOnlyTheOwnerCanRelease)
{
    TempDir dir;
    auto window = NamedMutex::create(dir.path(), "gate");
    auto worker = NamedMutex::create(dir.path(), "gate");
    ASSERT_TRUE(window && worker);
    EXPECT_FALSE(worker->unlock()) << "releasing a mutex one does not own";
    ASSERT_TRUE(window->lock());
    ASSERT_TRUE(window->lock());

    std::atomic<bool> workerOwns {false};
    std::thread thread([&] {
        worker->lock();
        workerOwns = true;
    });
    EXPECT_TRUE(window->unlock());
    EXPECT_FALSE(workerOwns) << "still owned once";
    EXPECT_TRUE(window->unlock());
    thread.join();
    EXPECT_TRUE(workerOwns);
    EXPECT_FALSE(window->unlock());
    EXPECT_TRUE(worker->unlock());
}

TEST(NamedMutex, AnOwnerThatDiesFreesTheMutex)
{
    TempDir dir;
    auto owner = startProbe(dir.path(), "lock");
    ASSERT_EQ(probeAnswer(*owner), "alone");
    owner->kill(SIGKILL);
    owner->wait();
    auto successor = NamedMutex::create(dir.path(), "probe-mutex");
    ASSERT_TRUE(successor);
    EXPECT_TRUE(successor->lock()) << "must not wait for a dead owner";
}

TEST(RuntimeDirectory, IsPrivateAndRefusesAFolderOfAnotherKind)
{
    TempDir dir;
    const std::string folder = dir.file("objects");
    ASSERT_TRUE(ensurePrivateDirectory(folder));
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ::chmod(folder.c_str(), 0755);
    ASSERT_TRUE(ensurePrivateDirectory(folder));
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "a folder others can enter is closed again";

    test::writeFile(dir.file("plain"), "x");
    EXPECT_FALSE(ensurePrivateDirectory(dir.file("plain")));
    ASSERT_EQ(::symlink(folder.c_str(), dir.file("link").c_str()), 0);
    EXPECT_FALSE(ensurePrivateDirectory(dir.file("link"))) << "a planted link must not be followed";

    // An unusable folder is passed over for the next, the same way by every start.
    EXPECT_EQ(firstPrivateDirectory({dir.file("plain/x"), dir.file("link"), dir.file("mine")}), dir.file("mine"));
    EXPECT_FALSE(firstPrivateDirectory({dir.file("plain/x")}));
    ::setenv("XDG_RUNTIME_DIR", "/r", 1);
    ::setenv("XDG_CACHE_HOME", "/c", 1);
    EXPECT_EQ(runtimeDirectoryCandidates(),
              (std::vector<std::string> {"/r/quavero", "/tmp/quavero-" + std::to_string(::getuid()), "/c/quavero-run"}));
    ::unsetenv("XDG_RUNTIME_DIR");
    ::unsetenv("XDG_CACHE_HOME");
}

} // namespace
} // namespace qvr
