// The window's messages, and the worker set that reports through them.
#include "engine/messages.h"
#include "engine/worker_set.h"
#include "engine/workers.h"

#include "tests/support/stuck_network.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace qvr {
namespace {

// Remembers the last message, and collects the bits of the workers that said they ended.
class Window : public MessageSink {
public:
    std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        std::lock_guard lock(m_mutex);
        last = {message, {wParam, lParam}};
        if (message == WM_THREAD_EXITED)
            m_exited |= msg::ThreadExited::unpack({wParam, lParam}).value;
        if (message == WM_FOLDER_CHANGED)
            ++m_folderReports;
        m_changed.notify_all();
        return 0;
    }
    bool waitForExits(std::int32_t bits)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return (m_exited & bits) == bits; });
    }
    bool waitForFolderReports(int count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_folderReports >= count; });
    }
    std::int32_t exited()
    {
        std::lock_guard lock(m_mutex);
        return m_exited;
    }
    template <class Message>
    Message roundTrip(const Message& message)
    {
        Send(*this, message);
        EXPECT_EQ(last.first, Message::kNumber);
        return Message::unpack(last.second);
    }

    std::pair<unsigned, MessageParams> last;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::int32_t m_exited = 0;
    int m_folderReports = 0;
};

TEST(Messages, EveryPayloadArrivesAsSentUnderItsOwnNumber)
{
    Window window;
    const std::string text = "Network Error";
    EXPECT_EQ(window.roundTrip(msg::SetStatus {text.c_str()}).value, text.c_str());
    EXPECT_EQ(window.roundTrip(msg::FileOpenFailed {text.c_str()}).value, text.c_str());
    for (const std::int32_t number : {0, 100, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(window.roundTrip(msg::DownloadProgress {number}).value, number);
        EXPECT_EQ(window.roundTrip(msg::DownloadFinished {number}).value, number);
        EXPECT_EQ(window.roundTrip(msg::ThreadExited {number}).value, number);
    }
    auto item = std::make_unique<QueueItem>("Title", "http://h/t?x=1");
    const auto resolved = window.roundTrip(msg::EntryResolved {&item, RSF_CONSUMED | RSF_NETWORK_ERROR});
    ASSERT_EQ(resolved.item, &item);
    EXPECT_EQ((*resolved.item)->title, "Title");
    EXPECT_EQ(resolved.flags, RSF_CONSUMED | RSF_NETWORK_ERROR);
    EXPECT_EQ(window.roundTrip(msg::EntryResolved {nullptr, RSF_CONSUMED}).item, nullptr);
    window.roundTrip(msg::FolderChanged {});
}

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
    ASSERT_TRUE(window.waitForExits(THREAD_BIT_WATCHER | THREAD_BIT_DOWNLOADER));
    EXPECT_FALSE(workers.wait(std::chrono::milliseconds(50)));
    EXPECT_FALSE(workers.wait(std::chrono::milliseconds(0))) << "asked again, the same answer";
    network.release();
    EXPECT_TRUE(workers.wait(std::chrono::seconds(30)));
    EXPECT_EQ(window.exited(), THREAD_BITS_ALL);
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
    EXPECT_TRUE(window.waitForFolderReports(1)) << "no report for the first folder";

    workers.shared().m_downloadFolder.set(second.path());
    workers.shared().m_bFolderChanged = true;
    workers.pokeFolderWatcher();
    EXPECT_TRUE(window.waitForFolderReports(3)) << "the poke's report, then the new watch's";
    workers.requestStop();
    EXPECT_TRUE(workers.wait(std::chrono::seconds(30)));
}

} // namespace
} // namespace qvr
