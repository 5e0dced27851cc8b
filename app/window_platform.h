#pragma once

#include <optional>
#include <string>

namespace qvr {

// Chooses Qt's platform for the window and checks, before the GUI framework starts,
// that it can be used: Qt aborts the process on a platform it cannot open. The
// platform is the one in `platform` (from the command line) when it names one, else
// QT_QPA_PLATFORM's; without either, a set DISPLAY means X11 (XWayland on a Wayland
// session), else a set WAYLAND_DISPLAY means Wayland. `platform` ends up naming what
// Qt is to be told on its command line (empty: Qt reads QT_QPA_PLATFORM itself).
// Nothing when the window can open, else what stands in the way, in a few words.
std::optional<std::string> chooseWindowPlatform(std::string& platform);

} // namespace qvr
