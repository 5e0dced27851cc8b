#pragma once

#include "engine/queue_controller.h"
#include "engine/workers.h"
#include "platform/http.h"
#include "ui/arrival_notice.h"
#include "ui/prompts.h"
#include "ui/radio_panel.h"
#include "ui/shell.h"
#include "update/self_update.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace qvr {

class RightClickFilter;

// What the main window needs from the process around it, besides the configuration:
// the resources and the ways out that the start makes for it, or tests give it.
struct MainWindowEnvironment {
    // The workers' gates, network, pauses and limits.
    WorkerSettings workers;
    // Stores a newly chosen download folder in the settings.
    QueueController::FolderWriter writeDownloadFolder;
    // The radio panel's browser views, asked for when the page first answers. Left
    // out, the panel keeps its prompt and asks the store nothing, and no web engine
    // is ever loaded.
    WebViewSource webViews;
    // Makes the clients of the radio page's check (see radioCheckOptions()).
    HttpClientFactory radioHttp;
    // Told the browser's view once it exists, so that right clicks never reach the page.
    RightClickFilter* rightClicks = nullptr;
    Prompts* prompts = nullptr;  // null: the real dialogs
    DesktopOpener* desktop = nullptr;  // null: xdg-open
    DesktopNotices* notices = nullptr;  // null: the session bus's notification service
    // How long the end of the window waits for workers that are still busy; the
    // end says whether they all ended.
    std::chrono::milliseconds workerGrace {5000};
    // The update check at the window's start; none: no check.
    std::optional<SelfUpdateEnvironment> selfUpdate;
    // How long a window that handed over to a newer executable waits to be told
    // to go before it goes by itself.
    std::chrono::milliseconds handedOverLimit {60000};
    // Every network wait before the window shows (the version list, the head of the
    // new program's answer, the radio check) shares this much time; each gets the
    // smaller of its own limit and what is left.
    std::chrono::milliseconds startWaits {3400};
};

} // namespace qvr
