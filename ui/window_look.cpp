// The window's look: which control stands for which ID, the title, and the
// controls' first state.
#include "ui/main_window.h"

#include "res/strings.h"
#include "ui/layout.h"

#include <QLabel>
#include <QPushButton>

namespace qvr {

namespace {

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

void CquaveromfcDlg::SetUpLook()
{
    // The title and the controls; the skin, fonts and colours come with the
    // skinned controls.
    setWindowTitle(QString::fromStdString(loadString(IDS_APP_TITLE)));
    if (const DialogTemplate* dialogTemplate = FindDialogTemplate(IDD_MAIN_WINDOW))
        m_controls.build(*dialogTemplate, this, MainWindowControlFactory);
    ConnectCommands();
}

void CquaveromfcDlg::SetUpControls()
{
    SetLatched(true, false);
    if (auto* folder = m_controls.control<QLabel>(IDC_FOLDER_TEXT))
        folder->setText(QString::fromStdString(FolderLabel(m_app.m_strDownloadFolder)));
    ResetProgress();
    if (auto* radio = m_controls.control<QLabel>(IDC_RADIO_LABEL))
        radio->setText("Click Here to Load Online Radio");
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

} // namespace qvr
