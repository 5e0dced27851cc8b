#include "app/settings.h"

#include "engine/configuration.h"
#include "res/strings.h"

#include <cstdio>
#include <cstring>

namespace qvr {

namespace {

constexpr std::uint32_t kValueBufferSize = 1024;

void readInto(const RegistryKey& key, std::string_view name, std::string& member)
{
    if (auto value = ReadStringSetting(key, name))
        member = std::move(*value);
}

} // namespace

std::string BaseKeyPath()
{
    return loadString(IDS_REGISTRY_BASE);
}

std::string ClientKeyPath()
{
    return BaseKeyPath() + "\\Client";
}

std::string QueueKeyPath()
{
    return BaseKeyPath() + "\\Queue";
}

std::optional<std::string> ReadStringSetting(const RegistryKey& key, std::string_view name)
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

void LoadSettings(const Registry& registry, ApplicationStrings& app)
{
    if (RegistryKey key; registry.openKey(BaseKeyPath(), RegAccess::Read, key) == RegSuccess) {
        readInto(key, "Directory", app.m_strDirectory);
    }
    if (RegistryKey key; registry.openKey(ClientKeyPath(), RegAccess::Read, key) == RegSuccess) {
        readInto(key, "DownloadFolder", app.m_strDownloadFolder);
        readInto(key, "GUID", app.m_strInstallationId);
    }
    if (RegistryKey key; registry.openKey(QueueKeyPath(), RegAccess::Read, key) == RegSuccess) {
        readInto(key, "RawQueue", app.m_strRawQueuePath);
        readInto(key, "DownloadQueue", app.m_strDownloadQueuePath);
    }
}

long WriteStringValue(const Registry& registry, std::string_view keyPath, std::string_view name,
                      std::string_view text)
{
    RegistryKey key;
    if (const long rc = registry.openKey(keyPath, RegAccess::Write, key); rc != RegSuccess)
        return rc;
    return key.setStringValue(name, text);
}

Guid GuidFromBytes(const std::array<std::uint8_t, 16>& bytes)
{
    // A GUID's first three fields are little-endian in memory.
    Guid guid;
    guid.Data1 = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8
        | static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    guid.Data2 = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
    guid.Data3 = static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8);
    std::memcpy(guid.Data4.data(), bytes.data() + 8, 8);
    return guid;
}

std::string FormatInstallationId(const Guid& guid)
{
    char text[33];
    std::snprintf(text, sizeof text, "%08lX%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

} // namespace qvr
