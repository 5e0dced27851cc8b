#include "ui/main_window.h"

#include "engine/file_list.h"
#include "engine/queue_files.h"
#include "engine/store_request.h"
#include "engine/workers.h"
#include "platform/handoff.h"
#include "res/strings.h"
#include "ui/layout.h"
#include "ui/message_pump.h"
#include "ui/shell.h"

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace qvr {

namespace {

constexpr const char* kNoFilesInQueue = "No Files in Queue";
constexpr const char* kDownloadingPaused = "Downloading Paused";
// Where an entry of the downloaded-files list keeps its name's bytes.
constexpr int kEntryBytesRole = Qt::UserRole;

std::string entryName(const QListWidgetItem& item)
{
    return item.data(kEntryBytesRole).toByteArray().toStdString();
}

// What the plain stand-ins of the image buttons say.
const char* buttonCaption(int id)
{
    switch (id) {
    case IDC_HOME_PAGE: return "Store";
    case IDC_REMOVE: return "Remove";
    case IDC_CLEAR: return "Clear";
    case IDC_CHOOSE_FOLDER: return "Choose Folder";
    case IDC_OPEN_FOLDER: return "Open Folder";
    case IDC_RESUME: return "Resume";
    case IDC_PAUSE: return "Pause";
    case IDC_MINIMIZE: return "_";
    case IDC_CLOSE: return "X";
    default: return "";
    }
}

// The one place that decides which class stands for which control of the window.
QWidget* MainWindowControlFactory(const DialogControl& control, QWidget* parent)
{
    QWidget* widget = MakePlainControl(control, parent);
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(QString::fromUtf8(buttonCaption(control.id)));
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::NoFocus);
    }
    if (control.id == IDC_PROGRESS_BAR) {
        widget->setAutoFillBackground(true);
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, QColor(255, 102, 0));
        widget->setPalette(palette);
    }
    return widget;
}

} // namespace

CquaveromfcDlg::CquaveromfcDlg(ApplicationStrings& app, MainWindowEnvironment environment, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowMinimizeButtonHint
                  | Qt::WindowCloseButtonHint),
      m_app(app),
      m_environment(std::move(environment)),
      m_prompts(m_environment.prompts ? m_environment.prompts : &m_qtPrompts),
      m_desktop(m_environment.desktop ? m_environment.desktop : &m_shellOpener),
      m_pump(std::make_unique<MessagePump>(
          [this](unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
              return WindowProc(message, wParam, lParam);
          })),
      m_workers(*m_pump),
      m_shared(m_workers.shared())
{
    m_shared.m_downloadFolder.set(m_app.m_strDownloadFolder);
    m_shared.m_strInstallationId = m_app.m_strInstallationId;
    m_shared.m_storeHost = m_environment.storeHost;
    m_shared.m_gateFolder = m_environment.gateFolder;
    m_shared.m_http = m_environment.http;
    m_shared.m_retryPause = m_environment.retryPause;
    m_shared.m_unannouncedTrackLimit = m_environment.unannouncedTrackLimit;
}

CquaveromfcDlg::~CquaveromfcDlg()
{
    LetWorkersGo();
}

MessageSink& CquaveromfcDlg::messageSink()
{
    return *m_pump;
}

int CquaveromfcDlg::DoModal()
{
    OnInitDialog();
    const int result = exec();
    EndWindow();
    return result;
}

bool CquaveromfcDlg::EndWindow()
{
    m_bWorkersEnded = LetWorkersGo();
    PostNcDestroy();
    return m_bWorkersEnded;
}

bool CquaveromfcDlg::OnInitDialog()
{
    Publish();
    if (RunSelfUpdate())
        return KeepHiddenUntilTakenOver();

    // The window holds both gates while its workers are idle.
    m_workers.takeGates();

    // The look: title and controls; the skin, fonts and colours come with the
    // skinned controls.
    setWindowTitle(QString::fromStdString(loadString(IDS_APP_TITLE)));
    if (const DialogTemplate* dialogTemplate = FindDialogTemplate(IDD_MAIN_WINDOW))
        m_controls.build(*dialogTemplate, this, MainWindowControlFactory);
    const std::pair<int, void (CquaveromfcDlg::*)()> commands[] = {
        {IDC_REMOVE, &CquaveromfcDlg::OnRemove},
        {IDC_CLEAR, &CquaveromfcDlg::OnClear},
        {IDC_CHOOSE_FOLDER, &CquaveromfcDlg::OnChooseFolder},
        {IDC_OPEN_FOLDER, &CquaveromfcDlg::OnOpenFolder},
        {IDC_RESUME, &CquaveromfcDlg::OnResume},
        {IDC_PAUSE, &CquaveromfcDlg::OnPause},
        {IDC_HOME_PAGE, &CquaveromfcDlg::OnHomePage},
        {IDC_MINIMIZE, &CquaveromfcDlg::OnMinimize},
        {IDC_CLOSE, &CquaveromfcDlg::OnClose},
    };
    for (const auto& [id, command] : commands) {
        if (auto* button = m_controls.control<QPushButton>(id))
            connect(button, &QPushButton::clicked, this, [this, command = command] { (this->*command)(); });
    }
    if (auto* files = m_controls.control<QListWidget>(IDC_FILE_LIST))
        connect(files, &QListWidget::itemDoubleClicked, this, [this] { OnOpenFile(); });
    SetLatched(true, false);

    LoadDownloadQueue();
    RefillQueueList();

    if (auto* folder = m_controls.control<QLabel>(IDC_FOLDER_TEXT))
        folder->setText(QString::fromStdString(FolderLabel(m_app.m_strDownloadFolder)));
    ResetProgress();
    if (auto* radio = m_controls.control<QLabel>(IDC_RADIO_LABEL))
        radio->setText("Click Here to Load Online Radio");

    // The radio check and the drop target of the queue list come with the radio
    // panel and the skinned controls.

    RefreshFileList();
    StartWorkers();
    return true;
}

void CquaveromfcDlg::StartWorkers()
{
    m_workers.start(WorkerSet::Worker::FolderWatcher);
    m_workers.start(WorkerSet::Worker::Resolver);
    LoadRawQueue();
    StartNextResolve();
    if (!m_app.m_strRequest.empty())
        AddRawEntry(m_app.m_strRequest);
    m_workers.start(WorkerSet::Worker::Downloader);
    StartNextDownload();
}

bool CquaveromfcDlg::LetWorkersGo()
{
    // Closed first: a report or a message from outside that is being delivered
    // then returns, so the workers are cut off from the window at once and the
    // server can end.
    m_pump->close();
    m_handoffServer.reset();
    m_workers.disconnect();
    m_workers.requestStop();
    return m_workers.wait(m_environment.workerGrace);
}

void CquaveromfcDlg::PostNcDestroy()
{
    if (!m_bSwitchQuit)
        SaveRawQueue();
    if (m_windowHandle != 0 && !m_environment.handoffFolder.empty())
        UnpublishWindowHandle(m_environment.handoffFolder, loadString(IDS_HANDOFF_MAPPING), m_windowHandle);
}

void CquaveromfcDlg::Publish()
{
    if (m_environment.handoffFolder.empty())
        return;
    RemoveDeadWindowSockets(m_environment.handoffFolder);
    m_windowHandle = NewWindowHandle();
    m_handoffServer = HandoffServer::start(
        WindowSocketPath(m_environment.handoffFolder, m_windowHandle),
        [this](const HandoffMessage& message) { return DeliverFromOutside(message); });
    if (m_handoffServer)
        PublishWindowHandle(m_environment.handoffFolder, loadString(IDS_HANDOFF_MAPPING), m_windowHandle);
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
        SetStatus(msg::SetStatus::unpack(params).text);
        break;
    case WM_DOWNLOAD_PROGRESS:
        SetProgress(msg::DownloadProgress::unpack(params).percent);
        break;
    case WM_DOWNLOAD_FINISHED:
        OnDownloadFinished(msg::DownloadFinished::unpack(params).flags);
        break;
    case WM_FILE_OPEN_FAILED:
        OnFileOpenFailed(msg::FileOpenFailed::unpack(params).path);
        break;
    case WM_SWITCH_QUIT:
        m_bSwitchQuit = true;
        done(0);
        break;
    case WM_ENTRY_RESOLVED:
        OnEntryResolved(msg::EntryResolved::unpack(params));
        break;
    case WM_THREAD_EXITED:
        m_nExitedThreads |= msg::ThreadExited::unpack(params).bit;
        if (m_nExitedThreads == THREAD_BITS_ALL)
            done(0);
        break;
    case WM_COPYDATA:
        OnCopyData(msg::CopyData::unpack(params).data);
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
    if (command == SC_RESTORE && m_bShowAllowed) {
        if (isMinimized())
            showNormal();
        raise();
        activateWindow();
    } else if (command == SC_MINIMIZE) {
        showMinimized();
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
        ? std::optional(entryName(*selected))
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

void CquaveromfcDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter ends the window as Escape does: the dialog's own end, which lets the
    // workers go and keeps the pending requests.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CquaveromfcDlg::SetLatched(bool resume, bool pause)
{
    m_bResumeLatched = resume;
    m_bPauseLatched = pause;
    for (const auto& [id, latched] : {std::pair(IDC_RESUME, resume), std::pair(IDC_PAUSE, pause)}) {
        if (auto* button = m_controls.control<QPushButton>(id)) {
            button->setCheckable(true);
            button->setChecked(latched);
        }
    }
}

void CquaveromfcDlg::OnRemove()
{
    const auto* list = m_controls.control<QListWidget>(IDC_QUEUE_LIST);
    const int index = list && list->currentItem() && list->currentItem()->isSelected() ? list->currentRow() : -1;
    if (index < 0) {
        m_prompts->messageBox(this, "Please choose a track in the download queue to remove.",
                              "No track selected", MB_OK);
        return;
    }
    if (index != 0 || m_shared.m_bPaused) {
        m_queue.RemoveAt(static_cast<std::uint32_t>(index));
        DropStaleRequests();
        RefillQueueList();
        SaveDownloadQueue();
        return;
    }
    // The box runs the window's events: the track may finish, and the next one
    // start, before the answer comes. The answer is about the track that was asked.
    const std::string asked = m_queue.GetHead()->title;
    const int answer = m_prompts->messageBox(
        this,
        "The track that you've chosen to remove is currently in the process of downloading.\n"
        "Are you sure you want to cancel the current download?",
        "Remove Current Download?", MB_OKCANCEL);
    const QueueItem* head = m_queue.GetHead();
    if (answer == IDOK && head && head->title == asked) {
        m_cancelTarget = asked;
        m_shared.m_bCancelCurrent = true;
    }
}

void CquaveromfcDlg::OnClear()
{
    const auto* list = m_controls.control<QListWidget>(IDC_QUEUE_LIST);
    if (!list || list->count() == 0)
        return;
    const int answer = m_prompts->messageBox(this, "Are you sure you want to remove ALL tracks from the download queue?",
                                             "Clear Download Queue?", MB_YESNO);
    if (answer != IDYES || m_queue.IsEmpty())
        return;
    if (m_shared.m_bPaused) {
        m_queue.RemoveAll();
        DropStaleRequests();
        RefillQueueList();
        SaveDownloadQueue();
    } else {
        m_clearTarget = m_queue.GetHead()->title;
        m_shared.m_bClearQueue = true;
    }
}

void CquaveromfcDlg::OnChooseFolder()
{
    const std::optional<std::string> chosen =
        m_prompts->chooseFolder(this, "Choose a download folder", m_app.m_strDownloadFolder);
    if (!chosen || chosen->empty() || *chosen == m_app.m_strDownloadFolder)
        return;
    // The settings first: a folder that cannot be kept is not taken.
    if (!m_environment.writeDownloadFolder || m_environment.writeDownloadFolder(*chosen) != 0)
        return;
    m_app.m_strDownloadFolder = *chosen;
    m_shared.m_downloadFolder.set(*chosen);
    if (auto* folder = m_controls.control<QLabel>(IDC_FOLDER_TEXT))
        folder->setText(QString::fromStdString(FolderLabel(*chosen)));
    RefreshFileList();
    m_shared.m_bFolderChanged = true;
    m_workers.pokeFolderWatcher();
}

void CquaveromfcDlg::OnOpenFolder()
{
    m_desktop->open(m_app.m_strDownloadFolder);
}

void CquaveromfcDlg::OnResume()
{
    if (m_queue.IsEmpty()) {
        // The click has already toggled the button; its look stays what it was.
        SetLatched(m_bResumeLatched, m_bPauseLatched);
        SetStatus(kNoFilesInQueue);
        return;
    }
    SetLatched(true, false);
    m_shared.m_bPaused = false;
    StartNextDownload();
}

void CquaveromfcDlg::OnPause()
{
    if (m_queue.IsEmpty()) {
        SetLatched(m_bResumeLatched, m_bPauseLatched);
        return;
    }
    SetLatched(false, true);
    m_shared.m_bPaused = true;
    if (!m_bDownloading)
        SetStatus(kDownloadingPaused);
}

void CquaveromfcDlg::OnHomePage()
{
    m_desktop->open(loadString(IDS_HOME_URL, m_environment.storeHost));
}

void CquaveromfcDlg::OnMinimize()
{
    // Posted, not sent: the click finishes before the window goes.
    QMetaObject::invokeMethod(this, [this] { Send(*m_pump, msg::SysCommand {SC_MINIMIZE}); }, Qt::QueuedConnection);
}

void CquaveromfcDlg::OnOpenFile()
{
    const auto* files = m_controls.control<QListWidget>(IDC_FILE_LIST);
    if (!files || !files->currentItem())
        return;
    m_desktop->open(m_app.m_strDownloadFolder + "/" + entryName(*files->currentItem()));
}

void CquaveromfcDlg::OnClose()
{
    m_workers.requestStop();
}

} // namespace qvr
