#include "engine/queue_controller.h"

#include "engine/message_box.h"
#include "engine/messages.h"
#include "engine/queue_files.h"
#include "engine/workers.h"

#include <utility>

namespace qvr {

using Gate = WorkerGates::Gate;

QueueFiles::QueueFiles(std::string downloadQueuePath, std::string rawQueuePath)
    : m_downloadQueuePath(std::move(downloadQueuePath)), m_rawQueuePath(std::move(rawQueuePath))
{
}

bool QueueFiles::LoadDownloadQueue(EntryList<QueueItem>& queue)
{
    return qvr::LoadDownloadQueue(queue, m_downloadQueuePath);
}

bool QueueFiles::SaveDownloadQueue(const EntryList<QueueItem>& queue)
{
    return qvr::SaveDownloadQueue(queue, m_downloadQueuePath);
}

bool QueueFiles::LoadRawQueue(EntryList<RawEntryItem>& entries)
{
    return qvr::LoadRawQueue(entries, m_rawQueuePath);
}

bool QueueFiles::SaveRawQueue(const EntryList<RawEntryItem>& entries)
{
    return qvr::SaveRawQueue(entries, m_rawQueuePath);
}

bool QueueFiles::AppendRawQueue(std::string_view text)
{
    return qvr::AppendRawQueue(text, m_rawQueuePath);
}

QueueController::QueueController(QueueView& view, WorkerGates& gates, WorkerShared& shared, QueueStore& store,
                                 FolderWriter writeDownloadFolder)
    : m_view(view), m_gates(gates), m_shared(shared), m_store(store),
      m_writeDownloadFolder(std::move(writeDownloadFolder))
{
}

void QueueController::LoadDownloadQueue()
{
    m_store.LoadDownloadQueue(m_queue);
    m_view.ShowQueue(m_queue);
}

void QueueController::LoadRawQueue()
{
    m_store.LoadRawQueue(m_rawEntries);
    m_bRawQueueLoaded = true;
}

void QueueController::SaveDownloadQueue()
{
    m_store.SaveDownloadQueue(m_queue);
}

void QueueController::SaveRawQueue()
{
    m_store.SaveRawQueue(m_rawEntries);
}

void QueueController::SaveAtEnd()
{
    // A list never loaded is not the file's whole content.
    if (!m_bSwitchQuit && m_bRawQueueLoaded)
        SaveRawQueue();
}

std::string QueueController::downloadFolder() const
{
    return m_shared.m_downloadFolder.get();
}

void QueueController::StartNextDownload()
{
    const QueueItem* head = m_queue.GetHead();
    if (!head) {
        m_view.SetStatus(kNoFilesInQueue);
        return;
    }
    if (m_bDownloading || m_shared.m_bPaused || m_bResolverOffline)
        return;
    DropStaleRequests();
    m_shared.m_strCurTitle = head->title;
    m_shared.m_strCurUrl = head->url;
    m_bRefreshOnce = true;
    m_bDownloading = true;
    m_gates.handOver(Gate::Download);
}

void QueueController::StartNextResolve()
{
    const RawEntryItem* head = m_rawEntries.GetHead();
    if (!head || m_bResolving)
        return;
    m_shared.m_strCurRawEntry = head->text;
    m_bResolving = true;
    m_gates.handOver(Gate::Resolve);
}

bool QueueController::AddRawEntry(const RawEntry& text)
{
    // An empty request would be handed to the resolver again and again, and one
    // with a line break could not be kept in the raw-queue file.
    if (!IsStorableRawEntry(text))
        return false;
    if (!m_bRawQueueLoaded) {
        if (m_store.AppendRawQueue(text))
            return true;
        WarnNotKept();
        return false;
    }
    // A request is taken only once it is on disk: a request that lives in memory
    // only is lost with the process, and whoever handed it over would believe it
    // safe. One that cannot be saved is not taken; its sender keeps it.
    m_rawEntries.AddTail(std::make_unique<RawEntryItem>(text));
    if (!m_store.SaveRawQueue(m_rawEntries)) {
        DropLastRawEntry();
        WarnNotKept();
        return false;
    }
    StartNextResolve();
    return true;
}

void QueueController::DropLastRawEntry()
{
    EntryList<RawEntryItem> kept;
    for (const RawEntryItem* entry = m_rawEntries.GetHead(); entry && entry->next; entry = entry->next.get())
        kept.AddTail(std::make_unique<RawEntryItem>(entry->text));
    m_rawEntries = std::move(kept);
}

void QueueController::WarnNotKept()
{
    if (std::exchange(m_bWarnedNotKept, true))
        return;
    m_view.Warn("A track request could not be saved, so it was not taken. The disk may be full.\n\n"
                "Make room on the disk, then open the request file again.",
                "Quavero Music Manager");
}

bool QueueController::OnCopyData(const RawEntry& text)
{
    const bool taken = AddRawEntry(text);
    StartNextDownload();
    return taken;
}

void QueueController::TakeHandOvers(const RequestInbox& inbox)
{
    // They wait where they are until the raw entries are loaded: a window that
    // handed over to a newer executable leaves them to it.
    if (!m_bRawQueueLoaded)
        return;
    for (const RequestInbox::Letter& letter : inbox.Pending()) {
        if (AddRawEntry(letter.text) || !IsStorableRawEntry(letter.text))
            inbox.Remove(letter);
        else
            break; // the disk is full: the rest waits too, in its order
    }
    StartNextDownload();
}

void QueueController::OnFolderChanged()
{
    if (!m_bDownloading || m_bRefreshOnce) {
        m_view.RefreshFileList(downloadFolder());
        if (m_bDownloading)
            m_bRefreshOnce = false;
    }
}

void QueueController::OnDownloadFinished(std::int32_t flags)
{
    m_gates.takeBack(Gate::Download);
    m_bDownloading = false;
    m_view.ResetProgress();
    // A pause the user has lifted again before this report came does not hold
    // the queue up: the report then counts as an ordinary one.
    if ((flags & DLF_PAUSED) && m_shared.m_bPaused) {
        m_view.SetStatus(kDownloadingPaused);
        return;
    }
    // The queue may have changed while the downloader worked: the report is about
    // the item it was handed, and acts only while that item is still the head.
    const QueueItem* head = m_queue.GetHead();
    const bool headReported = head && head->title == m_shared.m_strCurTitle;
    if (flags & DLF_CLEAR_QUEUE) {
        if (m_clearTarget == m_shared.m_strCurTitle)
            m_queue.RemoveAll();
        m_clearTarget.reset();
        m_shared.m_bClearQueue = false;
    } else if (flags & DLF_CANCEL_CURRENT) {
        if (headReported && m_cancelTarget == m_shared.m_strCurTitle)
            m_queue.RemoveHead();
        m_cancelTarget.reset();
        m_shared.m_bCancelCurrent = false;
    } else if ((flags & DLF_DONE) && headReported) {
        m_queue.RemoveHead();
    }
    m_view.ShowQueue(m_queue);
    SaveDownloadQueue();
    StartNextDownload();
    // A pause that came too late for this report still shows once the download
    // has stopped.
    if (m_shared.m_bPaused && !m_queue.IsEmpty())
        m_view.SetStatus(kDownloadingPaused);
}

void QueueController::OnEntryResolved(std::unique_ptr<QueueItem>* item, std::int32_t flags)
{
    m_gates.takeBack(Gate::Resolve);
    m_bResolving = false;
    m_bResolverOffline = (flags & RSF_NETWORK_ERROR) != 0;
    if (flags & RSF_CONSUMED) {
        // The track is on disk in the download queue before its request leaves the
        // raw queue, so that a crash between the two saves leaves it in both rather
        // than in neither; resolved again, its title is found queued and it is
        // dropped. An item whose title is already queued stays with the resolver,
        // which frees it.
        const bool added = item && *item && m_queue.FindTitle((*item)->title) < 0;
        if (added) {
            m_queue.AddTail(std::move(*item));
            m_view.ShowQueue(m_queue);
            SaveDownloadQueue();
        }
        m_shared.m_strCurRawEntry.clear();
        m_rawEntries.RemoveHead();
        SaveRawQueue();
        if (added)
            StartNextDownload();
    }
    if (!m_bResolverOffline && m_queue.IsEmpty())
        m_view.SetStatus(kNoFilesInQueue);
    StartNextResolve();
}

bool QueueController::OnThreadExited(std::int32_t bit)
{
    m_nExitedThreads |= bit;
    return m_nExitedThreads == THREAD_BITS_ALL;
}

void QueueController::Remove(int selected)
{
    if (selected < 0) {
        m_view.Ask("Please choose a track in the download queue to remove.", "No track selected", MB_OK);
        return;
    }
    if (selected != 0 || m_shared.m_bPaused) {
        m_queue.RemoveAt(static_cast<std::uint32_t>(selected));
        DropStaleRequests();
        m_view.ShowQueue(m_queue);
        SaveDownloadQueue();
        return;
    }
    const QueueItem* asked = m_queue.GetHead();
    if (!asked)
        return;
    // The box runs the window's events: the track may finish, and the next one
    // start, before the answer comes. The answer is about the track that was asked.
    const std::string title = asked->title;
    const int answer = m_view.Ask(
        "The track that you've chosen to remove is currently in the process of downloading.\n"
        "Are you sure you want to cancel the current download?",
        "Remove Current Download?", MB_OKCANCEL);
    const QueueItem* head = m_queue.GetHead();
    if (answer == IDOK && head && head->title == title) {
        m_cancelTarget = title;
        m_shared.m_bCancelCurrent = true;
    }
}

void QueueController::Clear()
{
    if (m_queue.IsEmpty())
        return;
    const int answer = m_view.Ask("Are you sure you want to remove ALL tracks from the download queue?",
                                  "Clear Download Queue?", MB_YESNO);
    if (answer != IDYES || m_queue.IsEmpty())
        return;
    if (m_shared.m_bPaused) {
        m_queue.RemoveAll();
        DropStaleRequests();
        m_view.ShowQueue(m_queue);
        SaveDownloadQueue();
    } else {
        m_clearTarget = m_queue.GetHead()->title;
        m_shared.m_bClearQueue = true;
    }
}

void QueueController::ChooseFolder()
{
    const std::string current = downloadFolder();
    const std::optional<std::string> chosen = m_view.ChooseFolder("Choose a download folder", current);
    if (!chosen || chosen->empty() || *chosen == current)
        return;
    // The settings first: a folder that cannot be kept is not taken.
    if (!m_writeDownloadFolder || m_writeDownloadFolder(*chosen) != 0)
        return;
    m_shared.m_downloadFolder.set(*chosen);
    m_view.ShowFolder(*chosen);
    m_view.RefreshFileList(*chosen);
    m_shared.m_bFolderChanged = true;
    m_gates.pokeFolderWatcher();
}

void QueueController::Resume()
{
    if (m_queue.IsEmpty()) {
        m_view.SetStatus(kNoFilesInQueue);
        return;
    }
    m_view.ShowLatched(true, false);
    m_shared.m_bPaused = false;
    StartNextDownload();
}

void QueueController::Pause()
{
    if (m_queue.IsEmpty())
        return;
    m_view.ShowLatched(false, true);
    m_shared.m_bPaused = true;
    if (!m_bDownloading)
        m_view.SetStatus(kDownloadingPaused);
}

void QueueController::DropStaleRequests()
{
    // A cancel or clear aims at the track that was current when it was asked for;
    // once that track has left the head of the queue, it aims at nothing.
    const QueueItem* head = m_queue.GetHead();
    const auto stale = [head](const std::optional<std::string>& target) {
        return target && (!head || head->title != *target);
    };
    if (stale(m_cancelTarget)) {
        m_cancelTarget.reset();
        m_shared.m_bCancelCurrent = false;
    }
    if (stale(m_clearTarget)) {
        m_clearTarget.reset();
        m_shared.m_bClearQueue = false;
    }
}

} // namespace qvr
