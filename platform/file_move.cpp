#include "platform/file_move.h"

#include "platform/atomic_file.h"
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

bool copyAcross(const std::string& from, const std::string& to)
{
    const UniqueFd source = openRegularFile(from);
    struct stat st {};
    if (!source || ::fstat(source.get(), &st) != 0)
        return false;
    if (!placeFileAtomically(to, st.st_mode & kPermissionBits,
                             [&source](int target) { return copyContents(source.get(), target); }))
        return false;
    // The copy is complete and on disk; a source that cannot be removed only
    // leaves a stray file behind.
    ::unlink(from.c_str());
    return true;
}

} // namespace

bool moveFile(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) == 0) {
        // The move is done either way; a folder that cannot be synced only risks
        // the old name after a power cut, which callers recover from as from a kill.
        static_cast<void>(syncFolder(parentFolder(to)));
        return true;
    }
    return errno == EXDEV && copyAcross(from, to);
}

UniqueFd createFreshFile(const std::string& path)
{
    ::unlink(path.c_str());
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
}

bool linkOrCopy(const std::string& from, const std::string& to)
{
    // link() does not replace: the name is made beside `to` and renamed over it.
    const std::string temp = to + ".link";
    ::unlink(temp.c_str());
    if (::link(from.c_str(), temp.c_str()) == 0) {
        if (::rename(temp.c_str(), to.c_str()) == 0) {
            // A rename between two names of one file does nothing: `to` was already
            // this file, and the spare name goes.
            ::unlink(temp.c_str());
            // As in moveFile(): the name is in place; only its durability is at risk.
            static_cast<void>(syncFolder(parentFolder(to)));
            return true;
        }
        ::unlink(temp.c_str());
        return false;
    }
    const UniqueFd source = openRegularFile(from);
    struct stat st {};
    return source && ::fstat(source.get(), &st) == 0
        && static_cast<bool>(placeFileAtomically(to, st.st_mode & kPermissionBits,
                                                 [&source](int target) { return copyContents(source.get(), target); }));
}

bool syncFile(const std::string& path)
{
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    return file && ::fsync(file.get()) == 0;
}

bool copyPermissions(const std::string& from, const std::string& to)
{
    struct stat st {};
    return ::stat(from.c_str(), &st) == 0 && ::chmod(to.c_str(), st.st_mode & kPermissionBits) == 0;
}

} // namespace qvr
