#pragma once

#include "platform/unique_fd.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qvr {

// A library of the program's own, loaded at run time from one of two places. The
// single-file build carries its bytes (`image`), which go into an anonymous memory
// file (memfd) opened as "/proc/self/fd/N"; a distribution's build installs it as a
// file of its own (`path`), where the distribution's tools see what it links.
struct LibrarySource {
    std::string name;        // the memory file's name, which debuggers show
    std::string_view image;  // the carried bytes, or empty
    std::string path;        // the installed file, where no bytes are carried
};

// The file of the library `name` ("quavero-gui") in `folder`, which is given relative
// to the executable's own folder ("../lib/quavero"), so that the installed tree still
// runs when it is unpacked elsewhere as a whole. Empty when the executable's own path
// cannot be read: a path relative to the working folder would load whatever lies there.
std::string installedLibraryPath(const std::string& folder, const std::string& name);

// A library once loaded is never unloaded, not even when the object goes; a memory
// file stays open as long as the object, so that debuggers and sanitizer reports
// find the library's code under that name meanwhile.
class LoadedLibrary {
public:
    // Nothing, with the reason in `error`, when the library cannot be loaded.
    [[nodiscard]] static std::optional<LoadedLibrary> load(const LibrarySource& source, std::string& error);

    // The address of an exported symbol, or null.
    [[nodiscard]] void* symbol(const char* name) const;

private:
    struct Closer {
        void operator()(void* handle) const noexcept;
    };
    LoadedLibrary(UniqueFd file, std::unique_ptr<void, Closer> handle)
        : m_file(std::move(file)), m_handle(std::move(handle)) {}

    UniqueFd m_file;
    std::unique_ptr<void, Closer> m_handle;
};

} // namespace qvr
