#pragma once

#include <cerrno>
#include <cstring>
#include <string>

namespace qvr {

// What an operation on a file came to: done, or the errno that stopped it. It
// cannot be dropped unread: where data is at stake a failure is handled, or passed
// over visibly with the reason why that is safe.
class [[nodiscard]] FileResult {
public:
    static FileResult ok() noexcept { return FileResult(0); }
    // A failure with `error`; an errno of 0 (a failure nobody explained) counts as EIO.
    static FileResult failed(int error) noexcept { return FileResult(error != 0 ? error : EIO); }
    // A failure with the errno that the last system call left.
    static FileResult fromErrno() noexcept { return failed(errno); }

    [[nodiscard]] explicit operator bool() const noexcept { return m_error == 0; }
    int error() const noexcept { return m_error; }
    // Why it failed, in the system's words ("No space left on device").
    std::string reason() const { return m_error == 0 ? std::string() : std::string(std::strerror(m_error)); }

private:
    explicit FileResult(int error) noexcept : m_error(error) {}
    int m_error;
};

} // namespace qvr
