#include "ui/shell.h"

#include <QProcess>
#include <QStandardPaths>

namespace qvr {

bool ShellOpen(const std::string& target)
{
    const QString opener = QStandardPaths::findExecutable("xdg-open");
    if (opener.isEmpty() || target.empty())
        return false;
    return QProcess::startDetached(opener, {QString::fromStdString(target)});
}

} // namespace qvr
