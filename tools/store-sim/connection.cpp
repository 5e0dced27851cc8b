#include "tools/store-sim/connection.h"

#include "platform/text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace qvr::sim::detail {

namespace {

constexpr int kReadTimeoutMs = 10'000;
constexpr int kWriteTimeoutMs = 30'000;

bool isHidden(std::string_view name)
{
    return equalsIgnoringCase(name, "Range") || equalsIgnoringCase(name, "Accept-Encoding");
}

// Waits up to `timeoutMs` for `events` on `fd`; true when one of `ready` came
// before the stop event.
bool waitFor(int fd, short events, short ready, int stopEvent, int timeoutMs)
{
    std::array<pollfd, 2> fds {{{fd, events, 0}, {stopEvent, POLLIN, 0}}};
    for (;;) {
        const int n = ::poll(fds.data(), fds.size(), timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && fds[1].revents == 0 && (fds[0].revents & ready) != 0;
    }
}

// Readable also when the peer hung up or the socket failed: the read then says so.
bool waitReadable(int fd, int stopEvent, int timeoutMs)
{
    return waitFor(fd, POLLIN, POLLIN | POLLPRI | POLLHUP | POLLERR | POLLNVAL, stopEvent, timeoutMs);
}

bool waitWritable(int fd, int stopEvent, int timeoutMs)
{
    return waitFor(fd, POLLOUT, POLLOUT, stopEvent, timeoutMs);
}

void addressOf(int sock, bool peer, std::string& ip, int& port)
{
    sockaddr_in address {};
    socklen_t length = sizeof address;
    const int rc = peer ? ::getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length)
                        : ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
    if (rc != 0 || address.sin_family != AF_INET)
        return;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(address.sin_port);
}

} // namespace

bool Connection::is_readable() const
{
    return m_readyPos < m_ready.size() || waitReadable(m_sock, m_stopEvent, kReadTimeoutMs);
}

bool Connection::is_writable() const
{
    return waitWritable(m_sock, m_stopEvent, kWriteTimeoutMs);
}

ssize_t Connection::read(char* ptr, size_t size)
{
    while (m_readyPos == m_ready.size()) {
        m_ready.clear();
        m_readyPos = 0;
        if (!m_inHead) {
            if (m_raw.empty()) {
                if (const ssize_t n = receive(); n <= 0)
                    return n;
            }
            m_ready.swap(m_raw);
            continue;
        }
        const auto newline = m_raw.find('\n');
        if (newline == std::string::npos) {
            if (const ssize_t n = receive(); n <= 0)
                return n;
            continue;
        }
        m_ready = headLine(m_raw.substr(0, newline + 1));
        m_raw.erase(0, newline + 1);
    }
    const std::size_t n = std::min(size, m_ready.size() - m_readyPos);
    std::copy_n(m_ready.data() + m_readyPos, n, ptr);
    m_readyPos += n;
    return static_cast<ssize_t>(n);
}

ssize_t Connection::write(const char* ptr, size_t size)
{
    // The first write of an answer is its head.
    if (!m_inHead && std::string_view(ptr, size).find("\r\nConnection: close\r\n") != std::string_view::npos)
        m_closing = true;
    m_inHead = true;
    m_head = {};
    if (!waitWritable(m_sock, m_stopEvent, kWriteTimeoutMs))
        return -1;
    return ::send(m_sock, ptr, size, MSG_NOSIGNAL);
}

void Connection::get_remote_ip_and_port(std::string& ip, int& port) const
{
    addressOf(m_sock, true, ip, port);
}

void Connection::get_local_ip_and_port(std::string& ip, int& port) const
{
    addressOf(m_sock, false, ip, port);
}

bool Connection::nextRequestArrives(int timeoutSeconds) const
{
    return !m_raw.empty() || m_readyPos < m_ready.size() || waitReadable(m_sock, m_stopEvent, timeoutSeconds * 1000);
}

ssize_t Connection::receive()
{
    if (!waitReadable(m_sock, m_stopEvent, kReadTimeoutMs))
        return -1;
    std::array<char, 4096> buffer;
    ssize_t n;
    do {
        n = ::recv(m_sock, buffer.data(), buffer.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0)
        m_raw.append(buffer.data(), static_cast<std::size_t>(n));
    return n;
}

std::string Connection::headLine(std::string line)
{
    std::string_view text(line);
    text.remove_suffix(1);
    if (text.ends_with('\r'))
        text.remove_suffix(1);
    if (m_head.method.empty()) {
        const auto space = text.find(' ');
        m_head.method = std::string(text.substr(0, space));
        if (m_head.method.empty())
            m_head.method.push_back('?'); // a malformed line still starts the head
        if (space != std::string_view::npos) {
            std::string_view target = text.substr(space + 1);
            target = target.substr(0, target.find(' '));
            const auto question = target.find('?');
            m_head.path = std::string(target.substr(0, question));
            if (question != std::string_view::npos)
                m_head.query = std::string(target.substr(question + 1));
        }
        return line;
    }
    if (text.empty()) {
        m_inHead = false;
        return line;
    }
    const auto colon = text.find(':');
    if (colon == std::string_view::npos)
        return line;
    const std::string_view name = text.substr(0, colon);
    m_head.headers.emplace_back(std::string(name), std::string(trim(text.substr(colon + 1), kBlanks)));
    if (isHidden(name))
        line.insert(0, kHiddenPrefix);
    return line;
}

} // namespace qvr::sim::detail
