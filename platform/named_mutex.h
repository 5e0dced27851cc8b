#pragma once

#include "platform/unique_fd.h"

#include <optional>
#include <string>

namespace qvr {

// A named mutex shared by the processes of one user, kept as files in a private
// folder (see runtimeDirectory()). Every object that has the mutex open holds a
// shared flock on the file of its name, and the object that owns the mutex holds
// an exclusive flock on "<name>.owner"; the kernel drops both when the process
// ends, however it ends, so only live processes count and a dead owner frees the
// mutex. Each object is used by one thread at a time.
class NamedMutex {
public:
    // Why create() gave nothing.
    enum class Failure { None, AccessDenied, Other };

    // Creates the mutex, or opens it when another process has it open, without
    // owning it. Nothing when the folder or the file cannot be used, or when the
    // name is not a plain file name; `failure`, when given, then says whether the
    // name exists but is not ours to open (the Windows ERROR_ACCESS_DENIED).
    [[nodiscard]] static std::optional<NamedMutex> create(const std::string& folder, const std::string& name,
                                                          Failure* failure = nullptr);

    // True when another process had the mutex open when this one was created
    // (the Windows ERROR_ALREADY_EXISTS).
    [[nodiscard]] bool alreadyExisted() const noexcept { return m_alreadyExisted; }

    // True when another process has the mutex open now.
    [[nodiscard]] bool openElsewhere() const;

    // Waits without a time limit until no other object owns the mutex, then owns
    // it. An object that already owns it owns it once more (release as often).
    [[nodiscard]] bool lock();

    // Gives up one ownership. False, and nothing happens, when this object does
    // not own the mutex.
    [[nodiscard]] bool unlock();

    [[nodiscard]] bool ownsLock() const noexcept { return m_lockCount > 0; }

private:
    NamedMutex(UniqueFd folder, UniqueFd presence, UniqueFd owner, bool alreadyExisted)
        : m_folder(std::move(folder)), m_presence(std::move(presence)), m_owner(std::move(owner)),
          m_alreadyExisted(alreadyExisted) {}

    UniqueFd m_folder;
    UniqueFd m_presence;
    UniqueFd m_owner;
    bool m_alreadyExisted = false;
    unsigned m_lockCount = 0;
};

} // namespace qvr
