#include "platform/registry.h"

#include "platform/atomic_file.h"
#include "platform/exclusive_file.h"
#include "platform/file_result.h"
#include "platform/hive.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

namespace qvr {

namespace {

constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";

std::string keyPathOf(std::string_view subKey)
{
    std::string path(kRoot);
    if (!subKey.empty()) {
        path += '\\';
        path += subKey;
    }
    return path;
}

long resultForOpenError(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return RegFileNotFound;
    case EACCES:
    case EPERM:
        return RegAccessDenied;
    default:
        return RegBadDb;
    }
}

// Reads and parses the hive into `doc`; the result code tells why there is none.
long loadHive(const std::string& path, std::optional<HiveDocument>& doc, Registry::Reading reading = Registry::Reading::Whole)
{
    const UniqueFd fd = openRegularFile(path);
    if (!fd)
        return resultForOpenError(errno);
    const std::optional<std::string> text = readAll(fd.get(), HiveDocument::kMaxFileSize);
    if (!text)
        return RegBadDb;
    if (reading == Registry::Reading::Salvage)
        doc = HiveDocument::salvage(*text);
    else
        doc = HiveDocument::parse(*text);
    return doc ? RegSuccess : RegBadDb;
}

// Keeps the hive's writers out for as long as the descriptor lives: every
// read-modify-write takes it. It is the folder's lock, since locking the file itself
// would not do when every write replaces it by another one. Invalid, with errno,
// when it cannot be had.
UniqueFd lockWriters(const std::string& hivePath)
{
    UniqueFd folder(::open(parentFolder(resolvedPath(hivePath)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    while (folder && ::flock(folder.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            folder.reset();
            errno = error;
        }
    }
    return folder;
}

// Renames without replacing anything at `to`: 0, or the errno (EEXIST: `to` is taken).
int renameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without that kind of rename: a second name, then the first goes.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    return ::unlink(from.c_str()) == 0 ? 0 : errno;
}

} // namespace

struct RegistryKey::State {
    std::string hivePath;
    std::string keyPath;
    RegAccess access = RegAccess::Read;
    std::optional<HiveDocument> snapshot;  // what a Read key sees
};

RegistryKey::RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;
RegistryKey::~RegistryKey() = default;

bool RegistryKey::isOpen() const noexcept
{
    return m_state != nullptr;
}

void RegistryKey::close() noexcept
{
    m_state.reset();
}

long RegistryKey::queryValue(std::string_view name, std::uint32_t* type, std::uint8_t* data,
                             std::uint32_t* size) const
{
    if (!m_state)
        return RegInvalidHandle;
    if (m_state->access != RegAccess::Read)
        return RegAccessDenied;
    if (data && !size)
        return RegInvalidParameter;

    const std::optional<HiveValue> value = m_state->snapshot->findValue(m_state->keyPath, name);
    if (!value)
        return RegFileNotFound;
    if (type)
        *type = value->type;
    // The hive's size limit keeps every value far below 4 GiB.
    const auto needed = static_cast<std::uint32_t>(value->data.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return RegMoreData;
        }
        if (needed > 0)
            std::memcpy(data, value->data.data(), needed);
    }
    if (size)
        *size = needed;
    return RegSuccess;
}

long RegistryKey::setStringValue(std::string_view name, std::string_view text)
{
    if (!m_state)
        return RegInvalidHandle;
    if (m_state->access != RegAccess::Write)
        return RegAccessDenied;

    // Writers take turns for the whole read-modify-write.
    const std::string& path = m_state->hivePath;
    const UniqueFd writersKeptOut = lockWriters(path);
    if (!writersKeptOut)
        return errno == ENOENT ? RegKeyDeleted : RegWriteFault;

    std::optional<HiveDocument> doc;
    if (const long loaded = loadHive(path, doc); loaded != RegSuccess)
        return loaded == RegFileNotFound ? RegKeyDeleted : loaded;
    if (!doc->hasKey(m_state->keyPath))
        return RegKeyDeleted;

    HiveValue value;
    value.type = RegSz;
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
    if (!doc->setValue(m_state->keyPath, name, value))
        return RegInvalidParameter;

    // A file we could not read back would lose every setting.
    const std::string contents = doc->serialize();
    if (!HiveDocument::parse(contents) || !replaceFileAtomically(path, contents))
        return RegWriteFault;
    return RegSuccess;
}

std::string registryErrorText(long result)
{
    const char* meaning = "unknown";
    switch (result) {
    case RegSuccess: meaning = "none"; break;
    case RegFileNotFound: meaning = "the key, the value or the settings file is absent"; break;
    case RegAccessDenied: meaning = "access denied"; break;
    case RegInvalidHandle: meaning = "the key is not open"; break;
    case RegMoreData: meaning = "the value is too long"; break;
    case RegBadDb: meaning = "the settings file cannot be read or parsed"; break;
    case RegKeyDeleted: meaning = "the key is gone from the settings file"; break;
    case RegWriteFault: meaning = "the settings file could not be replaced"; break;
    case RegInvalidParameter: meaning = "the value cannot be written"; break;
    }
    return "settings error " + std::to_string(result) + ", " + meaning;
}

Registry::Registry(std::string hivePath, Reading reading)
    : m_hivePath(std::move(hivePath)),
      m_reading(reading)
{
}

long Registry::openKey(std::string_view subKey, RegAccess access, RegistryKey& key) const
{
    key.close();
    // What was salvaged of a damaged file is never written back: it lacks the rest.
    if (m_reading == Reading::Salvage && access == RegAccess::Write)
        return RegAccessDenied;
    std::optional<HiveDocument> doc;
    if (const long loaded = loadHive(m_hivePath, doc, m_reading); loaded != RegSuccess)
        return loaded;
    std::string keyPath = keyPathOf(subKey);
    if (!doc->hasKey(keyPath))
        return RegFileNotFound;

    auto state = std::make_unique<RegistryKey::State>();
    state->hivePath = m_hivePath;
    state->keyPath = std::move(keyPath);
    state->access = access;
    if (access == RegAccess::Read)
        state->snapshot = std::move(doc);
    key.m_state = std::move(state);
    return RegSuccess;
}

HiveSetAside Registry::setAsideUnreadable() const
{
    HiveSetAside result;
    // Without the lock the move is still safe for the file, only not against a
    // writer of this very moment; the rename below says whether the folder lets us.
    const UniqueFd writersKeptOut = lockWriters(m_hivePath);
    {
        // A file we may not read (one a start as another user made) is in the way
        // as much as a damaged one.
        const UniqueFd file = openRegularFile(m_hivePath);
        if (!file && errno != EACCES)
            return result;
        const std::optional<std::string> text = file ? readAll(file.get(), HiveDocument::kMaxFileSize) : std::nullopt;
        if (!text)
            result.why = "it could not be read: " + FileResult::fromErrno().reason();
        else if (text->size() > HiveDocument::kMaxFileSize)
            result.why = "it is larger than 1 MiB, far more than settings take";
        else if (!HiveDocument::parse(*text))
            result.why = "it is not in the form of a settings file";
        else
            return result;
    }
    for (int n = 1; n <= kMaxSetAside; ++n) {
        std::string name = m_hivePath + ".broken" + (n > 1 ? "." + std::to_string(n) : std::string());
        const int error = renameNoReplace(m_hivePath, name);
        if (error == 0) {
            result.outcome = HiveSetAside::Outcome::Moved;
            result.keptAs = std::move(name);
            // Should a power cut take the move back, the next start finds the same
            // file and moves it again.
            static_cast<void>(syncFolder(parentFolder(m_hivePath)));
            return result;
        }
        if (error != EEXIST) {
            result.outcome = HiveSetAside::Outcome::Stayed;
            result.whyStayed = FileResult::failed(error).reason();
            return result;
        }
    }
    result.outcome = HiveSetAside::Outcome::Stayed;
    result.whyStayed = std::to_string(kMaxSetAside) + " earlier ones are kept beside it already";
    return result;
}

} // namespace qvr
