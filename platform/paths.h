#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvr {

// Where the settings hive lives: $QVR_REGISTRY, else
// ${XDG_CONFIG_HOME:-$HOME/.config}/quavero/registry.reg.
std::string hivePath();

// The private per-user folder for named objects (mutexes, hand-off socket): the
// first of $XDG_RUNTIME_DIR/quavero, /tmp/quavero-<uid> and
// ${XDG_CACHE_HOME:-$HOME/.cache}/quavero-run that is a folder of ours only we can
// enter, created with mode 0700 when missing. A folder that another user made or
// that is a link is passed over (it could hold objects planted by someone else).
// Nothing when none of them can be used.
[[nodiscard]] std::optional<std::string> runtimeDirectory();
// The folders runtimeDirectory() tries, in order, and the way it tries them.
std::vector<std::string> runtimeDirectoryCandidates();
[[nodiscard]] std::optional<std::string> firstPrivateDirectory(const std::vector<std::string>& candidates);

// Makes `path` a folder of ours with mode 0700, as runtimeDirectory() does.
[[nodiscard]] bool ensurePrivateDirectory(const std::string& path);

// The user's temporary folder with a trailing "/": $TMPDIR, else /tmp.
std::string tempFolder();

// The program's folder for what it may lose at any time,
// ${XDG_CACHE_HOME:-$HOME/.cache}/quavero (perhaps not made yet); empty without either.
std::string programCacheFolder();

// The folder part of `path`: "." for a bare name, "/" for a file at the root.
std::string parentFolder(const std::string& path);

// `path` with every link resolved, or `path` itself when it does not exist yet.
std::string resolvedPath(const std::string& path);

// A private folder under tempFolder() that is removed, with what it holds, when
// the object goes away.
class TempFolder {
public:
    [[nodiscard]] static std::optional<TempFolder> create(const std::string& prefix);
    TempFolder(TempFolder&& other) noexcept;
    TempFolder& operator=(TempFolder&&) = delete;
    TempFolder(const TempFolder&) = delete;
    ~TempFolder();

    const std::string& path() const noexcept { return m_path; }

private:
    explicit TempFolder(std::string path) : m_path(std::move(path)) {}
    std::string m_path;
};

// The running executable's path, or empty when it cannot be read.
std::string modulePath();

// Whether this user may put another file in place of the one at `path` (links
// resolved), with a backup beside it: its folder is writable for us.
[[nodiscard]] bool canReplaceExecutable(const std::string& path);

} // namespace qvr
