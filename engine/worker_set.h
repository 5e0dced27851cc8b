#pragma once

#include <chrono>
#include <memory>

namespace qvr {

class MessageSink;
struct Configuration;
struct WorkerSettings;
struct WorkerShared;

// How the window hands work to its workers, as the queue decisions see it: a job
// slot is filled, then the worker's gate is handed over; the report comes back
// once the worker has let the gate go, and the window takes it back.
class WorkerGates {
public:
    enum class Gate { Resolve, Download };

    // Lets the worker behind `gate` take the job its slot holds; nothing happens
    // while the worker holds the gate.
    virtual void handOver(Gate gate) = 0;
    // Takes the gate back after the worker reported its job (the worker has released
    // it by then, so this does not wait).
    virtual void takeBack(Gate gate) = 0;
    // The folder watcher looks at its requests now (a moved folder, a stop).
    virtual void pokeFolderWatcher() = 0;

protected:
    ~WorkerGates() = default;
};

// The window's three workers (the folder watcher, the track resolver and the track
// downloader), the two gates through which the window hands them work, and what
// they share. Everything here is called on the window's thread.
//
// A worker stuck where no request reaches it (a system call that never returns)
// cannot be joined. So the threads co-own what they use (the shared state, the
// folder watch and the way to the window): a set destroyed while a worker still
// runs lets that thread go, and the thread finds all of it alive and its reports
// going nowhere. What the set cannot keep alive is the process around it (libcurl's
// global state, the code of a library being unloaded): when wait() says a worker
// still runs, whoever owns the process ends it rather than unwinding.
class WorkerSet final : public WorkerGates {
public:
    enum class Worker { FolderWatcher, Resolver, Downloader };

    // The workers report to `window` until disconnect(), and read `configuration`
    // and `settings`.
    WorkerSet(MessageSink& window, const Configuration& configuration,
              WorkerSettings settings);
    // Asks every worker to stop and disconnects them (the window must answer no
    // more by then, see disconnect()); workers still running are let go.
    ~WorkerSet();
    WorkerSet(const WorkerSet&) = delete;
    WorkerSet& operator=(const WorkerSet&) = delete;

    // The job slots and requests the workers read, and their settings.
    WorkerShared& shared();

    // Makes both gates in the gate folder and takes them: from now on a worker waits
    // at its gate until it is handed a job. A gate that cannot be made hands nothing
    // over, and its worker only reports its end.
    void takeGates();
    void handOver(Gate gate) override;
    void takeBack(Gate gate) override;

    // Starts a worker (each once). They report every step, and WM_THREAD_EXITED as
    // their last act.
    void start(Worker worker);

    void pokeFolderWatcher() override;
    // Has the folder watcher read the downloaded-files list and hand it to the
    // window (WM_FILES_LISTED), soon but off the window's thread.
    void listDownloadedFiles();

    // Asks every worker to end: the stop and pause requests set, the download gate
    // released, the folder watcher poked, the resolve gate released. An idle worker
    // ends at once, a busy one after its current step.
    void requestStop();

    // Waits up to `grace` for every started worker to end; true when all have. May
    // be asked again.
    [[nodiscard]] bool wait(std::chrono::milliseconds grace);

    // From now on reports go nowhere: every send returns 0 at once. Reports under way
    // are waited for, so the window must already answer every send at once (its own
    // delivery closed); after this the window may go even while workers still run.
    void disconnect();

private:
    struct Common;
    struct Threads;
    std::shared_ptr<Common> m_common;
    std::unique_ptr<Threads> m_threads;
};

} // namespace qvr
