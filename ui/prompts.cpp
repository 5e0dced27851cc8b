#include "ui/prompts.h"

#include <QFileDialog>
#include <QPointer>
#include <QTimer>
#include <QGuiApplication>
#include <QMessageBox>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace qvr {

namespace {

// Qt names a window with an empty title after the program, in the name window
// managers read first (_NET_WM_NAME), and a window manager then shows that. On X11
// that name goes once the box's window exists, before it shows, and the one left,
// WM_NAME, is empty.
void keepCaptionEmpty(QWidget& box)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return;
    xcb_connection_t* connection = x11->connection();
    constexpr const char* kName = "_NET_WM_NAME";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(kName), kName), nullptr),
        &std::free);
    if (!atom)
        return;
    xcb_delete_property(connection, static_cast<xcb_window_t>(box.winId()), atom->atom);
    xcb_flush(connection);
}

} // namespace

int QtPrompts::messageBox(QWidget* owner, const std::string& text, const std::string& caption,
                          unsigned type)
{
    QMessageBox box(owner);
    box.setWindowTitle(QString::fromStdString(caption));
    if (caption.empty())
        keepCaptionEmpty(box);
    // Texts name titles, requests and folders that come from outside: shown as they
    // are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    switch (type & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    if ((type & 0xF) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    if ((type & 0xF) == MB_OKCANCEL) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

void NoticeQueue::post(const std::string& text, const std::string& caption)
{
    const std::pair notice(text, caption);
    if (std::find(m_waiting.begin(), m_waiting.end(), notice) != m_waiting.end())
        return;
    m_waiting.push_back(notice);
    if (!m_bShowing) {
        m_bShowing = true;
        QTimer::singleShot(0, &m_owner, [this] { showNext(); });
    }
}

void NoticeQueue::showNext()
{
    const QPointer<QWidget> owner(&m_owner);
    while (!m_waiting.empty()) {
        const auto [text, caption] = m_waiting.front();
        m_prompts->messageBox(&m_owner, text, caption, MB_OK | MB_ICONWARNING);
        if (!owner)
            return;  // the window went while the box was open
        m_waiting.pop_front();
    }
    m_bShowing = false;
}

std::optional<std::string> QtPrompts::chooseFolder(QWidget* owner, const std::string& title,
                                                   const std::string& startFolder)
{
    const QString folder = QFileDialog::getExistingDirectory(owner, QString::fromStdString(title),
                                                             QString::fromStdString(startFolder));
    if (folder.isEmpty())
        return std::nullopt;
    return folder.toStdString();
}

} // namespace qvr
