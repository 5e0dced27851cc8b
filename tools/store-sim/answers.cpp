// What the simulated store answers: track info, track files with their resume
// behaviours and faults, the version list and update files, the radio page.
#include "tools/store-sim/listener.h"

#include "platform/text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace qvr::sim::detail {

namespace {

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
    std::string_view value = trim(header, kBlanks);
    if (value.starts_with("bytes="))
        value.remove_prefix(6);
    if (!value.ends_with('-') || value.size() < 2)
        return std::nullopt;
    value.remove_suffix(1);
    if (!std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return parseNumber(value);
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

// Announced whole, sent up to `end`: the client sees the connection break.
void answerCut(httplib::Response& res, const char* type, std::shared_ptr<const std::string> bytes,
               std::uint64_t end)
{
    end = std::min<std::uint64_t>(end, bytes->size());
    res.set_header("Content-Length", std::to_string(bytes->size()));
    res.set_content_provider(type, [bytes, end](size_t sent, httplib::DataSink& sink) {
        return sent < end && sink.write(bytes->data() + sent, std::min<std::uint64_t>(end - sent, kChunkSize));
    });
}

} // namespace

bool Listener::silenced(std::string_view path)
{
    if (path.starts_with(kVersionsPrefix) && path.substr(kVersionsPrefix.size()) == kVersionList
        && m_state.versionListSilences > 0) {
        --m_state.versionListSilences;
        return true;
    }
    if (path == kRadioPath || path == kRadioMovedPath)
        return m_state.silence.radioPage;
    return m_state.silence.updateFiles && path.starts_with(kVersionsPrefix)
        && path.substr(kVersionsPrefix.size()) != kVersionList;
}

void Listener::answer(const httplib::Request& req, httplib::Response& res)
{
    const std::string_view target(req.target);
    const std::string_view path = target.substr(0, target.find('?'));
    {
        std::unique_lock lock(m_state.mutex);
        const auto stopping = [&] { return m_state.stopping; };
        if (silenced(path))
            m_state.changed.wait(lock, stopping);
        const auto due = std::chrono::steady_clock::now() + m_state.latency;
        if (m_state.changed.wait_until(lock, due, stopping)) {
            res.status = 503;
            return;
        }
    }
    const std::string_view query =
        path.size() < target.size() ? target.substr(path.size() + 1) : std::string_view();

    if (path == kTrackInfoPath)
        return answerTrackInfo(query, res);
    if (path.starts_with(kTracksPrefix) && path.ends_with(kTrackSuffix)) {
        std::string_view id = path.substr(kTracksPrefix.size());
        id.remove_suffix(kTrackSuffix.size());
        return answerTrackFile(id, query, req, res);
    }
    if (path.starts_with(kVersionsPrefix))
        return answerVersions(path.substr(kVersionsPrefix.size()), res);
    if (path == kRadioPath || path == kRadioMovedPath)
        return answerRadio(path, res);
    if (path == "/") {
        res.set_content("<html><head><title>Store</title></head><body>Welcome</body></html>\n",
                        "text/html");
        return;
    }
    res.status = 404;
}

void Listener::answerTrackInfo(std::string_view query, httplib::Response& res)
{
    std::unique_lock lock(m_state.mutex);
    if (const auto& fixed = m_state.trackInfoAnswer) {
        res.status = fixed->status;
        if (fixed->cutAfter)
            answerCut(res, "text/html", std::make_shared<const std::string>(fixed->body), *fixed->cutAfter);
        else
            res.set_content(fixed->body, "text/html");
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

void Listener::answerVersions(std::string_view name, httplib::Response& res)
{
    std::unique_lock lock(m_state.mutex);
    if (auto& busy = m_state.updateBusy) {
        res.status = busy->status;
        res.set_header("Retry-After", std::to_string(busy->retryAfter.count()));
        if (--busy->times <= 0)
            busy.reset();
        return;
    }
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
    Body body;
    body.bytes = file->second.bytes;
    body.length = body.bytes->size();
    body.dropAt = SimState::take(m_state.updateDrop, body.length);
    body.stallAt = SimState::take(m_state.stall, body.length);
    body.stallGeneration = m_state.stallGeneration;
    const Framing framing = m_state.framing;
    const std::uint64_t understatedBy = m_state.understatedBy;
    lock.unlock();
    answerBody(res, "application/octet-stream", body, framing, understatedBy);
}

void Listener::answerRadio(std::string_view path, httplib::Response& res)
{
    std::lock_guard lock(m_state.mutex);
    if (path == kRadioPath && m_state.radioRedirect != 0) {
        res.status = m_state.radioRedirect;
        res.set_header("Location", std::string(kRadioMovedPath));
        return;
    }
    res.status = m_state.radioStatus;
    res.set_content(m_state.radioPage ? *m_state.radioPage : radioPage(), "text/html");
}

void Listener::answerTrackFile(std::string_view id, std::string_view query, const httplib::Request& req,
                               httplib::Response& res)
{
    const auto offset = resumeOffset(req);
    std::unique_lock lock(m_state.mutex);
    if (m_state.trackFileStatus != 0) {
        res.status = m_state.trackFileStatus;
        return;
    }
    // The hops made so far travel in the query, as a content network's tokens do.
    const std::string hop = queryValue(query, "hop");
    const int hops = hop.empty() ? 0 : std::atoi(hop.c_str());
    if (hops < m_state.trackRedirects) {
        res.status = 302;
        res.set_header("Location", m_state.trackRedirectScheme + "://127.0.0.1:" + std::to_string(m_state.port)
                           + std::string(kTracksPrefix) + std::string(id) + std::string(kTrackSuffix) + "?"
                           + std::string(query.substr(0, query.find("&hop="))) + "&hop=" + std::to_string(hops + 1));
        return;
    }
    const auto track = m_state.tracks.find(id);
    if (track == m_state.tracks.end() || track->second.fileStatus != 0) {
        res.status = track == m_state.tracks.end() ? 404 : track->second.fileStatus;
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
    answerBody(res, "audio/mpeg", body, framing, understatedBy);
}

void Listener::answerBody(httplib::Response& res, const char* type, const Body& body, Framing framing,
                          std::uint64_t understatedBy)
{
    if (framing == Framing::ChunkedUnderstated) {
        res.set_header("Content-Length", std::to_string(body.length - std::min(body.length, understatedBy)));
        res.set_chunked_content_provider(type, [this, body](size_t sent, httplib::DataSink& sink) {
            return sendChunk(body, sent, sink);
        });
        return;
    }
    if (framing == Framing::Length)
        res.set_header("Content-Length", std::to_string(body.length));
    else
        res.set_header("Connection", "close"); // the only end such a body has
    if (body.length == 0) {
        res.set_header("Content-Type", type);
        return;
    }
    // The provider without a length leaves framing, ranges and compression to
    // us: httplib would otherwise cut the body by its own reading of Range.
    res.set_content_provider(type, [this, body](size_t sent, httplib::DataSink& sink) {
        return sendChunk(body, sent, sink);
    });
}

bool Listener::sendChunk(const Body& body, std::uint64_t sent, httplib::DataSink& sink)
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
    if (body.bytes)
        std::memcpy(buffer.data(), body.bytes->data() + sent, n);
    else
        trackBytes(body.pattern, body.start + sent, buffer.data(), n);
    return sink.write(buffer.data(), n);
}

// Waits until `sent` bytes are due at the answer's rate; false when the server
// stops first.
bool Listener::pace(const Body& body, std::uint64_t sent)
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
bool Listener::stall(std::uint64_t generation)
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

} // namespace qvr::sim::detail
