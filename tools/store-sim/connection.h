#pragma once

#include "tools/store-sim/store_sim.h"

#include <httplib.h>

#include <string>

namespace qvr::sim::detail {

// Request headers that httplib must not see under their own name: it answers a
// Range value it cannot parse (the client's "RANGE: <n>-") with 416 before any
// handler runs, and it would compress answers for a client that offers an
// Accept-Encoding, while tests rely on the bytes going out exactly as set. The
// connection renames them on the way in; Range gets its name back before the
// handler runs.
inline constexpr std::string_view kHiddenPrefix = "X-Qvr-Sim-Hidden-";

// One accepted connection as httplib reads and writes it. It keeps a raw copy of
// each request head for the recorder and hides the headers httplib must not act on.
// A response starts a new head: the server speaks only after it read a request.
// Every wait also ends when `stopEvent` becomes readable.
class Connection final : public httplib::Stream {
public:
    Connection(int sock, int stopEvent) : m_sock(sock), m_stopEvent(stopEvent) {}

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return m_sock; }

    // Waits up to `timeoutSeconds` for the first bytes of the next request of a
    // kept-alive connection.
    bool nextRequestArrives(int timeoutSeconds) const;

    const RecordedRequest& head() const { return m_head; }
    // An answer said "Connection: close" (httplib itself keeps the connection then).
    bool closing() const { return m_closing; }

private:
    ssize_t receive();
    std::string headLine(std::string line);

    int m_sock;
    int m_stopEvent;
    bool m_inHead = true;
    bool m_closing = false;
    RecordedRequest m_head;
    std::string m_raw;   // received, not yet looked at
    std::string m_ready; // looked at, not yet handed to httplib
    std::size_t m_readyPos = 0;
};

} // namespace qvr::sim::detail
