#pragma once

#include "platform/process_launch.h"
#include "update/auto_updater.h"
#include "platform/update_trial.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

// Starts a program detached from us and keeps an eye on it; nothing when it could
// not be started.
using ProcessLauncher =
    std::function<std::optional<StartedProcess>(const std::string& program, const std::vector<std::string>& args)>;

// What a start of the program needs to update itself.
struct SelfUpdateEnvironment {
    UpdaterEnvironment updater;
    ProcessLauncher launch;  // null: a real start (startWatched)
    // The proof that a new version works (UpdateTrial): its window has run this long.
    std::chrono::milliseconds trialProof {120000};
};

constexpr const char* kUpdatedText = "The application was updated successfully.";
constexpr const char* kUpdatedCaption = "Updater";
// After any rollback, by the start that comes back to the previous version.
constexpr const char* kUndoneText = "The new version of Quavero did not work, so the previous version was put back.";
constexpr const char* kTakeOverSwitch = "/switch";

// What the update step of a start came to.
struct SelfUpdateOutcome {
    // A new executable was installed, and its start tried.
    bool installed = false;
    // The store gave the version list or the new program's head no answer in time
    // (CAutoUpdater::storeUnanswered), or said when to ask again (retryAfter).
    bool storeUnanswered = false;
    std::optional<std::chrono::seconds> retryAfter {};
    // The new version's process, started with "/switch"; none when it could not start.
    std::optional<StartedProcess> newVersion {};
    // The executable it was installed as, and the version it published.
    std::string executable;
    std::string version;
};

// Checks for a newer release and installs it when the user agrees
// (CAutoUpdater::CheckForUpdate); `installed` says whether it did. Runs on any one
// thread, as its environment's prompts allow.
[[nodiscard]] SelfUpdateOutcome checkAndInstall(const UpdaterEnvironment& environment, const std::string& storeHost);

// After an install: calls `keepHidden`, so that this instance never shows itself and
// hands on what the new one needs, shows the notice, and starts the new executable
// with "/switch", which takes over from this one.
void startNewVersion(const SelfUpdateEnvironment& environment, SelfUpdateOutcome& outcome,
                     const std::function<void()>& keepHidden);

// The update step of a start: checkAndInstall, then startNewVersion after an install.
// `storeHost` ("host" or "host:port") serves the update folder.
[[nodiscard]] SelfUpdateOutcome RunSelfUpdate(const SelfUpdateEnvironment& environment, const std::string& storeHost,
                                              const std::function<void()>& keepHidden);

// Undoes an install whose new version did not take over: ends the new version's
// process if it still runs, puts the old program back under the executable's name in
// one step (the backup name goes with it), notes the version as refused, so that it
// is not offered again while the store names it, and ends its trial (the caller tells
// the user). False when there was no backup to put back: the new version's own crash
// may have put it back already.
[[nodiscard]] bool rollBackUpdate(const UpdaterEnvironment& environment, SelfUpdateOutcome& outcome);

} // namespace qvr
