#include "platform/atomic_file.h"

#include "platform/exclusive_file.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

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

} // namespace

bool replaceFileAtomically(const std::string& path, std::string_view contents)
{
    if (path.empty())
        return false;
    const std::string target = resolvedPath(path);
    return placeFileAtomically(target, modeFor(target), [contents](int fd) { return writeAll(fd, contents); });
}

bool placeFileAtomically(const std::string& path, mode_t mode, const std::function<bool(int fd)>& fill)
{
    if (path.empty())
        return false;
    const std::string folder = parentFolder(path);
    const auto slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

    std::string temp = folder + "/." + name + ".XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd)
        return false;
    const bool written = ::fchmod(fd.get(), mode) == 0 && fill(fd.get()) && ::fsync(fd.get()) == 0;
    const bool closed = ::close(fd.release()) == 0;
    if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself must reach the disk, or a crash could bring back the old file.
    syncFolder(folder);
    return true;
}

void syncFolder(const std::string& folder)
{
    if (UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir)
        ::fsync(dir.get());
}

} // namespace qvr
