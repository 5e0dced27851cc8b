#pragma once

#include "engine/configuration.h"
#include "engine/messages.h"
#include "engine/shared_string.h"
#include "platform/http.h"
#include "platform/track_file.h"

#include <atomic>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace qvr {

class FolderWatch;
class MessageSink;

// How the workers work, given whole before they start and the same while they run.
struct WorkerSettings {
    std::string gateFolder {};  // where the two gates live
    HttpClientFactory http {};
    // How long a worker waits after a failed exchange before it reports, so that
    // a dead network is not hammered; the pause doubles while the same job keeps
    // failing: the resolver's up to kLongestResolvePause, the downloader's up to
    // RetryPause::kMostGrowth times this. A store's Retry-After makes it longer.
    std::chrono::milliseconds retryPause {1000};
    // A track whose folder is at its reserve is tried again after this at first,
    // doubling while the folder stays full, unless Resume, or room in the folder,
    // comes first: a full folder rarely has room a second later.
    std::chrono::milliseconds folderFullPause {30000};
    // A folder that never stops changing (a copy, a tagger, a sync tool at work) has
    // its list read at most this often; the first change after a quiet spell, and a
    // newly chosen folder, are read at once.
    std::chrono::milliseconds listingInterval {250};
    // No track is larger: where the protocol's 32-bit counters end. A body past it
    // is no track, whatever its answer said.
    std::uint64_t largestTrack = std::uint64_t(4) << 30;
    // What a download leaves free on the file system of `total` bytes: the smaller of
    // 64 MiB and 1 %, so that a track never fills the disk.
    std::function<std::uint64_t(std::uint64_t total)> diskReserve = defaultDiskReserve;
    static std::uint64_t defaultDiskReserve(std::uint64_t total) { return std::min<std::uint64_t>(64 << 20, total / 100); }
    // How the resolver and the downloader wait out the pause after a failure: until
    // it has passed, or at once when `wake` says so (the user resumed, a new request
    // came, the window closes). Tests see here the pauses asked for; none: the
    // worker sleeps on WorkerShared::m_wake.
    using PauseWaiter = std::function<void(std::chrono::milliseconds pause, const std::function<bool()>& wake)>;
    PauseWaiter waitOut {};
};

// What ends a worker's timed wait at once when the window asks something of it, with
// no wakeup while nothing happens: the window sets its flag, then notifies.
class WakeSignal {
public:
    void notify()
    {
        // Taken and let go between the flag and the notice: a worker that found the
        // flag unset is then surely waiting, and hears it.
        { const std::lock_guard lock(m_mutex); }
        m_changed.notify_all();
    }
    // Until `done` holds (checked first, and at each notice) or `pause` has passed.
    void waitFor(std::chrono::milliseconds pause, const std::function<bool()>& done)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, pause, done);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

// A request waits this long at most after the store it is asked of failed, once the
// store is back: the normal pace is about one ask a second, and a store that keeps
// failing sees two a minute.
inline constexpr std::chrono::milliseconds kLongestResolvePause {std::chrono::seconds(30)};


// What the main window shares with its three worker threads. The flags are the
// window's requests, polled by the workers without a lock; the job slots are
// written by the window only while the worker waits at its gate, under m_jobMutex,
// and the worker copies its job out under it once through the gate. The gates are
// file locks, which order nothing that a thread checker sees; the mutex makes the
// hand-over one ordered within the process too. The configuration is the start's
// own, which outlives every worker.
struct WorkerShared {
    explicit WorkerShared(const Configuration& configuration, WorkerSettings workerSettings = {})
        : config(configuration), settings(std::move(workerSettings)),
          m_downloadFolder(configuration.strings.m_strDownloadFolder), m_trackMarks(trackRecordPath(configuration))
    {
    }

    // Where the marks of track files go on a file system without extended
    // attributes: beside the queue files.
    static std::string trackRecordPath(const Configuration& configuration);

    const Configuration& config;
    const WorkerSettings settings;

    std::atomic<bool> m_bStopThreads {false};
    std::atomic<bool> m_bPaused {false};
    std::atomic<bool> m_bCancelCurrent {false};
    std::atomic<bool> m_bClearQueue {false};
    std::atomic<bool> m_bFolderChanged {true};
    // The window wants the downloaded-files list read again; the folder watcher reads
    // it and hands it over (WM_FILES_LISTED).
    std::atomic<bool> m_listFiles {false};
    // A worker that waits out a failure tries again at once (the user resumed, or a
    // new request came).
    std::atomic<bool> m_retryResolveNow {false};
    std::atomic<bool> m_retryDownloadNow {false};
    // Notified after any of the flags above is set.
    WakeSignal m_wake;

    mutable std::mutex m_jobMutex;
    std::string m_strCurTitle;
    std::string m_strCurUrl;
    std::string m_strCurRawEntry;

    // The running download's percentage, for the window to take at its pace.
    ProgressMailbox m_progress;

    SharedString m_downloadFolder;  // the one the user chose last
    TrackMarks m_trackMarks;        // which file in it belongs to which track
};

// The thread procedures. Each returns 1 when it ended on a stop request and sends
// WM_THREAD_EXITED with its bit as its very last act, on every path.
int TrackResolver(MessageSink& window, WorkerShared& shared);
int TrackDownloader(MessageSink& window, WorkerShared& shared);
int FolderWatcher(MessageSink& window, WorkerShared& shared, FolderWatch& watch);

} // namespace qvr
