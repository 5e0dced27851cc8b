// The user's commands: the buttons and the downloaded-files list.
#include "ui/main_window.h"

#include "res/strings.h"
#include "ui/downloaded_files.h"
#include "ui/message_pump.h"

#include <QAbstractButton>
#include <QListView>

namespace qvr {

void CquaveromfcDlg::connectCommands()
{
    const std::pair<int, void (CquaveromfcDlg::*)()> commands[] = {
        {IDC_REMOVE, &CquaveromfcDlg::onRemove},
        {IDC_CLEAR, &CquaveromfcDlg::onClear},
        {IDC_CHOOSE_FOLDER, &CquaveromfcDlg::onChooseFolder},
        {IDC_OPEN_FOLDER, &CquaveromfcDlg::onOpenFolder},
        {IDC_RESUME, &CquaveromfcDlg::onResume},
        {IDC_PAUSE, &CquaveromfcDlg::onPause},
        {IDC_HOME_PAGE, &CquaveromfcDlg::onHomePage},
        {IDC_MINIMIZE, &CquaveromfcDlg::onMinimize},
        {IDC_CLOSE, &CquaveromfcDlg::onClose},
    };
    for (const auto& [id, command] : commands) {
        if (auto* button = m_look.controls.control<QAbstractButton>(id))
            connect(button, &QAbstractButton::clicked, this, [this, command = command] { (this->*command)(); });
    }
    if (auto* files = m_look.controls.control<QListView>(IDC_FILE_LIST))
        connect(files, &QAbstractItemView::doubleClicked, this, [this] { onOpenFile(); });
}

void CquaveromfcDlg::onRemove()
{
    const auto* list = m_look.controls.control<QListView>(IDC_QUEUE_LIST);
    const QModelIndex current = list ? list->currentIndex() : QModelIndex();
    const bool selected = current.isValid() && list->selectionModel()->isSelected(current);
    m_work.controller().removeTrack(selected ? current.row() : -1);
}

void CquaveromfcDlg::onOpenFolder()
{
    m_waysOut.desktop().open(m_work.controller().downloadFolder());
}

void CquaveromfcDlg::onHomePage()
{
    m_waysOut.desktop().open(loadString(IDS_HOME_URL, m_config.storeHost));
}

void CquaveromfcDlg::onMinimize()
{
    // Posted, not sent: the click finishes before the window goes.
    QMetaObject::invokeMethod(this, [this] { sendMessage(*m_pump, msg::SysCommand {SC_MINIMIZE}); }, Qt::QueuedConnection);
}

void CquaveromfcDlg::onOpenFile()
{
    // A name need not be valid text: what opens is the file of the name's bytes.
    const auto* files = m_look.controls.control<QListView>(IDC_FILE_LIST);
    const DownloadedFilesModel* model = downloadedFilesOf(files);
    if (!model || !files->currentIndex().isValid())
        return;
    const auto row = static_cast<std::size_t>(files->currentIndex().row());
    const std::string entry(model->entries().at(row));
    std::string_view name = entry;
    // A folder shows as "[name]"; a track's name ends in ".mp3", never in ']'.
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    m_waysOut.desktop().open(m_work.controller().downloadFolder() + "/" + std::string(name));
}

void CquaveromfcDlg::onClose()
{
    m_work.workers().requestStop();
}

} // namespace qvr
