#include "platform/registry.h"

#include "platform/atomic_file.h"
#include "platform/exclusive_file.h"
#include "platform/hive.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
long loadHive(const std::string& path, std::optional<HiveDocument>& doc)
{
    const UniqueFd fd = openRegularFile(path);
    if (!fd)
        return resultForOpenError(errno);
    const std::optional<std::string> text = readAll(fd.get(), HiveDocument::kMaxFileSize);
    if (!text)
        return RegBadDb;
    doc = HiveDocument::parse(*text);
    return doc ? RegSuccess : RegBadDb;
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

    // Writers take turns on the folder for the whole read-modify-write: locking the
    // file itself would not do, since every write replaces it by another one.
    const std::string& path = m_state->hivePath;
    UniqueFd folder(::open(parentFolder(resolvedPath(path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder)
        return errno == ENOENT ? RegKeyDeleted : RegWriteFault;
    while (::flock(folder.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return RegWriteFault;
    }

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
    if (contents.size() > HiveDocument::kMaxFileSize || !replaceFileAtomically(path, contents))
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

Registry::Registry(std::string hivePath)
    : m_hivePath(std::move(hivePath))
{
}

long Registry::openKey(std::string_view subKey, RegAccess access, RegistryKey& key) const
{
    key.close();
    std::optional<HiveDocument> doc;
    if (const long loaded = loadHive(m_hivePath, doc); loaded != RegSuccess)
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

} // namespace qvr
