#include "app/settings.h"

#include "engine/configuration.h"
#include "platform/atomic_file.h"
#include "platform/exclusive_file.h"
#include "platform/failure_log.h"
#include "platform/paths.h"
#include "platform/random.h"
#include "res/strings.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qvr {

namespace {

constexpr std::uint32_t kValueBufferSize = 1024;

// user-dirs.dirs is a few lines; anything larger is not one.
constexpr std::size_t kMaxUserDirsBytes = 64 * 1024;

// A base folder of the desktop's: the variable when it holds an absolute path (the
// desktop's rule for relative ones is to ignore them), else the home's `fallback`.
std::string baseFolder(const char* variable, const std::string& home, std::string_view fallback)
{
    const char* value = std::getenv(variable);
    if (value && value[0] == '/')
        return value;
    return home + "/" + std::string(fallback);
}

void readInto(const RegistryKey& key, std::string_view name, std::string& member)
{
    if (auto value = readStringSetting(key, name))
        member = std::move(*value);
}

} // namespace

std::string baseKeyPath()
{
    return loadString(IDS_REGISTRY_BASE);
}

std::string clientKeyPath()
{
    return baseKeyPath() + "\\Client";
}

std::string queueKeyPath()
{
    return baseKeyPath() + "\\Queue";
}

std::optional<std::string> readStringSetting(const RegistryKey& key, std::string_view name)
{
    std::array<std::uint8_t, kValueBufferSize> buffer {};
    std::uint32_t type = RegNone;
    std::uint32_t size = kValueBufferSize;
    if (key.queryValue(name, &type, buffer.data(), &size) != RegSuccess)
        return std::nullopt;
    if (type != RegSz && type != RegExpandSz)
        return std::nullopt;
    if (size == 0)
        return std::string();
    if (size > kValueBufferSize || buffer[size - 1] != 0)
        return std::nullopt;
    // The value is a C string: a NUL inside it ends the text.
    const char* text = reinterpret_cast<const char*>(buffer.data());
    return std::string(text, ::strnlen(text, size));
}

void loadSettings(const Registry& registry, ApplicationStrings& app)
{
    const auto open = [&registry](const std::string& keyPath, RegistryKey& key) {
        const long opened = registry.openKey(keyPath, RegAccess::Read, key);
        if (opened != RegSuccess)
            logFailure("reading the settings key " + keyPath + " in " + registry.path(), registryErrorText(opened),
                       "its values stay unset");
        return opened == RegSuccess;
    };
    if (RegistryKey key; open(baseKeyPath(), key)) {
        readInto(key, "Directory", app.m_strDirectory);
    }
    if (RegistryKey key; open(clientKeyPath(), key)) {
        readInto(key, "DownloadFolder", app.m_strDownloadFolder);
        readInto(key, "GUID", app.m_strInstallationId);
    }
    if (RegistryKey key; open(queueKeyPath(), key)) {
        readInto(key, "RawQueue", app.m_strRawQueuePath);
        readInto(key, "DownloadQueue", app.m_strDownloadQueuePath);
    }
}

long writeStringValue(const Registry& registry, std::string_view keyPath, std::string_view name,
                      std::string_view text)
{
    RegistryKey key;
    if (const long rc = registry.openKey(keyPath, RegAccess::Write, key); rc != RegSuccess)
        return rc;
    return key.setStringValue(name, text);
}

Guid guidFromBytes(const std::array<std::uint8_t, 16>& bytes)
{
    // A GUID's first three fields are little-endian in memory.
    Guid guid;
    guid.data1 = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8
        | static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    guid.data2 = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
    guid.data3 = static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8);
    std::memcpy(guid.data4.data(), bytes.data() + 8, 8);
    return guid;
}

std::string formatInstallationId(const Guid& guid)
{
    char text[33];
    std::snprintf(text, sizeof text, "%08lX%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned long>(guid.data1), guid.data2, guid.data3, guid.data4[0],
                  guid.data4[1], guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5],
                  guid.data4[6], guid.data4[7]);
    return text;
}

std::string newInstallationId()
{
    const auto bytes = randomGuidBytes();
    return bytes ? formatInstallationId(guidFromBytes(*bytes)) : std::string();
}

std::optional<std::string> musicFolderFromUserDirs(std::string_view text, const std::string& home)
{
    constexpr std::string_view kAssignment = "XDG_MUSIC_DIR=";
    std::optional<std::string> folder;
    // The file is a shell fragment: the last assignment wins.
    for (std::string_view line : splitTextLines(text)) {
        line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
        if (!line.starts_with(kAssignment))
            continue;
        line.remove_prefix(kAssignment.size());
        if (!line.starts_with('"'))
            continue;
        std::string value;
        std::size_t i = 1;
        for (; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size())
                ++i;
            value += line[i];
        }
        if (i + 1 != line.size())
            continue;
        if (value.starts_with("$HOME") && (value.size() == 5 || value[5] == '/'))
            value = home + value.substr(5);
        else if (!value.starts_with('/'))
            continue;
        while (value.size() > 1 && value.back() == '/')
            value.pop_back();
        folder = value == home ? std::nullopt : std::optional(value);
    }
    return folder;
}

FirstRunFolders FirstRunFolders::fromEnvironment()
{
    const char* homeValue = std::getenv("HOME");
    const std::string home = homeValue ? homeValue : "";
    std::optional<std::string> music;
    if (const UniqueFd file = openRegularFile(baseFolder("XDG_CONFIG_HOME", home, ".config") + "/user-dirs.dirs"))
        if (const auto text = readAll(file.get(), kMaxUserDirsBytes); text && text->size() <= kMaxUserDirsBytes)
            music = musicFolderFromUserDirs(*text, home);
    return {parentFolder(modulePath()), music.value_or(home + "/Music") + "/Quavero", queuesFromEnvironment()};
}

std::string FirstRunFolders::queuesFromEnvironment()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/')
        return std::string(data) + "/quavero";
    // Without a home, the fallback would be a folder at the root of the file system.
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/')
        return {};
    return std::string(home) + "/.local/share/quavero";
}

void useDefaultQueueFiles(ApplicationStrings& app, const std::string& queues)
{
    if (queues.empty())
        return;
    if (!app.m_strRawQueuePath.starts_with('/'))
        app.m_strRawQueuePath = queues + "/rawqueue.txt";
    if (!app.m_strDownloadQueuePath.starts_with('/'))
        app.m_strDownloadQueuePath = queues + "/downloadqueue.txt";
}

namespace {

// Writes the settings file at `hivePath`, when there is none, with these values, and
// makes the folders they name. The file appears whole or not at all, and one that
// appeared meanwhile is left as it is. False when the settings file could not be made.
bool writeNewSettings(const std::string& hivePath, const ApplicationStrings& values)
{
    // A desktop may lack any of these folders yet; a download folder that is not
    // there would hold the first track up. One that cannot be made is told about
    // when the track or the queue needs it; the settings file is what matters here.
    for (const std::string& folder : {values.m_strDownloadFolder, parentFolder(values.m_strRawQueuePath),
                                      parentFolder(values.m_strDownloadQueuePath), parentFolder(hivePath)})
        static_cast<void>(makeFolders(folder, 0755));

    // Made under a name of its own and linked in at the end: a start never finds
    // half the settings, and a file another start made meanwhile is kept.
    const std::string draft =
        parentFolder(hivePath) + "/.first-run." + std::to_string(::getpid()) + ".reg";
    std::string text = "REGEDIT4\r\n";
    for (const std::string& key : {baseKeyPath(), clientKeyPath(), queueKeyPath()})
        text += "\r\n[HKEY_LOCAL_MACHINE\\" + key + "]\r\n";
    const Registry draftRegistry(draft);
    const auto write = [&](const std::string& key, std::string_view name, std::string_view value) {
        return writeStringValue(draftRegistry, key, name, value) == RegSuccess;
    };
    const std::string& id = values.m_strInstallationId;
    const FileResult drafted = replaceFileAtomically(draft, text);
    const bool complete = drafted && write(baseKeyPath(), "Directory", values.m_strDirectory)
        && write(clientKeyPath(), "DownloadFolder", values.m_strDownloadFolder)
        && (id.empty() || write(clientKeyPath(), "GUID", id))
        && write(queueKeyPath(), "RawQueue", values.m_strRawQueuePath)
        && write(queueKeyPath(), "DownloadQueue", values.m_strDownloadQueuePath);
    const bool placed = complete && (::link(draft.c_str(), hivePath.c_str()) == 0 || errno == EEXIST);
    if (!placed)
        logFailure("making the settings file " + hivePath,
                   !drafted ? errnoText(drafted.error())
                            : (complete ? "placing it: " + errnoText(errno) : "a value could not be written into " + draft),
                   "going on without settings; the next start tries again");
    ::unlink(draft.c_str());
    // Settings whose name a power cut took back are simply made again at the next
    // start; the sync only makes that rare.
    if (placed)
        static_cast<void>(syncFolder(parentFolder(hivePath)));
    return placed;
}

bool isInstallationId(std::string_view text)
{
    return text.size() == 32
        && std::ranges::all_of(text, [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

} // namespace

bool writeFirstRunSettings(const std::string& hivePath, const FirstRunFolders& folders)
{
    ApplicationStrings values;
    values.m_strDirectory = folders.install;
    values.m_strDownloadFolder = folders.download;
    values.m_strInstallationId = newInstallationId();
    values.m_strRawQueuePath = folders.queues + "/rawqueue.txt";
    values.m_strDownloadQueuePath = folders.queues + "/downloadqueue.txt";
    return writeNewSettings(hivePath, values);
}

std::string renewUnreadableSettings(const std::string& hivePath, ApplicationStrings& app)
{
    if (hivePath.empty())
        return {};
    const HiveSetAside aside = Registry(hivePath).setAsideUnreadable();
    if (aside.outcome == HiveSetAside::Outcome::Readable)
        return {};
    const bool moved = aside.outcome == HiveSetAside::Outcome::Moved;

    // What still reads of the old file is kept, above all the installation id, by
    // which the store knows this installation, and the queue files, which hold the
    // purchases not yet downloaded. A first start's settings fill in the rest.
    ApplicationStrings kept;
    loadSettings(Registry(moved ? aside.keptAs : hivePath, Registry::Reading::Salvage), kept);
    const FirstRunFolders folders = FirstRunFolders::fromEnvironment();
    const auto keptOr = [](const std::string& value, const std::string& otherwise) {
        return value.starts_with('/') ? value : otherwise;
    };
    app.m_strDirectory = keptOr(kept.m_strDirectory, folders.install);
    app.m_strDownloadFolder = keptOr(kept.m_strDownloadFolder, folders.download);
    app.m_strRawQueuePath = keptOr(kept.m_strRawQueuePath, folders.queues + "/rawqueue.txt");
    app.m_strDownloadQueuePath = keptOr(kept.m_strDownloadQueuePath, folders.queues + "/downloadqueue.txt");
    app.m_strInstallationId = isInstallationId(kept.m_strInstallationId) ? kept.m_strInstallationId : newInstallationId();

    const std::string unread = "Quavero could not read its settings file\n" + hivePath + "\n(" + aside.why + ").\n\n";
    const std::string tracksGo = "\n\nTracks go into the folder\n" + app.m_strDownloadFolder + "\nuntil you choose another.";
    if (!moved) {
        logFailure("reading the settings file " + hivePath, aside.why,
                   "leaving it as it is (it cannot be moved aside: " + aside.whyStayed + "), and going on with what still reads of it");
        return unread + "It could not be moved aside to make a new one (" + aside.whyStayed
            + "), so this start goes on with what could still be read of it." + tracksGo;
    }
    const bool written = writeNewSettings(hivePath, app);
    logFailure("reading the settings file " + hivePath, aside.why,
               "it is kept as " + aside.keptAs + (written ? ", and a new one took its place" : "; no new one could be made"));
    return unread + "It is kept, unchanged, as\n" + aside.keptAs + "\n"
        + (written ? "and a new one took its place, with what could still be read of it."
                   : "but a new one could not be made, so this start goes on with what could still be read of it.")
        + tracksGo;
}

} // namespace qvr
