#include "engine/retry_pause.h"

#include <algorithm>

namespace qvr {

RetryPause::RetryPause(std::chrono::milliseconds first) : m_first(first), m_next(first), m_random(std::random_device {}()) {}

std::chrono::milliseconds RetryPause::after(const std::string& job)
{
    if (job != m_job) {
        m_job = job;
        m_next = m_first;
    }
    const auto longest = m_first * kMostGrowth;
    const auto pause = std::min(longest, m_next + m_next * std::uniform_int_distribution<int>(0, 25)(m_random) / 100);
    m_next = std::min(m_next * 2, longest);
    return pause;
}

void RetryPause::succeeded()
{
    m_job.clear();
    m_next = m_first;
}

} // namespace qvr
