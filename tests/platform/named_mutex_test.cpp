#include "platform/named_mutex.h"
#include "platform/paths.h"

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <memory>
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

TEST(NamedMutex, ProcessesStartingTogetherFindExactlyOneFirst)
{
    constexpr int kRounds = 10;
    constexpr int kProcesses = 6;
    for (int round = 0; round < kRounds; ++round) {
        TempDir dir;
        std::vector<std::unique_ptr<ChildProcess>> probes;
        for (int i = 0; i < kProcesses; ++i)
            probes.push_back(startProbe(dir.path()));
        // All of them are waiting for their input to end; let them go at once.
        for (auto& probe : probes)
            probe->closeInput();
        std::vector<std::string> answers;
        for (auto& probe : probes)
            answers.push_back(probe->readLine());
        EXPECT_EQ(std::count(answers.begin(), answers.end(), "alone"), 1) << "round " << round;
        EXPECT_EQ(std::count(answers.begin(), answers.end(), "other"), kProcesses - 1);
    }
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
}

} // namespace
} // namespace qvr
