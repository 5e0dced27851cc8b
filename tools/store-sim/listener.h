// The simulator's insides: its state and knobs, and the server that answers from
// them. Only the simulator's own files include this.
#pragma once

#include "tools/store-sim/store_sim.h"

#include "platform/unique_fd.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>

namespace qvr::sim::detail {

inline constexpr std::string_view kTrackInfoPath = "/downloader/downloader_dlm.html";
inline constexpr std::string_view kTracksPrefix = "/tracks/";
inline constexpr std::string_view kTrackSuffix = ".mp3";
inline constexpr std::string_view kVersionsPrefix = "/downloader/app_versions/QVR_DLM/";
inline constexpr std::string_view kVersionList = "index.html";
inline constexpr std::string_view kRadioPath = "/radio_2/radio_dlm2.html";
// Where the radio page is redirected to when the redirect knob is on.
inline constexpr std::string_view kRadioMovedPath = "/radio_2/on_air.html";

inline constexpr std::size_t kChunkSize = 64 * 1024;
inline constexpr std::size_t kRequestsPerConnection = 100;
inline constexpr int kKeepAliveTimeoutSeconds = 5;

// The download address a track-info answer carries. It carries a query of its own,
// as the client appends "&guid=..." to it.
std::string trackAddress(int port, std::string_view id);

// What the knobs are set to and what has been asked, shared by the simulator's
// control side and the threads that answer.
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
    int trackRedirects = 0;
    std::string trackRedirectScheme = "http";
    int trackFileStatus = 0;
    std::optional<std::string> retryAfter;
    std::optional<std::string> radioPage; // none: the coloured page
    StoreSimulator::Silence silence;
    int versionListSilences = 0;
    struct Busy {
        int status;
        std::chrono::seconds retryAfter;
        int times;
    };
    std::optional<Busy> updateBusy;
    std::vector<RecordedRequest> requests;
    bool stopping = false;
};

// httplib's server with connections of our own (see Connection) and a stop that
// also ends kept-alive and stalled connections at once.
class Listener final : public httplib::Server {
public:
    explicit Listener(SimState& state);

    // The bound port, or 0.
    int bind(int port);
    void halt();

private:
    // What one track-file or update-file answer sends, fixed before its headers go out.
    struct Body {
        std::shared_ptr<const std::string> bytes; // an update file's; none: a track's, by its pattern
        std::uint32_t pattern = 0;
        std::uint64_t start = 0;
        std::uint64_t length = 0;
        std::optional<std::uint64_t> dropAt;
        std::optional<std::uint64_t> stallAt;
        std::uint64_t stallGeneration = 0;
        std::uint64_t rate = 0;
        std::chrono::steady_clock::time_point started;
    };

    bool process_and_close_socket(socket_t sock) override;
    // Whether the answer to `path` never comes (StoreSimulator::setSilence and
    // setVersionListSilence, of which it takes one); under the lock.
    bool silenced(std::string_view path);
    static void restoreHiddenHeaders(httplib::Request& req);
    void record(RecordedRequest request);

    // The answers (answers.cpp).
    void answer(const httplib::Request& req, httplib::Response& res);
    void answerTrackInfo(std::string_view query, httplib::Response& res);
    void answerVersions(std::string_view name, httplib::Response& res);
    void answerRadio(std::string_view path, httplib::Response& res);
    void answerTrackFile(std::string_view id, std::string_view query, const httplib::Request& req,
                         httplib::Response& res);
    void answerBody(httplib::Response& res, const char* type, const Body& body, Framing framing,
                    std::uint64_t understatedBy);
    bool sendChunk(const Body& body, std::uint64_t sent, httplib::DataSink& sink);
    bool pace(const Body& body, std::uint64_t sent);
    bool stall(std::uint64_t generation);

    SimState& m_state;
    UniqueFd m_stopEvent;
};

} // namespace qvr::sim::detail
