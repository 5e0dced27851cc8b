#include "platform/process_launch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
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

// Owns the file actions of one start: at most a standard output of our choosing.
class SpawnFileActions {
public:
    SpawnFileActions() { m_ready = ::posix_spawn_file_actions_init(&m_actions) == 0; }
    ~SpawnFileActions()
    {
        if (m_ready)
            ::posix_spawn_file_actions_destroy(&m_actions);
    }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;

    // The new program writes its standard output into `fd` (-1: ours). The copy that
    // dup2 makes drops close-on-exec; `fd` itself goes with the rest below.
    bool standardOutput(int fd)
    {
        return m_ready && (fd < 0 || ::posix_spawn_file_actions_adddup2(&m_actions, fd, STDOUT_FILENO) == 0);
    }
    // Every descriptor past the standard three is closed in the new program, also one
    // that is not close-on-exec: libcurl's sockets are not, and a program opened from
    // the window would otherwise hold a connection to the store for as long as it runs.
    bool closeTheRest()
    {
        return m_ready && ::posix_spawn_file_actions_addclosefrom_np(&m_actions, STDERR_FILENO + 1) == 0;
    }
    const posix_spawn_file_actions_t* get() const { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions {};
    bool m_ready = false;
};

// The pid of the new process, or nothing. No shell: `program` is run as it is.
std::optional<pid_t> spawn(const std::string& program, const std::vector<std::string>& args, int standardOutput = -1)
{
    SpawnAttributes attributes;
    SpawnFileActions actions;
    if (program.empty() || !attributes.detach() || !actions.standardOutput(standardOutput) || !actions.closeTheRest())
        return std::nullopt;
    std::vector<std::string> strings {program};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environ) != 0)
        return std::nullopt;
    return pid;
}

// Called directly: glibc's own wrappers are not declared for C++ in every version.
int pidfdOpen(pid_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int waitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

// A child of ours that has not been collected keeps its pid, so the pidfd names it.
std::optional<StartedProcess> watch(pid_t pid)
{
    UniqueFd pidfd(pidfdOpen(pid));
    if (!pidfd) {
        ::kill(pid, SIGKILL);
        waitFor(pid);
        return std::nullopt;
    }
    return StartedProcess(pid, std::move(pidfd));
}

} // namespace

bool startDetached(const std::string& program, const std::vector<std::string>& args)
{
    const auto pid = spawn(program, args);
    if (!pid)
        return false;
    // Reaped whenever it ends, so that a long-running window collects no zombies.
    std::thread([pid = *pid] { waitFor(pid); }).detach();
    return true;
}

bool StartedProcess::ended()
{
    if (m_reaped)
        return true;
    int status = 0;
    pid_t got;
    while ((got = ::waitpid(m_pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    m_reaped = got != 0;
    return m_reaped;
}

void StartedProcess::kill()
{
    if (m_reaped)
        return;
    ::syscall(SYS_pidfd_send_signal, m_pidfd.get(), SIGKILL, nullptr, 0);
    waitFor(m_pid);
    m_reaped = true;
}

std::optional<StartedProcess> startWatched(const std::string& program, const std::vector<std::string>& args)
{
    const auto pid = spawn(program, args);
    return pid ? watch(*pid) : std::nullopt;
}

std::optional<ProgramEnd> runWithTimeLimit(const std::string& program, const std::vector<std::string>& args,
                                           std::chrono::milliseconds limit, std::size_t outputLimit)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    UniqueFd output(ends[0]);
    UniqueFd input(ends[1]);
    // Only our end waits without blocking: the program's stdout is the other end's
    // open file, and it must block as any stdout does when the pipe is full.
    if (::fcntl(output.get(), F_SETFL, O_NONBLOCK) != 0)
        return std::nullopt;
    const auto pid = spawn(program, args, input.get());
    // Ours closed, the output ends when the program's copies do.
    input.reset();
    auto process = pid ? watch(*pid) : std::nullopt;
    if (!process)
        return std::nullopt;
    ProgramEnd end;
    // Takes what the pipe holds now; false once the program has closed it.
    const auto drain = [&] {
        std::array<char, 4096> buffer;
        for (;;) {
            const ssize_t n = ::read(output.get(), buffer.data(), buffer.size());
            if (n > 0)
                end.output.append(buffer.data(), std::min(static_cast<std::size_t>(n), outputLimit - end.output.size()));
            else
                return n < 0 && (errno == EAGAIN || errno == EINTR);
        }
    };
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd watched[] {{process->endedFd(), POLLIN, 0}, {output.get(), POLLIN, 0}};
    while (watched[0].revents == 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        // Once the output is closed (its fd -1, which poll passes over), only the end is waited for.
        const int ready = left.count() <= 0 ? 0 : ::poll(watched, 2, static_cast<int>(left.count()));
        if (ready == 0 || (ready < 0 && errno != EINTR)) {
            process->kill();
            return std::nullopt;
        }
        if (ready > 0 && watched[1].revents != 0 && !drain())
            watched[1].fd = -1;
    }
    // What it wrote before its end; a child of its own that kept the pipe open is not waited for.
    if (watched[1].fd >= 0)
        static_cast<void>(drain());
    const int status = waitFor(process->pid());
    if (WIFEXITED(status))
        end.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        end.status = 128 + WTERMSIG(status);
    else
        return std::nullopt;
    return end;
}

} // namespace qvr
