#include "tests/support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ranges>

extern char** environ;

namespace qvr::test {

namespace {

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
    const auto entries = byName | std::views::values;
    return {entries.begin(), entries.end()};
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (auto& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

int waitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> args = argv, environment = mergedEnvironment(env);
    const int rc = ::posix_spawn(&m_pid, args[0].c_str(), &actions, nullptr, pointers(args).data(), pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_input = in[1];
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
    closeInput();
    if (m_output >= 0)
        ::close(m_output);
}

void ChildProcess::closeInput()
{
    if (m_input >= 0)
        ::close(std::exchange(m_input, -1));
}

bool ChildProcess::readMore()
{
    char buffer[4096];
    const ssize_t n = TEMP_FAILURE_RETRY(::read(m_output, buffer, sizeof buffer));
    m_pending.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    return n > 0;
}

std::string ChildProcess::readLine()
{
    std::size_t end;
    while ((end = m_pending.find('\n')) == std::string::npos) {
        if (!readMore())
            return std::exchange(m_pending, {});
    }
    std::string line = m_pending.substr(0, end);
    m_pending.erase(0, end + 1);
    return line;
}

std::string ChildProcess::readAll()
{
    while (readMore()) {
    }
    return std::exchange(m_pending, {});
}

int ChildProcess::wait() { return m_pid > 0 ? waitFor(std::exchange(m_pid, -1)) : -1; }

void ChildProcess::kill(int signal)
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

int runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env, std::string* output)
{
    ChildProcess child(argv, env);
    child.closeInput();
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
    return waitFor(child);
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
