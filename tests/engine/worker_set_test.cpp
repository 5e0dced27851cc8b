// The folder watcher as the worker set runs it. The window lists a folder before the
// watch on it is in place; a file that arrives in between shows only if the watcher
// reports once it watches. (How the workers end, or do not, is the window's test.)
#include "engine/messages.h"
#include "engine/worker_set.h"
#include "engine/workers.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace qvr {
namespace {

// Counts the folder reports.
class Window : public MessageSink {
public:
    std::intptr_t SendMessage(unsigned message, std::uintptr_t, std::intptr_t) override
    {
        std::lock_guard lock(m_mutex);
        m_folderReports += message == WM_FOLDER_CHANGED;
        m_changed.notify_all();
        return 0;
    }
    bool waitForReports(int count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_folderReports >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_folderReports = 0;
};

TEST(WorkerSet, TheFolderWatcherReportsOnceEachFolderIsWatched)
{
    test::TempDir first, second;
    Window window;
    const Configuration configuration;
    WorkerSet workers(window, configuration);
    workers.shared().m_downloadFolder.set(first.path());
    workers.start(WorkerSet::Worker::FolderWatcher);
    EXPECT_TRUE(window.waitForReports(1)) << "no report for the first folder";
    workers.shared().m_downloadFolder.set(second.path());
    workers.shared().m_bFolderChanged = true;
    workers.pokeFolderWatcher();
    EXPECT_TRUE(window.waitForReports(3)) << "the poke's report, then the new watch's";
    workers.requestStop();
    EXPECT_TRUE(workers.wait(std::chrono::seconds(30)));
}

} // namespace
} // namespace qvr
