#pragma once

#include <optional>
#include <string>

namespace qvr {

// Where the settings hive lives: $QVR_REGISTRY, else
// ${XDG_CONFIG_HOME:-$HOME/.config}/quavero/registry.reg.
std::string hivePath();

// The private per-user folder for named objects (mutexes, hand-off socket):
// $XDG_RUNTIME_DIR/quavero, else /tmp/quavero-<uid>. It is created with mode 0700
// when missing; nothing is returned when it cannot be made, or when what is there
// is not a folder of ours that only we can enter (another user could otherwise
// plant objects in it).
std::optional<std::string> runtimeDirectory();

// Makes `path` a folder of ours with mode 0700, as runtimeDirectory() does.
bool ensurePrivateDirectory(const std::string& path);

// The user's temporary folder with a trailing "/": $TMPDIR, else /tmp.
std::string tempFolder();

// The folder part of `path`: "." for a bare name, "/" for a file at the root.
std::string parentFolder(const std::string& path);

// `path` with every link resolved, or `path` itself when it does not exist yet.
std::string resolvedPath(const std::string& path);

// A private folder under tempFolder() that is removed, with what it holds, when
// the object goes away.
class TempFolder {
public:
    static std::optional<TempFolder> create(const std::string& prefix);
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

} // namespace qvr
