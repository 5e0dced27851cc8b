#pragma once

#include "platform/registry.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvr {

struct ApplicationStrings;

// Registry keys of the program, below HKEY_LOCAL_MACHINE.
std::string baseKeyPath();
std::string clientKeyPath();
std::string queueKeyPath();

// Reads one string setting the way the program always has: through a 1024-byte
// buffer, so at most 1023 characters and a NUL; REG_SZ or REG_EXPAND_SZ, taken
// verbatim; a size of 0 is the empty string; anything else is no value.
std::optional<std::string> readStringSetting(const RegistryKey& key, std::string_view name);

// Fills the application's five settings. A key that does not open is skipped with
// its values; there are no defaults.
void loadSettings(const Registry& registry, ApplicationStrings& app);

// Stores `text` as REG_SZ in the existing key `keyPath`; never creates the key.
long writeStringValue(const Registry& registry, std::string_view keyPath, std::string_view name,
                      std::string_view text);

// The installation's identifier: a GUID written as 32 upper-case hexadecimal
// digits, Data1, Data2, Data3 and the eight bytes of Data4 in order.
struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4 {};
};
Guid guidFromBytes(const std::array<std::uint8_t, 16>& bytes);
std::string formatInstallationId(const Guid& guid);

// A new installation identifier from the system's random source; empty when it
// has none to give.
std::string newInstallationId();

// Where a user who never ran an install step gets the program's files.
struct FirstRunFolders {
    std::string install;   // the running executable's folder
    std::string download;  // the music folder's "Quavero"
    std::string queues;    // the queue files' folder

    // From the desktop's folders: the music folder named in user-dirs.dirs (else
    // ~/Music), the data home (else ~/.local/share).
    static FirstRunFolders fromEnvironment();
    // The queue files' folder alone, ${XDG_DATA_HOME:-~/.local/share}/quavero; empty
    // when neither a data home nor a home folder is known.
    static std::string queuesFromEnvironment();
};

// Queue-file paths that the settings leave empty, or give relative to wherever the
// program happens to start, become those in `queues` (when that is known).
void useDefaultQueueFiles(ApplicationStrings& app, const std::string& queues);

// The music folder that a user-dirs.dirs text names (XDG_MUSIC_DIR="$HOME/..." or
// an absolute path); nothing when it names none, or names the home folder itself,
// which is how a desktop says the folder is switched off.
std::optional<std::string> musicFolderFromUserDirs(std::string_view text, const std::string& home);

// Writes the settings file at `hivePath`, when there is none yet, with what the
// per-user install writes: the folders, the queue files in `folders.queues`, and a
// new installation identifier. It also makes those folders. The file appears whole
// or not at all, and one that appeared meanwhile is left as it is. False when the
// settings file could not be made.
bool writeFirstRunSettings(const std::string& hivePath, const FirstRunFolders& folders);

// A settings file at `hivePath` that cannot be read is set aside unchanged
// (Registry::setAsideUnreadable) and a new one written in its place, with every
// value that still reads in the old one and a first start's for the rest; `app`
// gets those values, whether or not the new file could be written. Returns what the
// user is to be told, once: empty when the file read well or there is none.
[[nodiscard]] std::string renewUnreadableSettings(const std::string& hivePath, ApplicationStrings& app);

} // namespace qvr
