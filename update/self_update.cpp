#include "update/self_update.h"

#include "platform/process_launch.h"
#include "res/strings.h"

namespace qvr {

SelfUpdateOutcome RunSelfUpdate(const SelfUpdateEnvironment& environment, const std::string& storeHost,
                                const std::function<void()>& keepHidden)
{
    CAutoUpdater updater(environment.updater);
    if (updater.CheckForUpdate(loadString(IDS_UPDATE_FOLDER_URL, storeHost)) != UPD_INSTALLED)
        return {.storeUnanswered = updater.ListUnanswered()};
    // Before the notice: the process may end while it is open, and what the new
    // version must take over has to be on disk by then.
    if (keepHidden)
        keepHidden();
    if (environment.updater.prompts)
        environment.updater.prompts->announceInstalled(kUpdatedText, kUpdatedCaption);
    const std::string program = updater.installedExecutable();
    const std::vector<std::string> args {kTakeOverSwitch};
    if (environment.launch)
        environment.launch(program, args);
    else
        StartDetached(program, args);
    return {.installed = true};
}

} // namespace qvr
