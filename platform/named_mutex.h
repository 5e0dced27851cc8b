#pragma once

#include "platform/unique_fd.h"

#include <optional>
#include <string>

namespace qvr {

// A named mutex shared by the processes of one user, kept as a file in a private
// folder (see runtimeDirectory()). Every process that has the mutex open holds a
// shared flock on that file; the kernel drops it when the process ends, however it
// ends, so only live processes count.
class NamedMutex {
public:
    // Creates the mutex, or opens it when another process has it open, without
    // owning it. Nothing when the folder or the file cannot be used, or when the
    // name is not a plain file name.
    static std::optional<NamedMutex> create(const std::string& folder, const std::string& name);

    // True when another process had the mutex open when this one was created
    // (the Windows ERROR_ALREADY_EXISTS).
    bool alreadyExisted() const noexcept { return m_alreadyExisted; }

private:
    NamedMutex(UniqueFd presence, bool alreadyExisted)
        : m_presence(std::move(presence)), m_alreadyExisted(alreadyExisted) {}

    UniqueFd m_presence;
    bool m_alreadyExisted = false;
};

} // namespace qvr
