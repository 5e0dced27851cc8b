#pragma once

#include <sys/resource.h>

#include <csignal>

namespace qvr::test {

// While it lives, every write that would make a file larger than `bytes` fails with
// EFBIG, as on a full disk. Unlike read-only permissions this holds for root too,
// which CI runs as.
class DiskFull {
public:
    explicit DiskFull(rlim_t bytes)
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignore, &m_oldAction);
        ::getrlimit(RLIMIT_FSIZE, &m_oldLimit);
        rlimit limit = m_oldLimit;
        limit.rlim_cur = bytes;
        m_active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~DiskFull()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_oldLimit);
        ::sigaction(SIGXFSZ, &m_oldAction, nullptr);
    }
    DiskFull(const DiskFull&) = delete;
    DiskFull& operator=(const DiskFull&) = delete;

    bool active() const { return m_active; }

private:
    rlimit m_oldLimit {};
    struct sigaction m_oldAction {};
    bool m_active = false;
};

} // namespace qvr::test
