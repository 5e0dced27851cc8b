#include "platform/atomic_file.h"

#include "platform/exclusive_file.h"
#include "platform/folder_listing.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace qvr {

namespace {

// The process umask, read without umask(2), which would change it for every thread
// for a moment.
mode_t currentUmask()
{
    FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return 022;
    char line[256];
    unsigned mask = 022;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "Umask: %o", &mask) == 1)
            break;
    }
    std::fclose(status);
    return static_cast<mode_t>(mask & 0777);
}

// A new file gets the permissions a plain creation would give it; a replaced one
// keeps its own.
mode_t modeFor(const std::string& target)
{
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0)
        return st.st_mode & 07777;
    return 0666 & ~currentUmask();
}

// The temporary file of a replacement of `path` is named after it: a dot, the
// file's name, a dot and six characters of mkstemp's.
constexpr std::size_t kTemporarySuffixLength = 6;

std::string temporaryPrefix(const std::string& path)
{
    const auto slash = path.rfind('/');
    return "." + (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
}

// Whether `name` is a temporary file with `prefix` ("." and a dot for any file).
bool isTemporaryOf(std::string_view name, std::string_view prefix)
{
    const std::size_t suffixAt = name.size() - std::min(name.size(), kTemporarySuffixLength);
    if (prefix == "..")
        return name.size() > kTemporarySuffixLength + 2 && name.front() == '.' && name[suffixAt - 1] == '.';
    return name.size() == prefix.size() + kTemporarySuffixLength && name.starts_with(prefix);
}

} // namespace

FileResult replaceFileAtomically(const std::string& path, std::string_view contents)
{
    if (path.empty())
        return FileResult::failed(ENOENT);
    const std::string target = resolvedPath(path);
    return placeFileAtomically(target, modeFor(target), [contents](int fd) { return writeAll(fd, contents); });
}

FileResult placeFileAtomically(const std::string& path, mode_t mode, const std::function<bool(int fd)>& fill)
{
    if (path.empty())
        return FileResult::failed(ENOENT);
    const std::string folder = parentFolder(path);
    std::string temp = folder + "/" + temporaryPrefix(path) + "XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd)
        return FileResult::fromErrno();
    int error = 0;
    if (::fchmod(fd.get(), mode) != 0 || !fill(fd.get()) || ::fsync(fd.get()) != 0)
        error = errno;
    if (::close(fd.release()) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return FileResult::failed(error);
    }
    // The rename itself must reach the disk, or a crash could bring back the old file.
    return syncFolder(folder);
}

FileResult syncFolder(const std::string& folder)
{
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir || ::fsync(dir.get()) != 0)
        return FileResult::fromErrno();
    return FileResult::ok();
}

FileResult makeFolders(const std::string& folder, mode_t mode)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? FileResult::ok() : FileResult::failed(ENOTDIR);
    if (errno != ENOENT)
        return FileResult::fromErrno();
    const std::string parent = parentFolder(folder);
    if (parent == folder || folder.empty())
        return FileResult::failed(ENOENT);
    if (const FileResult above = makeFolders(parent, mode); !above)
        return above;
    if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST)
        return FileResult::fromErrno();
    return syncFolder(parent);
}

void removeStaleTemporaries(const std::string& path, std::chrono::seconds age)
{
    const std::string prefix = temporaryPrefix(path);
    const FolderListing listing = listFolder(UniqueFd(::open(parentFolder(path).c_str(),
                                                            O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!listing)
        return;
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(listing.get())) {
        if (!isTemporaryOf(entry->d_name, prefix))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(listing.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
            && now - st.st_mtime > age.count())
            ::unlinkat(::dirfd(listing.get()), entry->d_name, 0);
    }
}

} // namespace qvr
