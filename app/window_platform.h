#pragma once

#include <memory>
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
// `display` keeps the check's connection to an X server until Qt has its own: a
// server whose last client leaves resets, and refuses the next one while it does.
using DisplayHold = std::shared_ptr<void>;
std::optional<std::string> chooseWindowPlatform(std::string& platform, DisplayHold& display);

} // namespace qvr
