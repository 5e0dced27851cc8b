#include "platform/file_move.h"

#include "platform/exclusive_file.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace qvr {

namespace {

constexpr mode_t kPermissionBits = 0777;

bool copyContents(int from, int to)
{
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (!writeAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(n))))
            return false;
    }
}

void syncFolder(const std::string& folder)
{
    if (UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir)
        ::fsync(dir.get());
}

bool copyAcross(const std::string& from, const std::string& to)
{
    const UniqueFd source = openRegularFile(from);
    struct stat st {};
    if (!source || ::fstat(source.get(), &st) != 0)
        return false;
    const std::string folder = parentFolder(to);
    const auto slash = to.rfind('/');
    std::string pattern = folder + "/." + (slash == std::string::npos ? to : to.substr(slash + 1)) + ".XXXXXX";
    UniqueFd target(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!target)
        return false;
    const bool copied = ::fchmod(target.get(), st.st_mode & kPermissionBits) == 0
        && copyContents(source.get(), target.get()) && ::fsync(target.get()) == 0;
    const bool closed = ::close(target.release()) == 0;
    if (!copied || !closed || ::rename(pattern.c_str(), to.c_str()) != 0) {
        ::unlink(pattern.c_str());
        return false;
    }
    syncFolder(folder);
    // The copy is complete and on disk; a source that cannot be removed only
    // leaves a stray file behind.
    ::unlink(from.c_str());
    return true;
}

} // namespace

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool moveFile(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) == 0) {
        syncFolder(parentFolder(to));
        return true;
    }
    return errno == EXDEV && copyAcross(from, to);
}

UniqueFd createFreshFile(const std::string& path)
{
    ::unlink(path.c_str());
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
}

bool copyPermissions(const std::string& from, const std::string& to)
{
    struct stat st {};
    return ::stat(from.c_str(), &st) == 0 && ::chmod(to.c_str(), st.st_mode & kPermissionBits) == 0;
}

} // namespace qvr
