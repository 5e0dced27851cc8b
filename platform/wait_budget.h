#pragma once

#include <algorithm>
#include <chrono>
#include <functional>

namespace qvr {

// One allowance of time that several network waits share, one after another: each
// wait gets the smaller of its own limit and what the waits before it left, and is
// charged only the time it really took. What happens between the waits (a question
// that the user answers at leisure) costs nothing.
class WaitBudget {
public:
    using Clock = std::chrono::steady_clock;

    explicit WaitBudget(std::chrono::milliseconds total) : m_left(total) {}

    // Nothing is left: a wait now would be cut off at once.
    [[nodiscard]] bool spent() const { return m_left <= Clock::duration::zero(); }

    // One wait, from its making to its end; without a budget it has its own limit alone.
    class Wait {
    public:
        Wait(WaitBudget* budget, std::chrono::milliseconds own)
            : m_budget(budget), m_started(Clock::now()),
              m_due(m_started + (budget ? std::min<Clock::duration>(own, budget->m_left) : Clock::duration(own)))
        {
        }
        ~Wait()
        {
            if (m_budget)
                m_budget->m_left -= Clock::now() - m_started;
        }
        Wait(const Wait&) = delete;
        Wait& operator=(const Wait&) = delete;

        // True from the wait's deadline on: what HttpClient::setInterrupt asks.
        std::function<bool()> overdue() const
        {
            return [due = m_due] { return Clock::now() >= due; };
        }

    private:
        WaitBudget* m_budget;
        Clock::time_point m_started;
        Clock::time_point m_due;
    };

private:
    Clock::duration m_left;
};

} // namespace qvr
