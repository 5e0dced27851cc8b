#include "ui/shell.h"

#include "platform/process_launch.h"

#include <QStandardPaths>

namespace qvr {

bool shellOpen(const std::string& target)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty() || target.empty())
        return false;
    // The target goes as the bytes it is: a file name need not be valid text.
    return startDetached(opener.toStdString(), {target});
}

} // namespace qvr
