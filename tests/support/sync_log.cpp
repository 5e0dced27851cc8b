#include "tests/support/sync_log.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>

namespace qvr::test {
namespace {

// The one log of the process: the calls it stands in for have no way to reach a
// log of the test's own.
struct Log {
    std::mutex mutex;
    bool recording = false;
    std::vector<DiskEvent> events;
};

Log& log()
{
    static Log instance;
    return instance;
}

void record(DiskEvent::Kind kind, std::string path)
{
    Log& l = log();
    const std::lock_guard lock(l.mutex);
    if (l.recording)
        l.events.push_back({kind, std::move(path)});
}

std::string pathOf(int fd)
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

template <class Function>
Function real(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

SyncLog::SyncLog()
{
    const std::lock_guard lock(log().mutex);
    log().events.clear();
    log().recording = true;
}

SyncLog::~SyncLog()
{
    const std::lock_guard lock(log().mutex);
    log().recording = false;
}

std::vector<DiskEvent> SyncLog::events() const
{
    const std::lock_guard lock(log().mutex);
    return log().events;
}

} // namespace qvr::test

extern "C" int fsync(int fd)
{
    qvr::test::record(qvr::test::DiskEvent::Sync, qvr::test::pathOf(fd));
    static const auto next = qvr::test::real<int (*)(int)>("fsync");
    return next(fd);
}

extern "C" int fdatasync(int fd)
{
    qvr::test::record(qvr::test::DiskEvent::Sync, qvr::test::pathOf(fd));
    static const auto next = qvr::test::real<int (*)(int)>("fdatasync");
    return next(fd);
}

extern "C" int rename(const char* from, const char* to)
{
    qvr::test::record(qvr::test::DiskEvent::Rename, to);
    static const auto next = qvr::test::real<int (*)(const char*, const char*)>("rename");
    return next(from, to);
}
