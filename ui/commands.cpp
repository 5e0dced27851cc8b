// The user's commands: the buttons and the downloaded-files list.
#include "ui/main_window.h"

#include "engine/workers.h"
#include "res/strings.h"
#include "ui/layout.h"
#include "ui/message_pump.h"

#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>

namespace qvr {

void CquaveromfcDlg::ConnectCommands()
{
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
        if (auto* button = m_controls.control<QAbstractButton>(id))
            connect(button, &QAbstractButton::clicked, this, [this, command = command] { (this->*command)(); });
    }
    if (auto* files = m_controls.control<QListWidget>(IDC_FILE_LIST))
        connect(files, &QListWidget::itemDoubleClicked, this, [this] { OnOpenFile(); });
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
    ShowFolder(*chosen);
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
        SetStatus(kNoFilesInQueue);
        return;
    }
    SetLatched(true, false);
    m_shared.m_bPaused = false;
    StartNextDownload();
}

void CquaveromfcDlg::OnPause()
{
    if (m_queue.IsEmpty())
        return;
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
    m_desktop->open(m_app.m_strDownloadFolder + "/" + FileEntryName(*files->currentItem()));
}

void CquaveromfcDlg::OnClose()
{
    m_workers.requestStop();
}

} // namespace qvr
