#include "engine/queue_controller.h"

#include "engine/messages.h"
#include "engine/queue_files.h"
#include "engine/workers.h"
#include "platform/atomic_file.h"
#include "platform/failure_log.h"
#include "platform/paths.h"
#include "platform/track_file.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <utility>
#include <vector>

namespace qvr {

using Gate = WorkerGates::Gate;

namespace {

// How the failure log names a queue file.
std::string queueFileName(QueueStore::File file)
{
    return file == QueueStore::File::DownloadQueue ? "the download queue" : "the raw queue";
}

} // namespace

QueueFiles::QueueFiles(std::string downloadQueuePath, std::string rawQueuePath)
    : m_downloadQueue {std::move(downloadQueuePath)}, m_rawQueue {std::move(rawQueuePath)}
{
}

template <class List>
FileResult QueueFiles::loadFile(KeptFile& file, List& list, FileResult (*load)(List&, const std::string&))
{
    const FileResult loaded = load(list, file.path);
    file.unread = loaded || loaded.error() == ENOENT ? 0 : loaded.error();
    return loaded;
}

template <class List>
FileResult QueueFiles::saveFile(const KeptFile& file, const List& list,
                            FileResult (*save)(const List&, const std::string&))
{
    if (file.unread != 0)
        return FileResult::failed(file.unread);
    return saveMakingFolder(file.path, [&] { return save(list, file.path); });
}

template <class Write>
FileResult QueueFiles::saveMakingFolder(const std::string& path, Write save)
{
    FileResult saved = save();
    if (!saved && saved.error() == ENOENT && !path.empty()) {
        // The folder was removed by hand: made again, with the privacy of the data
        // home's folders.
        if (const FileResult made = makeFolders(parentFolder(path), 0700); !made)
            return made;
        saved = save();
    }
    return saved;
}

FileResult QueueFiles::LoadDownloadQueue(EntryList<QueueItem>& queue)
{
    return loadFile(m_downloadQueue, queue, qvr::LoadDownloadQueue);
}

FileResult QueueFiles::SaveDownloadQueue(const EntryList<QueueItem>& queue)
{
    return saveFile(m_downloadQueue, queue, qvr::SaveDownloadQueue);
}

FileResult QueueFiles::LoadRawQueue(EntryList<RawEntryItem>& entries)
{
    return loadFile(m_rawQueue, entries, qvr::LoadRawQueue);
}

FileResult QueueFiles::SaveRawQueue(const EntryList<RawEntryItem>& entries)
{
    return saveFile(m_rawQueue, entries, qvr::SaveRawQueue);
}

FileResult QueueFiles::appendRawQueue(std::string_view text)
{
    return saveMakingFolder(m_rawQueue.path, [&] { return qvr::appendRawQueue(text, m_rawQueue.path); });
}

std::string QueueFiles::folderOf(File file) const
{
    return parentFolder(file == File::DownloadQueue ? m_downloadQueue.path : m_rawQueue.path);
}

void QueueFiles::removeLeftTemporaries() const
{
    for (const std::string& path : {m_downloadQueue.path, m_rawQueue.path})
        if (!path.empty())
            removeStaleTemporaries(path);
}

QueueController::QueueController(QueueView& view, WorkerGates& gates, WorkerShared& shared, QueueStore& store,
                                 FolderWriter writeDownloadFolder, Clock now)
    : m_view(view), m_gates(gates), m_shared(shared), m_store(store),
      m_writeDownloadFolder(std::move(writeDownloadFolder)), m_now(std::move(now)), m_cancelTarget(shared.m_bCancelCurrent),
      m_clearTarget(shared.m_bClearQueue)
{
}

void QueueController::LoadDownloadQueue()
{
    // A queue file that is not there is an empty queue; one that could not be read
    // is kept as it is (QueueFiles), and told about when the queue is saved.
    noteLoad(QueueStore::File::DownloadQueue, m_store.LoadDownloadQueue(m_queue));
    m_queueOnDisk = m_queue.getCount();
    m_queueChanges = 0;
    m_queueUnsavedTail = 0;
    m_view.showQueue(m_queue);
}

void QueueController::LoadRawQueue()
{
    // As for the download queue.
    noteLoad(QueueStore::File::RawQueue, m_store.LoadRawQueue(m_rawEntries));
    m_rawOnDisk = m_rawEntries.getCount();
    m_rawQueueLoaded = true;
}

void QueueController::noteLoad(QueueStore::File file, FileResult result) const
{
    if (!result && result.error() != ENOENT)
        logFailure("reading " + queueFileName(file) + " in " + m_store.folderOf(file), errnoText(result.error()),
                   "starting without what it holds; the file is kept as it is and not written over");
}

void QueueController::SaveDownloadQueue()
{
    const FileResult saved = m_store.SaveDownloadQueue(m_queue);
    m_downloadQueueUnsaved = !saved;
    logUnsaved(QueueStore::File::DownloadQueue, saved);
    if (saved) {
        m_queueOnDisk = m_queue.getCount();
        m_queueChanges = 0;
        m_queueUnsavedTail = 0;
        if (m_rawRemovals == 0)
            m_mergedSaveDue.reset();
    }
    if (saved && m_resolvedUnsaved > 0) {
        // Their tracks are on disk now: the requests may go.
        m_rawRemovals += m_resolvedUnsaved;
        for (; m_resolvedUnsaved > 0; --m_resolvedUnsaved)
            m_rawEntries.RemoveHead();
        saveRawQueueSoon();
    }
    noteSave(QueueStore::File::DownloadQueue, saved);
}

void QueueController::SaveRawQueue()
{
    const FileResult saved = m_store.SaveRawQueue(m_rawEntries);
    m_rawQueueUnsaved = !saved;
    logUnsaved(QueueStore::File::RawQueue, saved);
    if (saved) {
        m_rawOnDisk = m_rawEntries.getCount();
        m_rawRemovals = 0;
        if (m_queueChanges == 0)
            m_mergedSaveDue.reset();
    }
    noteSave(QueueStore::File::RawQueue, saved);
}

bool QueueController::mayWait(std::uint32_t changes, std::uint32_t onDisk)
{
    return changes < std::max<std::uint32_t>(1, onDisk / kMergedSaveShare);
}

void QueueController::saveDownloadQueueSoon()
{
    // A save that failed is tried again at every change.
    if (m_downloadQueueUnsaved || !mayWait(m_queueChanges, m_queueOnDisk))
        SaveDownloadQueue();
    else
        saveLater();
}

void QueueController::saveRawQueueSoon()
{
    if (m_rawQueueUnsaved || !mayWait(m_rawRemovals, m_rawOnDisk))
        SaveRawQueue();
    else
        saveLater();
}

void QueueController::saveLater()
{
    // Counted from the first change that waits: a pause counted from the last one
    // ran out between any two tracks that took longer than it, and the whole file
    // was written once a track.
    const auto now = m_now();
    if (!m_mergedSaveDue)
        m_mergedSaveDue = now + kMergedSavePause;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*m_mergedSaveDue - now);
    m_view.retrySavesAfter(std::max(left, std::chrono::milliseconds::zero()));
}

void QueueController::removeQueued(std::uint32_t index)
{
    const std::uint32_t count = m_queue.getCount();
    if (index >= count)
        return;
    if (index >= count - m_queueUnsavedTail)
        --m_queueUnsavedTail;
    ++m_queueChanges;
    m_queue.RemoveAt(index);
    m_view.showRowsRemoved(index, 1);
}

void QueueController::removeAllQueued()
{
    const std::uint32_t count = m_queue.getCount();
    m_queueChanges += count;
    m_queueUnsavedTail = 0;
    m_queue.RemoveAll();
    if (count > 0)
        m_view.showRowsRemoved(0, count);
}

void QueueController::noteSave(QueueStore::File file, FileResult result)
{
    if (!result) {
        warnNotWritten(m_store.folderOf(file), result);
        m_view.retrySavesAfter(kSaveRetryPause);
    } else if (!m_downloadQueueUnsaved && !m_rawQueueUnsaved) {
        // All is on disk again: the next failure is news.
        m_warnedNotWritten = false;
    }
}

void QueueController::retrySaves()
{
    if (m_downloadQueueUnsaved || m_queueChanges > 0)
        SaveDownloadQueue();
    if ((m_rawQueueUnsaved || m_rawRemovals > 0) && m_rawQueueLoaded && !m_bSwitchQuit)
        SaveRawQueue();
}

void QueueController::saveAtEnd()
{
    m_ending = true;
    if (m_downloadQueueUnsaved || m_queueChanges > 0)
        SaveDownloadQueue();
    // A list never loaded is not the file's whole content.
    if (!m_bSwitchQuit && m_rawQueueLoaded)
        SaveRawQueue();
}

std::string QueueController::downloadFolder() const
{
    return m_shared.m_downloadFolder.get();
}

void QueueController::StartNextDownload()
{
    if (m_queue.isEmpty()) {
        m_view.setStatus(kNoFilesInQueue);
        return;
    }
    if (m_bDownloading || m_shared.m_bPaused || m_bResolverOffline)
        return;
    dropStaleRequests();
    const auto now = m_now();
    const std::int64_t index = nextDownload(now);
    scheduleWaits(now);
    // Every track waits out a pause after a failure of its own: the title of the last
    // one tried, at its 0 %, would read as a download under way.
    if (index < 0) {
        m_view.setStatus(kWaitingToRetry);
        return;
    }
    const QueueItem* next = m_queue.GetAt(static_cast<std::uint32_t>(index));
    if (settleRequestsBefore(*next)) {
        StartNextDownload();
        return;
    }
    // A track is fetched only once the download-queue file holds it, so that a kill
    // during its download leaves its part beside its entry. (A file that cannot be
    // saved does not hold the track up: it is tried again later.)
    if (index >= m_queue.getCount() - m_queueUnsavedTail && !m_downloadQueueUnsaved)
        SaveDownloadQueue();
    {
        std::lock_guard job(m_shared.m_jobMutex);
        m_shared.m_strCurTitle = next->title;
        m_shared.m_strCurUrl = next->url;
    }
    m_bDownloading = true;
    m_gates.handOver(Gate::Download);
}

void QueueController::StartNextResolve()
{
    if (m_bResolving)
        return;
    // Entries whose tracks wait to be saved are done with: the next one is behind
    // them, and behind those set aside.
    std::uint32_t index = m_resolvedUnsaved;
    const RawEntryItem* next = m_rawEntries.GetAt(index);
    const auto now = m_now();
    for (; next && isWaiting(m_requestWaits, next->text, now); next = next->next.get())
        ++index;
    scheduleWaits(now);
    if (!next)
        return;
    if (index != m_resolvedUnsaved) {
        // Entries leave the list at its head once resolved: the one handed over
        // goes ahead of those that wait.
        moveRawEntry(index, m_resolvedUnsaved);
        next = m_rawEntries.GetAt(m_resolvedUnsaved);
    }
    {
        std::lock_guard job(m_shared.m_jobMutex);
        m_shared.m_strCurRawEntry = next->text;
    }
    m_bResolving = true;
    m_gates.handOver(Gate::Resolve);
}

bool QueueController::AddRawEntry(const RawEntry& text)
{
    // An empty request would be handed to the resolver again and again, and one
    // with a line break could not be kept in the raw-queue file.
    if (!isStorableRawEntry(text))
        return false;
    if (!m_rawQueueLoaded) {
        const FileResult appended = m_store.appendRawQueue(text);
        if (!appended) {
            logNotTaken(text, appended);
            warnNotWritten(m_store.folderOf(QueueStore::File::RawQueue), appended);
        }
        return static_cast<bool>(appended);
    }
    // A request is taken only once it is on disk: a request that lives in memory
    // only is lost with the process, and whoever handed it over would believe it
    // safe. One that cannot be saved is not taken; its sender keeps it.
    m_rawEntries.AddTail(std::make_unique<RawEntryItem>(text));
    const FileResult saved = m_store.SaveRawQueue(m_rawEntries);
    if (!saved) {
        dropLastRawEntry();
        logNotTaken(text, saved);
        noteSave(QueueStore::File::RawQueue, saved);
        return false;
    }
    m_rawQueueUnsaved = false;
    m_rawOnDisk = m_rawEntries.getCount();
    m_rawRemovals = 0;
    noteSave(QueueStore::File::RawQueue, saved);
    // A new request is a reason to try the store again now.
    m_shared.m_retryResolveNow = true;
    m_shared.m_retryDownloadNow = true;
    m_shared.m_wake.notify();
    StartNextResolve();
    return true;
}

void QueueController::logUnsaved(QueueStore::File file, FileResult result) const
{
    if (!result)
        logFailure("saving " + queueFileName(file) + " in " + m_store.folderOf(file), errnoText(result.error()),
                   m_ending ? "the file keeps what it held before" : "trying again in " + secondsText(kSaveRetryPause));
}

void QueueController::logNotTaken(const RawEntry& text, FileResult result) const
{
    logFailure("keeping the request \"" + text + "\" in " + queueFileName(QueueStore::File::RawQueue) + " in "
                   + m_store.folderOf(QueueStore::File::RawQueue),
               errnoText(result.error()), "the request is not taken; whoever brought it keeps it");
}

void QueueController::dropLastRawEntry()
{
    EntryList<RawEntryItem> kept;
    for (const RawEntryItem* entry = m_rawEntries.GetHead(); entry && entry->next; entry = entry->next.get())
        kept.AddTail(std::make_unique<RawEntryItem>(entry->text));
    m_rawEntries = std::move(kept);
}

void QueueController::warnNotWritten(const std::string& folder, FileResult result)
{
    if (std::exchange(m_warnedNotWritten, true))
        return;
    m_view.warn("Quavero cannot write its queue in the folder\n" + folder + "\n(" + result.reason()
                    + ").\n\nNothing is lost: what could not be written is kept, and written as soon as the "
                      "folder takes it. Track requests opened meanwhile are not taken; open them again then.",
                "Quavero Music Manager");
}

bool QueueController::onCopyData(const RawEntry& text)
{
    const bool taken = AddRawEntry(text);
    StartNextDownload();
    return taken;
}

void QueueController::takeHandOvers(const RequestInbox& inbox)
{
    // They wait where they are until the raw entries are loaded: a window that
    // handed over to a newer executable leaves them to it.
    if (!m_rawQueueLoaded)
        return;
    for (const RequestInbox::Letter& letter : inbox.pendingLetters()) {
        if (AddRawEntry(letter.text) || !isStorableRawEntry(letter.text))
            inbox.removeLetter(letter);
        else
            break; // the disk is full: the rest waits too, in its order
    }
    StartNextDownload();
}

// No list is read here: the window takes in the names the change came with.
void QueueController::onFolderChanged()
{
    // A track that waits for room in a full folder is tried at once when room came
    // (the user deleted something): not on the changes its own writes make.
    if (m_folderFull) {
        const auto space = folderSpace(downloadFolder());
        if (!space || space->available > m_shared.settings.diskReserve(space->total) + kRoomWorthATry) {
            m_folderFull = false;
            m_shared.m_retryDownloadNow = true;
            m_shared.m_wake.notify();
        }
    }
}

void QueueController::onDownloadFinished(const DownloadReport& report)
{
    // As for a resolve: a report of no job is about no track.
    if (!m_bDownloading)
        return;
    m_gates.takeBack(Gate::Download);
    m_bDownloading = false;
    m_view.ResetProgress();
    // A pause the user has lifted again before this report came does not hold
    // the queue up: the report then counts as an ordinary one.
    if (report.paused && m_shared.m_bPaused) {
        m_view.setStatus(kDownloadingPaused);
        return;
    }
    // The queue may have changed while the downloader worked: the report is about
    // the item it was handed, and acts only while that item is still queued.
    const std::int64_t reported = m_queue.findAddress(m_shared.m_strCurUrl);
    bool asked = false;
    bool done = false;
    if (report.cleared) {
        asked = m_clearTarget.isFor(m_shared.m_strCurUrl);
        if (asked)
            removeAllQueued();
        m_clearTarget.withdraw();
    } else if (report.cancelled) {
        asked = reported >= 0 && m_cancelTarget.isFor(m_shared.m_strCurUrl);
        if (asked)
            removeQueued(static_cast<std::uint32_t>(reported));
        m_cancelTarget.withdraw();
    } else if (report.outcome == DownloadReport::Outcome::Done && reported >= 0) {
        done = true;
        m_view.trackArrived(m_queue.GetAt(static_cast<std::uint32_t>(reported))->title);
        removeQueued(static_cast<std::uint32_t>(reported));
    } else if (report.outcome == DownloadReport::Outcome::SetAside && reported >= 0) {
        // It keeps its place in the queue and its file; the tracks behind it go on.
        setAside(m_trackWaits, trackIdentity(m_shared.m_strCurUrl));
    }
    // A track that arrived shows the folder works: its next trouble is news.
    if (report.outcome == DownloadReport::Outcome::Done)
        m_warnedFolderUnavailable = false;
    if (report.outcome != DownloadReport::Outcome::FolderUnavailable)
        m_folderFull = false;
    if (asked || m_downloadQueueUnsaved)
        SaveDownloadQueue();
    else if (done)
        saveDownloadQueueSoon();
    StartNextDownload();
    // A pause that came too late for this report still shows once the download
    // has stopped.
    if (m_shared.m_bPaused && !m_queue.isEmpty())
        m_view.setStatus(kDownloadingPaused);
}

void QueueController::onEntryResolved(ResolveReport report)
{
    using Outcome = ResolveReport::Outcome;
    // A report of a job that was never handed over (a gate the window could not
    // take back) is about no request: the one waiting at the head must not go.
    if (!m_bResolving)
        return;
    m_gates.takeBack(Gate::Resolve);
    m_bResolving = false;
    const bool wasOffline = std::exchange(m_bResolverOffline, report.outcome == Outcome::NetworkError);
    if (report.outcome == Outcome::SetAside)
        setAside(m_requestWaits, m_shared.m_strCurRawEntry);
    if (report.outcome == Outcome::Consumed || report.outcome == Outcome::Refused) {
        // A request leaves the raw queue only once its track is on disk in the
        // download queue, so that a crash or a full disk between the two saves
        // leaves it in both rather than in neither; resolved again, its track is
        // found queued and it is dropped, as is any track queued already. A track
        // of a queued title but another address is another track.
        const bool added = report.item && m_queue.findAddress(report.item->url) < 0;
        if (report.outcome == Outcome::Refused && !m_shared.m_strCurRawEntry.empty())
            m_view.tellRefused(m_shared.m_strCurRawEntry);
        {
            std::lock_guard job(m_shared.m_jobMutex);
            m_shared.m_strCurRawEntry.clear();
        }
        ++m_resolvedUnsaved;
        if (added) {
            m_queue.AddTail(std::make_unique<QueueItem>(std::move(report.item->title), std::move(report.item->url)));
            ++m_queueChanges;
            ++m_queueUnsavedTail;
            m_view.showRowsAdded(m_queue, m_queue.getCount() - 1, 1);
            saveDownloadQueueSoon();
            StartNextDownload();
        } else if (m_resolvedUnsaved == 1) {
            // No track of an earlier request waits to be saved, so the download-queue
            // file holds the one this request duplicates.
            m_rawEntries.RemoveHead();
            m_resolvedUnsaved = 0;
            ++m_rawRemovals;
            saveRawQueueSoon();
        }
    }
    if (!m_bResolverOffline && m_queue.isEmpty())
        m_view.setStatus(kNoFilesInQueue);
    // The store answers again: the downloads held back meanwhile go on, whether or
    // not this answer brought a track.
    else if (wasOffline && !m_bResolverOffline)
        StartNextDownload();
    StartNextResolve();
}

void QueueController::onFolderUnavailable(const std::string& folder, int error)
{
    const bool full = error == ENOSPC || error == EDQUOT;
    m_folderFull = full;
    m_view.setStatus(full ? kDownloadFolderFull : kDownloadFolderUnavailable);
    if (std::exchange(m_warnedFolderUnavailable, true))
        return;
    if (folder.empty()) {
        m_view.warn("No download folder is chosen. Choose one: the tracks stay in the queue until then.",
                    "Quavero Music Manager");
        return;
    }
    m_view.warn("Quavero cannot download into the folder\n" + folder + "\n(" + FileResult::failed(error).reason()
                    + ").\n\nThe tracks stay in the queue, and downloading goes on by itself once "
                    + (full ? "there is room in the folder again." : "the folder can be used again."),
                "Quavero Music Manager");
}

bool QueueController::onThreadExited(std::int32_t bit)
{
    m_nExitedThreads |= bit;
    return m_nExitedThreads == THREAD_BITS_ALL;
}

void QueueController::removeTrack(int selected)
{
    if (selected < 0) {
        m_view.ask("Please choose a track in the download queue to remove.", "No track selected",
                   QueueView::Buttons::Ok);
        return;
    }
    // Only the track in download asks: it stops first. Those set aside wait,
    // and go at once like the others.
    const std::int64_t current = inDownload();
    if (selected != current || m_shared.m_bPaused) {
        removeQueued(static_cast<std::uint32_t>(selected));
        dropStaleRequests();
        SaveDownloadQueue();
        return;
    }
    // The box runs the window's events: the track may finish, and the next one
    // start, before the answer comes. The answer is about the track that was asked.
    const std::string url = m_queue.GetAt(static_cast<std::uint32_t>(current))->url;
    const bool confirmed = m_view.ask(
        "The track that you've chosen to remove is currently in the process of downloading.\n"
        "Are you sure you want to cancel the current download?",
        "Remove Current Download?", QueueView::Buttons::OkCancel);
    const std::int64_t now = inDownload();
    if (confirmed && now >= 0
        && trackIdentity(m_queue.GetAt(static_cast<std::uint32_t>(now))->url) == trackIdentity(url))
        m_cancelTarget.aimAt(url);
    m_shared.m_wake.notify();
}

void QueueController::clearQueue()
{
    if (m_queue.isEmpty())
        return;
    const bool confirmed = m_view.ask("Are you sure you want to remove ALL tracks from the download queue?",
                                      "Clear Download Queue?", QueueView::Buttons::YesNo);
    if (!confirmed || m_queue.isEmpty())
        return;
    // With no track in download (all are set aside), nothing needs to stop first.
    const std::int64_t current = inDownload();
    if (m_shared.m_bPaused || current < 0) {
        removeAllQueued();
        dropStaleRequests();
        SaveDownloadQueue();
    } else {
        m_clearTarget.aimAt(m_queue.GetAt(static_cast<std::uint32_t>(current))->url);
        m_shared.m_wake.notify();
    }
}

void QueueController::chooseDownloadFolder()
{
    const std::string current = downloadFolder();
    const std::optional<std::string> chosen = m_view.chooseFolder("Choose a download folder", current);
    if (!chosen || chosen->empty() || *chosen == current)
        return;
    // The user's choice holds for this window whatever becomes of the settings file:
    // only keeping it for the next start can fail, and then the user hears why.
    const SettingResult written = m_writeDownloadFolder ? m_writeDownloadFolder(*chosen)
                                                        : SettingResult::failed("nothing stores the settings");
    if (!written) {
        logFailure("storing the download folder " + *chosen + " in the settings", written.why(),
                   "the folder is used until the window closes");
        m_view.warn("Tracks go into the folder\n" + *chosen + "\nfrom now on, but Quavero could not keep it for its next start ("
                        + written.why() + ").",
                    "Quavero Music Manager");
    }
    m_shared.m_downloadFolder.set(*chosen);
    m_view.showFolder(*chosen);
    m_view.RefreshFileList(*chosen);
    m_shared.m_bFolderChanged = true;
    m_gates.pokeFolderWatcher();
    // A track that waits out a folder that could not take it is tried in this one
    // now, and this folder's own trouble is news.
    m_warnedFolderUnavailable = false;
    m_shared.m_retryDownloadNow = true;
    m_shared.m_wake.notify();
}

void QueueController::resumeDownloads()
{
    // The store is asked again now for the requests too, those that wait out its
    // failure or were set aside, whether or not a track is queued yet.
    m_shared.m_retryResolveNow = true;
    m_shared.m_wake.notify();
    for (auto& [request, wait] : m_requestWaits)
        wait.until = {};
    StartNextResolve();
    if (m_queue.isEmpty()) {
        m_view.setStatus(kNoFilesInQueue);
        return;
    }
    m_view.showLatched(true, false);
    m_shared.m_bPaused = false;
    // A download that waits out a failure is tried again now, as are the tracks
    // set aside.
    m_shared.m_retryDownloadNow = true;
    m_shared.m_wake.notify();
    for (auto& [track, wait] : m_trackWaits)
        wait.until = {};
    StartNextDownload();
}

void QueueController::pauseDownloads()
{
    if (m_queue.isEmpty())
        return;
    m_view.showLatched(false, true);
    m_shared.m_bPaused = true;
    m_shared.m_wake.notify();
    if (!m_bDownloading)
        m_view.setStatus(kDownloadingPaused);
}

void QueueController::dropStaleRequests()
{
    // A cancel or clear aims at the track that was in download when it was asked
    // for; once that track has left the queue, it aims at nothing.
    for (PendingRequest* request : {&m_cancelTarget, &m_clearTarget}) {
        if (request->isSet() && request->findIn(m_queue) < 0)
            request->withdraw();
    }
}

bool QueueController::settleRequestsBefore(const QueueItem& next)
{
    bool changed = false;
    if (m_clearTarget.isSet() && !m_clearTarget.isFor(next.url)) {
        removeAllQueued();
        changed = true;
    } else if (m_cancelTarget.isSet() && !m_cancelTarget.isFor(next.url)) {
        removeQueued(static_cast<std::uint32_t>(m_cancelTarget.findIn(m_queue)));
        changed = true;
    }
    if (!changed)
        return false;
    m_clearTarget.withdraw();
    m_cancelTarget.withdraw();
    SaveDownloadQueue();
    return true;
}

void QueueController::retryWaiting()
{
    if (!m_queue.isEmpty())
        StartNextDownload();
    StartNextResolve();
}

void QueueController::setAside(Waits& waits, const std::string& key)
{
    Wait& wait = waits.try_emplace(key, Wait {RetryPause(m_shared.settings.retryPause), {}}).first->second;
    wait.until = m_now() + wait.pauses.after(key);
}

bool QueueController::isWaiting(const Waits& waits, const std::string& key, std::chrono::steady_clock::time_point now)
{
    const auto wait = waits.find(key);
    return wait != waits.end() && wait->second.until > now;
}

void QueueController::scheduleWaits(std::chrono::steady_clock::time_point now)
{
    std::erase_if(m_trackWaits, [&](const auto& wait) { return m_queue.findAddress(wait.first) < 0; });
    std::erase_if(m_requestWaits, [&](const auto& wait) {
        for (const RawEntryItem* entry = m_rawEntries.GetHead(); entry; entry = entry->next.get())
            if (entry->text == wait.first)
                return false;
        return true;
    });
    std::optional<std::chrono::steady_clock::time_point> earliest;
    for (const Waits* waits : {&m_trackWaits, &m_requestWaits}) {
        for (const auto& [key, wait] : *waits)
            if (wait.until > now && (!earliest || wait.until < *earliest))
                earliest = wait.until;
    }
    if (earliest)
        m_view.retryWaitingAfter(std::chrono::ceil<std::chrono::milliseconds>(*earliest - now));
}

std::int64_t QueueController::nextDownload(std::chrono::steady_clock::time_point now) const
{
    if (m_trackWaits.empty())
        return m_queue.isEmpty() ? -1 : 0;
    std::int64_t index = 0;
    for (const QueueItem* item = m_queue.GetHead(); item; item = item->next.get(), ++index) {
        if (!isWaiting(m_trackWaits, trackIdentity(item->url), now))
            return index;
    }
    return -1;
}

std::int64_t QueueController::inDownload() const
{
    return m_bDownloading ? m_queue.findAddress(m_shared.m_strCurUrl) : nextDownload(m_now());
}

void QueueController::moveRawEntry(std::uint32_t from, std::uint32_t to)
{
    // Moved, not copied: a request may be long.
    std::vector<RawEntry> texts;
    texts.reserve(m_rawEntries.getCount());
    for (RawEntryItem* entry = m_rawEntries.GetHead(); entry; entry = entry->next.get())
        texts.push_back(std::move(entry->text));
    const auto at = [&](std::uint32_t index) { return texts.begin() + static_cast<std::ptrdiff_t>(index); };
    if (from > to)
        std::rotate(at(to), at(from), at(from + 1));
    m_rawEntries.RemoveAll();
    for (RawEntry& text : texts)
        m_rawEntries.AddTail(std::make_unique<RawEntryItem>(std::move(text)));
}

} // namespace qvr
