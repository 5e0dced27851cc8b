#include "engine/worker_set.h"

#include "engine/messages.h"
#include "engine/workers.h"

#include "tests/support/stuck_network.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace qvr {
namespace {

// Answers every report at once and keeps the bits of the workers that said they ended.
class ExitLog : public MessageSink {
public:
    std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        if (message == WM_THREAD_EXITED) {
            std::lock_guard lock(m_mutex);
            m_exited |= msg::ThreadExited::unpack({wParam, lParam}).value;
            m_changed.notify_all();
        }
        return 0;
    }
    bool waitFor(std::int32_t bits)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return (m_exited & bits) == bits; });
    }
    std::int32_t exited()
    {
        std::lock_guard lock(m_mutex);
        return m_exited;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::int32_t m_exited = 0;
};

TEST(WorkerSet, SaysWhenAWorkerDoesNotEndWithinTheGracePeriod)
{
    test::TempDir gates;
    test::StuckNetwork network;
    ExitLog window;
    WorkerSet workers(window);
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
    EXPECT_FALSE(workers.wait(std::chrono::milliseconds(50)));
    EXPECT_FALSE(workers.wait(std::chrono::milliseconds(0))) << "asked again, the same answer";

    network.release();
    EXPECT_TRUE(workers.wait(std::chrono::seconds(30)));
    EXPECT_EQ(window.exited(), THREAD_BITS_ALL);
}

} // namespace
} // namespace qvr
