#include "tools/store-sim/listener.h"

#include "tools/store-sim/connection.h"

#include "platform/text.h"

#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qvr::sim::detail {

namespace {

constexpr std::size_t kWorkerThreads = 32;

} // namespace

Listener::Listener(SimState& state) : m_state(state), m_stopEvent(::eventfd(0, EFD_CLOEXEC))
{
    // httplib takes ownership of the pool it gets from this factory.
    new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    set_address_family(AF_INET);
    // What httplib announces in its Keep-Alive header; the connection loop below
    // keeps to it.
    set_keep_alive_max_count(kRequestsPerConnection);
    set_keep_alive_timeout(kKeepAliveTimeoutSeconds);
    // SO_REUSEADDR alone, unlike httplib's SO_REUSEPORT, lets the port be bound
    // again after going down while no second server can share it.
    set_socket_options([](socket_t sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        answer(req, res);
        std::lock_guard lock(m_state.mutex);
        if ((res.status == 503 || res.status == 429) && m_state.retryAfter)
            res.set_header("Retry-After", *m_state.retryAfter);
    });
}

int Listener::bind(int port)
{
    if (!m_stopEvent)
        return 0;
    if (port == 0)
        return std::max(bind_to_any_port("127.0.0.1"), 0);
    return bind_to_port("127.0.0.1", port) ? port : 0;
}

void Listener::halt()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = ::write(m_stopEvent.get(), &one, sizeof one);
    const socket_t sock = svr_sock_.exchange(INVALID_SOCKET);
    if (sock != INVALID_SOCKET) {
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
    }
}

bool Listener::process_and_close_socket(socket_t sock)
{
    Connection connection(sock, m_stopEvent.get());
    bool closed = false;
    for (std::size_t left = kRequestsPerConnection; left > 0 && !closed && !connection.closing(); --left) {
        if (!connection.nextRequestArrives(kKeepAliveTimeoutSeconds))
            break;
        const auto setUp = [&](httplib::Request& req) {
            restoreHiddenHeaders(req);
            record(connection.head());
        };
        if (!process_request(connection, left == 1, closed, setUp))
            break;
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return true;
}

void Listener::restoreHiddenHeaders(httplib::Request& req)
{
    httplib::Headers restored;
    for (auto it = req.headers.begin(); it != req.headers.end();) {
        const std::string_view name(it->first);
        if (name.size() > kHiddenPrefix.size() && startsWithIgnoringCase(name, kHiddenPrefix)) {
            const std::string original(name.substr(kHiddenPrefix.size()));
            if (!equalsIgnoringCase(original, "Accept-Encoding"))
                restored.emplace(original, it->second);
            it = req.headers.erase(it);
        } else {
            ++it;
        }
    }
    req.headers.merge(restored);
}

void Listener::record(RecordedRequest request)
{
    request.at = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(m_state.mutex);
        m_state.requests.push_back(std::move(request));
    }
    m_state.changed.notify_all();
}

} // namespace qvr::sim::detail
