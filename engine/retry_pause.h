#pragma once

#include <chrono>
#include <random>
#include <string>

namespace qvr {

// The pause before the next attempt on a job that keeps failing: the worker's retry
// pause at first, doubling with each failure in a row, up to kMostGrowth times it,
// each drawn up to a quarter longer so that many clients that failed together do not
// come back together; a new job, or one the store answered well, starts from the
// first again.
class RetryPause {
public:
    static constexpr int kMostGrowth = 300;

    explicit RetryPause(std::chrono::milliseconds first);

    // The pause after a failure on `job`.
    [[nodiscard]] std::chrono::milliseconds after(const std::string& job);
    void succeeded();

private:
    std::chrono::milliseconds m_first;
    std::chrono::milliseconds m_next;
    std::string m_job;
    std::minstd_rand m_random;
};

} // namespace qvr
