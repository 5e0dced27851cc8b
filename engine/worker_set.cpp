#include "engine/worker_set.h"

#include "engine/messages.h"
#include "engine/workers.h"
#include "platform/folder_watch.h"
#include "platform/named_mutex.h"
#include "res/strings.h"

#include <pthread.h>

#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace qvr {

namespace {

// Passes the workers' reports on to the window until cut off; from then on a report
// returns 0 at once and the window is never touched again.
class Relay final : public MessageSink {
public:
    explicit Relay(MessageSink& window) : m_window(&window) {}

    std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        return relay([&](MessageSink& window) { return window.SendMessage(message, wParam, lParam); });
    }

    void postMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        relay([&](MessageSink& window) {
            window.postMessage(message, wParam, lParam);
            return std::intptr_t {0};
        });
    }

    void cutOff()
    {
        std::unique_lock lock(m_mutex);
        m_window = nullptr;
        m_idle.wait(lock, [this] { return m_sending == 0; });
    }

private:
    template <class Deliver>
    std::intptr_t relay(Deliver deliver)
    {
        MessageSink* window;
        {
            std::lock_guard lock(m_mutex);
            window = m_window;
            if (!window)
                return 0;
            ++m_sending;
        }
        const std::intptr_t result = deliver(*window);
        std::lock_guard lock(m_mutex);
        if (--m_sending == 0)
            m_idle.notify_all();
        return result;
    }

    std::mutex m_mutex;
    std::condition_variable m_idle;
    MessageSink* m_window;
    int m_sending = 0;
};

} // namespace

// What the threads use; each thread holds a reference, so it outlives the set for
// as long as a thread that was let go still runs.
struct WorkerSet::Common {
    Common(MessageSink& window, const Configuration& configuration, WorkerSettings settings)
        : shared(configuration, std::move(settings)), relay(window)
    {
    }

    WorkerShared shared;
    // The downloaded-files list shows the names in the download folder itself, so
    // nothing below it, and no write to a file in it, needs a look.
    FolderWatch watch {FolderWatch::Limits {1, 0}, FolderWatch::Changes::Names};
    Relay relay;
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
};

struct WorkerSet::Threads {
    std::optional<NamedMutex> downloadGate;
    std::optional<NamedMutex> resolveGate;
    std::array<std::optional<std::thread>, 3> workers;

    std::optional<NamedMutex>& gate(Gate which)
    {
        return which == Gate::Download ? downloadGate : resolveGate;
    }
};

WorkerSet::WorkerSet(MessageSink& window, const Configuration& configuration, WorkerSettings settings)
    : m_common(std::make_shared<Common>(window, configuration, std::move(settings))),
      m_threads(std::make_unique<Threads>())
{
}

WorkerSet::~WorkerSet()
{
    requestStop();
    disconnect();
    // Those that have not ended are let go below: they co-own all they use.
    static_cast<void>(wait(std::chrono::milliseconds(0)));
    for (auto& worker : m_threads->workers) {
        if (worker && worker->joinable())
            worker->detach();
    }
}

WorkerShared& WorkerSet::shared()
{
    return m_common->shared;
}

void WorkerSet::takeGates()
{
    const std::string& folder = m_common->shared.settings.gateFolder;
    const std::pair<Gate, unsigned> gates[] = {{Gate::Download, IDS_DOWNLOAD_GATE}, {Gate::Resolve, IDS_RESOLVE_GATE}};
    for (const auto& [gate, nameId] : gates) {
        auto& slot = m_threads->gate(gate);
        slot = NamedMutex::create(folder, loadString(nameId));
        // A lock without LOCK_NB on a file of our own fails only when the kernel has
        // no memory left for it; the worker then finds its gate open at once.
        if (slot)
            static_cast<void>(slot->lock());
    }
}

void WorkerSet::handOver(Gate gate)
{
    // Not holding the gate means it is handed over already (requestStop() after a
    // job went out): the worker has its job, or sees the stop request when it is done.
    if (auto& slot = m_threads->gate(gate))
        static_cast<void>(slot->unlock());
}

void WorkerSet::takeBack(Gate gate)
{
    // As in takeGates(): the worker has let the gate go, so only a kernel out of
    // memory for locks refuses it.
    if (auto& slot = m_threads->gate(gate))
        static_cast<void>(slot->lock());
}

void WorkerSet::start(Worker worker)
{
    auto& thread = m_threads->workers[static_cast<std::size_t>(worker)];
    if (thread)
        return;
    {
        std::lock_guard lock(m_common->mutex);
        ++m_common->running;
    }
    thread.emplace([common = m_common, worker] {
        // Named for whoever looks at the process's threads (top -H, a debugger, a
        // benchmark); a thread without its name works all the same.
        constexpr const char* kNames[] = {"qvr-watcher", "qvr-resolver", "qvr-downloader"};
        static_cast<void>(pthread_setname_np(pthread_self(), kNames[static_cast<std::size_t>(worker)]));
        switch (worker) {
        case Worker::FolderWatcher:
            FolderWatcher(common->relay, common->shared, common->watch);
            break;
        case Worker::Resolver:
            TrackResolver(common->relay, common->shared);
            break;
        case Worker::Downloader:
            TrackDownloader(common->relay, common->shared);
            break;
        }
        std::lock_guard lock(common->mutex);
        --common->running;
        common->ended.notify_all();
    });
}

void WorkerSet::pokeFolderWatcher()
{
    m_common->watch.poke();
}

void WorkerSet::listDownloadedFiles()
{
    m_common->shared.m_listFiles = true;
    pokeFolderWatcher();
}

void WorkerSet::requestStop()
{
    m_common->shared.m_bStopThreads = true;
    m_common->shared.m_bPaused = true;
    m_common->shared.m_wake.notify();
    handOver(Gate::Download);
    pokeFolderWatcher();
    handOver(Gate::Resolve);
}

bool WorkerSet::wait(std::chrono::milliseconds grace)
{
    std::unique_lock lock(m_common->mutex);
    if (!m_common->ended.wait_for(lock, grace, [this] { return m_common->running == 0; }))
        return false;
    lock.unlock();
    for (auto& worker : m_threads->workers) {
        if (worker && worker->joinable())
            worker->join();
    }
    return true;
}

void WorkerSet::disconnect()
{
    m_common->relay.cutOff();
}

} // namespace qvr
