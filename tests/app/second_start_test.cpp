// Two real processes of the program: the running instance and a second start.
#include "platform/handoff.h"
#include "platform/named_mutex.h"
#include "res/strings.h"
#include "tools/store-sim/store_sim.h"

#include "tests/app/hive_fixture.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for_files.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

namespace qvr {
namespace {

using test::ChildProcess;
using test::readFile;
using test::waitForFiles;
using test::writeFile;
namespace fs = std::filesystem;

class SecondStart : public ::testing::Test {
protected:
    SecondStart()
    {
        m_store.start();
        for (const char* folder : {"music", "queues", "requests"})
            ::mkdir(m_dir.file(folder).c_str(), 0755);
        ::mkdir(m_dir.file("run").c_str(), 0700);
        writeFile(m_dir.file("registry.reg"),
                  test::makeHive("\"Directory\"=\"" + m_dir.path() + "\"",
                                 "\"DownloadFolder\"=\"" + m_dir.file("music") + "\"\r\n\"GUID\"=\"G\"",
                                 "\"RawQueue\"=\"" + m_dir.file("queues/raw.txt") + "\"\r\n\"DownloadQueue\"=\""
                                     + m_dir.file("queues/download.txt") + "\""));
    }

    std::vector<std::string> environment() const
    {
        return {"QVR_REGISTRY=" + m_dir.file("registry.reg"), "XDG_RUNTIME_DIR=" + m_dir.file("run"),
                "QVR_STORE_HOST=" + m_store.hostPort(), "QT_QPA_PLATFORM=offscreen"};
    }
    std::string objects() const { return m_dir.file("run/quavero"); }
    std::uint32_t publishedHandle() const { return FindWindowHandle(objects(), loadString(IDS_HANDOFF_MAPPING)); }

    // Starts an instance and waits until its window can be reached.
    std::unique_ptr<ChildProcess> startInstance(std::vector<std::string> args = {}, std::uint32_t after = 0)
    {
        args.insert(args.begin(), QVR_EXECUTABLE);
        auto process = std::make_unique<ChildProcess>(args, environment());
        EXPECT_TRUE(waitForFiles(m_dir.file("run"), [&] {
            const std::uint32_t handle = publishedHandle();
            return handle != 0 && handle != after && IsWindow(objects(), handle);
        }));
        return process;
    }
    int secondStart(std::vector<std::string> args)
    {
        args.insert(args.begin(), QVR_EXECUTABLE);
        return test::runProcess(args, environment());
    }
    std::string request(const std::string& name, const std::string& contents)
    {
        writeFile(m_dir.file("requests/" + name), contents);
        return m_dir.file("requests/" + name);
    }
    // What reached the store about tracks (a start also asks for the version list).
    std::vector<sim::RecordedRequest> trackRequests() const
    {
        std::vector<sim::RecordedRequest> found;
        for (auto& request : m_store.requests()) {
            if (!request.path.starts_with("/downloader/app_versions/"))
                found.push_back(request);
        }
        return found;
    }
    bool trackArrives(const std::string& title, std::uint64_t size)
    {
        const std::string path = m_dir.file("music/" + title + ".mp3");
        return waitForFiles(m_dir.path(), [&] {
            std::error_code error;
            return fs::file_size(path, error) == size && !error
                && readFile(m_dir.file("queues/download.txt")).empty();
        });
    }

    test::TempDir m_dir;
    sim::StoreSimulator m_store;
};

TEST_F(SecondStart, HandsTheFirstLineOfItsRequestToTheRunningInstance)
{
    m_store.addTrack({"t", "Handed Over", 50000, 7});
    auto first = startInstance();
    EXPECT_EQ(secondStart({request("a.qvr", "track=t\r\nignored=1\r\n")}), 0);
    ASSERT_TRUE(trackArrives("Handed Over", 50000));
    const auto infos = trackRequests();
    ASSERT_FALSE(infos.empty());
    EXPECT_EQ(infos[0].query, "track=t&guid=G");

    // The line is handed over whole, a CR inside it included, as from the command line.
    m_store.clearRequests();
    EXPECT_EQ(secondStart({request("cr.qvr", "track=t\rx=1\r\n")}), 0);
    ASSERT_TRUE(m_store.waitForRequests("/downloader/", 1));
    EXPECT_EQ(m_store.requests()[0].query, "track=t%0Dx=1&guid=G");

    // No request, an empty first line, a marker in capitals: only a restore.
    m_store.clearRequests();
    EXPECT_EQ(secondStart({}), 0);
    EXPECT_EQ(secondStart({request("empty.qvr", "\r\ntrack=t\r\n")}), 0);
    EXPECT_EQ(secondStart({request("upper.QVR", "track=t\r\n")}), 0);
    EXPECT_TRUE(trackRequests().empty());
}

TEST_F(SecondStart, SwitchMakesTheNewProcessTakeOverWithItsOwnRequest)
{
    m_store.addTrack({"old", "From Before", 20000, 1});
    m_store.addTrack({"new", "Brought Along", 20000, 2});
    writeFile(m_dir.file("queues/raw.txt"), "track=old\r\n");
    m_store.goDown();
    auto first = startInstance();
    const std::uint32_t firstHandle = publishedHandle();

    auto second = startInstance({"/switch", request("new.qvr", "track=new\r\n")}, firstHandle);
    EXPECT_EQ(first->wait(), 0) << "the old window quits when asked";
    EXPECT_NE(publishedHandle(), firstHandle);

    ASSERT_TRUE(m_store.comeUp());
    EXPECT_TRUE(trackArrives("From Before", 20000));
    EXPECT_TRUE(trackArrives("Brought Along", 20000));
    // The request is the new instance's alone: it is asked for once.
    std::size_t asked = 0;
    for (const auto& recorded : m_store.requests())
        asked += recorded.query.starts_with("track=new&") ? 1 : 0;
    EXPECT_EQ(asked, 1u);
}

TEST_F(SecondStart, AfterAWindowThatDiedTheNextStartRunsItself)
{
    m_store.addTrack({"t", "After The Crash", 10000, 3});
    auto first = startInstance();
    const std::uint32_t stale = publishedHandle();
    first->kill(SIGKILL);
    first->wait();
    // Its handle is still published, and its socket still there.
    auto next = startInstance({request("a.qvr", "track=t\r\n")}, stale);
    EXPECT_TRUE(trackArrives("After The Crash", 10000));
    EXPECT_FALSE(fs::exists(WindowSocketPath(objects(), stale))) << "what the dead window left is swept away";
}

} // namespace
} // namespace qvr
