#include "platform/folder_watch.h"

#include "tests/support/wait_for_files.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace qvr::test {

bool waitForFiles(const std::string& folder, const std::function<bool()>& condition,
                  std::chrono::milliseconds limit)
{
    FolderWatch watch;
    if (!watch.watch(folder))
        return false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    // Ends the last wait once the time is up.
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!finished.wait_until(lock, deadline, [&] { return done; }))
            watch.poke();
    });
    bool met = condition();
    while (!met && std::chrono::steady_clock::now() < deadline && watch.wait() == FolderWatch::Event::Changed)
        met = condition();
    met = met || condition();
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    finished.notify_all();
    watchdog.join();
    return met;
}

} // namespace qvr::test
