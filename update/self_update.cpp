#include "update/self_update.h"

#include "res/strings.h"

namespace qvr {

SelfUpdateOutcome checkAndInstall(const UpdaterEnvironment& environment, const std::string& storeHost)
{
    CAutoUpdater updater(environment);
    SelfUpdateOutcome outcome;
    if (updater.CheckForUpdate(loadString(IDS_UPDATE_FOLDER_URL, storeHost)) != UPD_INSTALLED) {
        outcome.storeUnanswered = updater.storeUnanswered();
        outcome.retryAfter = updater.retryAfter();
        return outcome;
    }
    outcome.installed = true;
    outcome.executable = updater.installedExecutable();
    outcome.version = updater.installedVersion();
    return outcome;
}

void startNewVersion(const SelfUpdateEnvironment& environment, SelfUpdateOutcome& outcome,
                     const std::function<void()>& keepHidden)
{
    // Before the notice: the process may end while it is open, and what the new
    // version must take over has to be on disk by then.
    if (keepHidden)
        keepHidden();
    if (environment.updater.prompts)
        environment.updater.prompts->announceInstalled(kUpdatedText, kUpdatedCaption);
    const std::vector<std::string> args {kTakeOverSwitch};
    outcome.newVersion = environment.launch ? environment.launch(outcome.executable, args)
                                            : startWatched(outcome.executable, args);
}

SelfUpdateOutcome RunSelfUpdate(const SelfUpdateEnvironment& environment, const std::string& storeHost,
                                const std::function<void()>& keepHidden)
{
    SelfUpdateOutcome outcome = checkAndInstall(environment.updater, storeHost);
    if (outcome.installed)
        startNewVersion(environment, outcome, keepHidden);
    return outcome;
}

bool rollBackUpdate(const UpdaterEnvironment& environment, SelfUpdateOutcome& outcome)
{
    if (outcome.newVersion)
        outcome.newVersion->kill();
    CAutoUpdater(environment).noteRefused(outcome.version);
    const bool restored = CAutoUpdater::restoreBackup(outcome.executable);
    UpdateTrial::forget(outcome.executable);
    return restored;
}

} // namespace qvr
