#pragma once

#include "platform/unique_fd.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

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

// One owner at a time for what lies in a folder, whoever the processes are that ask:
// an exclusive flock on a lock file there, which the kernel drops when the owning
// process ends, however it ends. The owner may leave a short note in the file for
// those who find it taken. Each object is used by one thread at a time.
class OwnerLock {
public:
    // Opens (making it with mode 0600 when missing) the lock file at `path`, owning
    // nothing yet. Nothing when it cannot be opened, or is a link or no plain file.
    [[nodiscard]] static std::optional<OwnerLock> open(const std::string& path);

    // Owns it when nobody else does; true also when this object already owns it.
    [[nodiscard]] bool tryTake();
    // Tries until it owns it or `wait` has passed.
    [[nodiscard]] bool takeWithin(std::chrono::milliseconds wait);
    // Lets it go for the next owner; nothing when this object does not own it.
    void release();
    [[nodiscard]] bool owned() const noexcept { return m_owned; }

    // The owner's note, in place of any earlier one. False when it could not be written
    // or this object does not own the lock.
    [[nodiscard]] bool writeNote(std::string_view note);
    // What the owner noted (at most kMaxNote bytes); empty when nothing.
    [[nodiscard]] std::string readNote() const;
    static constexpr std::size_t kMaxNote = 4096;

    const std::string& path() const noexcept { return m_path; }

private:
    OwnerLock(std::string path, UniqueFd file) : m_path(std::move(path)), m_file(std::move(file)) {}

    std::string m_path;
    UniqueFd m_file;
    bool m_owned = false;
};

} // namespace qvr
