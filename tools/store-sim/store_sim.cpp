#include "tools/store-sim/store_sim.h"

#include "tools/store-sim/listener.h"

#include "platform/text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

namespace qvr::sim {

namespace {

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

} // namespace

namespace detail {

std::string trackAddress(int port, std::string_view id)
{
    return "http://127.0.0.1:" + std::to_string(port) + std::string(kTracksPrefix) + std::string(id)
        + std::string(kTrackSuffix) + "?dl=" + std::string(id);
}

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
        if (equalsIgnoringCase(key, name))
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
    m_deaf.clear();
    stopListener();
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
    return detail::trackAddress(port(), id);
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
    m_deaf.clear();
    if (m_listener)
        return true;
    return port() != 0 && startListener(port());
}

bool StoreSimulator::goDeaf()
{
    std::lock_guard control(m_control);
    stopListener();
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* at = reinterpret_cast<const sockaddr*>(&address);
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int yes = 1;
    if (::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0
        || ::bind(listener.get(), at, sizeof address) != 0 || ::listen(listener.get(), 0) != 0)
        return false;
    m_deaf.push_back(std::move(listener));
    // A backlog of none still holds one connection: the first filler takes that
    // place, and the kernel drops every later attempt unanswered.
    for (int filler = 0; filler < 2; ++filler) {
        m_deaf.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (::connect(m_deaf.back().get(), at, sizeof address) != 0 && errno != EINPROGRESS)
            return false;
    }
    return true;
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

void StoreSimulator::setTrackRedirects(int hops, std::string scheme)
{
    std::lock_guard lock(m_state->mutex);
    m_state->trackRedirects = hops;
    m_state->trackRedirectScheme = std::move(scheme);
}

void StoreSimulator::setTrackFileStatus(int status)
{
    std::lock_guard lock(m_state->mutex);
    m_state->trackFileStatus = status;
}

void StoreSimulator::setRetryAfter(std::optional<std::string> value)
{
    std::lock_guard lock(m_state->mutex);
    m_state->retryAfter = std::move(value);
}

void StoreSimulator::setRadioStatus(int status)
{
    std::lock_guard lock(m_state->mutex);
    m_state->radioStatus = status;
}

void StoreSimulator::setRadioPage(std::string body)
{
    std::lock_guard lock(m_state->mutex);
    m_state->radioPage = std::move(body);
}

void StoreSimulator::setRadioRedirect(int status)
{
    std::lock_guard lock(m_state->mutex);
    m_state->radioRedirect = status;
}

void StoreSimulator::setSilence(Silence silence)
{
    std::lock_guard lock(m_state->mutex);
    m_state->silence = silence;
}

void StoreSimulator::setVersionListSilence(int times)
{
    std::lock_guard lock(m_state->mutex);
    m_state->versionListSilences = times;
}

void StoreSimulator::setUpdateBusy(int status, std::chrono::seconds retryAfter, int times)
{
    std::lock_guard lock(m_state->mutex);
    m_state->updateBusy = times > 0 ? std::optional(detail::SimState::Busy {status, retryAfter, times}) : std::nullopt;
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
