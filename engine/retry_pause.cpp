#include "engine/retry_pause.h"

#include <algorithm>

namespace qvr {

RetryPause::RetryPause(std::chrono::milliseconds first, std::optional<std::chrono::milliseconds> longest)
    : m_first(first), m_longest(longest.value_or(first * kMostGrowth)), m_next(first), m_random(std::random_device {}())
{
}

std::chrono::milliseconds RetryPause::after(const std::string& job, std::optional<std::chrono::seconds> asked)
{
    if (job != m_job) {
        m_job = job;
        m_next = m_first;
    }
    const auto pause = std::min(m_longest, m_next + m_next * std::uniform_int_distribution<int>(0, 25)(m_random) / 100);
    m_next = std::min(m_next * 2, m_longest);
    // Compared in seconds first: an absurd ask does not fit in milliseconds.
    if (asked)
        return std::max(pause, std::chrono::milliseconds(std::min<std::chrono::seconds>(
                                   *asked, std::chrono::duration_cast<std::chrono::seconds>(kLongestAsked))));
    return pause;
}

void RetryPause::succeeded()
{
    m_job.clear();
    m_next = m_first;
}

} // namespace qvr
