#include "platform/loaded_library.h"

#include "platform/exclusive_file.h"
#include "platform/paths.h"

#include <dlfcn.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace qvr {

namespace {

// Kernels that may make memory files non-executable by default (6.3 on) need this
// flag to allow running code from one; older kernels refuse it as unknown.
#ifndef MFD_EXEC
#define MFD_EXEC 0x0010U
#endif

UniqueFd memoryFile(const std::string& name)
{
    UniqueFd fd(::memfd_create(name.c_str(), MFD_CLOEXEC | MFD_EXEC));
    if (!fd && errno == EINVAL)
        fd.reset(::memfd_create(name.c_str(), MFD_CLOEXEC));
    return fd;
}

} // namespace

std::string installedLibraryPath(const std::string& folder, const std::string& name)
{
    const std::string executable = modulePath();
    if (executable.empty())
        return {};
    const std::filesystem::path file = std::filesystem::path(parentFolder(executable)) / folder / ("lib" + name + ".so");
    return file.lexically_normal().string();
}

void LoadedLibrary::Closer::operator()(void* handle) const noexcept
{
    ::dlclose(handle);
}

std::optional<LoadedLibrary> LoadedLibrary::load(const LibrarySource& source, std::string& error)
{
    UniqueFd file;
    std::string path = source.path;
    if (source.image.empty()) {
        // Without a slash dlopen would search the system's library path instead.
        if (path.empty() || path.front() != '/') {
            error = "cannot find the program's own folder, and with it " + source.name;
            return std::nullopt;
        }
    } else {
        file = memoryFile(source.name);
        if (!file || !writeAll(file.get(), source.image)) {
            error = std::string("cannot make a memory file: ") + std::strerror(errno);
            return std::nullopt;
        }
        path = "/proc/self/fd/" + std::to_string(file.get());
    }
    // What it loads cannot be unloaded safely (the GUI framework registers
    // handlers at exit), so closing the handle leaves it loaded.
    std::unique_ptr<void, Closer> handle(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
    if (!handle) {
        const char* reason = ::dlerror();
        error = reason ? reason : "cannot load " + path;
        return std::nullopt;
    }
    return LoadedLibrary(std::move(file), std::move(handle));
}

void* LoadedLibrary::symbol(const char* name) const
{
    return ::dlsym(m_handle.get(), name);
}

} // namespace qvr
