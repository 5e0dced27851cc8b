#pragma once

#include "platform/unique_fd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace qvr::test {

// A store on 127.0.0.1 that takes connections and never answers: only a time limit
// or an interrupt ends a request to it. Connections it accepted stay open, unanswered,
// as long as it lives.
class SilentStore {
public:
    SilentStore() : m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        if (!m_listener || ::bind(m_listener.get(), reinterpret_cast<sockaddr*>(&address), length) != 0
            || ::listen(m_listener.get(), 8) != 0
            || ::getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("no silent store on 127.0.0.1");
        m_port = ntohs(address.sin_port);
    }

    // "127.0.0.1:port"
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }

    // Waits for the next connection and keeps it; false if none came within 30 s.
    bool acceptOne()
    {
        pollfd waiting {m_listener.get(), POLLIN, 0};
        if (::poll(&waiting, 1, 30000) != 1)
            return false;
        m_connections.emplace_back(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        return static_cast<bool>(m_connections.back());
    }

private:
    UniqueFd m_listener;
    int m_port = 0;
    std::vector<UniqueFd> m_connections;
};

} // namespace qvr::test
