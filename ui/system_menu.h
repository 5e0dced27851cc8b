#pragma once

#include "engine/window_messages.h"

#include <string>
#include <vector>

class QMenu;

namespace qvr {

// The item the window adds for its About box.
constexpr unsigned IDM_ABOUTBOX = 16;

struct SystemMenuItem {
    unsigned id = 0;   // 0 with an empty text: a separator
    std::string text;  // "&" marks the access key
    bool enabled = true;
    bool operator==(const SystemMenuItem&) const = default;
};

// The window's menu: Restore (only while minimised), Move, Minimize, Close, and
// after a separator the About item when `aboutText` is not empty.
std::vector<SystemMenuItem> systemMenuItems(const std::string& aboutText, bool minimized);

// Run whenever the menu opens: every item whose text is exactly "&Move" is
// disabled, so that only a drag on the skin moves the window.
void disableMoveItems(std::vector<SystemMenuItem>& items);

// Only command 16 itself opens the About box; 17 to 31 are other commands.
constexpr bool opensAboutBox(unsigned command)
{
    return command == IDM_ABOUTBOX;
}

// Replaces the actions of `menu` with `items`; each action carries its command
// number as its data.
void fillMenu(QMenu& menu, const std::vector<SystemMenuItem>& items);

} // namespace qvr
