// Two real processes of the program: the running instance and a second start.
#include "tests/support/process.h"
#include "tests/support/program_fixture.h"
#include "tests/support/silent_store.h"

#include <signal.h>

namespace qvr::test {
namespace {

class SecondStart : public ProgramFolder {
protected:
    // Starts an instance and waits until its window, not `after`, can be reached.
    std::unique_ptr<ChildProcess> startInstance(std::vector<std::string> args = {}, std::uint32_t after = 0)
    {
        args.insert(args.begin(), QVR_EXECUTABLE);
        auto process = std::make_unique<ChildProcess>(args, environment());
        EXPECT_TRUE(windowPublished(after));
        return process;
    }
};

TEST_F(SecondStart, IsAnsweredWhileTheWindowWaitsOnASilentStoreAndItsRequestOutlivesAKill)
{
    m_store.addTrack({"t", "Kept Through A Kill", 30000, 4});
    SilentStore silent;
    std::vector<std::string> offline = environment();
    offline.push_back("QVR_STORE_HOST=" + silent.host());
    ChildProcess first({QVR_EXECUTABLE}, offline);
    ASSERT_TRUE(windowPublished());
    // Its window's thread is in the update check, which the store never answers.
    EXPECT_EQ(runProcess({QVR_EXECUTABLE, request("a.qvr", "track=t\r\n")}, offline), 0);
    first.kill(SIGKILL);
    first.wait();
    auto next = startInstance();
    EXPECT_TRUE(tracksArrive({{"Kept Through A Kill", 30000}}));
}

TEST_F(SecondStart, SwitchMakesTheNewProcessTakeOverWithItsOwnRequest)
{
    m_store.addTrack({"old", "From Before", 20000, 1});
    m_store.addTrack({"new", "Brought Along", 20000, 2});
    writeFile(m_dir.file("queues/raw.txt"), "track=old\r\n");
    m_store.goDown();
    auto first = startInstance();
    const std::uint32_t firstHandle = publishedWindow();
    auto second = startInstance({"/switch", request("new.qvr", "track=new\r\n")}, firstHandle);
    EXPECT_EQ(first->wait(), 0) << "the old window quits when asked";
    ASSERT_TRUE(m_store.comeUp());
    EXPECT_TRUE(tracksArrive({{"From Before", 20000}, {"Brought Along", 20000}}));
    // The request is the new instance's alone: it is asked for once.
    EXPECT_EQ(trackInfoQueries(), (std::vector<std::string> {"track=old&guid=G", "track=new&guid=G"}));
}

TEST_F(SecondStart, AfterAWindowThatDiedTheNextStartRunsItself)
{
    m_store.addTrack({"t", "After The Crash", 10000, 3});
    auto first = startInstance();
    const std::uint32_t stale = publishedWindow();
    first->kill(SIGKILL);
    first->wait();
    // Its handle is still published, and its socket still there.
    auto next = startInstance({request("a.qvr", "track=t\r\n")}, stale);
    EXPECT_TRUE(tracksArrive({{"After The Crash", 10000}}));
    EXPECT_FALSE(std::filesystem::exists(WindowSocketPath(objects(), stale))) << "what the dead window left is swept away";
}

} // namespace
} // namespace qvr::test
