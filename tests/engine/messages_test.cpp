// The worker set and what its workers report. How each message packs its payload
// every test of the window shows, since every report reaches it that way.
#include "engine/messages.h"
#include "engine/worker_set.h"
#include "engine/workers.h"

#include "tests/support/stuck_network.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace qvr {
namespace {

using namespace std::chrono_literals;

// Collects the bits of the workers that said they ended, and counts the folder reports.
class Window : public MessageSink {
public:
    std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        std::lock_guard lock(m_mutex);
        if (message == WM_THREAD_EXITED)
            m_exited |= msg::ThreadExited::unpack({wParam, lParam}).value;
        m_folderReports += message == WM_FOLDER_CHANGED;
        m_changed.notify_all();
        return 0;
    }
    bool waitFor(std::int32_t exited, int folderReports = 0)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 30s,
                                  [&] { return (m_exited & exited) == exited && m_folderReports >= folderReports; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::int32_t m_exited = 0;
    int m_folderReports = 0;
};

TEST(WorkerSet, SaysWhenAWorkerDoesNotEndWithinTheGracePeriod)
{
    test::TempDir gates;
    test::StuckNetwork network;
    Window window;
    const Configuration configuration;
    WorkerSet workers(window, configuration);
    workers.shared().m_gateFolder = gates.path();
    workers.shared().m_http = network.factory();
    workers.shared().m_strCurRawEntry = "track=1";
    workers.takeGates();
    for (const auto worker : {WorkerSet::Worker::FolderWatcher, WorkerSet::Worker::Resolver, WorkerSet::Worker::Downloader})
        workers.start(worker);
    workers.handOver(WorkerSet::Gate::Resolve);
    ASSERT_TRUE(network.waitUntilStuck());

    // The idle ones go at once; the resolver hangs in its request, whatever it is told.
    workers.requestStop();
    ASSERT_TRUE(window.waitFor(THREAD_BIT_WATCHER | THREAD_BIT_DOWNLOADER));
    EXPECT_FALSE(workers.wait(50ms));
    EXPECT_FALSE(workers.wait(0ms)) << "asked again, the same answer";
    network.release();
    EXPECT_TRUE(workers.wait(30s));
    EXPECT_TRUE(window.waitFor(THREAD_BITS_ALL));
}

// The window lists a folder before the watch on it is in place; a file that arrives
// in between shows only if the watcher reports once it watches.
TEST(WorkerSet, TheFolderWatcherReportsOnceEachFolderIsWatched)
{
    test::TempDir first, second;
    Window window;
    const Configuration configuration;
    WorkerSet workers(window, configuration);
    workers.shared().m_downloadFolder.set(first.path());
    workers.start(WorkerSet::Worker::FolderWatcher);
    EXPECT_TRUE(window.waitFor(0, 1)) << "no report for the first folder";

    workers.shared().m_downloadFolder.set(second.path());
    workers.shared().m_bFolderChanged = true;
    workers.pokeFolderWatcher();
    EXPECT_TRUE(window.waitFor(0, 3)) << "the poke's report, then the new watch's";
    workers.requestStop();
    EXPECT_TRUE(workers.wait(30s));
}

} // namespace
} // namespace qvr
