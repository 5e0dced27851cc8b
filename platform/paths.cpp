#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <string_view>
#include <vector>

namespace qvr {

namespace {

std::string envOr(const char* name, std::string_view fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : std::string(fallback);
}

} // namespace

std::string hivePath()
{
    if (const char* explicitPath = std::getenv("QVR_REGISTRY"); explicitPath && *explicitPath)
        return explicitPath;
    std::string config = envOr("XDG_CONFIG_HOME", "");
    if (config.empty())
        config = envOr("HOME", "") + "/.config";
    return config + "/quavero/registry.reg";
}

bool ensurePrivateDirectory(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0)
        return false;
    return true;
}

namespace {

std::string cacheHome()
{
    if (std::string cache = envOr("XDG_CACHE_HOME", ""); !cache.empty())
        return cache;
    const std::string home = envOr("HOME", "");
    return home.empty() ? std::string() : home + "/.cache";
}

} // namespace

std::vector<std::string> runtimeDirectoryCandidates()
{
    std::vector<std::string> candidates;
    if (const std::string base = envOr("XDG_RUNTIME_DIR", ""); !base.empty())
        candidates.push_back(base + "/quavero");
    candidates.push_back("/tmp/quavero-" + std::to_string(::getuid()));
    if (const std::string cache = cacheHome(); !cache.empty())
        candidates.push_back(cache + "/quavero-run");
    return candidates;
}

std::optional<std::string> firstPrivateDirectory(const std::vector<std::string>& candidates)
{
    for (const std::string& candidate : candidates) {
        if (ensurePrivateDirectory(candidate))
            return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> runtimeDirectory()
{
    // The last resort lives in the cache folder, which a new account may not have.
    if (const std::string cache = cacheHome(); !cache.empty())
        ::mkdir(cache.c_str(), 0700);
    return firstPrivateDirectory(runtimeDirectoryCandidates());
}

std::string tempFolder()
{
    std::string dir = envOr("TMPDIR", "/tmp");
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

std::string programCacheFolder()
{
    const std::string cache = cacheHome();
    return cache.empty() ? std::string() : cache + "/quavero";
}

std::string parentFolder(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string resolvedPath(const std::string& path)
{
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string resolved(real);
        std::free(real);
        return resolved;
    }
    return path;
}

std::optional<TempFolder> TempFolder::create(const std::string& prefix)
{
    std::string pattern = tempFolder() + prefix + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return std::nullopt;
    return TempFolder(pattern);
}

TempFolder::TempFolder(TempFolder&& other) noexcept
    : m_path(std::exchange(other.m_path, {}))
{
}

TempFolder::~TempFolder()
{
    if (!m_path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
}

std::string modulePath()
{
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size())
        return {};
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

bool canReplaceExecutable(const std::string& path)
{
    const std::string real = resolvedPath(path);
    return !real.empty() && ::access(parentFolder(real).c_str(), W_OK) == 0;
}

} // namespace qvr
