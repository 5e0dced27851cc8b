#include "ui/system_menu.h"

#include <QMenu>

namespace qvr {

std::vector<SystemMenuItem> systemMenuItems(const std::string& aboutText, bool minimized)
{
    std::vector<SystemMenuItem> items {
        {SC_RESTORE, "&Restore", minimized},
        {SC_MOVE, "&Move", true},
        {SC_MINIMIZE, "Mi&nimize", !minimized},
        {SC_CLOSE, "&Close", true},
    };
    if (!aboutText.empty()) {
        items.push_back({});
        items.push_back({IDM_ABOUTBOX, aboutText, true});
    }
    return items;
}

void disableMoveItems(std::vector<SystemMenuItem>& items)
{
    for (SystemMenuItem& item : items) {
        if (item.text == "&Move")
            item.enabled = false;
    }
}

void fillMenu(QMenu& menu, const std::vector<SystemMenuItem>& items)
{
    menu.clear();
    for (const SystemMenuItem& item : items) {
        if (item.id == 0 && item.text.empty()) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromStdString(item.text));
        action->setData(item.id);
        action->setEnabled(item.enabled);
    }
}

} // namespace qvr
