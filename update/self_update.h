#pragma once

#include "update/auto_updater.h"

#include <functional>
#include <string>
#include <vector>

namespace qvr {

// Starts a program detached from us; false when it could not be started.
using ProcessLauncher = std::function<bool(const std::string& program, const std::vector<std::string>& args)>;

// What a start of the program needs to update itself.
struct SelfUpdateEnvironment {
    UpdaterEnvironment updater;
    ProcessLauncher launch;  // null: a real detached start
};

constexpr const char* kUpdatedText = "The application was updated successfully.";
constexpr const char* kUpdatedCaption = "Updater";
constexpr const char* kTakeOverSwitch = "/switch";

// What the update step of a start came to.
struct SelfUpdateOutcome {
    // A new executable was installed and started (whether the start worked is not known).
    bool installed = false;
    // The store gave the version list no answer in time (CAutoUpdater::ListUnanswered).
    bool storeUnanswered = false;
};

// The update step of a start: checks for a newer release and installs it when the
// user agrees (CAutoUpdater::CheckForUpdate). After an install it calls `keepHidden`,
// so that this instance never shows itself and hands on what the new one needs,
// shows the notice, and starts the new executable with "/switch", which takes over
// from this one.
// `storeHost` ("host" or "host:port") serves the update folder.
SelfUpdateOutcome RunSelfUpdate(const SelfUpdateEnvironment& environment, const std::string& storeHost,
                                const std::function<void()>& keepHidden);

} // namespace qvr
