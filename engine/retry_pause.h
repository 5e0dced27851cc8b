#pragma once

#include <chrono>
#include <optional>
#include <random>
#include <string>

namespace qvr {

// The pause before the next attempt on a job that keeps failing: the worker's retry
// pause at first, doubling with each failure in a row, up to the longest pause (by
// default kMostGrowth times the first), each drawn up to a quarter longer so that
// many clients that failed together do not come back together; a new job, or one
// the store answered well, starts from the first again.
class RetryPause {
public:
    static constexpr int kMostGrowth = 300;
    // A store that asks for a longer wait (Retry-After), or for an absurd one, is
    // asked again after this: its ask never holds a job up for good.
    static constexpr std::chrono::milliseconds kLongestAsked {std::chrono::minutes(5)};

    explicit RetryPause(std::chrono::milliseconds first, std::optional<std::chrono::milliseconds> longest = std::nullopt);

    // The pause after a failure on `job`; at least what the store asked for (up to
    // kLongestAsked), when it asked.
    [[nodiscard]] std::chrono::milliseconds after(const std::string& job,
                                                  std::optional<std::chrono::seconds> asked = std::nullopt);
    void succeeded();

private:
    std::chrono::milliseconds m_first;
    std::chrono::milliseconds m_longest;
    std::chrono::milliseconds m_next;
    std::string m_job;
    std::minstd_rand m_random;
};

} // namespace qvr
