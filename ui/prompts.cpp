#include "ui/prompts.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace qvr {

namespace {

// Qt names a window with an empty title after the program, in the name window
// managers read first (_NET_WM_NAME), and a window manager then shows that. On X11
// that name goes once the box's window exists, before it shows, and the one left,
// WM_NAME, is empty.
void KeepCaptionEmpty(QWidget& box)
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
        KeepCaptionEmpty(box);
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
