#pragma once

#include "ui/prompts.h"
#include "ui/shell.h"

class QWidget;

namespace qvr {

// The window's ways out to the user and to the desktop: its boxes, its notices, and
// what opens files, folders and addresses. The real ones unless the start gives its
// own, as tests do.
class WaysOut {
public:
    // Null `prompts`: the real dialogs; null `desktop`: xdg-open. The notices'
    // boxes belong to `owner`.
    WaysOut(Prompts* prompts, DesktopOpener* desktop, QWidget& owner)
        : m_prompts(prompts ? prompts : &m_qtPrompts),
          m_desktop(desktop ? desktop : &m_shellOpener),
          m_notices(m_prompts, owner)
    {
    }
    WaysOut(const WaysOut&) = delete;
    WaysOut& operator=(const WaysOut&) = delete;

    Prompts& prompts() const { return *m_prompts; }
    DesktopOpener& desktop() const { return *m_desktop; }
    NoticeQueue& notices() { return m_notices; }

private:
    QtPrompts m_qtPrompts;
    ShellOpener m_shellOpener;
    Prompts* m_prompts;
    DesktopOpener* m_desktop;
    NoticeQueue m_notices;
};

} // namespace qvr
