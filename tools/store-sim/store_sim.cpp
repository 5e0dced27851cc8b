#include "tools/store-sim/store_sim.h"

#include "platform/text.h"
#include "platform/unique_fd.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <condition_variable>
#include <map>

namespace qvr::sim {

namespace {

constexpr std::string_view kTrackInfoPath = "/downloader/downloader_dlm.html";
constexpr std::string_view kTracksPrefix = "/tracks/";
constexpr std::string_view kTrackSuffix = ".mp3";
constexpr std::string_view kVersionsPrefix = "/downloader/app_versions/QVR_DLM/";
constexpr std::string_view kVersionList = "index.html";
constexpr std::string_view kRadioPath = "/radio_2/radio_dlm2.html";
// Where the radio page is redirected to when the redirect knob is on.
constexpr std::string_view kRadioMovedPath = "/radio_2/on_air.html";

// Request headers that httplib must not see under their own name: it answers a
// Range value it cannot parse (the client's "RANGE: <n>-") with 416 before any
// handler runs, and it would compress answers for a client that offers an
// Accept-Encoding, while tests rely on the bytes going out exactly as set. The
// connection renames them on the way in; Range gets its name back before the
// handler runs.
constexpr std::string_view kHiddenPrefix = "X-Qvr-Sim-Hidden-";

constexpr std::size_t kChunkSize = 64 * 1024;
constexpr std::size_t kWorkerThreads = 32;
constexpr std::size_t kRequestsPerConnection = 100;
constexpr int kReadTimeoutMs = 10'000;
constexpr int kWriteTimeoutMs = 30'000;
constexpr int kKeepAliveTimeoutSeconds = 5;

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

bool isHidden(std::string_view name)
{
    return EqualsIgnoringCase(name, "Range") || EqualsIgnoringCase(name, "Accept-Encoding");
}

std::optional<std::uint64_t> parseNumber(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The offset a resume header asks for: "<n>-" as the client sends it, or the
// standard "bytes=<n>-". Anything else counts as no header, as a server that does
// not understand a range ignores it.
std::optional<std::uint64_t> resumeOffset(const httplib::Request& req)
{
    if (!req.has_header("Range"))
        return std::nullopt;
    const std::string header = req.get_header_value("Range");
    std::string_view value = Trim(header, kBlanks);
    if (value.starts_with("bytes="))
        value.remove_prefix(6);
    if (!value.ends_with('-') || value.size() < 2)
        return std::nullopt;
    value.remove_suffix(1);
    if (!std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return parseNumber(value);
}

// It carries a query of its own, as the client appends "&guid=..." to it.
std::string trackAddress(int port, std::string_view id)
{
    return "http://127.0.0.1:" + std::to_string(port) + std::string(kTracksPrefix) + std::string(id)
        + std::string(kTrackSuffix) + "?dl=" + std::string(id);
}

// Coloured from edge to edge, so that a test sees where it is shown.
std::string radioPage()
{
    char background[8];
    std::snprintf(background, sizeof background, "#%06X", static_cast<unsigned>(kRadioPageBackground));
    return std::string("<!DOCTYPE html><html><head><title>Quavero Radio</title><style>"
                       "html,body{margin:0;height:100%;overflow:hidden;background:")
        + background
        + ";color:#FFD54F;font:bold 20px sans-serif}"
          "body{display:flex;align-items:center;justify-content:center}"
          "</style></head><body>On air: Quavero Radio</body></html>\n";
}

std::string queryValue(std::string_view query, std::string_view name)
{
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view part = query.substr(0, amp);
        if (part.size() > name.size() && part.starts_with(name) && part[name.size()] == '=')
            return std::string(part.substr(name.size() + 1));
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
    return {};
}

bool waitReadable(int fd, int stopEvent, int timeoutMs)
{
    std::array<pollfd, 2> fds {{{fd, POLLIN, 0}, {stopEvent, POLLIN, 0}}};
    for (;;) {
        const int n = ::poll(fds.data(), fds.size(), timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && fds[1].revents == 0 && fds[0].revents != 0;
    }
}

bool waitWritable(int fd, int stopEvent, int timeoutMs)
{
    std::array<pollfd, 2> fds {{{fd, POLLOUT, 0}, {stopEvent, POLLIN, 0}}};
    for (;;) {
        const int n = ::poll(fds.data(), fds.size(), timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && fds[1].revents == 0 && (fds[0].revents & POLLOUT) != 0;
    }
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

// One accepted connection as httplib reads and writes it. It keeps a raw copy of
// each request head for the recorder and hides the headers httplib must not act on.
// A response starts a new head: the server speaks only after it read a request.
class Connection final : public httplib::Stream {
public:
    Connection(int sock, int stopEvent) : m_sock(sock), m_stopEvent(stopEvent) {}

    bool is_readable() const override
    {
        return m_readyPos < m_ready.size() || waitReadable(m_sock, m_stopEvent, kReadTimeoutMs);
    }
    bool is_writable() const override { return waitWritable(m_sock, m_stopEvent, kWriteTimeoutMs); }

    ssize_t read(char* ptr, size_t size) override
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

    ssize_t write(const char* ptr, size_t size) override
    {
        m_inHead = true;
        m_head = {};
        if (!waitWritable(m_sock, m_stopEvent, kWriteTimeoutMs))
            return -1;
        return ::send(m_sock, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        addressOf(m_sock, true, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        addressOf(m_sock, false, ip, port);
    }
    socket_t socket() const override { return m_sock; }

    // Waits for the first bytes of the next request of a kept-alive connection.
    bool nextRequestArrives() const
    {
        return !m_raw.empty() || m_readyPos < m_ready.size()
            || waitReadable(m_sock, m_stopEvent, kKeepAliveTimeoutSeconds * 1000);
    }

    const RecordedRequest& head() const { return m_head; }

private:
    ssize_t receive()
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

    std::string headLine(std::string line)
    {
        std::string_view text(line);
        text.remove_suffix(1);
        if (text.ends_with('\r'))
            text.remove_suffix(1);
        if (m_head.method.empty()) {
            const auto space = text.find(' ');
            m_head.method = std::string(text.substr(0, space));
            if (m_head.method.empty())
                m_head.method = "?"; // a malformed line still starts the head
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
        m_head.headers.emplace_back(std::string(name), std::string(Trim(text.substr(colon + 1), kBlanks)));
        if (isHidden(name))
            line.insert(0, kHiddenPrefix);
        return line;
    }

    int m_sock;
    int m_stopEvent;
    bool m_inHead = true;
    RecordedRequest m_head;
    std::string m_raw;   // received, not yet looked at
    std::string m_ready; // looked at, not yet handed to httplib
    std::size_t m_readyPos = 0;
};

} // namespace

namespace detail {

struct SimState {
    struct Fault {
        std::uint64_t afterBytes = 0;
        int times = 0; // answers still to affect; negative: every answer
    };

    // Takes one use of a fault for an answer whose body has `length` bytes; only an
    // answer the fault can actually hit uses it up.
    static std::optional<std::uint64_t> take(std::optional<Fault>& fault, std::uint64_t length)
    {
        if (!fault || fault->afterBytes >= length)
            return std::nullopt;
        const std::uint64_t at = fault->afterBytes;
        if (fault->times > 0 && --fault->times == 0)
            fault.reset();
        return at;
    }

    std::size_t countMatching(std::string_view pathPrefix) const
    {
        return static_cast<std::size_t>(
            std::count_if(requests.begin(), requests.end(),
                          [&](const RecordedRequest& r) { return r.path.starts_with(pathPrefix); }));
    }

    std::atomic<int> port {0};

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::map<std::string, Track, std::less<>> tracks;
    struct FixedAnswer {
        int status;
        std::string body;
        std::optional<std::size_t> cutAfter;
    };
    std::optional<FixedAnswer> trackInfoAnswer;
    ResumeMode resumeMode = ResumeMode::Honour;
    Framing framing = Framing::Length;
    std::uint64_t understatedBy = 0;
    std::uint64_t rate = 0;
    std::chrono::milliseconds latency {0};
    std::optional<Fault> drop;
    std::optional<Fault> stall;
    std::uint64_t stallGeneration = 0;
    std::size_t stalled = 0;
    std::string versionText = "2.1.0.0";
    struct VersionFile {
        std::shared_ptr<const std::string> bytes;
        int status = 200;
    };
    std::map<std::string, VersionFile, std::less<>> versionFiles;
    std::optional<Fault> updateDrop;
    int radioStatus = 200;
    int radioRedirect = 0;
    std::vector<RecordedRequest> requests;
    bool stopping = false;
};

// httplib's server with connections of our own (see Connection) and a stop that
// also ends kept-alive and stalled connections at once.
class Listener final : public httplib::Server {
public:
    explicit Listener(SimState& state) : m_state(state), m_stopEvent(::eventfd(0, EFD_CLOEXEC))
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
        Get(".*", [this](const httplib::Request& req, httplib::Response& res) { answer(req, res); });
    }

    // The bound port, or 0.
    int bind(int port)
    {
        if (!m_stopEvent)
            return 0;
        if (port == 0)
            return std::max(bind_to_any_port("127.0.0.1"), 0);
        return bind_to_port("127.0.0.1", port) ? port : 0;
    }

    void halt()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto ignored = ::write(m_stopEvent.get(), &one, sizeof one);
        const socket_t sock = svr_sock_.exchange(INVALID_SOCKET);
        if (sock != INVALID_SOCKET) {
            ::shutdown(sock, SHUT_RDWR);
            ::close(sock);
        }
    }

private:
    bool process_and_close_socket(socket_t sock) override
    {
        Connection connection(sock, m_stopEvent.get());
        bool closed = false;
        for (std::size_t left = kRequestsPerConnection; left > 0 && !closed; --left) {
            if (!connection.nextRequestArrives())
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

    static void restoreHiddenHeaders(httplib::Request& req)
    {
        httplib::Headers restored;
        for (auto it = req.headers.begin(); it != req.headers.end();) {
            const std::string_view name(it->first);
            if (name.size() > kHiddenPrefix.size()
                && EqualsIgnoringCase(name.substr(0, kHiddenPrefix.size()), kHiddenPrefix)) {
                const std::string original(name.substr(kHiddenPrefix.size()));
                if (!EqualsIgnoringCase(original, "Accept-Encoding"))
                    restored.emplace(original, it->second);
                it = req.headers.erase(it);
            } else {
                ++it;
            }
        }
        req.headers.merge(restored);
    }

    void record(RecordedRequest request)
    {
        {
            std::lock_guard lock(m_state.mutex);
            m_state.requests.push_back(std::move(request));
        }
        m_state.changed.notify_all();
    }

    void answer(const httplib::Request& req, httplib::Response& res)
    {
        {
            std::unique_lock lock(m_state.mutex);
            const auto due = std::chrono::steady_clock::now() + m_state.latency;
            if (m_state.changed.wait_until(lock, due, [&] { return m_state.stopping; })) {
                res.status = 503;
                return;
            }
        }
        const std::string_view target(req.target);
        const std::string_view path = target.substr(0, target.find('?'));
        const std::string_view query =
            path.size() < target.size() ? target.substr(path.size() + 1) : std::string_view();

        if (path == kTrackInfoPath)
            return answerTrackInfo(query, res);
        if (path.starts_with(kTracksPrefix) && path.ends_with(kTrackSuffix)) {
            std::string_view id = path.substr(kTracksPrefix.size());
            id.remove_suffix(kTrackSuffix.size());
            return answerTrackFile(id, req, res);
        }
        if (path.starts_with(kVersionsPrefix))
            return answerVersions(path.substr(kVersionsPrefix.size()), res);
        if (path == kRadioPath || path == kRadioMovedPath) {
            std::lock_guard lock(m_state.mutex);
            if (path == kRadioPath && m_state.radioRedirect != 0) {
                res.status = m_state.radioRedirect;
                res.set_header("Location", std::string(kRadioMovedPath));
                return;
            }
            res.status = m_state.radioStatus;
            res.set_content(radioPage(), "text/html");
            return;
        }
        if (path == "/") {
            res.set_content("<html><head><title>Store</title></head><body>Welcome</body></html>\n",
                            "text/html");
            return;
        }
        res.status = 404;
    }

    void answerTrackInfo(std::string_view query, httplib::Response& res)
    {
        std::unique_lock lock(m_state.mutex);
        if (const auto& fixed = m_state.trackInfoAnswer) {
            res.status = fixed->status;
            if (!fixed->cutAfter) {
                res.set_content(fixed->body, "text/html");
                return;
            }
            res.set_header("Content-Length", std::to_string(fixed->body.size()));
            res.set_content_provider("text/html", [sent = fixed->body.substr(0, *fixed->cutAfter)](
                                                      size_t offset, httplib::DataSink& sink) {
                return offset < sent.size() && sink.write(sent.data() + offset, sent.size() - offset);
            });
            return;
        }
        const auto track = m_state.tracks.find(queryValue(query, "track"));
        if (track == m_state.tracks.end()) {
            res.status = 404;
            return;
        }
        const std::string body = "<html><head><title>" + track->second.title
            + "</title></head><body>\n<url>" + trackAddress(m_state.port, track->first)
            + "</url>\n</body></html>\n";
        lock.unlock();
        res.set_content(body, "text/html");
    }

    void answerVersions(std::string_view name, httplib::Response& res)
    {
        std::lock_guard lock(m_state.mutex);
        if (name == kVersionList) {
            res.set_content(m_state.versionText, "text/plain");
            return;
        }
        const auto file = m_state.versionFiles.find(name);
        if (file == m_state.versionFiles.end()) {
            res.status = 404;
            return;
        }
        res.status = file->second.status;
        const std::shared_ptr<const std::string> bytes = file->second.bytes;
        const auto dropAt = SimState::take(m_state.updateDrop, bytes->size());
        if (!dropAt) {
            res.set_content(*bytes, "application/octet-stream");
            return;
        }
        // Announced whole, sent in part: the client sees the connection break.
        res.set_header("Content-Length", std::to_string(bytes->size()));
        res.set_content_provider("application/octet-stream",
                                 [bytes, end = *dropAt](size_t sent, httplib::DataSink& sink) {
                                     if (sent >= end)
                                         return false;
                                     return sink.write(bytes->data() + sent,
                                                       std::min<std::uint64_t>(end - sent, kChunkSize));
                                 });
    }

    // What one track-file answer sends, fixed before its headers go out.
    struct Body {
        std::uint32_t pattern = 0;
        std::uint64_t start = 0;
        std::uint64_t length = 0;
        std::optional<std::uint64_t> dropAt;
        std::optional<std::uint64_t> stallAt;
        std::uint64_t stallGeneration = 0;
        std::uint64_t rate = 0;
    std::chrono::milliseconds latency {0};
        std::chrono::steady_clock::time_point started;
    };

    void answerTrackFile(std::string_view id, const httplib::Request& req, httplib::Response& res)
    {
        const auto offset = resumeOffset(req);
        std::unique_lock lock(m_state.mutex);
        const auto track = m_state.tracks.find(id);
        if (track == m_state.tracks.end()) {
            res.status = 404;
            return;
        }
        const std::uint64_t size = track->second.size;
        Body body;
        body.pattern = track->second.pattern;
        res.status = 200;
        if (offset && m_state.resumeMode != ResumeMode::Ignore) {
            if (*offset >= size) {
                res.status = 416;
                res.set_header("Content-Range", "bytes */" + std::to_string(size));
                return;
            }
            const ResumeMode mode = m_state.resumeMode;
            if (mode != ResumeMode::PartialWithoutRange)
                body.start = *offset;
            if (mode == ResumeMode::PartialContent || mode == ResumeMode::PartialWithoutRange)
                res.status = 206;
            const std::uint64_t claimed = body.start + (mode == ResumeMode::MisplacedRange ? 1 : 0);
            if (mode != ResumeMode::PartialWithoutRange)
                res.set_header("Content-Range", "bytes " + std::to_string(claimed) + "-"
                                   + std::to_string(size - 1) + "/" + std::to_string(size));
        }
        body.length = size - body.start;
        const Framing framing = m_state.framing;
        const std::uint64_t understatedBy = m_state.understatedBy;
        body.dropAt = SimState::take(m_state.drop, body.length);
        body.stallAt = SimState::take(m_state.stall, body.length);
        body.stallGeneration = m_state.stallGeneration;
        body.rate = m_state.rate;
        body.started = std::chrono::steady_clock::now();
        lock.unlock();

        if (framing == Framing::ChunkedUnderstated) {
            res.set_header("Content-Length", std::to_string(body.length - std::min(body.length, understatedBy)));
            res.set_chunked_content_provider("audio/mpeg", [this, body](size_t sent, httplib::DataSink& sink) {
                return sendChunk(body, sent, sink);
            });
            return;
        }
        if (framing == Framing::Length)
            res.set_header("Content-Length", std::to_string(body.length));
        if (body.length == 0) {
            res.set_header("Content-Type", "audio/mpeg");
            return;
        }
        // The provider without a length leaves framing, ranges and compression to
        // us: httplib would otherwise cut the body by its own reading of Range.
        res.set_content_provider("audio/mpeg", [this, body](size_t sent, httplib::DataSink& sink) {
            return sendChunk(body, sent, sink);
        });
    }

    bool sendChunk(const Body& body, std::uint64_t sent, httplib::DataSink& sink)
    {
        if (sent >= body.length) {
            sink.done();
            return true;
        }
        if (body.dropAt && sent >= *body.dropAt)
            return false;
        std::uint64_t end = body.length;
        if (body.dropAt)
            end = std::min(end, *body.dropAt);
        if (body.stallAt) {
            if (sent == *body.stallAt && !stall(body.stallGeneration))
                return false;
            if (sent < *body.stallAt)
                end = std::min(end, *body.stallAt);
        }
        std::array<char, kChunkSize> buffer;
        std::uint64_t chunk = buffer.size();
        if (body.rate != 0) {
            // Small pieces, about twenty a second, keep the pace even.
            chunk = std::clamp<std::uint64_t>(body.rate / 20, 1, chunk);
            if (!pace(body, sent))
                return false;
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, end - sent));
        trackBytes(body.pattern, body.start + sent, buffer.data(), n);
        return sink.write(buffer.data(), n);
    }

    // Waits until `sent` bytes are due at the answer's rate; false when the server
    // stops first.
    bool pace(const Body& body, std::uint64_t sent)
    {
        const auto due = body.started
            + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(static_cast<double>(sent) / static_cast<double>(body.rate)));
        std::unique_lock lock(m_state.mutex);
        m_state.changed.wait_until(lock, due, [&] { return m_state.stopping; });
        return !m_state.stopping;
    }

    // Holds a stalled answer until its stall is lifted; false when the server stops
    // first.
    bool stall(std::uint64_t generation)
    {
        std::unique_lock lock(m_state.mutex);
        if (m_state.stallGeneration != generation)
            return !m_state.stopping;
        ++m_state.stalled;
        m_state.changed.notify_all();
        m_state.changed.wait(lock, [&] {
            return m_state.stopping || m_state.stallGeneration != generation;
        });
        return !m_state.stopping;
    }

    SimState& m_state;
    UniqueFd m_stopEvent;
};

} // namespace detail

void trackBytes(std::uint32_t pattern, std::uint64_t offset, char* out, std::size_t n)
{
    const std::uint64_t key = mix(pattern);
    while (n > 0) {
        const std::uint64_t word = mix(key ^ (offset / 8));
        for (auto i = static_cast<unsigned>(offset % 8); i < 8 && n > 0; ++i, ++offset, --n)
            *out++ = static_cast<char>(word >> (8 * i));
    }
}

std::string trackContent(std::uint32_t pattern, std::uint64_t offset, std::size_t n)
{
    std::string content(n, '\0');
    trackBytes(pattern, offset, content.data(), n);
    return content;
}

std::string trackContent(const Track& track)
{
    return trackContent(track.pattern, 0, static_cast<std::size_t>(track.size));
}

std::uint32_t patternFromId(std::string_view id)
{
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (const unsigned char c : id) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

std::optional<std::string> RecordedRequest::header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (EqualsIgnoringCase(key, name))
            return value;
    }
    return std::nullopt;
}

StoreSimulator::StoreSimulator() : m_state(std::make_unique<detail::SimState>()) {}

StoreSimulator::~StoreSimulator()
{
    stop();
}

bool StoreSimulator::start(int port)
{
    std::lock_guard control(m_control);
    return !m_listener && startListener(port);
}

void StoreSimulator::stop()
{
    std::lock_guard control(m_control);
    stopListener();
}

bool StoreSimulator::running() const
{
    std::lock_guard control(m_control);
    return m_listener != nullptr;
}

int StoreSimulator::port() const
{
    return m_state->port;
}

std::string StoreSimulator::hostPort() const
{
    return "127.0.0.1:" + std::to_string(port());
}

std::string StoreSimulator::trackUrl(std::string_view id) const
{
    return trackAddress(port(), id);
}

void StoreSimulator::addTrack(Track track)
{
    std::lock_guard lock(m_state->mutex);
    std::string id = track.id;
    m_state->tracks.insert_or_assign(std::move(id), std::move(track));
}

void StoreSimulator::setTrackInfoAnswer(int status, std::string body, std::optional<std::size_t> cutAfter)
{
    std::lock_guard lock(m_state->mutex);
    m_state->trackInfoAnswer = detail::SimState::FixedAnswer {status, std::move(body), cutAfter};
}

void StoreSimulator::clearTrackInfoAnswer()
{
    std::lock_guard lock(m_state->mutex);
    m_state->trackInfoAnswer.reset();
}

void StoreSimulator::setResumeMode(ResumeMode mode)
{
    std::lock_guard lock(m_state->mutex);
    m_state->resumeMode = mode;
}

void StoreSimulator::setFraming(Framing framing, std::uint64_t shortBy)
{
    std::lock_guard lock(m_state->mutex);
    m_state->framing = framing;
    m_state->understatedBy = shortBy;
}

void StoreSimulator::setRate(std::uint64_t bytesPerSecond)
{
    std::lock_guard lock(m_state->mutex);
    m_state->rate = bytesPerSecond;
}

void StoreSimulator::setLatency(std::chrono::milliseconds latency)
{
    std::lock_guard lock(m_state->mutex);
    m_state->latency = latency;
}

namespace {

// Sets one of the fault knobs, or clears it with times 0.
void setFault(std::optional<detail::SimState::Fault>& fault, std::uint64_t bytes, int times)
{
    if (times == 0)
        fault.reset();
    else
        fault = detail::SimState::Fault {bytes, times};
}

} // namespace

void StoreSimulator::setDropAfter(std::uint64_t bytes, int times)
{
    std::lock_guard lock(m_state->mutex);
    setFault(m_state->drop, bytes, times);
}

void StoreSimulator::clearDrop()
{
    setDropAfter(0, 0);
}

void StoreSimulator::setStallAfter(std::uint64_t bytes, int times)
{
    std::lock_guard lock(m_state->mutex);
    setFault(m_state->stall, bytes, times);
}

void StoreSimulator::releaseStalls()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stall.reset();
        ++m_state->stallGeneration;
        m_state->stalled = 0;
    }
    m_state->changed.notify_all();
}

bool StoreSimulator::waitForStalls(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [&] { return m_state->stalled >= count; });
}

void StoreSimulator::goDown()
{
    std::lock_guard control(m_control);
    stopListener();
}

bool StoreSimulator::comeUp()
{
    std::lock_guard control(m_control);
    if (m_listener)
        return true;
    return port() != 0 && startListener(port());
}

void StoreSimulator::setVersionText(std::string text)
{
    std::lock_guard lock(m_state->mutex);
    m_state->versionText = std::move(text);
}

void StoreSimulator::setVersionFile(std::string name, std::string bytes, int status)
{
    std::lock_guard lock(m_state->mutex);
    m_state->versionFiles.insert_or_assign(
        std::move(name), detail::SimState::VersionFile {std::make_shared<const std::string>(std::move(bytes)), status});
}

void StoreSimulator::setUpdateDropAfter(std::uint64_t bytes, int times)
{
    std::lock_guard lock(m_state->mutex);
    setFault(m_state->updateDrop, bytes, times);
}

void StoreSimulator::setRadioStatus(int status)
{
    std::lock_guard lock(m_state->mutex);
    m_state->radioStatus = status;
}

void StoreSimulator::setRadioRedirect(int status)
{
    std::lock_guard lock(m_state->mutex);
    m_state->radioRedirect = status;
}

std::vector<RecordedRequest> StoreSimulator::requests() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->requests;
}

void StoreSimulator::clearRequests()
{
    std::lock_guard lock(m_state->mutex);
    m_state->requests.clear();
}

bool StoreSimulator::waitForRequests(std::string_view pathPrefix, std::size_t count,
                                     std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout,
                                     [&] { return m_state->countMatching(pathPrefix) >= count; });
}

bool StoreSimulator::startListener(int port)
{
    auto listener = std::make_unique<detail::Listener>(*m_state);
    const int bound = listener->bind(port);
    if (bound == 0)
        return false;
    m_state->port = bound;
    m_listener = std::move(listener);
    // The socket listens from bind on, so connections made before the thread runs
    // wait in the backlog instead of being refused.
    m_thread = std::thread([listener = m_listener.get()] { listener->listen_after_bind(); });
    return true;
}

void StoreSimulator::stopListener()
{
    if (!m_listener)
        return;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->changed.notify_all();
    m_listener->halt();
    m_thread.join();
    m_listener.reset();
    std::lock_guard lock(m_state->mutex);
    m_state->stopping = false;
}

} // namespace qvr::sim
