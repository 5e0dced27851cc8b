#include "platform/track_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

namespace qvr {

std::optional<TrackFile> TrackFile::openForResume(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_DSYNC, 0644));
    struct stat st {};
    if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return TrackFile(std::move(fd), static_cast<std::uint64_t>(st.st_size));
}

bool TrackFile::writeAt(std::uint64_t offset, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd.get(), data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool TrackFile::truncate(std::uint64_t size)
{
    int rc;
    do
        rc = ::ftruncate(m_fd.get(), static_cast<off_t>(size));
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool TrackFile::sync()
{
    return ::fdatasync(m_fd.get()) == 0;
}

bool TrackFile::stillAt(const std::string& path) const
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(m_fd.get(), &opened) == 0 && opened.st_nlink > 0 && ::stat(path.c_str(), &named) == 0
        && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

} // namespace qvr
