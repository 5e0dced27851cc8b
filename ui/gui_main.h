#pragma once

#include "ui/application_strings.h"

#include <functional>
#include <optional>
#include <string>

namespace qvr {

// What the start-up hands to the window part of the program.
struct GuiStartup {
    std::string storeHost;                  // "host" or "host:port"
    std::optional<std::string> runtimeDir;  // shared named objects; none: private gates, no hand-off
    std::function<long(const std::string&)> writeDownloadFolder;
};

// The process's exit status when a worker did not end within its grace period
// after the window closed.
constexpr int kExitWorkersStuck = 3;

// Starts the GUI framework and runs the main window to its end. When a worker does
// not end, the process ends here with kExitWorkersStuck.
void RunGui(ApplicationStrings& app, const GuiStartup& startup, int argc, char** argv);

// The window part lives in a library of its own, carried inside the executable and
// loaded only when a window opens, so that a start that only hands its request
// over does not load the GUI framework at all. This is the library's entry.
constexpr const char* kGuiLibraryName = "quavero-gui";
constexpr const char* kGuiEntryName = "qvr_run_gui";
using GuiEntry = void (*)(ApplicationStrings* app, const GuiStartup* startup, int argc, char** argv);

} // namespace qvr
