#pragma once

#include "tests/support/common.h"

#include <sys/types.h>

namespace qvr::test {

// A child process for tests that need real, separate processes. Its standard input
// is /dev/null and its output a pipe; it is killed and reaped when the object goes away.
class ChildProcess {
public:
    // Starts `argv` with the test's environment plus `env` ("NAME=value" entries,
    // which replace variables of the same name; the later of two for one name wins).
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    // Waits for the child to end: its exit code, or 128 + the signal that ended it.
    // One that runs on for 30 s fails the test and is killed.
    int wait();
    void kill(int signal);
    // Everything the child still writes until it closes its output, or for 30 s,
    // which fail the test.
    std::string readAll();

private:
    std::string m_program;
    pid_t m_pid = -1;
    int m_output = -1;
};

// Runs a command to its end and returns its exit code (see ChildProcess::wait).
int runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
               std::string* output = nullptr);

// Runs `body` in a forked child that has become the user "nobody" (which needs
// root) and returns its result as the child's exit code; 99 when it could not
// change user.
int exitCodeAsNobody(const std::function<int()>& body);

void copyExecutable(const std::string& from, const std::string& to);

// A copy of the executable `from` at `to` that carries the file version `version`
// ("2.1.0.1"), made with tools/stamp-version, and its signature `to`.sig by the
// private key in the PEM file `key` (empty: the key this build trusts).
void stampedCopy(const std::string& from, const std::string& to, const std::string& version,
                 const std::string& key = {});

} // namespace qvr::test
