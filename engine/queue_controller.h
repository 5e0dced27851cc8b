#pragma once

#include "engine/entry_list.h"
#include "engine/queue_files.h"
#include "engine/queue_item.h"
#include "engine/reports.h"
#include "engine/request_inbox.h"
#include "engine/retry_pause.h"
#include "engine/status_texts.h"
#include "engine/worker_set.h"
#include "platform/file_result.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qvr {

struct WorkerShared;

// What the queue decisions show the user and ask of them. The main window draws it;
// tests write it down.
class QueueView {
public:
    virtual ~QueueView() = default;
    virtual void setStatus(const std::string& text) = 0;
    virtual void ResetProgress() = 0;
    virtual void SetProgress(int percent) = 0;
    // The queue list, in queue order (a row is an index in the queue): shown whole
    // once it is loaded, then told each change as it is made, so that a change of a
    // long queue costs the list only the rows that changed.
    virtual void showQueue(const EntryList<QueueItem>& queue) = 0;
    // `count` rows from `row` on came into `queue`.
    virtual void showRowsAdded(const EntryList<QueueItem>& queue, std::uint32_t row, std::uint32_t count) = 0;
    // `count` rows from `row` on left the queue.
    virtual void showRowsRemoved(std::uint32_t row, std::uint32_t count) = 0;
    // The downloaded-files list, read again from `folder`.
    virtual void RefreshFileList(const std::string& folder) = 0;
    // The latched looks of the resume and pause buttons.
    virtual void showLatched(bool resume, bool pause) = 0;
    virtual void showFolder(const std::string& folder) = 0;
    // The buttons of a message box of the window.
    enum class Buttons { Ok, OkCancel, YesNo };
    // A message box of the window, waiting for the user; true for OK or Yes (an
    // OK alone is always true).
    virtual bool ask(const std::string& text, const std::string& caption, Buttons buttons) = 0;
    // Calls the controller's retrySaves() once `pause` has passed (a later call
    // before then moves the time).
    virtual void retrySavesAfter(std::chrono::milliseconds pause) = 0;
    // Calls the controller's retryWaiting() once `pause` has passed (a later call
    // before then moves the time).
    virtual void retryWaitingAfter(std::chrono::milliseconds pause) = 0;
    // The folder browser; nothing when the user cancelled.
    [[nodiscard]] virtual std::optional<std::string> chooseFolder(const std::string& title,
                                                                  const std::string& startFolder) = 0;
    // A message box shown once what is being handled now is done: the sender of a
    // message is not kept waiting for the user.
    virtual void warn(const std::string& text, const std::string& caption) = 0;
    // A request the store gave no track for, which was left out: told as Warn tells,
    // together with the others refused about the same time.
    virtual void tellRefused(const RawEntry& request) = 0;
    // A track left the queue whole in the download folder.
    virtual void trackArrived(const std::string& /*title*/) {}
};

// Whether a setting was stored, or why not, in words for the failure log.
class [[nodiscard]] SettingResult {
public:
    static SettingResult ok() { return SettingResult(std::nullopt); }
    static SettingResult failed(std::string why) { return SettingResult(std::move(why)); }

    [[nodiscard]] explicit operator bool() const noexcept { return !m_why; }
    // Empty when it was stored.
    std::string why() const { return m_why.value_or(std::string()); }

private:
    explicit SettingResult(std::optional<std::string> why) : m_why(std::move(why)) {}
    std::optional<std::string> m_why;
};

// The main window's queue decisions, without the window: the download queue and the
// raw entries, the hand-over of jobs to the resolver and the downloader through their
// gates, the handling of their reports, the user's queue commands with the targets of
// a pending cancel or clear, and when the two lists are saved. Everything runs on the
// window's thread; the workers see only what `shared` holds.
class QueueController {
public:
    // Stores a newly chosen download folder in the settings.
    using FolderWriter = std::function<SettingResult(const std::string&)>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    QueueController(QueueView& view, WorkerGates& gates, WorkerShared& shared, QueueStore& store,
                    FolderWriter writeDownloadFolder, Clock now = std::chrono::steady_clock::now);

    // The start: the download queue shown, the raw entries that wait from last time.
    // Until the raw entries are loaded (while the update step runs, and for good in a
    // window that handed over to a newer executable) requests go straight to the
    // raw-queue file, behind what waits there.
    void LoadDownloadQueue();
    void LoadRawQueue();

    // The operations of the window.
    void StartNextDownload();
    void StartNextResolve();
    // A request, from a drop, a second start or the command line; false when it was
    // not taken (empty, not storable, or it could not be kept).
    [[nodiscard]] bool AddRawEntry(const RawEntry& text);
    // A request handed over by a second start.
    [[nodiscard]] bool onCopyData(const RawEntry& text);
    // The requests second starts left in `inbox`, oldest first, each taken as a
    // request of its own; a file goes once its request is kept. One that cannot be
    // kept now stays there, with those behind it, for a later call or start; all
    // stay there until the raw entries are loaded.
    void takeHandOvers(const RequestInbox& inbox);
    // A second start's request could not even be put into the inbox, for `result`.
    void onHandOverNotKept(FileResult result) { warnNotWritten(m_store.folderOf(QueueStore::File::RawQueue), result); }

    // The saves that failed or were put off, made now (the view calls this after a
    // pause).
    void retrySaves();
    static constexpr std::chrono::milliseconds kSaveRetryPause {5000};
    // A save that may wait (see saveDownloadQueueSoon) is made at the latest this
    // long after the first change it holds, however the lists go on changing.
    static constexpr std::chrono::milliseconds kMergedSavePause {30000};
    // ... nor while the changes it would write are fewer than the file's lines
    // divided by this.
    static constexpr std::uint32_t kMergedSaveShare = 8;

    // Tracks and requests whose pause has ended are handed out again (the view
    // calls this after a pause).
    void retryWaiting();

    // The workers' reports.
    void onFolderChanged();
    void onDownloadFinished(const DownloadReport& report);
    void onEntryResolved(ResolveReport report);
    // The downloader found that the download folder cannot take its track, for the
    // errno `error`; its report follows, with the folder unavailable.
    void onFolderUnavailable(const std::string& folder, int error);
    // True once every worker has said it ended.
    [[nodiscard]] bool onThreadExited(std::int32_t bit);

    // The user's commands. `selected` is the selected row of the queue list, -1 for none.
    void removeTrack(int selected);
    void clearQueue();
    void chooseDownloadFolder();
    void resumeDownloads();
    void pauseDownloads();

    // A newer instance takes over: the raw entries are its business from now on.
    void onSwitchQuit() { m_bSwitchQuit = true; }
    // The end of the window: a download queue that could not be saved tried once
    // more, and the raw entries saved for the next start, unless a newer instance
    // took over.
    void saveAtEnd();

    const EntryList<QueueItem>& queue() const { return m_queue; }
    const EntryList<RawEntryItem>& rawEntries() const { return m_rawEntries; }
    std::string downloadFolder() const;
    std::int32_t exitedThreads() const { return m_nExitedThreads; }
    [[nodiscard]] bool switchQuit() const { return m_bSwitchQuit; }
    [[nodiscard]] bool resolverOffline() const { return m_bResolverOffline; }
    [[nodiscard]] bool downloading() const { return m_bDownloading; }

private:
    // A pending cancel or clear: the track it was asked for (its identity), and the
    // downloader's request flag, which is set exactly while there is such a track.
    // Both change only here.
    class PendingRequest {
    public:
        explicit PendingRequest(std::atomic<bool>& flag) : m_flag(flag) {}
        void aimAt(const std::string& url)
        {
            m_target = trackIdentity(url);
            m_flag = true;
        }
        void withdraw()
        {
            m_target.reset();
            m_flag = false;
        }
        [[nodiscard]] bool isFor(const std::string& url) const { return m_target == trackIdentity(url); }
        // Where its track is in `queue`; -1 when it aims at none, or at a track
        // no longer queued.
        [[nodiscard]] std::int64_t findIn(const EntryList<QueueItem>& queue) const
        {
            return m_target ? queue.findAddress(*m_target) : -1;
        }
        [[nodiscard]] bool isSet() const { return m_target.has_value(); }

    private:
        std::optional<std::string> m_target;
        std::atomic<bool>& m_flag;
    };

    void SaveDownloadQueue();
    void SaveRawQueue();
    // Saves for changes that a kill before the save could only make happen again:
    // a track downloaded, whose entry would be downloaded again (its whole file is
    // then found done at once); a request resolved, whose request stays on disk until
    // the download queue holding its track is saved and would be resolved again
    // (the duplicate check drops it). They wait, merged into one save, until the
    // changes add up to an eighth of the file or the first of them is
    // kMergedSavePause old; a long queue drained one track at a time then costs a
    // few whole writes of it, not one per track, also where each track takes
    // seconds (a slow stick). A request taken, a track to be fetched and the
    // user's own commands are saved at once.
    void saveDownloadQueueSoon();
    void saveRawQueueSoon();
    void saveLater();
    [[nodiscard]] static bool mayWait(std::uint32_t changes, std::uint32_t onDisk);
    // Removes queue items, keeping count of what the file lacks, and tells the view.
    void removeQueued(std::uint32_t index);
    void removeAllQueued();
    // After a save: a failure is told (once until everything is saved again) and
    // tried again later.
    void noteSave(QueueStore::File file, FileResult result);
    // A load that failed for another reason than a missing file goes into the failure log.
    void noteLoad(QueueStore::File file, FileResult result) const;
    // The failure log's lines for a list that stays unsaved for now, and for a
    // request that is not taken.
    void logUnsaved(QueueStore::File file, FileResult result) const;
    void logNotTaken(const RawEntry& text, FileResult result) const;
    void dropStaleRequests();
    // Before `next` is handed to the downloader: a cancel or clear asked for another
    // track, which is no longer in download (it was set aside), is done now. True
    // when the queue changed.
    [[nodiscard]] bool settleRequestsBefore(const QueueItem& next);

    // Tracks and requests that failed for reasons of their own, by identity (a
    // track's address, a request's text): until when each waits, and the pause
    // after its next failure. In memory only: a new start tries them at once.
    struct Wait {
        RetryPause pauses;
        std::chrono::steady_clock::time_point until;
    };
    using Waits = std::map<std::string, Wait, std::less<>>;
    void setAside(Waits& waits, const std::string& key);
    // Each decision takes the clock's time once, as `now`, for all it looks at: a wait
    // that ended between two readings would be neither handed out nor scheduled.
    [[nodiscard]] static bool isWaiting(const Waits& waits, const std::string& key,
                                        std::chrono::steady_clock::time_point now);
    // Forgets what left the lists, and has the view call retryWaiting() when the
    // earliest wait after `now` ends.
    void scheduleWaits(std::chrono::steady_clock::time_point now);
    // The index of the track to download next, the first that does not wait at `now`;
    // -1 when none.
    [[nodiscard]] std::int64_t nextDownload(std::chrono::steady_clock::time_point now) const;
    // The track that Remove asks about: the one handed to the downloader, or while
    // none is, the one it gets next; -1 when none.
    [[nodiscard]] std::int64_t inDownload() const;
    void moveRawEntry(std::uint32_t from, std::uint32_t to);
    void warnNotWritten(const std::string& folder, FileResult result);
    void dropLastRawEntry();

    QueueView& m_view;
    WorkerGates& m_gates;
    WorkerShared& m_shared;
    QueueStore& m_store;
    FolderWriter m_writeDownloadFolder;
    Clock m_now;

    EntryList<QueueItem> m_queue;
    EntryList<RawEntryItem> m_rawEntries;
    // Raw entries at the head of m_rawEntries that are done with, but leave it only
    // once the download queue that holds their tracks is on disk.
    std::uint32_t m_resolvedUnsaved = 0;
    // How far each file is behind its list: the lines it held at its last save or
    // load, and the changes since. The download-queue file also lacks the last
    // m_queueUnsavedTail items of m_queue, those added since.
    std::uint32_t m_queueOnDisk = 0;
    std::uint32_t m_queueChanges = 0;
    std::uint32_t m_queueUnsavedTail = 0;
    std::uint32_t m_rawOnDisk = 0;
    std::uint32_t m_rawRemovals = 0;
    // When the changes that wait for a merged save are due on disk; none while none wait.
    std::optional<std::chrono::steady_clock::time_point> m_mergedSaveDue;
    PendingRequest m_cancelTarget;
    PendingRequest m_clearTarget;
    Waits m_trackWaits;
    Waits m_requestWaits;

    bool m_bDownloading = false;
    bool m_bResolving = false;
    bool m_bResolverOffline = false;
    bool m_bSwitchQuit = false;
    bool m_rawQueueLoaded = false;
    bool m_downloadQueueUnsaved = false;
    bool m_rawQueueUnsaved = false;
    bool m_warnedNotWritten = false;
    bool m_warnedFolderUnavailable = false;
    // The downloader waits for room in the folder (WorkerSettings::folderFullPause).
    bool m_folderFull = false;
    // Free space past the reserve that is worth a new attempt on a full folder.
    static constexpr std::uint64_t kRoomWorthATry = 1 << 20;
    bool m_ending = false;  // saveAtEnd() has begun: no later save comes
    std::int32_t m_nExitedThreads = 0;
};

} // namespace qvr
