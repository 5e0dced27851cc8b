#include "platform/process_launch.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace qvr {

namespace {

// Owns the spawn attributes for the length of one start.
class SpawnAttributes {
public:
    SpawnAttributes() { m_ready = ::posix_spawnattr_init(&m_attributes) == 0; }
    ~SpawnAttributes()
    {
        if (m_ready)
            ::posix_spawnattr_destroy(&m_attributes);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    // A new session, every signal at its default and none blocked: what we ignore
    // or block (a broken pipe, say) is no business of the new program.
    bool detach()
    {
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        return m_ready && ::posix_spawnattr_setsigmask(&m_attributes, &none) == 0
            && ::posix_spawnattr_setsigdefault(&m_attributes, &all) == 0
            && ::posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK
                                                            | POSIX_SPAWN_SETSIGDEF)
            == 0;
    }
    const posix_spawnattr_t* get() const { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes {};
    bool m_ready = false;
};

} // namespace

bool StartDetached(const std::string& program, const std::vector<std::string>& args)
{
    SpawnAttributes attributes;
    if (program.empty() || !attributes.detach())
        return false;
    std::vector<std::string> strings {program};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, program.c_str(), nullptr, attributes.get(), argv.data(), environ) != 0)
        return false;
    // Reaped whenever it ends, so that a long-running window collects no zombies.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

} // namespace qvr
