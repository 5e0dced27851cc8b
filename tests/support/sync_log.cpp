#include "tests/support/sync_log.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <mutex>

namespace qvr::test {
namespace {

// The one log of the process: the calls it stands in for have no way to reach a
// log of the test's own.
struct Log {
    std::mutex mutex;
    bool recording = false;
    std::vector<DiskEvent> events;
} g_log;

void record(DiskEvent::Kind kind, std::string path)
{
    const std::lock_guard lock(g_log.mutex);
    if (g_log.recording)
        g_log.events.push_back({kind, std::move(path)});
}

std::string pathOf(int fd)
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

// The C library's own `name`, which the call is passed on to.
template <class Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

SyncLog::SyncLog()
{
    const std::lock_guard lock(g_log.mutex);
    g_log.events.clear();
    g_log.recording = true;
}

SyncLog::~SyncLog()
{
    const std::lock_guard lock(g_log.mutex);
    g_log.recording = false;
}

std::vector<DiskEvent> SyncLog::events() const
{
    const std::lock_guard lock(g_log.mutex);
    return g_log.events;
}

} // namespace qvr::test

using qvr::test::DiskEvent;

extern "C" int fsync(int fd)
{
    qvr::test::record(DiskEvent::Sync, qvr::test::pathOf(fd));
    static const auto real = qvr::test::next<int (*)(int)>("fsync");
    return real(fd);
}

extern "C" int rename(const char* from, const char* to)
{
    qvr::test::record(DiskEvent::Rename, to);
    static const auto real = qvr::test::next<int (*)(const char*, const char*)>("rename");
    return real(from, to);
}
