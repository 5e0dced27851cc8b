#pragma once

// The contract between the executable and the window part of the program, which
// lives in a library of its own, carried inside the executable and loaded only when
// a window opens, so that a start that only hands its request over does not load
// the GUI framework at all.

#include "app/command_line.h"
#include "engine/configuration.h"

#include <string>

namespace qvr {

// The process's exit status when a worker did not end within its grace period
// after the window closed.
constexpr int kExitWorkersStuck = 3;

constexpr const char* kGuiLibraryName = "quavero-gui";
constexpr const char* kGuiEntryName = "qvr_run_gui";

// What the entry returns instead of an exit status when the window cannot open on
// the display that the environment names, or on the Qt platform it chooses.
constexpr int kGuiNoDisplay = -1;
// As kGuiNoDisplay, found once the request given was in the inbox.
constexpr int kGuiNoDisplayRequestKept = -2;

// Starts the GUI framework and runs the main window to its end; the process's exit
// status. `commandLine` is the one main parsed: Qt gets its options from it, and
// nothing on this side reads the arguments again. When a worker does not end, the
// process ends in there, with kExitWorkersStuck. kGuiNoDisplay, with what stands in
// the way in `noDisplay` and nothing else done, when the window cannot open (or
// kGuiNoDisplayRequestKept).
using GuiEntry = int (*)(const Configuration* configuration, const CMyCommandLineInfo* commandLine,
                         std::string* noDisplay);

} // namespace qvr
