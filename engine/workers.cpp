#include "engine/workers.h"

#include "engine/messages.h"
#include "engine/queue_item.h"
#include "engine/store_request.h"
#include "platform/folder_watch.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/track_file.h"
#include "res/strings.h"

#include <array>
#include <memory>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

namespace qvr {

namespace {

constexpr const char* kNetworkError = "Network Error";
constexpr const char* kInvalidAddress = "Invalid Address";
constexpr const char* kStoreBusy = "Store Busy";
constexpr const char* kTrackFileBusy = "Track File in Use";
constexpr std::size_t kAnswerLimit = 9999;
constexpr std::size_t kChunkSize = 5000;
constexpr std::chrono::milliseconds kFolderReportInterval {50};

void sendStatus(MessageSink& window, const std::string& text)
{
    Send(window, msg::SetStatus {text.c_str()});
}

// Sleeps for `pause`, but wakes early when `interrupted` says so, so that a user's
// request or the window's close is never kept waiting for a retry.
template <class Interrupted>
void pauseUnless(std::chrono::milliseconds pause, Interrupted interrupted)
{
    constexpr auto kSlice = std::chrono::milliseconds(20);
    const auto until = std::chrono::steady_clock::now() + pause;
    while (!interrupted() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(kSlice);
}

// The gate a worker waits at; without one the worker cannot be handed work and
// only reports its end.
std::optional<NamedMutex> openGate(const WorkerShared& shared, unsigned nameId)
{
    return NamedMutex::create(shared.m_gateFolder, loadString(nameId));
}

// The pause before the next attempt on a job that keeps failing: the worker's retry
// pause at first, doubling with each failure in a row, up to kRetryPauseGrowth
// times it; a new job, or one that went well, starts from the first again.
class RetryPause {
public:
    explicit RetryPause(std::chrono::milliseconds first) : m_first(first), m_next(first) {}

    // The pause after a failure on `job`.
    std::chrono::milliseconds after(const std::string& job)
    {
        if (job != m_job) {
            m_job = job;
            m_next = m_first;
        }
        const auto pause = m_next;
        m_next = std::min(m_next * 2, m_first * WorkerShared::kRetryPauseGrowth);
        return pause;
    }
    void succeeded()
    {
        m_job.clear();
        m_next = m_first;
    }

private:
    std::chrono::milliseconds m_first;
    std::chrono::milliseconds m_next;
    std::string m_job;
};

// --- resolver ----------------------------------------------------------------

struct ResolveResult {
    std::int32_t flags = 0;
    std::unique_ptr<QueueItem> item;
    bool retry = false;  // asked again after a pause: the store could not answer now
};

// Answers that say the store could not answer now (a server error, a timeout, too
// many requests), unlike one that says there is nothing for the request.
bool storeBusy(int status)
{
    return status >= 500 || status == 408 || status == 429;
}

ResolveResult resolveOne(MessageSink& window, WorkerShared& shared, HttpClient& http,
                         std::array<char, kAnswerLimit + 1>& answer)
{
    ResolveResult result;
    const std::string& entry = shared.m_strCurRawEntry;
    if (entry.empty()) {
        // Nothing to ask for; consuming it keeps it from being handed over forever.
        result.flags = RSF_CONSUMED;
        return result;
    }
    const std::string path = FormatStrings(loadString(IDS_TRACK_INFO_PATH),
                                           {EncodeRequestText(entry), shared.config.strings.m_strInstallationId});
    const std::string url = "http://" + shared.config.storeHost + path;

    bool failed = true;
    std::size_t length = 0;
    std::unique_ptr<HttpResponse> response = http.get(url, {});
    if (response) {
        failed = false;
        if (response->statusCode() == 200) {
            // An answer cut off by a failure is not the answer: the entry is kept
            // and asked for again.
            const std::int64_t n = response->read(answer.data(), kAnswerLimit);
            if (n < 0)
                failed = true;
            else
                length = static_cast<std::size_t>(n);
        }
    }
    if (failed) {
        result.flags = RSF_NETWORK_ERROR;
        result.retry = true;
        if (!shared.m_bStopThreads)
            sendStatus(window, kNetworkError);
        return result;
    }
    if (storeBusy(response->statusCode())) {
        // The request itself may be fine: it waits, and the store's other answers
        // (the tracks in the queue) go on.
        result.retry = true;
        if (!shared.m_bStopThreads)
            sendStatus(window, kStoreBusy);
        return result;
    }
    result.flags = RSF_CONSUMED | RSF_REFUSED;
    auto info = response->statusCode() == 200 ? ParseTrackInfo(std::string_view(answer.data(), length))
                                              : std::nullopt;
    if (!info)
        return result;
    // An address no request could be made with would block the queue for good.
    const std::optional<std::string> fileUrl = TrackFileRequestUrl(info->url, shared.config.strings.m_strInstallationId);
    if (!fileUrl || !IsFetchableUrl(*fileUrl)) {
        sendStatus(window, kInvalidAddress);
        return result;
    }
    result.flags = RSF_CONSUMED;
    result.item = std::make_unique<QueueItem>(std::move(info->title), std::move(info->url));
    return result;
}

// --- downloader --------------------------------------------------------------

// Where an answer's body goes in the target file.
struct WritePlan {
    std::uint64_t offset = 0;  // where the first byte of the body belongs
    bool rewrite = false;      // the body is the whole track: cut the file to it
    std::uint64_t total = 0;   // for the percentage only
    std::uint64_t end = 0;     // nothing is written at or past this offset
    bool announced = false;    // the answer said where the body ends
};

// A body that continues the n bytes on disk is appended; a whole track replaces
// the file; anything else cannot be placed and the attempt fails. A body is
// written only as far as the answer said it goes; one that says nothing is taken
// up to a size no track reaches.
std::optional<WritePlan> planWrite(const HttpResponse& response, std::uint64_t onDisk,
                                   std::uint64_t unannouncedLimit)
{
    const std::optional<std::string> lengthHeader = response.header("Content-Length");
    const std::uint64_t length = ParseContentLength(lengthHeader.value_or(""));
    WritePlan plan;
    if (const auto range = response.header("Content-Range")) {
        const auto start = ContentRangeStart(*range);
        if (!start || *start != onDisk)
            return std::nullopt;
        plan = WritePlan {onDisk, false, onDisk + length};
    } else if (response.statusCode() == 200) {
        plan = WritePlan {0, true, length};
    } else {
        return std::nullopt;
    }
    plan.announced = lengthHeader.has_value();
    plan.end = plan.announced ? plan.offset + length : unannouncedLimit;
    return plan;
}

bool userStopped(const WorkerShared& shared)
{
    return shared.m_bStopThreads || shared.m_bPaused || shared.m_bCancelCurrent || shared.m_bClearQueue;
}

// Tells the window why the folder cannot take the track; the item stays.
std::int32_t folderUnavailable(MessageSink& window, const std::string& folder, int error, bool& failedAttempt)
{
    failedAttempt = true;
    const msg::FolderTrouble trouble {folder.c_str(), error};
    Send(window, msg::FolderUnavailable {&trouble});
    return DLF_FOLDER_UNAVAILABLE;
}

// The file for the head item, or the flags the attempt ends with when there is none.
std::variant<TrackFile, std::int32_t> openTarget(MessageSink& window, WorkerShared& shared, bool& failedAttempt)
{
    using Kind = TrackFile::Failure::Kind;
    TrackFile::Opening opening = TrackFile::open(shared.m_downloadFolder.get(), shared.m_strCurTitle,
                                                 shared.m_strCurUrl, shared.m_trackMarks);
    if (opening.file)
        return std::move(*opening.file);
    const TrackFile::Failure& failure = opening.failure;
    switch (failure.kind) {
    case Kind::NameRefused:
        // No attempt can ever store this title: the user is told, and it goes.
        Send(window, msg::FileOpenFailed {failure.path.c_str()});
        return DLF_DONE;
    case Kind::Busy:
        failedAttempt = true;
        sendStatus(window, kTrackFileBusy);
        return 0;
    case Kind::FolderUnavailable:
        break;
    }
    return folderUnavailable(window, failure.path, failure.error, failedAttempt);
}

// One attempt on the head item; returns its flags without the user's requests.
std::int32_t downloadOne(MessageSink& window, WorkerShared& shared, HttpClient& http,
                         std::vector<char>& buffer, bool& failedAttempt)
{
    // A request that came before the attempt began leaves nothing to do, not even
    // an empty file.
    if (userStopped(shared))
        return 0;
    const std::string& title = shared.m_strCurTitle;

    // Checked before the file is made, so that an address that can never be
    // fetched leaves no empty track behind.
    const std::optional<std::string> url = TrackFileRequestUrl(shared.m_strCurUrl, shared.config.strings.m_strInstallationId);
    if (!url || !IsFetchableUrl(*url)) {
        sendStatus(window, kInvalidAddress);
        return DLF_DONE;
    }

    auto target = openTarget(window, shared, failedAttempt);
    if (const auto* flags = std::get_if<std::int32_t>(&target))
        return *flags;
    TrackFile& file = std::get<TrackFile>(target);

    const std::uint64_t onDisk = file.sizeAtOpen();
    std::vector<std::string> headers;
    if (onDisk > 0)
        headers.push_back("RANGE: " + std::to_string(onDisk) + "-");
    std::unique_ptr<HttpResponse> response = http.get(*url, headers);
    if (!response && userStopped(shared))
        return 0;
    sendStatus(window, response ? title : std::string(kNetworkError));
    if (!response) {
        failedAttempt = true;
        return DLF_NETWORK_ERROR;
    }
    // Once the track and its name are on the disk, its queue entry may go.
    const auto finish = [&](std::uint64_t size) -> std::int32_t {
        if (const FileResult finished = file.finish(size); !finished)
            return folderUnavailable(window, parentFolder(file.path()), finished.error(), failedAttempt);
        return DLF_DONE;
    };
    const int status = response->statusCode();
    // A track already whole on disk (its queue entry outlived a crash) is asked
    // for from its end; the store says there is nothing more, and it is done.
    if (status == 416 && onDisk > 0
        && UnsatisfiedRangeSize(response->header("Content-Range").value_or("")) == onDisk)
        return finish(onDisk);
    if (status != 200 && status != 206) {
        failedAttempt = true;
        return 0;
    }
    const auto plan = planWrite(*response, onDisk, shared.m_unannouncedTrackLimit);
    if (!plan) {
        failedAttempt = true;
        sendStatus(window, kNetworkError);
        return DLF_NETWORK_ERROR;
    }

    std::int32_t flags = 0;
    std::uint64_t position = plan->offset;
    int lastPercent = -1;
    const auto fail = [&] {
        flags |= DLF_NETWORK_ERROR;
        failedAttempt = true;
        sendStatus(window, kNetworkError);
    };
    while (!userStopped(shared)) {
        const std::int64_t n = response->read(buffer.data(), buffer.size());
        if (n == 0 || (n > 0 && position >= plan->end && plan->announced)) {
            // The end of the body, or of what the answer announced: anything a
            // store sends beyond that is not part of the track.
            if (file.stillThere())
                flags |= DLF_DONE;
            else
                fail();
            break;
        }
        if (n < 0) {
            // A transfer ended by the user's own request is no network error.
            if (!userStopped(shared))
                fail();
            break;
        }
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(
            static_cast<std::uint64_t>(n), plan->end > position ? plan->end - position : 0));
        if (size == 0 || !file.writeAt(position, buffer.data(), size)) {
            fail();
            break;
        }
        position += size;
        // A report that would show the same figure again only costs the transfer a
        // round trip to the window's thread for every chunk.
        const int percent = Percent(position, plan->total);
        if (percent != lastPercent) {
            Send(window, msg::DownloadProgress {percent});
            lastPercent = percent;
        }
    }
    // A rewritten track keeps only what this attempt wrote, so that what is on
    // disk is always a true beginning of the track and the next attempt resumes
    // from the right place. A track that left its place starts anew next time.
    // A track whose end may not have reached the disk is not done.
    const bool cut = !plan->rewrite || onDisk <= position || file.truncate(position);
    if (!cut || !file.sync()) {
        flags &= ~DLF_DONE;
        if (!(flags & DLF_NETWORK_ERROR))
            fail();
    }
    if (flags & DLF_DONE)
        flags = (flags & ~DLF_DONE) | finish(position);
    return flags;
}

} // namespace

std::string WorkerShared::TrackRecordPath(const Configuration& configuration)
{
    const std::string& queue = configuration.strings.m_strDownloadQueuePath;
    return queue.starts_with('/') ? parentFolder(queue) + "/trackfiles.txt" : std::string();
}

int TrackResolver(MessageSink& window, WorkerShared& shared)
{
    std::unique_ptr<HttpClient> http = shared.m_http ? shared.m_http("Track Info Session") : nullptr;
    if (http)
        http->setInterrupt([&shared] { return shared.m_bStopThreads.load(); });
    std::optional<NamedMutex> gate = openGate(shared, IDS_RESOLVE_GATE);
    auto answer = std::make_unique<std::array<char, kAnswerLimit + 1>>();
    answer->fill(0);
    RetryPause pauses(shared.m_retryPause);

    while (http && gate && !shared.m_bStopThreads) {
        // Past a gate it could not wait at, the worker would take a job it was not
        // handed, from a slot the window may be writing: it ends, as without a gate.
        if (!gate->lock())
            break;
        if (shared.m_bStopThreads) {
            // Held since the lock just above, so the release cannot fail.
            static_cast<void>(gate->unlock());
            continue;
        }
        ResolveResult result = resolveOne(window, shared, *http, *answer);
        if (result.retry)
            pauseUnless(pauses.after(shared.m_strCurRawEntry), [&] { return shared.m_bStopThreads.load(); });
        else
            pauses.succeeded();
        // Held since the start of this round.
        static_cast<void>(gate->unlock());
        // The window takes the item out of the pointer it is given; should the
        // window be gone, the item is freed here.
        Send(window, msg::EntryResolved {result.item ? &result.item : nullptr, result.flags});
    }
    Send(window, msg::ThreadExited {THREAD_BIT_RESOLVER});
    return 1;
}

int TrackDownloader(MessageSink& window, WorkerShared& shared)
{
    std::unique_ptr<HttpClient> http = shared.m_http ? shared.m_http("Download Session") : nullptr;
    if (http)
        http->setInterrupt([&shared] { return userStopped(shared); });
    std::optional<NamedMutex> gate = openGate(shared, IDS_DOWNLOAD_GATE);
    std::vector<char> buffer(kChunkSize);

    while (http && gate && !shared.m_bStopThreads) {
        // As in TrackResolver(): no job without the gate.
        if (!gate->lock())
            break;
        if (shared.m_bStopThreads) {
            // Held since the lock just above, so the release cannot fail.
            static_cast<void>(gate->unlock());
            continue;
        }
        bool failedAttempt = false;
        std::int32_t flags = downloadOne(window, shared, *http, buffer, failedAttempt);
        if (failedAttempt)
            pauseUnless(shared.m_retryPause, [&] { return userStopped(shared); });
        if (shared.m_bPaused)
            flags |= DLF_PAUSED;
        if (shared.m_bCancelCurrent)
            flags |= DLF_CANCEL_CURRENT;
        if (shared.m_bClearQueue)
            flags |= DLF_CLEAR_QUEUE;
        // Held since the start of this round.
        static_cast<void>(gate->unlock());
        Send(window, msg::DownloadFinished {flags});
    }
    Send(window, msg::ThreadExited {THREAD_BIT_DOWNLOADER});
    return 1;
}

int FolderWatcher(MessageSink& window, WorkerShared& shared, FolderWatch& watch)
{
    while (!shared.m_bStopThreads) {
        if (shared.m_bFolderChanged) {
            // A folder that cannot be watched (missing, unreadable) leaves the
            // thread waiting for the window's pokes, so that a folder chosen
            // later is watched and closing still works.
            const bool watching = watch.watch(shared.m_downloadFolder.get());
            shared.m_bFolderChanged = false;
            // The window listed the folder before this watch existed; a file that
            // came in between shows only if the window lists it again.
            if (watching)
                Send(window, msg::FolderChanged {});
        }
        const FolderWatch::Event event = watch.wait();
        if (event == FolderWatch::Event::Failed)
            break;
        Send(window, msg::FolderChanged {});
        // A running download changes the folder with every chunk; changes that
        // come this soon after a report are gathered into the next one, so the
        // transfer does not pay for a trip to the window's thread per chunk.
        if (event == FolderWatch::Event::Changed)
            pauseUnless(kFolderReportInterval, [&] { return shared.m_bStopThreads || shared.m_bFolderChanged; });
    }
    Send(window, msg::ThreadExited {THREAD_BIT_WATCHER});
    return 1;
}

} // namespace qvr
