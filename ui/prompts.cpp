#include "ui/prompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace qvr {

int QtPrompts::messageBox(QWidget* owner, const std::string& text, const std::string& caption,
                          unsigned type)
{
    QMessageBox box(owner);
    box.setWindowTitle(QString::fromStdString(caption));
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
