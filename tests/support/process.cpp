#include "tests/support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace qvr::test {

namespace {

// How long a test waits for a child that normally takes a second or so.
constexpr std::chrono::seconds kLimit {30};

// The test's environment with `overrides` in place of the variables they name; of
// two overrides of one variable, the later.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides)
{
    std::map<std::string, std::string> byName;
    for (char** entry = environ; *entry; ++entry)
        byName[std::string(*entry).substr(0, std::strcspn(*entry, "="))] = *entry;
    for (const std::string& entry : overrides)
        byName[entry.substr(0, entry.find('='))] = entry;
    // A program on the offscreen platform must not reach a display either: Qt would
    // open it for a GL context, and the system's drivers would decide the test.
    if (const auto qpa = byName.find("QT_QPA_PLATFORM"); qpa != byName.end() && qpa->second == "QT_QPA_PLATFORM=offscreen") {
        byName.erase("DISPLAY");
        byName.erase("WAYLAND_DISPLAY");
    }
    std::vector<std::string> entries;
    for (auto& [name, entry] : byName)
        entries.push_back(std::move(entry));
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result(strings.size() + 1); // the last stays the null pointer that ends the list
    std::ranges::transform(strings, result.begin(), [](std::string& s) { return s.data(); });
    return result;
}

// Waits for `pid`, the child `what`, to end; one still running after kLimit fails the
// test and is killed.
int waitFor(pid_t pid, const std::string& what)
{
    pollfd ended {static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)), POLLIN, 0};
    if (ended.fd >= 0 && TEMP_FAILURE_RETRY(::poll(&ended, 1, static_cast<int>(kLimit.count() * 1000))) == 0) {
        ADD_FAILURE() << what << " did not end within " << kLimit.count() << " s";
        ::kill(pid, SIGKILL);
    }
    if (ended.fd >= 0)
        ::close(ended.fd);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> args = argv, environment = mergedEnvironment(env);
    for (const std::string& arg : argv)
        m_program += (m_program.empty() ? "" : " ") + arg;
    const int rc = ::posix_spawn(&m_pid, args[0].c_str(), &actions, nullptr, pointers(args).data(), pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    m_output = out[0];
    if (rc != 0) {
        m_pid = -1;
        ADD_FAILURE() << "cannot start " << args[0] << ": " << std::strerror(rc);
    }
}

ChildProcess::~ChildProcess()
{
    kill(SIGKILL);
    wait();
    if (m_output >= 0)
        ::close(m_output);
}

std::string ChildProcess::readAll()
{
    std::string text;
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    for (pollfd output {m_output, POLLIN, 0}; m_output >= 0;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || TEMP_FAILURE_RETRY(::poll(&output, 1, static_cast<int>(left))) == 0) {
            ADD_FAILURE() << m_program << " did not close its output within " << kLimit.count() << " s";
            break;
        }
        const ssize_t n = TEMP_FAILURE_RETRY(::read(m_output, buffer, sizeof buffer));
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

int ChildProcess::wait() { return m_pid > 0 ? waitFor(std::exchange(m_pid, -1), m_program) : -1; }

void ChildProcess::kill(int signal)
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

int runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env, std::string* output)
{
    ChildProcess child(argv, env);
    std::string text = child.readAll();
    if (output)
        *output = std::move(text);
    return child.wait();
}

int exitCodeAsNobody(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0 ? body() : 99);
    return waitFor(child, "a child as the user nobody");
}

void copyExecutable(const std::string& from, const std::string& to)
{
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    if (error)
        ADD_FAILURE() << "cannot copy " << from << " to " << to << ": " << error.message();
}

void stampedCopy(const std::string& from, const std::string& to, const std::string& version, const std::string& key)
{
    std::string output;
    const int status = runProcess(
        {"/bin/sh", QVR_STAMP_SCRIPT, from, to, version, key.empty() ? QVR_UPDATE_SIGNING_KEY : key}, {}, &output);
    if (status != 0)
        ADD_FAILURE() << "stamp-version " << version << " failed (" << status << "): " << output;
}

} // namespace qvr::test
