// The version texts of the updater: the published one and the executable's own.
#include "update/auto_updater.h"

#include "platform/exe_version.h"

#include <array>
#include <cstdint>
#include <optional>

namespace qvr {

namespace {

using VersionValue = std::array<std::int32_t, 4>;

// A field may carry leading zeros ("02" is 2); a value that does not fit a signed
// 32-bit number makes the text malformed rather than wrapping into a small one.
std::optional<std::int32_t> fieldValue(std::string_view digits)
{
    std::int64_t value = 0;
    for (const char c : digits) {
        value = value * 10 + (c - '0');
        if (value > INT32_MAX)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

// One to four fields of digits between dots; runs of dots and dots at either end
// separate nothing. Nothing when the text is malformed.
std::optional<VersionValue> parseVersion(std::string_view text)
{
    VersionValue value {};
    std::size_t fields = 0;
    while (!text.empty()) {
        const std::size_t dot = text.find('.');
        const std::string_view field = text.substr(0, dot);
        text.remove_prefix(dot == std::string_view::npos ? text.size() : dot + 1);
        if (field.empty())
            continue;
        if (fields == value.size() || !CAutoUpdater::IsDigitsOnly(field))
            return std::nullopt;
        const auto number = fieldValue(field);
        if (!number)
            return std::nullopt;
        value[fields++] = *number;
    }
    if (fields == 0)
        return std::nullopt;
    return value;
}

} // namespace

bool CAutoUpdater::IsDigitsOnly(std::string_view text)
{
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

int CAutoUpdater::CompareVersions(std::string_view first, std::string_view second)
{
    const auto a = parseVersion(first);
    if (!a)
        return VER_BAD_FIRST;
    const auto b = parseVersion(second);
    if (!b)
        return VER_BAD_SECOND;
    if (*a == *b)
        return 0;
    return *a > *b ? 1 : -1;
}

std::string CAutoUpdater::GetFileVersion(const std::string& path)
{
    const auto version = readFileVersion(path);
    return version ? fileVersionText(*version) : std::string();
}

} // namespace qvr
