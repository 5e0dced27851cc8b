#include "platform/http.h"

#include "platform/failure_log.h"
#include "platform/text.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <ctime>
#include <cstring>
#include <utility>

namespace qvr {

namespace {

using Clock = std::chrono::steady_clock;

// Keeps one poll's timeout within an int however long the stall limit is; libcurl
// wakes earlier when its own timers say so.
constexpr std::chrono::milliseconds kLongestPoll {1000};
// How often a client that can be interrupted looks at its interrupt while it waits.
constexpr std::chrono::milliseconds kInterruptPoll {100};

struct EasyCleanup {
    void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};
struct SlistCleanup {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using HeaderList = std::unique_ptr<curl_slist, SlistCleanup>;

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

std::optional<std::string> lastField(const HeaderFields& fields, std::string_view name)
{
    for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
        if (equalsIgnoringCase(it->first, name))
            return it->second;
    }
    return std::nullopt;
}

// "HTTP/1.1 200 OK" or "HTTP/2 200": the number after the first space.
int statusOf(std::string_view statusLine)
{
    const auto space = statusLine.find(' ');
    if (space == std::string_view::npos)
        return 0;
    const std::string_view rest = statusLine.substr(space + 1);
    int status = 0;
    std::from_chars(rest.data(), rest.data() + rest.size(), status);
    return status;
}

// The easy handle with its own multi handle, and what the current request has
// received so far. libcurl only moves data while one of the loops below drives it, and
// the body callback pauses the transfer once a read's worth is buffered, so a body of
// any size passes through a buffer of about one read plus one libcurl chunk.
// Shared by a client and the responses it hands out, so that a response which outlives
// its client still fails cleanly instead of touching freed handles.
class CurlSession {
public:
    CurlSession(const std::string& userAgent, const HttpOptions& options)
        : m_options(options), m_multi(curl_multi_init()), m_easy(curl_easy_init())
    {
        if (!m_multi || !m_easy || !configure(userAgent))
            m_easy.reset();
    }
    ~CurlSession() { detach(); }
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    // Ends the request before, sends this one and waits for the final response's head.
    // Returns the request's number, or nothing when no head arrived.
    std::optional<std::uint64_t> start(const std::string& url,
                                       const std::vector<std::string>& extraHeaders)
    {
        detach();
        ++m_request;
        m_status = 0;
        m_headers.clear();
        m_headersDone = false;
        m_body.clear();
        m_bodyStart = 0;
        m_bodyLimit = CURL_MAX_WRITE_SIZE;
        m_bodyPeak = 0;
        m_paused = false;
        m_finished = false;
        m_failed = false;
        m_connected = false;
        m_slowWaited = {};
        m_slowBytes = 0;
        m_failure.clear();
        m_errorBuffer[0] = '\0';
        if (!m_easy)
            return failed("libcurl could not be set up");

        HeaderList lines;
        for (const std::string& header : extraHeaders) {
            // Callers used to a raw header block may end a line with CR LF; libcurl adds its
            // own, and an empty line would end the request's head early.
            const std::string_view given = trimEnd(header, "\r\n");
            if (given.empty())
                continue;
            const std::string line(given);
            curl_slist* head = curl_slist_append(lines.get(), line.c_str());
            if (!head)
                return failed("no memory for the request's headers");
            if (!lines)
                lines.reset(head);
        }
        if (curl_easy_setopt(m_easy.get(), CURLOPT_URL, url.c_str()) != CURLE_OK
            || curl_easy_setopt(m_easy.get(), CURLOPT_HTTPHEADER, lines.get()) != CURLE_OK)
            return failed("libcurl refused the address or the headers");
        m_requestHeaders = std::move(lines);
        if (curl_multi_add_handle(m_multi.get(), m_easy.get()) != CURLM_OK)
            return failed("libcurl could not start the request");
        m_attached = true;

        driveUntil([this] { return m_headersDone; });
        if (!m_headersDone) {
            detach();
            return failed(m_failure.empty() ? "the answer ended before its head" : m_failure);
        }
        return m_request;
    }

    void setInterrupt(std::function<bool()> interrupted) { m_interrupted = std::move(interrupted); }

    int status() const { return m_status; }
    const std::string& failure() const { return m_failure; }
    const HeaderFields& headers() const { return m_headers; }
    std::size_t bodyPeak(std::uint64_t request) const { return request == m_request ? m_bodyPeak : 0; }

    std::int64_t read(std::uint64_t request, char* buffer, std::size_t size)
    {
        if (request != m_request)
            return -1;
        // Buffering at least one libcurl chunk keeps tiny reads from pausing and resuming
        // the transfer for every few bytes.
        m_bodyLimit = std::max<std::size_t>(size, CURL_MAX_WRITE_SIZE);
        std::size_t copied = 0;
        while (true) {
            copied += takeBuffered(buffer + copied, size - copied);
            if (copied == size)
                break;
            if (m_finished) {
                if (m_failed)
                    return -1;
                break;
            }
            if (m_paused) {
                // Resuming may hand over the held-back data at once, from inside the call.
                m_paused = false;
                if (const CURLcode resumed = curl_easy_pause(m_easy.get(), CURLPAUSE_CONT); resumed != CURLE_OK)
                    fail(curlError(resumed));
                continue;
            }
            const std::size_t wanted = size - copied;
            driveUntil([this, wanted] { return m_paused || buffered() >= wanted; });
        }
        return static_cast<std::int64_t>(copied);
    }

    // A response going away ends its transfer; an unread body cannot stay on the
    // connection, so libcurl drops it then.
    void end(std::uint64_t request)
    {
        if (request != m_request)
            return;
        detach();
        m_body = {};
        m_bodyStart = 0;
    }

private:
    bool configure(const std::string& userAgent)
    {
        CURL* easy = m_easy.get();
        const auto connectMs = static_cast<long>(std::max<std::int64_t>(m_options.connect.count(), 1));
        const auto totalMs = static_cast<long>(std::max<std::int64_t>(m_options.total.count(), 0));
        return curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent.c_str()) == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L) == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, connectMs) == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, totalMs) == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, m_options.followRedirects ? 1L : 0L)
                == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L) == CURLE_OK
            // Through a proxy, its answer to CONNECT would otherwise look like the
            // response's own head.
            && curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlSession::onHeader) == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_HEADERDATA, this) == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlSession::onBody) == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_WRITEDATA, this) == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorBuffer.data()) == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &CurlSession::onConnected) == CURLE_OK
            && curl_easy_setopt(easy, CURLOPT_PREREQDATA, this) == CURLE_OK;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* self) noexcept
    {
        const size_t length = size * count;
        try {
            static_cast<CurlSession*>(self)->takeHeaderLine(std::string_view(data, length));
        } catch (...) {
            return 0; // libcurl ends the transfer with an error
        }
        return length;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self) noexcept
    {
        try {
            return static_cast<CurlSession*>(self)->takeBody(data, size * count);
        } catch (...) {
            return 0;
        }
    }

    static int onConnected(void* self, char*, char*, int, int) noexcept
    {
        auto* session = static_cast<CurlSession*>(self);
        session->m_connected = true;
        session->m_lastProgress = Clock::now();
        session->m_connectedAt = session->m_lastProgress;
        return CURL_PREREQFUNC_OK;
    }

    void takeHeaderLine(std::string_view line)
    {
        m_lastProgress = Clock::now();
        // Lines after the head are trailers of a chunked body.
        if (m_headersDone)
            return;
        if (line.starts_with("HTTP/")) {
            // Each status line starts a new head: interim (1xx) answers and followed
            // redirects must not mix into the final one.
            m_status = statusOf(trim(line));
            m_headers.clear();
            return;
        }
        if (trim(line).empty()) {
            const bool interim = m_status < 200;
            const auto location = lastField(m_headers, "Location");
            const bool redirected = m_options.followRedirects && m_status >= 300 && m_status < 400
                && location && !location->empty();
            m_headersDone = !interim && !redirected;
            return;
        }
        if ((line.front() == ' ' || line.front() == '\t') && !m_headers.empty()) {
            std::string& value = m_headers.back().second;
            value += ' ';
            value += trim(line);
            return;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos)
            return;
        m_headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }

    size_t takeBody(const char* data, size_t length)
    {
        // libcurl skips the bodies of redirects it follows; anything else before the
        // final head is not part of the answer either.
        if (!m_headersDone)
            return length;
        if (buffered() >= m_bodyLimit) {
            m_paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (m_bodyStart > 0) {
            m_body.erase(m_body.begin(), m_body.begin() + static_cast<std::ptrdiff_t>(m_bodyStart));
            m_bodyStart = 0;
        }
        m_body.insert(m_body.end(), data, data + length);
        m_bodyPeak = std::max(m_bodyPeak, m_body.size());
        m_lastProgress = Clock::now();
        m_slowBytes += length;
        return length;
    }

    std::size_t buffered() const { return m_body.size() - m_bodyStart; }

    std::size_t takeBuffered(char* out, std::size_t size)
    {
        const std::size_t n = std::min(size, buffered());
        if (n > 0)
            std::memcpy(out, m_body.data() + m_bodyStart, n);
        m_bodyStart += n;
        if (m_bodyStart == m_body.size()) {
            m_body.clear();
            m_bodyStart = 0;
        }
        return n;
    }

    // Runs the transfer until `satisfied` holds or it ends. Time spent here without a
    // byte arriving counts towards the stall limit; time the caller spends between
    // reads does not, since nothing is received then anyway. Before the connection
    // stands, libcurl's own connect timeout runs first.
    template <typename Predicate>
    void driveUntil(Predicate satisfied)
    {
        m_lastProgress = Clock::now();
        Clock::time_point tick = m_lastProgress;
        while (!m_finished) {
            if (tooSlow(tick)) {
                fail("the body brought fewer than " + std::to_string(m_options.lowSpeedBytes) + " bytes in "
                     + secondsText(m_options.lowSpeedTime));
                return;
            }
            int running = 0;
            if (const CURLMcode performed = curl_multi_perform(m_multi.get(), &running); performed != CURLM_OK) {
                fail(std::string("libcurl's transfer failed: ") + curl_multi_strerror(performed));
                return;
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(m_multi.get(), &queued)) {
                if (message->msg != CURLMSG_DONE || message->easy_handle != m_easy.get())
                    continue;
                if (message->data.result == CURLE_OK)
                    finish(true);
                else
                    fail(curlError(message->data.result));
            }
            if (m_finished || satisfied())
                return;

            const auto limit = m_connected ? m_options.stall : m_options.connect + m_options.stall;
            const auto idle
                = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_lastProgress);
            if (idle >= limit) {
                fail((m_connected ? "nothing received for " : "no connection within ") + secondsText(limit));
                return;
            }
            auto headLeft = std::chrono::milliseconds::max();
            if (m_connected && !m_headersDone) {
                headLeft = m_options.head - std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_connectedAt);
                if (headLeft.count() <= 0) {
                    fail("no whole head within " + secondsText(m_options.head) + " of the connection");
                    return;
                }
            }
            if (m_interrupted && m_interrupted()) {
                fail("stopped by the program while it waited");
                return;
            }
            const auto wait = std::min({limit - idle, headLeft, m_interrupted ? kInterruptPoll : kLongestPoll});
            const int waitMs = static_cast<int>(wait.count()) + 1;
            if (const CURLMcode polled = curl_multi_poll(m_multi.get(), nullptr, 0, waitMs, nullptr); polled != CURLM_OK) {
                fail(std::string("libcurl's wait failed: ") + curl_multi_strerror(polled));
                return;
            }
        }
    }

    // Whether the body has brought too few bytes in the last stretch of waiting for
    // it; the time since `tick` counts as waited.
    bool tooSlow(Clock::time_point& tick)
    {
        const Clock::time_point now = Clock::now();
        if (m_headersDone)
            m_slowWaited += std::chrono::duration_cast<std::chrono::milliseconds>(now - tick);
        tick = now;
        if (m_options.lowSpeedBytes == 0 || m_options.lowSpeedTime.count() <= 0
            || m_slowWaited < m_options.lowSpeedTime)
            return false;
        const bool slow = m_slowBytes < m_options.lowSpeedBytes;
        m_slowWaited = {};
        m_slowBytes = 0;
        return slow;
    }

    // The request failed: no answer, or the rest of its body lost.
    std::nullopt_t failed(std::string why)
    {
        m_failure = std::move(why);
        return std::nullopt;
    }
    void fail(std::string why)
    {
        m_failure = std::move(why);
        finish(false);
    }
    // libcurl's words for `code`, and the system's error behind it where it keeps one.
    std::string curlError(CURLcode code) const
    {
        std::string why = "libcurl error " + std::to_string(static_cast<int>(code)) + ", "
            + (m_errorBuffer[0] != '\0' ? m_errorBuffer.data() : curl_easy_strerror(code));
        long osError = 0;
        if (curl_easy_getinfo(m_easy.get(), CURLINFO_OS_ERRNO, &osError) == CURLE_OK && osError != 0)
            why += " (" + errnoText(static_cast<int>(osError)) + ")";
        return why;
    }

    void finish(bool ok)
    {
        m_finished = true;
        m_failed = !ok;
        // A complete transfer leaves its connection to the multi handle's cache for the
        // next request; an incomplete one is closed.
        detach();
    }

    void detach()
    {
        if (m_attached)
            curl_multi_remove_handle(m_multi.get(), m_easy.get());
        m_attached = false;
    }

    HttpOptions m_options;
    std::function<bool()> m_interrupted;
    MultiHandle m_multi;
    HeaderList m_requestHeaders; // referenced by the easy handle while a request runs
    EasyHandle m_easy;
    bool m_attached = false;

    std::uint64_t m_request = 0;
    int m_status = 0;
    HeaderFields m_headers;
    bool m_headersDone = false;

    // Body bytes received and not yet read start at m_bodyStart.
    std::vector<char> m_body;
    std::size_t m_bodyStart = 0;
    std::size_t m_bodyLimit = CURL_MAX_WRITE_SIZE;
    std::size_t m_bodyPeak = 0;
    bool m_paused = false;

    bool m_finished = false;
    bool m_failed = false;
    std::string m_failure;
    std::array<char, CURL_ERROR_SIZE> m_errorBuffer {};
    bool m_connected = false;
    Clock::time_point m_connectedAt;
    Clock::time_point m_lastProgress;
    // The body's bytes in the stretch of waiting that the low-speed limit looks at.
    std::chrono::milliseconds m_slowWaited {};
    std::uint64_t m_slowBytes = 0;
};

class CurlResponse final : public HttpResponse {
public:
    CurlResponse(std::shared_ptr<CurlSession> session, std::uint64_t request)
        : m_session(std::move(session))
        , m_request(request)
        , m_status(m_session->status())
        , m_headers(m_session->headers())
    {
    }
    ~CurlResponse() override { m_session->end(m_request); }
    CurlResponse(const CurlResponse&) = delete;
    CurlResponse& operator=(const CurlResponse&) = delete;

    int statusCode() const override { return m_status; }
    std::optional<std::string> header(std::string_view name) const override
    {
        return lastField(m_headers, name);
    }
    std::int64_t read(char* buffer, std::size_t size) override
    {
        return m_session->read(m_request, buffer, size);
    }

    std::size_t bodyPeak() const { return m_session->bodyPeak(m_request); }

private:
    std::shared_ptr<CurlSession> m_session;
    std::uint64_t m_request;
    int m_status;
    HeaderFields m_headers;
};

class CurlClient final : public HttpClient {
public:
    CurlClient(const std::string& userAgent, const HttpOptions& options)
        : m_session(std::make_shared<CurlSession>(userAgent, options))
    {
    }

    std::unique_ptr<HttpResponse> get(const std::string& url,
                                      const std::vector<std::string>& extraHeaders) override
    {
        const auto request = m_session->start(url, extraHeaders);
        if (!request)
            return nullptr;
        return std::make_unique<CurlResponse>(m_session, *request);
    }

    void setInterrupt(std::function<bool()> interrupted) override
    {
        m_session->setInterrupt(std::move(interrupted));
    }

    std::string failure() const override { return m_session->failure(); }

private:
    std::shared_ptr<CurlSession> m_session;
};

struct UrlCleanup {
    void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};

} // namespace

bool isFetchableUrl(const std::string& url)
{
    const std::unique_ptr<CURLU, UrlCleanup> parsed(curl_url());
    if (!parsed || url.find('\0') != std::string::npos
        || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return false;
    char* scheme = nullptr;
    char* host = nullptr;
    const bool hasParts = curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK
        && curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK;
    const bool fetchable = hasParts && host && *host
        && (std::string_view(scheme) == "http" || std::string_view(scheme) == "https");
    curl_free(scheme);
    curl_free(host);
    return fetchable;
}

std::optional<std::string> redirectTarget(const std::string& from, const std::string& location)
{
    const std::unique_ptr<CURLU, UrlCleanup> url(curl_url());
    if (!url || from.find('\0') != std::string::npos || location.find('\0') != std::string::npos
        || curl_url_set(url.get(), CURLUPART_URL, from.c_str(), 0) != CURLUE_OK
        || curl_url_set(url.get(), CURLUPART_URL, location.c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    char* whole = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &whole, 0) != CURLUE_OK)
        return std::nullopt;
    std::string target(whole);
    curl_free(whole);
    return target;
}

std::optional<std::chrono::seconds> retryAfterWait(std::string_view value, std::chrono::system_clock::time_point now)
{
    constexpr std::chrono::seconds kLongest {2147483647};
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!value.empty() && blank(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && blank(value.back()))
        value.remove_suffix(1);
    if (value.empty())
        return std::nullopt;
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (std::all_of(value.begin(), value.end(), digit)) {
        std::int64_t seconds = 0;
        const auto parsed = std::from_chars(value.data(), value.data() + value.size(), seconds);
        return parsed.ec == std::errc() ? std::min(std::chrono::seconds(seconds), kLongest) : kLongest;
    }
    // Every form of an HTTP date begins with the day's name; libcurl's date parser is
    // lenient, and would take a signed or broken number for some date.
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (!letter(value.front()))
        return std::nullopt;
    const std::time_t date = curl_getdate(std::string(value).c_str(), nullptr);
    if (date == -1)
        return std::nullopt;
    // In whole seconds: a date centuries ahead fits a time_t, not a time_point.
    const std::time_t from = std::chrono::system_clock::to_time_t(now);
    return date <= from ? std::chrono::seconds(0) : std::min(std::chrono::seconds(date - from), kLongest);
}

std::optional<std::chrono::seconds> askedRetryWait(const HttpResponse& response)
{
    const int status = response.statusCode();
    if (status != 503 && status != 429)
        return std::nullopt;
    const std::optional<std::string> value = response.header("Retry-After");
    return value ? retryAfterWait(*value) : std::nullopt;
}

std::unique_ptr<HttpClient> makeCurlHttpClient(std::string userAgent, HttpOptions options)
{
    return std::make_unique<CurlClient>(userAgent, options);
}

HttpClientFactory curlHttpClientFactory(HttpOptions options)
{
    return [options](const std::string& userAgent) { return makeCurlHttpClient(userAgent, options); };
}

std::size_t curlBodyBufferPeak(const HttpResponse& response)
{
    const auto* curlResponse = dynamic_cast<const CurlResponse*>(&response);
    return curlResponse ? curlResponse->bodyPeak() : 0;
}

CurlGlobal::CurlGlobal()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlGlobal::~CurlGlobal()
{
    curl_global_cleanup();
}

} // namespace qvr
