#pragma once

#include "platform/unique_fd.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qvr {

// A shared library loaded from bytes that the executable carries, not from a file
// beside it: the bytes go into an anonymous memory file (memfd) that is opened as
// "/proc/self/fd/N". The library is never unloaded, not even when the object goes;
// the memory file stays open as long as the object, so that debuggers and
// sanitizer reports find the library's code under that name meanwhile.
class MemoryLibrary {
public:
    // Nothing, with the reason in `error`, when the library cannot be loaded.
    [[nodiscard]] static std::optional<MemoryLibrary> load(const std::string& name, std::string_view image,
                                                           std::string& error);

    // The address of an exported symbol, or null.
    [[nodiscard]] void* symbol(const char* name) const;

private:
    struct Closer {
        void operator()(void* handle) const noexcept;
    };
    MemoryLibrary(UniqueFd file, std::unique_ptr<void, Closer> handle)
        : m_file(std::move(file)), m_handle(std::move(handle)) {}

    UniqueFd m_file;
    std::unique_ptr<void, Closer> m_handle;
};

} // namespace qvr
