#pragma once

#include "platform/unique_fd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace qvr::sim {

// A track of the simulated store. Its bytes are not stored anywhere: they follow
// from `pattern` and the offset (see trackBytes), so tracks of any size cost nothing.
struct Track {
    std::string id;
    std::string title;
    std::uint64_t size = 0;
    std::uint32_t pattern = 0;
    // Non-zero: its file always answers this status, without a body, as for a
    // track the store refuses (404, 410) while its info is still given.
    int fileStatus = 0;
};

// Fills `out` with the `n` bytes of a track's content that start at `offset`. The
// byte at a given offset depends only on the pattern and that offset, so any range
// equals the same slice of the whole track.
void trackBytes(std::uint32_t pattern, std::uint64_t offset, char* out, std::size_t n);
// `n` bytes from `offset` (not cut at a track's size: the content goes on forever).
std::string trackContent(std::uint32_t pattern, std::uint64_t offset, std::size_t n);
// The whole track, for tracks small enough to hold in memory.
std::string trackContent(const Track& track);
// The pattern the command-line program gives a track with this id.
std::uint32_t patternFromId(std::string_view id);

// The radio page fills its window with this colour (0xRRGGBB), so that tests can
// find it on the screen.
inline constexpr std::uint32_t kRadioPageBackground = 0x1B5E20;

// One request as it came in: everything is raw, nothing is decoded.
struct RecordedRequest {
    std::string method;
    std::string path;  // the target up to the '?'
    std::string query; // the target after the '?', empty when there is none
    // In the order and with the names as sent.
    std::vector<std::pair<std::string, std::string>> headers;
    std::chrono::steady_clock::time_point at;  // when its head had arrived

    // The first header of this name, compared without regard to case.
    std::optional<std::string> header(std::string_view name) const;
};

// How a track-file request with a resume header ("RANGE: <n>-" or "bytes=<n>-") is
// answered.
enum class ResumeMode {
    Honour,         // 200, the bytes from n on and a Content-Range
    Ignore,         // 200 and the whole track, no Content-Range
    PartialContent, // as Honour, but with status 206
    // What a broken store may do, for tests:
    MisplacedRange,     // 200 and the bytes from n on, but a Content-Range that starts at n + 1
    PartialWithoutRange, // 206 and the whole track, no Content-Range
};

// How track-file and update-file answers mark the end of their body.
enum class Framing {
    Length,             // a true Content-Length
    NoLength,           // no length at all: the body ends when the connection closes
    ChunkedUnderstated, // chunked, with a Content-Length that claims less than is sent
};

namespace detail {
struct SimState;
class Listener;
} // namespace detail

// The store's web server in miniature, on 127.0.0.1 only. It serves track info,
// track files (with the resume behaviours a store may show), the version list and
// update files, the radio page and the home page, and records every request.
// Faults can be switched on while it runs; every setter is thread-safe.
class StoreSimulator {
public:
    StoreSimulator();
    ~StoreSimulator();
    StoreSimulator(const StoreSimulator&) = delete;
    StoreSimulator& operator=(const StoreSimulator&) = delete;

    // Starts listening on 127.0.0.1:`port`; 0 picks a free port. False when the port
    // cannot be bound or the simulator already runs.
    bool start(int port = 0);
    // Stops listening and ends every open connection, stalled ones included.
    void stop();

    // The bound port (kept while down), 0 before the first start.
    int port() const;
    // "127.0.0.1:PORT", the value for QVR_STORE_HOST.
    std::string hostPort() const;
    // The download address a track-info answer carries for this track.
    std::string trackUrl(std::string_view id) const;

    void addTrack(Track track);

    // Track-info requests get this status and body, whatever they ask for; with
    // `cutAfter`, the body's length is announced but the connection closes after
    // that many of its bytes.
    void setTrackInfoAnswer(int status, std::string body, std::optional<std::size_t> cutAfter = std::nullopt);

    void setResumeMode(ResumeMode mode);
    // `shortBy`: how many bytes less a ChunkedUnderstated length claims.
    void setFraming(Framing framing, std::uint64_t shortBy = 0);

    // Each track-file answer from now on sends its body at no more than this many
    // bytes per second, so that a client can be caught in the middle of a track; 0
    // sends as fast as the connection takes it.
    void setRate(std::uint64_t bytesPerSecond);

    // Every answer from now on waits this long before it is made, as a store far
    // away would; zero answers at once.
    void setLatency(std::chrono::milliseconds latency);

    // The next `times` track-file answers (every one when negative) close the
    // connection once `bytes` bytes of their body have been sent.
    void setDropAfter(std::uint64_t bytes, int times = -1);

    // The next `times` track-file and update-file answers (every one when negative)
    // send nothing more after `bytes` bytes of their body (0: right after the
    // headers) until releaseStalls() or stop().
    void setStallAfter(std::uint64_t bytes, int times = -1);
    // Ends the stall knob and lets every stalled answer send the rest.
    void releaseStalls();
    // Waits until `count` answers have stalled since the last releaseStalls().
    bool waitForStalls(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

    // Going down closes the listening socket, so that connections are refused, and
    // ends every open connection; coming up listens on the same port again.
    void goDown();
    bool comeUp();
    // Going deaf goes down too, but the port still listens, with a backlog kept full
    // and nothing ever accepted: a connection is neither made nor refused, as at a
    // host that drops it. comeUp() ends it.
    bool goDeaf();

    // The version list's body (status 200).
    void setVersionText(std::string text);
    // An update file: `name` in the update folder answers `status` and `bytes`.
    // Names that were not set answer 404.
    void setVersionFile(std::string name, std::string bytes, int status = 200);
    // The next `times` update-file answers (every one when negative) close the
    // connection once `bytes` bytes of their body have been sent.
    void setUpdateDropAfter(std::uint64_t bytes, int times = -1);
    // Track-file requests answer 302 `hops` times before the track: each with a
    // Location to the same track, under `scheme` ("http", or another to see it
    // refused). 0 hops: the track at once.
    void setTrackRedirects(int hops, std::string scheme = "http");
    // Non-zero: every track-file request answers this status, without a body.
    void setTrackFileStatus(int status);
    // Every 503 and 429 answer from now on carries this Retry-After value, sent as
    // given; none: no Retry-After.
    void setRetryAfter(std::optional<std::string> value);

    // The radio page's status (200 at first). Its body is the page itself, one colour,
    // kRadioPageBackground, behind a line of text, until setRadioPage gives another.
    void setRadioStatus(int status);
    // The radio page's body (HTML) from now on, such as a page that misbehaves.
    void setRadioPage(std::string body);
    // Non-zero: the radio page's address answers with this status and a Location to
    // another address, which answers as the radio page does.
    void setRadioRedirect(int status);

    // Answers that never come: the request is taken and recorded, and its connection
    // stays silent until stop(). The latency knob silences everything alike.
    struct Silence {
        bool updateFiles = false;  // the update folder's files, its version list aside
        bool radioPage = false;
    };
    void setSilence(Silence silence);
    // The next `times` version-list answers never come, as above.
    void setVersionListSilence(int times);
    // The next `times` answers of the update folder, its version list included, are
    // `status` (503, 429) with "Retry-After: `retryAfter`", as a busy store's.
    void setUpdateBusy(int status, std::chrono::seconds retryAfter, int times);

    std::vector<RecordedRequest> requests() const;
    void clearRequests();
    // Waits until at least `count` recorded requests have a path that starts with
    // `pathPrefix`.
    bool waitForRequests(std::string_view pathPrefix, std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

private:
    bool startListener(int port);
    void stopListener();

    std::unique_ptr<detail::SimState> m_state;
    mutable std::mutex m_control; // serialises start, stop, down and up
    std::unique_ptr<detail::Listener> m_listener;
    std::vector<UniqueFd> m_deaf; // the deaf port and the connections that fill its backlog
    std::thread m_thread;
};

} // namespace qvr::sim
