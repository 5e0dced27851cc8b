#include "engine/workers.h"

#include "engine/file_list.h"
#include "engine/messages.h"
#include "engine/queue_item.h"
#include "engine/retry_pause.h"
#include "engine/status_texts.h"
#include "engine/store_request.h"
#include "platform/failure_log.h"
#include "platform/folder_watch.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/track_file.h"
#include "res/strings.h"

#include <array>
#include <cerrno>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

namespace qvr {

namespace {

constexpr std::size_t kAnswerLimit = 9999;
constexpr std::size_t kChunkSize = 5000;
constexpr std::chrono::milliseconds kFolderReportInterval {50};
// Once changes come faster than that (a copy, a storm), they are gathered for this
// long: each report costs the window a layout of the whole list.
constexpr std::chrono::milliseconds kFolderStormInterval {250};

void sendStatus(MessageSink& window, const std::string& text)
{
    sendMessage(window, msg::SetStatus {text.c_str()});
}

// Sleeps for `pause`, but wakes early when `interrupted` says so, so that a user's
// request or the window's close is never kept waiting for a retry.
void pauseUnless(WorkerShared& shared, std::chrono::milliseconds pause, const std::function<bool()>& interrupted)
{
    if (shared.settings.waitOut)
        shared.settings.waitOut(pause, interrupted);
    else
        shared.m_wake.waitFor(pause, interrupted);
}

// The gate a worker waits at; without one the worker cannot be handed work and
// only reports its end.
std::optional<NamedMutex> openGate(const WorkerShared& shared, unsigned nameId)
{
    return NamedMutex::create(shared.settings.gateFolder, loadString(nameId));
}

// The job the window handed over at the gate, copied out under the job lock: the
// worker reads only its copy from then on.
struct TrackJob {
    std::string title;
    std::string url;
};

TrackJob takeTrackJob(const WorkerShared& shared)
{
    std::lock_guard lock(shared.m_jobMutex);
    return {shared.m_strCurTitle, shared.m_strCurUrl};
}

std::string takeRawEntry(const WorkerShared& shared)
{
    std::lock_guard lock(shared.m_jobMutex);
    return shared.m_strCurRawEntry;
}

// --- resolver ----------------------------------------------------------------

struct ResolveResult {
    ResolveReport report;
    bool retry = false;  // asked again after a pause: the store could not answer now
    std::string why;     // for the failure log; empty when nothing failed
    std::optional<std::chrono::seconds> asked;  // the wait the store asked for
};

std::string trackInfoUrl(const WorkerShared& shared, const std::string& entry)
{
    const std::string path = formatStrings(loadString(IDS_TRACK_INFO_PATH),
                                           {encodeRequestText(entry), shared.config.strings.m_strInstallationId});
    return "http://" + shared.config.storeHost + path;
}

// Whether the store answers at all, asked for its home page: a request that fails
// while it does fails for reasons of its own.
bool storeAnswers(const WorkerShared& shared, HttpClient& http)
{
    if (shared.m_bStopThreads)
        return false;
    const std::unique_ptr<HttpResponse> response = http.get(loadString(IDS_HOME_URL, shared.config.storeHost), {});
    return response && !storeBusy(response->statusCode());
}

ResolveResult resolveOne(MessageSink& window, WorkerShared& shared, const std::string& entry, HttpClient& http,
                         std::array<char, kAnswerLimit + 1>& answer)
{
    ResolveResult result;
    if (entry.empty()) {
        // Nothing to ask for; consuming it keeps it from being handed over forever.
        result.report.outcome = ResolveReport::Outcome::Consumed;
        return result;
    }
    const std::string url = trackInfoUrl(shared, entry);

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
        result.why = http.failure();
        response.reset();
        if (!shared.m_bStopThreads)
            sendStatus(window, kNetworkError);
        // A request the store takes from nobody (a line far too long, say) must not
        // hold the requests behind it, nor the downloads.
        result.report.outcome = storeAnswers(shared, http) ? ResolveReport::Outcome::SetAside
                                                           : ResolveReport::Outcome::NetworkError;
        result.retry = result.report.outcome == ResolveReport::Outcome::NetworkError;
        return result;
    }
    if (storeBusy(response->statusCode())) {
        // The request itself may be fine: it waits, and the store's other answers
        // (the tracks in the queue) go on.
        result.report.outcome = ResolveReport::Outcome::StoreBusy;
        result.retry = true;
        result.why = httpStatusText(response->statusCode());
        result.asked = askedRetryWait(*response);
        if (!shared.m_bStopThreads)
            sendStatus(window, kStoreBusy);
        return result;
    }
    result.report.outcome = ResolveReport::Outcome::Refused;
    auto info = response->statusCode() == 200 ? parseTrackInfo(std::string_view(answer.data(), length))
                                              : std::nullopt;
    if (!info) {
        result.why = httpStatusText(response->statusCode())
            + (response->statusCode() == 200 ? ", without a title and an address" : "");
        return result;
    }
    // An address no request could be made with would block the queue for good.
    const std::optional<std::string> fileUrl = trackFileRequestUrl(info->url, shared.config.strings.m_strInstallationId);
    if (!fileUrl || !isFetchableUrl(*fileUrl)) {
        result.why = "the track's address " + info->url + " cannot be asked for";
        sendStatus(window, kInvalidAddress);
        return result;
    }
    result.report.outcome = ResolveReport::Outcome::Consumed;
    result.report.item.emplace(std::move(info->title), std::move(info->url));
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
// written only as far as the answer said it goes, and never past the largest track
// there can be: one that says it goes further is refused.
std::optional<WritePlan> planWrite(const HttpResponse& response, std::uint64_t onDisk, std::uint64_t largest)
{
    const std::optional<std::string> lengthHeader = response.header("Content-Length");
    const std::uint64_t length = parseContentLength(lengthHeader.value_or(""));
    WritePlan plan;
    if (const auto range = response.header("Content-Range")) {
        const auto start = contentRangeStart(*range);
        if (!start || *start != onDisk)
            return std::nullopt;
        plan = WritePlan {onDisk, false, onDisk + length};
    } else if (response.statusCode() == 200) {
        plan = WritePlan {0, true, length};
    } else {
        return std::nullopt;
    }
    plan.announced = lengthHeader.has_value();
    if (plan.announced && (length > largest || plan.offset > largest - length))
        return std::nullopt;
    plan.end = plan.announced ? plan.offset + length : largest;
    return plan;
}

bool userStopped(const WorkerShared& shared)
{
    return shared.m_bStopThreads || shared.m_bPaused || shared.m_bCancelCurrent || shared.m_bClearQueue;
}

using Outcome = DownloadReport::Outcome;

// How an attempt on the head item ended, besides its outcome: when the next one may
// come, and whether the store answered this item well.
struct Attempt {
    enum class Next {
        AtOnce,   // done, or stopped by the user
        Soon,     // something here went wrong (the folder): the retry pause
        Later,    // the store failed: a pause that grows while it keeps failing
        Room,     // the folder is at its reserve: folderFullPause, growing while it stays so
    };
    Outcome outcome = Outcome::Unfinished;
    Next next = Next::AtOnce;
    bool answered = false;
    std::string why;  // for the failure log; empty when nothing failed
    std::optional<std::chrono::seconds> asked {};  // the wait the store asked for
};

bool diskFull(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

// Tells the window why the folder cannot take the track; the item stays.
Attempt folderUnavailable(MessageSink& window, const std::string& folder, int error, bool answered)
{
    const msg::FolderTrouble trouble {folder.c_str(), error};
    sendMessage(window, msg::FolderUnavailable {&trouble});
    return {Outcome::FolderUnavailable, diskFull(error) ? Attempt::Next::Room : Attempt::Next::Soon, answered,
            "the folder " + folder + " cannot take it: " + errnoText(error)};
}

// The file for the head item, or how the attempt ends when there is none.
std::variant<TrackFile, Attempt> openTarget(MessageSink& window, WorkerShared& shared, const TrackJob& job)
{
    using Kind = TrackFile::Failure::Kind;
    TrackFile::Opening opening = TrackFile::open(shared.m_downloadFolder.get(), job.title, job.url, shared.m_trackMarks);
    if (opening.file)
        return std::move(*opening.file);
    const TrackFile::Failure& failure = opening.failure;
    switch (failure.kind) {
    case Kind::NameRefused:
        // No attempt can ever store this title: the user is told, and it goes.
        sendMessage(window, msg::FileOpenFailed {failure.path.c_str()});
        return Attempt {Outcome::Done, Attempt::Next::AtOnce, false, "its title cannot name a file: " + failure.path};
    case Kind::Busy:
        sendStatus(window, kTrackFileBusy);
        return Attempt {Outcome::SetAside, Attempt::Next::AtOnce, false,
                        "its file " + failure.path + " is in use by another program"};
    case Kind::FolderUnavailable:
        break;
    }
    return folderUnavailable(window, failure.path, failure.error, false);
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The track's answer, or why there is none.
struct TrackAnswer {
    std::unique_ptr<HttpResponse> response;
    std::string why;  // without a response: no answer came, or a redirect led elsewhere
};

// The track's answer, following the store's redirects (to a content network, say)
// for kMaxRedirects hops at most, over http and https only, the resume header going
// with each hop. None when no answer came, or a redirect led anywhere else.
TrackAnswer getFollowing(HttpClient& http, std::string url, const std::vector<std::string>& headers)
{
    constexpr int kMaxRedirects = 5;
    for (int hop = 0;; ++hop) {
        std::unique_ptr<HttpResponse> response = http.get(url, headers);
        if (!response)
            return {nullptr, http.failure()};
        if (!isRedirect(response->statusCode()))
            return {std::move(response), {}};
        const std::optional<std::string> location = response->header("Location");
        const std::optional<std::string> target = location ? redirectTarget(url, *location) : std::nullopt;
        if (hop == kMaxRedirects || !target || !isFetchableUrl(*target))
            return {nullptr, httpStatusText(response->statusCode()) + " to " + location.value_or("nowhere")
                                 + ", which is not followed"};
        url = *target;
    }
}

// One attempt on the head item.
Attempt downloadOne(MessageSink& window, WorkerShared& shared, const TrackJob& job, HttpClient& http,
                    std::vector<char>& buffer)
{
    // A request that came before the attempt began leaves nothing to do, not even
    // an empty file.
    if (userStopped(shared))
        return {};
    const std::string& title = job.title;

    // Checked before the file is made, so that an address that can never be
    // fetched leaves no empty track behind.
    const std::optional<std::string> url = trackFileRequestUrl(job.url, shared.config.strings.m_strInstallationId);
    if (!url || !isFetchableUrl(*url)) {
        sendStatus(window, kInvalidAddress);
        return {Outcome::Done, Attempt::Next::AtOnce, false, "its address cannot be asked for"};
    }

    auto target = openTarget(window, shared, job);
    if (const auto* ended = std::get_if<Attempt>(&target))
        return *ended;
    TrackFile& file = std::get<TrackFile>(target);
    const std::string folder = parentFolder(file.path());

    const std::uint64_t onDisk = file.sizeAtOpen();
    std::vector<std::string> headers;
    if (onDisk > 0)
        headers.push_back("RANGE: " + std::to_string(onDisk) + "-");
    TrackAnswer answer = getFollowing(http, *url, headers);
    if (!answer.response && userStopped(shared))
        return {};
    sendStatus(window, answer.response ? title : std::string(kNetworkError));
    if (!answer.response) {
        // No answer for this track while the store answers otherwise (a head that never
        // ends, a content server that keeps silent): the track waits out a pause of its
        // own, and the tracks behind it go on.
        const bool setAside = storeAnswers(shared, http);
        if (userStopped(shared))
            return {};
        return setAside ? Attempt {Outcome::SetAside, Attempt::Next::AtOnce, false, answer.why + "; the store answers otherwise"}
                        : Attempt {Outcome::NetworkError, Attempt::Next::Later, false, std::move(answer.why)};
    }
    const std::unique_ptr<HttpResponse> response = std::move(answer.response);
    // Once the track and its name are on the disk, its queue entry may go.
    const auto finish = [&](std::uint64_t size) {
        if (const FileResult finished = file.finish(size); !finished)
            return folderUnavailable(window, folder, finished.error(), true);
        return Attempt {Outcome::Done, Attempt::Next::AtOnce, true, {}};
    };
    const int status = response->statusCode();
    // A track already whole on disk (its queue entry outlived a crash) is asked
    // for from its end; the store says there is nothing more, and it is done.
    const auto trackSize = status == 416 && onDisk > 0
        ? unsatisfiedRangeSize(response->header("Content-Range").value_or(""))
        : std::nullopt;
    if (trackSize == onDisk)
        return finish(onDisk);
    // A part longer than the whole track (the store serves another cut of it now, or
    // served more than it had) can never be finished: it goes, once, and the next
    // attempt fetches the track anew.
    if (trackSize && *trackSize < onDisk) {
        if (!file.truncate(0) || !file.sync())
            return folderUnavailable(window, folder, errno, true);
        return {Outcome::Unfinished, Attempt::Next::AtOnce, true,
                "its part of " + std::to_string(onDisk) + " bytes is longer than the track's "
                    + std::to_string(*trackSize) + ": fetching it anew"};
    }
    // A store that refuses this track (gone, forbidden) may still serve the others.
    if (status != 200 && status != 206 && !storeBusy(status))
        return {Outcome::SetAside, Attempt::Next::AtOnce, true, httpStatusText(status)};
    if (status != 200 && status != 206) {
        // The store could not answer now: the track waits, and the status says why.
        sendStatus(window, kStoreBusy);
        return {Outcome::Unfinished, Attempt::Next::Later, false, httpStatusText(status), askedRetryWait(*response)};
    }
    const auto plan = planWrite(*response, onDisk, shared.settings.largestTrack);
    if (!plan) {
        sendStatus(window, kNetworkError);
        return {Outcome::NetworkError, Attempt::Next::Later, false,
                httpStatusText(status) + " whose body cannot follow the " + std::to_string(onDisk) + " bytes on disk"};
    }

    Attempt attempt {Outcome::Unfinished, Attempt::Next::AtOnce, true, {}};
    std::uint64_t position = plan->offset;
    std::uint64_t fileEnd = onDisk;
    bool writeFailed = false;
    int lastPercent = -1;
    int lastPosted = -1;
    const auto fail = [&](std::string why) {
        attempt = {Outcome::NetworkError, Attempt::Next::Later, true, std::move(why)};
        sendStatus(window, kNetworkError);
    };
    std::optional<int> full;
    while (!userStopped(shared)) {
        const std::int64_t n = response->read(buffer.data(), buffer.size());
        if (n == 0 || (n > 0 && position >= plan->end && plan->announced)) {
            // The end of the body, or of what the answer announced: anything a
            // store sends beyond that is not part of the track.
            if (file.stillThere())
                attempt.outcome = Outcome::Done;
            else
                fail("its file " + file.path() + " went away while it was written");
            break;
        }
        if (n < 0) {
            // A transfer ended by the user's own request is no network error.
            if (!userStopped(shared))
                fail(http.failure());
            break;
        }
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(
            static_cast<std::uint64_t>(n), plan->end > position ? plan->end - position : 0));
        if (size == 0) {
            fail("its body goes on past the largest track there can be");
            break;
        }
        // The disk is never filled: what the rest of the system needs stays free.
        // Bytes written over the part already there take no more of it.
        const std::uint64_t growth = position + size > fileEnd ? position + size - fileEnd : 0;
        if (const auto space = growth > 0 ? file.space() : std::nullopt;
            space && space->available < growth + shared.settings.diskReserve(space->total)) {
            full = ENOSPC;
            break;
        }
        if (const FileResult written = file.writeAt(position, buffer.data(), size); !written) {
            writeFailed = true;
            if (diskFull(written.error()))
                full = ENOSPC;
            else
                fail("writing its file: " + errnoText(written.error()));
            break;
        }
        position += size;
        fileEnd = std::max(fileEnd, position);
        // Only a new figure is worth a report, and the window takes the reports at
        // its own pace (ProgressMailbox).
        const int percent = percentOf(position, plan->total);
        if (percent != lastPercent) {
            lastPercent = percent;
            if (shared.m_progress.publish(percent)) {
                postMessage(window, msg::DownloadProgress {percent});
                lastPosted = percent;
            }
        }
    }
    // The last figure (100 % for a whole track) shows before the attempt's report.
    if (lastPercent != lastPosted)
        postMessage(window, msg::DownloadProgress {lastPercent});
    // A rewritten track keeps only what this attempt wrote, so that what is on
    // disk is always a true beginning of the track and the next attempt resumes
    // from the right place. A track that left its place starts anew next time.
    // A track whose end may not have reached the disk is not done.
    // A folder at its reserve stops a rewrite before it got past the part: the part
    // stays, for the next attempt to go on from. A write that failed may have left
    // some of itself, or bytes the disk then lost (an I/O error): nothing past the
    // last write that succeeded, each on the disk when it returned, is trusted.
    const bool mustCut = writeFailed || (plan->rewrite && onDisk > position && !full);
    const bool cut = !mustCut || file.truncate(position);
    if (!cut || !file.sync()) {
        if (attempt.outcome == Outcome::Done)
            attempt.outcome = Outcome::Unfinished;
        if (attempt.outcome != Outcome::NetworkError && !full)
            fail("its file could not be cut to what was written or synced: " + errnoText(errno));
    }
    if (full)
        return folderUnavailable(window, folder, *full, true);
    if (attempt.outcome == Outcome::Done)
        return finish(position);
    return attempt;
}

void logAttempt(const TrackJob& job, const Attempt& attempt, std::string_view next)
{
    if (!failureLogOn())
        return;
    const std::string what = "track \"" + job.title + "\" at " + job.url;
    if (!attempt.why.empty())
        logFailure(what, attempt.why, next);
    else if (attempt.outcome == Outcome::Done)
        logSuccess(what);
}

} // namespace

std::string WorkerShared::trackRecordPath(const Configuration& configuration)
{
    const std::string& queue = configuration.strings.m_strDownloadQueuePath;
    return queue.starts_with('/') ? parentFolder(queue) + "/trackfiles.txt" : std::string();
}

int TrackResolver(MessageSink& window, WorkerShared& shared)
{
    std::unique_ptr<HttpClient> http = shared.settings.http ? shared.settings.http("Track Info Session") : nullptr;
    if (http)
        http->setInterrupt([&shared] { return shared.m_bStopThreads.load(); });
    std::optional<NamedMutex> gate = openGate(shared, IDS_RESOLVE_GATE);
    auto answer = std::make_unique<std::array<char, kAnswerLimit + 1>>();
    answer->fill(0);
    RetryPause pauses(shared.settings.retryPause, kLongestResolvePause);

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
        // A new request from now on is a reason to ask again at once: the store may be back.
        shared.m_retryResolveNow = false;
        const std::string entry = takeRawEntry(shared);
        ResolveResult result = resolveOne(window, shared, entry, *http, *answer);
        if (result.retry) {
            const auto pause = pauses.after(entry, result.asked);
            if (!shared.m_bStopThreads)
                logFailure("track info " + trackInfoUrl(shared, entry), result.why, "asking again in " + secondsText(pause));
            pauseUnless(shared, pause, [&] { return shared.m_bStopThreads || shared.m_retryResolveNow.exchange(false); });
        } else {
            if (!result.why.empty())
                logFailure("track info " + trackInfoUrl(shared, entry), result.why,
                           result.report.outcome == ResolveReport::Outcome::SetAside
                               ? "asking again after a pause of its own; the requests behind it go on"
                               : "the request is left out, and the user told");
            else if (failureLogOn())
                logSuccess("track info " + trackInfoUrl(shared, entry));
            pauses.succeeded();
        }
        // Held since the start of this round.
        static_cast<void>(gate->unlock());
        // The window takes the item out of the report; should the window be gone,
        // the item is freed here.
        sendMessage(window, msg::EntryResolved::of(result.report));
    }
    sendMessage(window, msg::ThreadExited {THREAD_BIT_RESOLVER});
    return 1;
}

int TrackDownloader(MessageSink& window, WorkerShared& shared)
{
    std::unique_ptr<HttpClient> http = shared.settings.http ? shared.settings.http("Download Session") : nullptr;
    if (http)
        http->setInterrupt([&shared] { return userStopped(shared); });
    std::optional<NamedMutex> gate = openGate(shared, IDS_DOWNLOAD_GATE);
    std::vector<char> buffer(kChunkSize);
    RetryPause pauses(shared.settings.retryPause);
    // Filling a full folder again and again meanwhile would only wear the disk.
    RetryPause roomPauses(shared.settings.folderFullPause, RetryPause::kLongestAsked);

    while (http && gate && !shared.m_bStopThreads) {
        // As in TrackResolver(): no job without the gate.
        if (!gate->lock())
            break;
        if (shared.m_bStopThreads) {
            // Held since the lock just above, so the release cannot fail.
            static_cast<void>(gate->unlock());
            continue;
        }
        // Resuming, or a new request, from now on is a reason to try again at once.
        shared.m_retryDownloadNow = false;
        const TrackJob job = takeTrackJob(shared);
        Attempt attempt = downloadOne(window, shared, job, *http, buffer);
        if (attempt.answered)
            pauses.succeeded();
        if (attempt.next != Attempt::Next::Room)
            roomPauses.succeeded();
        if (attempt.next != Attempt::Next::AtOnce) {
            const std::string key = job.title + "|" + job.url;
            const auto pause = attempt.next == Attempt::Next::Soon ? shared.settings.retryPause
                : attempt.next == Attempt::Next::Room              ? roomPauses.after(key)
                                                                   : pauses.after(key, attempt.asked);
            logAttempt(job, attempt, "trying again in " + secondsText(pause));
            pauseUnless(shared, pause, [&] { return userStopped(shared) || shared.m_retryDownloadNow.exchange(false); });
        } else {
            logAttempt(job, attempt, attempt.outcome == Outcome::SetAside
                                         ? "trying it again after a pause of its own; the tracks behind it go on"
                                         : attempt.outcome == Outcome::Done ? "the track leaves the queue"
                                                                            : "trying again at once");
        }
        const DownloadReport report {attempt.outcome, shared.m_bPaused, shared.m_bCancelCurrent, shared.m_bClearQueue};
        // Held since the start of this round.
        static_cast<void>(gate->unlock());
        sendMessage(window, msg::DownloadFinished {report});
    }
    sendMessage(window, msg::ThreadExited {THREAD_BIT_DOWNLOADER});
    return 1;
}

namespace {

// Reads the downloaded-files list of `folder` whole and hands it to the window.
void sendListing(MessageSink& window, const std::string& folder)
{
    FileList entries = scanDownloadedFiles(folder);
    msg::FilesListing listing {folder.c_str(), &entries};
    sendMessage(window, msg::FilesListed {&listing});
}

} // namespace

int FolderWatcher(MessageSink& window, WorkerShared& shared, FolderWatch& watch)
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point listNotBefore;
    Clock::time_point reportNotBefore;
    const auto interrupted = [&] { return shared.m_bStopThreads || shared.m_bFolderChanged; };
    const auto pauseUntil = [&](Clock::time_point until) {
        shared.m_wake.waitFor(std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()), interrupted);
    };
    std::string watched;
    // The list can only be read whole: the folder is new to the watch, or its names
    // could not be followed.
    bool readWhole = false;
    while (!shared.m_bStopThreads) {
        if (shared.m_bFolderChanged) {
            // A folder that cannot be watched (missing, unreadable) leaves the
            // thread waiting for the window's pokes, so that a folder chosen
            // later is watched and closing still works.
            watched = shared.m_downloadFolder.get();
            const bool watching = watch.watch(watched);
            shared.m_bFolderChanged = false;
            listNotBefore = {};
            // A list read before this watch existed may miss a file that came in
            // between; this one is read after it.
            readWhole = watching;
        }
        if (shared.m_listFiles || readWhole) {
            // Asked for again while changes keep coming: what they change is
            // gathered meanwhile into the next read.
            if (Clock::now() < listNotBefore) {
                pauseUntil(listNotBefore);
                continue;
            }
            shared.m_listFiles = false;
            readWhole = false;
            // The read takes in every name known to have changed so far.
            static_cast<void>(watch.takeNews());
            sendListing(window, shared.m_downloadFolder.get());
            listNotBefore = Clock::now() + shared.settings.listingInterval;
        }
        const FolderWatch::Event event = watch.wait();
        if (event == FolderWatch::Event::Failed)
            break;
        if (event != FolderWatch::Event::Changed)
            continue;
        // Changes that come this soon after a report are gathered into the next
        // one, so a storm of them costs the window a bounded number of trips.
        const bool storm = Clock::now() < reportNotBefore;
        if (storm)
            pauseUntil(reportNotBefore);
        const FolderWatch::News news = watch.takeNews();
        std::optional<FileListChanges> changes;
        if (!news.whole)
            changes = listChangesOf(watched, news.names);
        // The window hears of every change (a full folder may have room now), and of
        // the names only when they can be told one by one.
        const msg::FolderChange change {watched.c_str(), changes ? &*changes : nullptr};
        sendMessage(window, msg::FolderChanged {&change});
        reportNotBefore = Clock::now() + (storm ? kFolderStormInterval : kFolderReportInterval);
        if (!changes)
            readWhole = true;
    }
    // The window's last wish is still met; later ones it meets itself.
    if (!shared.m_bStopThreads && shared.m_listFiles.exchange(false))
        sendListing(window, shared.m_downloadFolder.get());
    sendMessage(window, msg::ThreadExited {THREAD_BIT_WATCHER});
    return 1;
}

} // namespace qvr
