#include "update/self_update.h"

#include "platform/process_launch.h"
#include "res/strings.h"

namespace qvr {

bool RunSelfUpdate(const SelfUpdateEnvironment& environment, const std::function<void()>& keepHidden)
{
    CAutoUpdater updater(environment.updater);
    if (updater.CheckForUpdate(loadString(IDS_UPDATE_FOLDER_URL, environment.storeHost)) != UPD_INSTALLED)
        return false;
    if (environment.updater.prompts)
        environment.updater.prompts->announceInstalled(kUpdatedText, kUpdatedCaption);
    if (keepHidden)
        keepHidden();
    const std::string program = updater.installedExecutable();
    const std::vector<std::string> args {kTakeOverSwitch};
    if (environment.launch)
        environment.launch(program, args);
    else
        StartDetached(program, args);
    return true;
}

} // namespace qvr
