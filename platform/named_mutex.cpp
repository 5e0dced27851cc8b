#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <utility>

namespace qvr {

namespace {

bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

int flockRetrying(int fd, int operation)
{
    int rc;
    do
        rc = ::flock(fd, operation);
    while (rc != 0 && errno == EINTR);
    return rc;
}

} // namespace

std::optional<NamedMutex> NamedMutex::create(const std::string& folder, const std::string& name,
                                             Failure* failure)
{
    Failure ignored;
    Failure& why = failure ? *failure : ignored;
    why = Failure::Other;
    if (!isPlainName(name))
        return std::nullopt;
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return std::nullopt;
    // Creators take turns on the folder's lock, so that "am I the first?" and
    // "I am here now" happen as one step: two processes starting at the same
    // moment cannot both find the name unused.
    // Every early return below drops this lock by closing the folder.
    if (flockRetrying(dir.get(), LOCK_EX) != 0)
        return std::nullopt;

    const auto openName = [&](const std::string& file) {
        UniqueFd fd(::openat(dir.get(), file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
        if (!fd && (errno == EACCES || errno == EPERM))
            why = Failure::AccessDenied;
        return fd;
    };
    UniqueFd presence = openName(name);
    UniqueFd owner = presence ? openName(name + ".owner") : UniqueFd();
    if (!owner)
        return std::nullopt;

    bool existed;
    if (flockRetrying(presence.get(), LOCK_EX | LOCK_NB) == 0) {
        existed = false;
    } else if (errno == EWOULDBLOCK) {
        existed = true;
    } else {
        return std::nullopt;
    }
    // Going from exclusive to shared is not atomic for flock, but every creator is
    // still waiting for the folder's lock, so nobody can look in between.
    if (flockRetrying(presence.get(), LOCK_SH | LOCK_NB) != 0)
        return std::nullopt;
    // The folder stays open for openElsewhere(); its lock goes now.
    ::flock(dir.get(), LOCK_UN);
    why = Failure::None;
    return NamedMutex(std::move(dir), std::move(presence), std::move(owner), existed);
}

bool NamedMutex::openElsewhere() const
{
    // As in create(): under the folder's lock, the presence lock can turn
    // exclusive only when nobody else holds it. A failed attempt drops ours (flock
    // converts by unlocking first), so it is taken again either way.
    if (flockRetrying(m_folder.get(), LOCK_EX) != 0)
        return true;
    const bool alone = flockRetrying(m_presence.get(), LOCK_EX | LOCK_NB) == 0;
    flockRetrying(m_presence.get(), LOCK_SH | LOCK_NB);
    ::flock(m_folder.get(), LOCK_UN);
    return !alone;
}

bool NamedMutex::lock()
{
    if (m_lockCount > 0) {
        ++m_lockCount;
        return true;
    }
    if (flockRetrying(m_owner.get(), LOCK_EX) != 0)
        return false;
    m_lockCount = 1;
    return true;
}

bool NamedMutex::unlock()
{
    if (m_lockCount == 0)
        return false;
    if (--m_lockCount == 0)
        ::flock(m_owner.get(), LOCK_UN);
    return true;
}

std::optional<OwnerLock> OwnerLock::open(const std::string& path)
{
    // O_NONBLOCK: a FIFO planted under the name must not hang the start.
    UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600));
    struct stat st {};
    if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return OwnerLock(path, std::move(file));
}

bool OwnerLock::tryTake()
{
    if (!m_owned)
        m_owned = flockRetrying(m_file.get(), LOCK_EX | LOCK_NB) == 0;
    return m_owned;
}

bool OwnerLock::takeWithin(std::chrono::milliseconds wait)
{
    // The owner we wait for is ending, or was told to: there is no event for its end
    // that reaches a process of another session, so we look again now and then.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!tryTake()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void OwnerLock::release()
{
    if (std::exchange(m_owned, false))
        ::flock(m_file.get(), LOCK_UN);
}

bool OwnerLock::writeNote(std::string_view note)
{
    if (!m_owned || note.size() > kMaxNote || ::ftruncate(m_file.get(), 0) != 0)
        return false;
    return ::pwrite(m_file.get(), note.data(), note.size(), 0) == static_cast<ssize_t>(note.size());
}

std::string OwnerLock::readNote() const
{
    std::string note(kMaxNote, '\0');
    const ssize_t n = ::pread(m_file.get(), note.data(), note.size(), 0);
    note.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return note;
}

} // namespace qvr
