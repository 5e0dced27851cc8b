#include "tests/support/sync_log.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <algorithm>
#include <mutex>
#include <utility>

namespace {

// The stand-ins cannot reach a log of the test's own: one for the process.
std::mutex diskEventsMutex;
std::vector<qvr::test::DiskEvent> diskEvents;

void note(qvr::test::DiskEvent::Kind kind, std::string path)
{
    const std::lock_guard lock(diskEventsMutex);
    diskEvents.push_back({kind, std::move(path)});
}

} // namespace

std::vector<qvr::test::DiskEvent> qvr::test::takeDiskEvents()
{
    const std::lock_guard lock(diskEventsMutex);
    return std::exchange(diskEvents, {});
}

extern "C" int fsync(int fd)
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
    note(qvr::test::DiskEvent::Sync, std::string(path, static_cast<std::size_t>(std::max<ssize_t>(n, 0))));
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

extern "C" int rename(const char* from, const char* to)
{
    note(qvr::test::DiskEvent::Rename, to);
    static const auto real = reinterpret_cast<int (*)(const char*, const char*)>(::dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}
