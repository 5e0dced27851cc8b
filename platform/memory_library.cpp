#include "platform/memory_library.h"

#include "platform/exclusive_file.h"

#include <dlfcn.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>

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

void MemoryLibrary::Closer::operator()(void* handle) const noexcept
{
    ::dlclose(handle);
}

std::optional<MemoryLibrary> MemoryLibrary::load(const std::string& name, std::string_view image,
                                                 std::string& error)
{
    UniqueFd file = memoryFile(name);
    if (!file || !writeAll(file.get(), image)) {
        error = std::string("cannot make a memory file: ") + std::strerror(errno);
        return std::nullopt;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(file.get());
    // What it loads cannot be unloaded safely (the GUI framework registers
    // handlers at exit), so closing the handle leaves it loaded.
    std::unique_ptr<void, Closer> handle(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
    if (!handle) {
        const char* reason = ::dlerror();
        error = reason ? reason : "cannot load " + name;
        return std::nullopt;
    }
    return MemoryLibrary(std::move(file), std::move(handle));
}

void* MemoryLibrary::symbol(const char* name) const
{
    return ::dlsym(m_handle.get(), name);
}

} // namespace qvr
