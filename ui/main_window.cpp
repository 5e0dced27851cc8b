#include "ui/main_window.h"

#include "engine/file_list.h"
#include "engine/queue_files.h"
#include "engine/store_request.h"
#include "engine/workers.h"
#include "platform/handoff.h"
#include "ui/layout.h"
#include "ui/message_pump.h"
#include "ui/system_menu.h"

#include <QFile>
#include <QLabel>
#include <QListWidget>

namespace qvr {

namespace {

// Where an entry of the downloaded-files list keeps its name's bytes.
constexpr int kEntryBytesRole = Qt::UserRole;

} // namespace

MessageSink& CquaveromfcDlg::messageSink()
{
    return *m_pump;
}

// Runs on the hand-off server's thread. Another process may send only what a
// second start sends; the request text is one line, taken up to its first NUL.
std::int64_t CquaveromfcDlg::DeliverFromOutside(const HandoffMessage& message)
{
    switch (message.message) {
    case WM_SYSCOMMAND:
        if (message.wParam != SC_RESTORE)
            return 0;
        return Send(*m_pump, msg::SysCommand {SC_RESTORE});
    case WM_SWITCH_QUIT:
        return Send(*m_pump, msg::SwitchQuit {});
    case WM_COPYDATA: {
        const std::string text = message.data.substr(0, message.data.find('\0'));
        if (message.dataTag != COPYDATA_RAW_ENTRY || text.empty())
            return 0;
        const CopyDataStruct data {COPYDATA_RAW_ENTRY, static_cast<std::uint32_t>(text.size() + 1), text.c_str()};
        return Send(*m_pump, msg::CopyData {&data});
    }
    default:
        return 0;
    }
}

std::intptr_t CquaveromfcDlg::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    const MessageParams params {wParam, lParam};
    switch (message) {
    case WM_FOLDER_CHANGED:
        if (!m_bDownloading || m_bRefreshOnce) {
            RefreshFileList();
            if (m_bDownloading)
                m_bRefreshOnce = false;
        }
        break;
    case WM_SET_STATUS:
        SetStatus(msg::SetStatus::unpack(params).value);
        break;
    case WM_DOWNLOAD_PROGRESS:
        SetProgress(msg::DownloadProgress::unpack(params).value);
        break;
    case WM_DOWNLOAD_FINISHED:
        OnDownloadFinished(msg::DownloadFinished::unpack(params).value);
        break;
    case WM_FILE_OPEN_FAILED:
        OnFileOpenFailed(msg::FileOpenFailed::unpack(params).value);
        break;
    case WM_SWITCH_QUIT:
        m_bSwitchQuit = true;
        done(0);
        break;
    case WM_ENTRY_RESOLVED:
        OnEntryResolved(msg::EntryResolved::unpack(params));
        break;
    case WM_THREAD_EXITED:
        m_nExitedThreads |= msg::ThreadExited::unpack(params).value;
        if (m_nExitedThreads == THREAD_BITS_ALL)
            done(0);
        break;
    case WM_COPYDATA:
        OnCopyData(msg::CopyData::unpack(params).value);
        break;
    case WM_SYSCOMMAND:
        OnSysCommand(msg::SysCommand::unpack(params).command);
        break;
    default:
        break;
    }
    return 0;
}

void CquaveromfcDlg::OnSysCommand(std::uintptr_t command)
{
    if (OpensAboutBox(command)) {
        OnAbout();
        return;
    }
    switch (command) {
    case SC_RESTORE:
        if (!m_bShowAllowed)
            break;
        if (isMinimized())
            showNormal();
        raise();
        activateWindow();
        break;
    case SC_MINIMIZE:
        showMinimized();
        break;
    case SC_CLOSE:
        // The dialog's own end, as Escape: the end of the window lets the workers go.
        reject();
        break;
    default:
        // Move is never enabled: a drag on the skin moves the window.
        break;
    }
}

void CquaveromfcDlg::OnDownloadFinished(std::int32_t flags)
{
    m_workers.takeBack(WorkerSet::Gate::Download);
    m_bDownloading = false;
    ResetProgress();
    // A pause the user has lifted again before this report came does not hold
    // the queue up: the report then counts as an ordinary one.
    if ((flags & DLF_PAUSED) && m_shared.m_bPaused) {
        SetStatus(kDownloadingPaused);
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
    RefillQueueList();
    SaveDownloadQueue();
    StartNextDownload();
    // A pause that came too late for this report still shows once the download
    // has stopped.
    if (m_shared.m_bPaused && !m_queue.IsEmpty())
        SetStatus(kDownloadingPaused);
}

void CquaveromfcDlg::OnEntryResolved(const msg::EntryResolved& report)
{
    std::unique_ptr<QueueItem>* const item = report.item;
    const std::int32_t flags = report.flags;
    m_workers.takeBack(WorkerSet::Gate::Resolve);
    m_bResolving = false;
    m_bResolverOffline = (flags & RSF_NETWORK_ERROR) != 0;
    if (flags & RSF_CONSUMED) {
        m_shared.m_strCurRawEntry.clear();
        m_rawEntries.RemoveHead();
        SaveRawQueue();
        // An item whose title is already queued stays with the resolver, which
        // frees it.
        if (item && *item && m_queue.FindTitle((*item)->title) < 0) {
            m_queue.AddTail(std::move(*item));
            RefillQueueList();
            SaveDownloadQueue();
            StartNextDownload();
        }
    }
    if (!m_bResolverOffline && m_queue.IsEmpty())
        SetStatus(kNoFilesInQueue);
    StartNextResolve();
}

void CquaveromfcDlg::OnFileOpenFailed(const char* path)
{
    const std::string text = FormatStrings(
        "Unable to open file: %s for writing!\n\nPlease close any application that currently "
        "accesses that file and try again.",
        {path ? path : ""});
    m_prompts->messageBox(this, text, "File error!", MB_OK);
}

void CquaveromfcDlg::OnCopyData(const CopyDataStruct* data)
{
    if (!data || data->dwData != COPYDATA_RAW_ENTRY || !data->lpData)
        return;
    AddRawEntry(static_cast<const char*>(data->lpData));
    StartNextDownload();
}

void CquaveromfcDlg::StartNextDownload()
{
    const QueueItem* head = m_queue.GetHead();
    if (!head) {
        SetStatus(kNoFilesInQueue);
        return;
    }
    if (m_bDownloading || m_shared.m_bPaused || m_bResolverOffline)
        return;
    DropStaleRequests();
    m_shared.m_strCurTitle = head->title;
    m_shared.m_strCurUrl = head->url;
    m_bRefreshOnce = true;
    m_bDownloading = true;
    m_workers.handOver(WorkerSet::Gate::Download);
}

void CquaveromfcDlg::StartNextResolve()
{
    const RawEntryItem* head = m_rawEntries.GetHead();
    if (!head || m_bResolving)
        return;
    m_shared.m_strCurRawEntry = head->text;
    m_bResolving = true;
    m_workers.handOver(WorkerSet::Gate::Resolve);
}

void CquaveromfcDlg::AddRawEntry(const RawEntry& text)
{
    // An empty request would be handed to the resolver again and again, and one
    // with a line break could not be kept in the raw-queue file.
    if (!IsStorableRawEntry(text))
        return;
    if (m_bRequestsToFile) {
        AppendRawQueue(text, m_app.m_strRawQueuePath);
        return;
    }
    m_rawEntries.AddTail(std::make_unique<RawEntryItem>(text));
    // Saved at once: a request lives in memory only as long as the process does.
    SaveRawQueue();
    StartNextResolve();
}

void CquaveromfcDlg::RefillQueueList()
{
    auto* list = m_controls.control<QListWidget>(IDC_QUEUE_LIST);
    if (!list)
        return;
    list->clear();
    for (const QueueItem* item = m_queue.GetHead(); item; item = item->next.get())
        list->addItem(QString::fromStdString(item->title));
}

void CquaveromfcDlg::RefreshFileList()
{
    auto* list = m_controls.control<QListWidget>(IDC_FILE_LIST);
    const std::string folder = m_shared.m_downloadFolder.get();
    if (!list || folder.empty())
        return;
    const QListWidgetItem* selected = list->currentItem();
    const std::optional<std::string> remembered = selected && selected->isSelected()
        ? std::optional(FileEntryName(*selected))
        : std::nullopt;
    list->clear();
    const std::vector<std::string> entries = ListDownloadedFiles(folder);
    for (const std::string& entry : entries) {
        // A name need not be valid text: it is shown as well as it can be, and
        // its bytes are kept for opening and finding it again.
        auto* item = new QListWidgetItem(QFile::decodeName(QByteArray::fromStdString(entry)), list);
        item->setData(kEntryBytesRole, QByteArray::fromStdString(entry));
    }
    if (remembered) {
        const int index = FindStringPrefix(entries, *remembered, 0);
        if (index >= 0)
            list->setCurrentRow(index);
    }
}

void CquaveromfcDlg::ResetProgress()
{
    if (auto* bar = m_controls.control(IDC_PROGRESS_BAR))
        bar->setGeometry(kProgressBarOrigin);
    if (auto* percent = m_controls.control<QLabel>(IDC_PERCENT_TEXT))
        percent->setText("0%");
}

void CquaveromfcDlg::SetProgress(int percent)
{
    if (auto* text = m_controls.control<QLabel>(IDC_PERCENT_TEXT))
        text->setText(QString::number(percent) + "%");
    if (auto* bar = m_controls.control(IDC_PROGRESS_BAR)) {
        QRect place = kProgressBarOrigin;
        place.setWidth(ProgressBarWidth(percent));
        bar->setGeometry(place);
    }
}

void CquaveromfcDlg::SetStatus(const std::string& text)
{
    if (auto* status = m_controls.control<QLabel>(IDC_STATUS_TEXT))
        status->setText(QString::fromStdString(text));
}

void CquaveromfcDlg::LoadDownloadQueue()
{
    qvr::LoadDownloadQueue(m_queue, m_app.m_strDownloadQueuePath);
}

void CquaveromfcDlg::SaveDownloadQueue()
{
    qvr::SaveDownloadQueue(m_queue, m_app.m_strDownloadQueuePath);
}

void CquaveromfcDlg::LoadRawQueue()
{
    qvr::LoadRawQueue(m_rawEntries, m_app.m_strRawQueuePath);
}

void CquaveromfcDlg::SaveRawQueue()
{
    qvr::SaveRawQueue(m_rawEntries, m_app.m_strRawQueuePath);
}

void CquaveromfcDlg::DropStaleRequests()
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

std::string CquaveromfcDlg::FileEntryName(const QListWidgetItem& item)
{
    return item.data(kEntryBytesRole).toByteArray().toStdString();
}

} // namespace qvr
