#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace qvr {

// Network work that the window must not wait for: one job at a time runs on a thread
// of its own and hands what it has to the window's thread. Made, started and destroyed
// on the window's thread. The end asks the job to stop (stopping() turns true: its
// requests end within about 100 ms) and waits for it; what the job handed over and the
// window has not run yet is dropped.
class BackgroundWork {
public:
    BackgroundWork();
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // Runs `job` on a new thread; a job before it has ended first (one that hands its
    // last word over with post() is about to).
    void start(std::function<void()> job);
    // True once the job's work is no longer wanted; safe from any thread.
    std::function<bool()> stopping() const;

    // From the job: `call` runs on the window's thread soon, while the job goes on.
    void post(std::function<void()> call);
    // From the job: `call` runs on the window's thread, and the job waits for its
    // result; nothing when the work was stopped first. `call` owns what it uses: it may
    // finish (a box the user answers) after the job has gone.
    template <class Result>
    std::optional<Result> ask(std::function<Result()> call)
    {
        auto result = std::make_shared<std::optional<Result>>();
        if (!runAndWait([result, call = std::move(call)] { *result = call(); }))
            return std::nullopt;
        return *result;
    }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable answered;
        bool stop = false;
    };
    [[nodiscard]] bool runAndWait(std::function<void()> call);

    std::shared_ptr<Shared> m_shared;
    std::atomic<bool> m_stop {false};
    // Receives what the job hands over, on the window's thread.
    std::unique_ptr<QObject> m_receiver;
    std::thread m_thread;
};

} // namespace qvr
