#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

// How a client waits and whether it follows redirects.
struct HttpOptions {
    std::chrono::milliseconds connect {15000}; // name lookup and TCP/TLS connect
    std::chrono::milliseconds stall {30000};   // no byte received for this long ends the request
    // The whole head of the answer, interim (1xx) heads included, must have come this
    // long after the connection stands: a peer that sends a header line now and then
    // never stalls, but would hold its caller for good.
    std::chrono::milliseconds head {30000};
    bool followRedirects = false;
    // The whole exchange, from sending the request to the end of the body, ends after
    // this long; 0: no limit. Time the caller spends between reads counts too, so this
    // is for short exchanges that must never keep their caller waiting longer.
    std::chrono::milliseconds total {0};
    // A body that brings fewer than `lowSpeedBytes` in `lowSpeedTime` of waiting for
    // it ends the request: a peer that trickles a byte now and then never stalls, but
    // would hold its caller for good. Time the caller spends between reads does not
    // count. 0 bytes or no time: no such limit.
    std::uint64_t lowSpeedBytes = 1000;
    std::chrono::milliseconds lowSpeedTime {30000};
};

// One response being received. The body is pulled by the caller in pieces.
class HttpResponse {
public:
    virtual ~HttpResponse() = default;

    // 0 when none was obtained.
    [[nodiscard]] virtual int statusCode() const = 0;

    // The value of the last header line with this name (compared without regard to
    // case), with surrounding white space removed; nothing when there is none.
    [[nodiscard]] virtual std::optional<std::string> header(std::string_view name) const = 0;

    // Reads up to `size` bytes of the body: fills the buffer completely unless the
    // body ends first (returns fewer, 0 at the end). Returns -1 when the transfer
    // fails before the read is complete (connection dropped, stall timeout, body
    // shorter than its Content-Length, the client interrupted, the response was
    // superseded by a newer request on the same client, ...): a read that a failure
    // cut short is a failed read, whatever bytes it had already received.
    [[nodiscard]] virtual std::int64_t read(char* buffer, std::size_t size) = 0;
};

// A session: one per thread, carrying the User-Agent. Not thread-safe; each worker
// owns one.
class HttpClient {
public:
    virtual ~HttpClient() = default;

    // GET `url` (http:// or https://) with extra request header lines, sent as given
    // (e.g. "RANGE: 123-" or "Cache-Control: no-cache"). Returns once the status line
    // and headers have arrived; nullptr when the request failed before that (bad URL,
    // name lookup, connect, send, timeout). Only one response may be open per client
    // at a time; opening a new one ends the previous.
    [[nodiscard]] virtual std::unique_ptr<HttpResponse> get(const std::string& url,
                                                            const std::vector<std::string>& extraHeaders) = 0;

    // From now on, a request or read of this client that is waiting for the network
    // fails within about 100 ms once `interrupted` returns true, so that a user's
    // pause or close never waits for a stalled store. Asked on the client's thread.
    virtual void setInterrupt(std::function<bool()> interrupted) = 0;

    // Why the last request or read of this client failed, in words for the failure
    // log: libcurl's error with its code and the system's errno where there is one,
    // or the limit that ended it. Empty when the transport cannot tell.
    [[nodiscard]] virtual std::string failure() const { return {}; }
};

// True when libcurl's URL parser takes `url` as an http:// or https:// address with
// a host (a space, a tab or a port past 65535 are refused, as any request with it
// would be).
[[nodiscard]] bool isFetchableUrl(const std::string& url);

// The address a redirect from `from` leads to: `location` itself when it is whole,
// else taken relative to `from`. Nothing when they do not make an address.
[[nodiscard]] std::optional<std::string> redirectTarget(const std::string& from, const std::string& location);

// How long a Retry-After value asks a client to wait: a number of seconds, or the
// time from `now` until an HTTP date (none once it has passed). Nothing for a value
// that is neither, a negative number among them. A wait longer than 2^31 - 1 seconds
// reads as that; what a caller grants is its own to bound.
[[nodiscard]] std::optional<std::chrono::seconds> retryAfterWait(
    std::string_view value, std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

// The wait a 503 (busy) or 429 (too many requests) answer asks for in its Retry-After;
// nothing for other answers, and for a value retryAfterWait() does not take.
[[nodiscard]] std::optional<std::chrono::seconds> askedRetryWait(const HttpResponse& response);

// The real transport over libcurl. Proxies come from libcurl's standard
// http_proxy/https_proxy/no_proxy variables; TLS peers are verified.
std::unique_ptr<HttpClient> makeCurlHttpClient(std::string userAgent, HttpOptions options = {});

using HttpClientFactory = std::function<std::unique_ptr<HttpClient>(const std::string& userAgent)>;
HttpClientFactory curlHttpClientFactory(HttpOptions options = {});

// The most body bytes a response from makeCurlHttpClient() has held in its own
// buffer at any one time so far; 0 for other responses. Lets tests check that a
// large body is never buffered whole.
std::size_t curlBodyBufferPeak(const HttpResponse& response);

// libcurl's process-wide initialisation; main() holds one of these before any thread
// starts and until every thread has ended.
class CurlGlobal {
public:
    CurlGlobal();
    ~CurlGlobal();
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
};

} // namespace qvr
