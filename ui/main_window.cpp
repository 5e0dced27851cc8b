#include "ui/main_window.h"

#include "engine/file_list.h"
#include "engine/queue_files.h"
#include "engine/store_request.h"
#include "platform/handoff.h"
#include "ui/downloaded_files.h"
#include "ui/layout.h"
#include "ui/message_pump.h"
#include "ui/system_menu.h"
#include "ui/uniform_rows.h"

#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QProgressBar>

#include <algorithm>

namespace qvr {

MessageSink& CquaveromfcDlg::messageSink()
{
    return *m_pump;
}

// Runs on the hand-off server's thread, and never waits for the window's thread:
// that may sit in a network check, a question or a long save, and the second start
// waits for this answer. Another process may send only what a second start sends;
// the request text is one line, taken up to its first NUL.
std::int64_t CquaveromfcDlg::deliverFromOutside(const HandoffMessage& message)
{
    switch (message.message) {
    case WM_SYSCOMMAND:
        if (message.wParam == SC_RESTORE)
            m_pump->postMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
        return 0;
    case WM_SWITCH_QUIT:
        // From the process that takes over, whose pid it carries. Answered at once:
        // what it waits for is this process's end, which the gates tell it.
        m_pump->postMessage(WM_SWITCH_QUIT, 0, message.lParam);
        return 1;
    case WM_TAKEN_OVER:
        if (!m_handover.onTakenOver())
            return 0;
        m_pump->postMessage(WM_TAKEN_OVER, 0, 0);
        return 1;
    case WM_COPYDATA: {
        // A request is one line, as a request file's first line is: what follows
        // a line end could never be kept, and would cost the request itself.
        const std::string text = requestLine(message.data);
        if (message.dataTag != COPYDATA_RAW_ENTRY || text.empty())
            return 0;
        // Acknowledged once it is on disk: from then on a kill of this process
        // cannot lose it, and the window takes it when it is free.
        if (const FileResult deposited = m_publication.inbox().depositRequest(text); !deposited) {
            m_pump->postMessage(WM_HAND_OVER_NOT_KEPT, static_cast<std::uintptr_t>(deposited.error()), 0);
            return 0;
        }
        m_pump->postMessage(WM_HANDED_OVER, 0, 0);
        return 1;
    }
    default:
        return 0;
    }
}

std::intptr_t CquaveromfcDlg::windowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    const MessageParams params {wParam, lParam};
    switch (message) {
    case WM_FOLDER_CHANGED:
        if (const msg::FolderChange* change = msg::FolderChanged::unpack(params).value; change && change->changes)
            changeFileList(change->folder ? change->folder : "", *change->changes);
        m_work.controller().onFolderChanged();
        break;
    case WM_SET_STATUS:
        setStatus(msg::SetStatus::unpack(params).value);
        break;
    case WM_DOWNLOAD_PROGRESS:
        showReportedProgress(msg::DownloadProgress::unpack(params).value);
        break;
    case WM_DOWNLOAD_FINISHED:
        // The attempt has ended (its downloader waits for this): no figure of it is
        // on its way any more, whatever the report is taken for.
        m_progressTimer.stop();
        m_work.shared().m_progress.clear();
        m_work.controller().onDownloadFinished(msg::DownloadFinished::unpack(params).value);
        m_fileRefused = false;
        m_arrivals.settled(m_work.controller().downloading());
        break;
    case WM_FILE_OPEN_FAILED:
        onFileOpenFailed(msg::FileOpenFailed::unpack(params).value);
        break;
    case WM_SWITCH_QUIT:
        // After an update the new version says by WM_TAKEN_OVER that it runs. Its quit
        // comes before that, and may come in after this window has given it up.
        if (m_handover.refusesQuitFrom(lParam))
            break;
        [[fallthrough]];
    case WM_TAKEN_OVER:
        m_work.controller().onSwitchQuit();
        endOnQuit();
        break;
    case WM_ENTRY_RESOLVED: {
        const msg::EntryResolved report = msg::EntryResolved::unpack(params);
        m_work.controller().onEntryResolved(report.take());
        break;
    }
    case WM_THREAD_EXITED: {
        const std::int32_t bit = msg::ThreadExited::unpack(params).value;
        const bool allEnded = m_work.controller().onThreadExited(bit);
        // A list asked of the folder watcher as it ended is read here.
        WorkerShared& shared = m_work.shared();
        if ((bit & THREAD_BIT_WATCHER) && shared.m_listFiles.exchange(false) && !shared.m_bStopThreads)
            RefreshFileList(m_work.controller().downloadFolder());
        // Ended for a newer version: it starts now, and this window waits hidden.
        if (allEnded && m_handover.state() == UpdateHandover::State::Waiting)
            startInstalledVersion();
        else if (allEnded)
            done(0);
        break;
    }
    case WM_FILES_LISTED:
        if (msg::FilesListing* listing = msg::FilesListed::unpack(params).value; listing && listing->entries)
            showFileList(listing->folder ? listing->folder : "", *listing->entries);
        break;
    case WM_COPYDATA: {
        // TRUE once the request is kept, which tells the second start it may go.
        const CopyDataStruct* copy = msg::CopyData::unpack(params).value;
        if (copy && copy->dwData == COPYDATA_RAW_ENTRY && copy->lpData)
            return m_work.controller().onCopyData(static_cast<const char*>(copy->lpData)) ? 1 : 0;
        break;
    }
    case WM_HANDED_OVER:
        m_work.controller().takeHandOvers(m_publication.inbox());
        break;
    case WM_HAND_OVER_NOT_KEPT:
        m_work.controller().onHandOverNotKept(FileResult::failed(static_cast<int>(wParam)));
        break;
    case WM_FOLDER_UNAVAILABLE:
        if (const msg::FolderTrouble* trouble = msg::FolderUnavailable::unpack(params).value)
            m_work.controller().onFolderUnavailable(trouble->folder ? trouble->folder : "", trouble->error);
        break;
    case WM_SYSCOMMAND:
        onSysCommand(msg::SysCommand::unpack(params).command);
        break;
    default:
        break;
    }
    return 0;
}

void CquaveromfcDlg::endOnQuit()
{
    // A box open over the window (the About box, a question) runs an event loop of its
    // own, inside which this message came, and the window's run ends only once that
    // loop has: the boxes go first, as their Cancel would.
    while (QWidget* box = QApplication::activeModalWidget()) {
        if (box == this)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(box))
            dialog->reject();
        else
            box->hide();
        if (QApplication::activeModalWidget() == box)
            break;
    }
    done(0);
}

void CquaveromfcDlg::onSysCommand(std::uintptr_t command)
{
    if (opensAboutBox(command)) {
        onAbout();
        return;
    }
    switch (command) {
    case SC_RESTORE:
        if (!m_handover.showAllowed())
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

void CquaveromfcDlg::onFileOpenFailed(const char* path)
{
    const std::string text = formatStrings(
        "Unable to open file: %s for writing!\n\nPlease close any application that currently "
        "accesses that file and try again.",
        {path ? path : ""});
    m_waysOut.prompts().messageBox(this, text, "File error!", MB_OK);
    // The track leaves the queue without a file.
    m_fileRefused = true;
}

void CquaveromfcDlg::trackArrived(const std::string& title)
{
    if (!m_fileRefused)
        m_arrivals.arrived(title);
}

QListView* CquaveromfcDlg::queueList()
{
    auto* list = m_look.controls.control<QListView>(IDC_QUEUE_LIST);
    if (list && list->model() != &m_queueRows) {
        if (UniformRows* rows = UniformRows::of(list))
            m_queueRows.measureWith([rows](std::string_view title) { return rows->widthOf(title); });
        list->setModel(&m_queueRows);
    }
    return list;
}

void CquaveromfcDlg::showQueue(const EntryList<QueueItem>& queue)
{
    QListView* list = queueList();
    m_queueRows.show(queue);
    if (UniformRows* rows = UniformRows::of(list))
        rows->setWidest(m_queueRows.widestRow());
}

void CquaveromfcDlg::showRowsAdded(const EntryList<QueueItem>&, std::uint32_t row, std::uint32_t count)
{
    QListView* list = queueList();
    m_queueRows.rowsAdded(row, count);
    if (UniformRows* rows = UniformRows::of(list))
        rows->setWidest(m_queueRows.widestRow());
}

void CquaveromfcDlg::showRowsRemoved(std::uint32_t row, std::uint32_t count)
{
    QListView* list = queueList();
    // The list would select the row that takes a removed selected row's place: a
    // second Remove would then take another track without anyone choosing it.
    const QModelIndex current = list ? list->currentIndex() : QModelIndex();
    const bool selectedGone = current.isValid() && list->selectionModel()->isSelected(current)
        && static_cast<std::uint32_t>(current.row()) >= row && static_cast<std::uint32_t>(current.row()) - row < count;
    m_queueRows.rowsRemoved(row, count);
    if (UniformRows* rows = UniformRows::of(list))
        rows->setWidest(m_queueRows.widestRow());
    if (selectedGone)
        list->selectionModel()->clearSelection();
}

void CquaveromfcDlg::RefreshFileList(const std::string& folder)
{
    if (folder.empty())
        return;
    // Read off the window's thread, by the folder watcher; once that has ended,
    // nobody else can.
    if (m_work.controller().exitedThreads() & THREAD_BIT_WATCHER) {
        FileList entries = scanDownloadedFiles(folder);
        showFileList(folder, entries);
    } else {
        m_work.workers().listDownloadedFiles();
    }
}

void CquaveromfcDlg::showFileList(const std::string& folder, FileList& entries)
{
    updateFileList(folder, [&](DownloadedFilesModel& files) { files.show(entries); });
}

void CquaveromfcDlg::changeFileList(const std::string& folder, const FileListChanges& changes)
{
    updateFileList(folder, [&](DownloadedFilesModel& files) { files.change(changes); });
}

void CquaveromfcDlg::updateFileList(const std::string& folder, const std::function<void(DownloadedFilesModel&)>& how)
{
    auto* view = m_look.controls.control<QListView>(IDC_FILE_LIST);
    DownloadedFilesModel* files = downloadedFilesOf(view);
    if (!files || folder != m_work.controller().downloadFolder())
        return;
    // The selection stays on the same name; when that went, it goes to the first
    // entry that begins with it (from the second entry on, round to the first), or
    // to none.
    const QModelIndex current = view->currentIndex();
    const std::optional<std::string> remembered = current.isValid() && view->selectionModel()->isSelected(current)
        ? std::optional(std::string(files->entries().at(static_cast<std::size_t>(current.row()))))
        : std::nullopt;
    how(*files);
    if (UniformRows* rows = UniformRows::of(view))
        rows->setWidest(files->widestRow());
    const QModelIndex kept = view->currentIndex();
    if (!remembered || (kept.isValid() && view->selectionModel()->isSelected(kept)
                        && files->entries().at(static_cast<std::size_t>(kept.row())) == *remembered))
        return;
    const std::optional<std::size_t> found = files->entries().findPrefix(*remembered);
    if (!found)
        view->selectionModel()->clear();
    else
        view->setCurrentIndex(files->index(static_cast<int>(*found)));
}

void CquaveromfcDlg::showReportedProgress(int percent)
{
    SetProgress(percent);
    if (!m_progressTimer.isActive())
        m_progressTimer.start();
}

void CquaveromfcDlg::showNewerProgress()
{
    if (const std::optional<std::int32_t> newer = m_work.shared().m_progress.takeNewer(m_shownPercent)) {
        SetProgress(*newer);
        m_progressTimer.start();
    }
}

void CquaveromfcDlg::ResetProgress()
{
    m_progressTimer.stop();
    m_shownPercent = 0;
    if (auto* bar = m_look.controls.control<QProgressBar>(IDC_PROGRESS_BAR)) {
        bar->setGeometry(kProgressBarOrigin);
        bar->setValue(0);
    }
    if (auto* percent = m_look.controls.control<QLabel>(IDC_PERCENT_TEXT))
        percent->setText(QStringLiteral("0%"));
}

void CquaveromfcDlg::SetProgress(int percent)
{
    m_shownPercent = percent;
    if (auto* text = m_look.controls.control<QLabel>(IDC_PERCENT_TEXT))
        text->setText(QString::number(percent) + u'%');
    if (auto* bar = m_look.controls.control<QProgressBar>(IDC_PROGRESS_BAR)) {
        QRect place = kProgressBarOrigin;
        place.setWidth(progressBarWidth(percent));
        bar->setGeometry(place);
        // A figure past 100 (a Content-Length that said too little) would be refused,
        // leaving the last one.
        bar->setValue(std::min(percent, 100));
    }
}

void CquaveromfcDlg::setStatus(const std::string& text)
{
    if (auto* status = m_look.controls.control<QLabel>(IDC_STATUS_TEXT))
        status->setText(QString::fromStdString(text));
}

bool CquaveromfcDlg::ask(const std::string& text, const std::string& caption, Buttons buttons)
{
    Prompts& prompts = m_waysOut.prompts();
    switch (buttons) {
    case Buttons::OkCancel:
        return prompts.messageBox(this, text, caption, MB_OKCANCEL) == IDOK;
    case Buttons::YesNo:
        return prompts.messageBox(this, text, caption, MB_YESNO) == IDYES;
    case Buttons::Ok:
        break;
    }
    prompts.messageBox(this, text, caption, MB_OK);
    return true;
}

void CquaveromfcDlg::warn(const std::string& text, const std::string& caption)
{
    m_waysOut.notices().post(text, caption);
}

void CquaveromfcDlg::tellRefused(const RawEntry& request)
{
    m_waysOut.notices().tellRefused(request);
}

void CquaveromfcDlg::retrySavesAfter(std::chrono::milliseconds pause)
{
    m_work.retrySavesAfter(pause);
}

void CquaveromfcDlg::retryWaitingAfter(std::chrono::milliseconds pause)
{
    m_work.retryWaitingAfter(pause);
}

std::optional<std::string> CquaveromfcDlg::chooseFolder(const std::string& title, const std::string& startFolder)
{
    return m_waysOut.prompts().chooseFolder(this, title, startFolder);
}

} // namespace qvr
