#pragma once

#include <mutex>
#include <string>

namespace qvr {

// A string that one thread replaces while others read it: readers always get a
// whole copy, never a half-replaced text.
class SharedString {
public:
    SharedString() = default;
    explicit SharedString(std::string value) : m_value(std::move(value)) {}

    std::string get() const
    {
        std::lock_guard lock(m_mutex);
        return m_value;
    }
    void set(std::string value)
    {
        std::lock_guard lock(m_mutex);
        m_value = std::move(value);
    }

private:
    mutable std::mutex m_mutex;
    std::string m_value;
};

} // namespace qvr
