#pragma once

#include <optional>
#include <string>

namespace qvr {

// Chooses Qt's platform for the window and checks, before the GUI framework starts,
// that it can be used: Qt aborts the process on a platform it cannot open. Without
// QT_QPA_PLATFORM, a set DISPLAY means X11 (XWayland on a Wayland session), else a
// set WAYLAND_DISPLAY means Wayland; that choice goes into `chosen`, for Qt's
// command line. Nothing when the window can open, else what stands in the way, in a
// few words.
std::optional<std::string> ChooseWindowPlatform(std::string& chosen);

} // namespace qvr
