#pragma once

#include "platform/unique_fd.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

// Starts `program` with `args` as a process of its own session that does not wait
// for us and is not ended with us. It gets none of our descriptors beyond the
// standard three (they are closed in it, close-on-exec or not), default signal
// handling and an empty signal mask. False when it could not be started.
[[nodiscard]] bool startDetached(const std::string& program, const std::vector<std::string>& args);

// A program started as startDetached starts one, that its starter keeps an eye on.
// Its end is ours to collect: ended() does, and kill() too.
class StartedProcess {
public:
    StartedProcess(pid_t pid, UniqueFd pidfd) : m_pid(pid), m_pidfd(std::move(pidfd)) {}

    pid_t pid() const noexcept { return m_pid; }
    // Readable once the process has ended (a pidfd).
    int endedFd() const noexcept { return m_pidfd.get(); }
    // True once it has ended; collects its status then.
    [[nodiscard]] bool ended();
    // Ends it with SIGKILL if it still runs, and waits for its end.
    void kill();

private:
    pid_t m_pid;
    UniqueFd m_pidfd;
    bool m_reaped = false;
};

// Nothing when it could not be started.
[[nodiscard]] std::optional<StartedProcess> startWatched(const std::string& program,
                                                         const std::vector<std::string>& args);

// How a program run to its end ended: its exit status, or 128 plus the number of
// the signal that ended it, and the first bytes it wrote on its standard output.
struct ProgramEnd {
    int status = 0;
    std::string output;
};

// Runs `program` with `args` and waits for its end, at most `limit`, keeping at most
// `outputLimit` bytes of its standard output (the rest is read and dropped, so that a
// talkative program never blocks on a full pipe). Nothing when it could not be
// started, or still ran at the limit: it is then killed and collected.
[[nodiscard]] std::optional<ProgramEnd> runWithTimeLimit(const std::string& program,
                                                         const std::vector<std::string>& args,
                                                         std::chrono::milliseconds limit, std::size_t outputLimit);

} // namespace qvr
