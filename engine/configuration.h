#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qvr {

class OwnerLock;
class UpdateTrial;

// The program-wide strings the application object holds: the settings, and the
// request that came with this start.
struct ApplicationStrings {
    std::string m_strDirectory;
    std::string m_strDownloadQueuePath;
    std::string m_strRawQueuePath;
    std::string m_strDownloadFolder;  // the folder at the start; the window keeps the current one
    std::string m_strInstallationId;
    std::string m_strRequest;
};

// What this start of the program found out before its window opens: where it meets
// the rest of the system, which store it talks to, and the settings it read. The
// start-up builds it once (app/), and everything after reads it by reference;
// nothing in it changes while the program runs.
struct Configuration {
    std::string hivePath;                   // the settings hive file
    std::optional<std::string> runtimeDir;  // named objects and the hand-off; none: we count as alone
    std::string storeHost;                  // "host" or "host:port" of the store
    ApplicationStrings strings;
    // What the user is told once the window shows about the settings file, when it
    // could not be read; empty otherwise.
    std::string settingsNotice {};
    // A start with "/switch", which an update makes: it looks for no update itself,
    // and tells the window it took over from (its handle; 0: none) once its own
    // window is published.
    bool switchStart = false;
    std::uint32_t takesOverFrom = 0;
    // The lock that makes this start the one owner of the queue files; the window
    // lets it go while a new version of it takes over. Null: not owned.
    OwnerLock* queueOwner = nullptr;
    // Why the queue files are not where the settings put them; empty when they are.
    std::string queueFolderNotice {};
    // What the start found of a new version's trial, first thing (app/main.cpp).
    // Null: none was looked for.
    UpdateTrial* trial = nullptr;
};

} // namespace qvr
