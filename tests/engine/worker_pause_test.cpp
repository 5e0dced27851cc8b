// How long the resolver and the downloader wait before they ask a failing store
// again, and what wakes them: each worker run on the test's thread against the store
// simulator, handed its job by the window's queue decisions (its reports go nowhere,
// so it takes the same job again), until the user's acts during its pauses are done.
#include "platform/http.h"
#include "tools/store-sim/store_sim.h"

#include "tests/support/controller_fixture.h"
#include "tests/support/disk_full.h"

#include <sys/statvfs.h>

#include <future>
#include <latch>

namespace qvr::test {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

const CurlGlobal kCurlGlobal;  // as in main()

// The real transport, asking each resume from `by` bytes before the part on disk.
struct EarlierRanges final : HttpClient {
    EarlierRanges(std::unique_ptr<HttpClient> client, std::uint64_t bytes) : real(std::move(client)), by(bytes) {}
    std::unique_ptr<HttpResponse> get(const std::string& url, const std::vector<std::string>& headers) override
    {
        std::vector<std::string> sent = headers;
        for (std::string& header : sent)
            if (header.starts_with("RANGE: "))
                header = "RANGE: " + std::to_string(std::stoull(header.substr(7)) - by) + "-";
        return real->get(url, sent);
    }
    void setInterrupt(std::function<bool()> interrupted) override { real->setInterrupt(std::move(interrupted)); }
    std::unique_ptr<HttpClient> real;
    std::uint64_t by;
};

class WorkerPauseTest : public ::testing::Test, public MessageSink {
protected:
    // The window's start, with a request waiting from last time.
    WorkerPauseTest()
    {
        queues.rawQueue = {"track=a"};
        controller.LoadRawQueue();
        controller.StartNextResolve();
    }
    std::intptr_t SendMessage(unsigned message, std::uintptr_t, std::intptr_t) override
    {
        sent.push_back(message);
        shared.m_bStopThreads = shared.m_bStopThreads || (message == WM_DOWNLOAD_FINISHED && --reportsLeft == 0);
        return 0;
    }
    void postMessage(unsigned message, std::uintptr_t, std::intptr_t lParam) override
    {
        if (message == WM_DOWNLOAD_PROGRESS)
            progress.push_back(lParam);
    }

    sim::StoreSimulator store;
    TempDir dir;
    const Configuration configuration = [this] {
        store.addTrack({.id = "a", .title = "A", .size = 1000});
        EXPECT_TRUE(store.start());
        Configuration start;
        start.storeHost = store.hostPort();
        start.strings.m_strDownloadQueuePath = dir.file("queue.txt");
        start.strings.m_strDownloadFolder = dir.path();
        return start;
    }();
    std::vector<milliseconds> pauses;
    std::vector<std::function<void()>> acts;  // the user's, one during each pause
    std::vector<bool> woken;                  // whether each act ended its pause
    bool full = false;              // the folder at its reserve
    bool oneByteAboveReserve = false;  // the folder with one byte free beyond its reserve
    std::vector<unsigned> sent;          // the messages the worker waited for
    std::vector<std::intptr_t> progress;  // the figures posted
    int reportsLeft = 0;                 // the downloader ends after this many reports; 0: never
    // Resumes are asked from this many bytes before the part on disk, as by a store
    // that answers with more than was asked for.
    std::uint64_t askedEarlierBy = 0;
    WorkerShared shared {configuration, {.gateFolder = dir.path(),
                                         .http = [this](const std::string& agent) -> std::unique_ptr<HttpClient> {
                                             return std::make_unique<EarlierRanges>(makeCurlHttpClient(agent), askedEarlierBy);
                                         },
                                         .diskReserve = [this](std::uint64_t total) -> std::uint64_t {
                                             struct statvfs now {};
                                             if (oneByteAboveReserve && ::statvfs(dir.path().c_str(), &now) == 0)
                                                 return std::uint64_t(now.f_bavail) * now.f_frsize - 1;
                                             return full ? total : 0;
                                         },
                                         .waitOut = [this](milliseconds pause, const std::function<bool()>& wake) {
                                             pauses.push_back(pause);
                                             if (woken.size() < acts.size())
                                                 acts[woken.size()]();
                                             woken.push_back(wake());
                                             shared.m_bStopThreads = woken.size() >= acts.size();
                                         }}};
    RecordingView view;
    RecordingGates gates;
    MemoryStore queues;
    QueueController controller {view, gates, shared, queues, [](const std::string&) { return SettingResult::ok(); }};
};

TEST_F(WorkerPauseTest, TheResolversPauseGrowsToThirtySecondsAtMostWhileTheStoreIsDown)
{
    acts.resize(9, [] {});
    store.goDown();
    TrackResolver(*this, shared);
    EXPECT_EQ(*std::ranges::max_element(pauses), 30s);
}

TEST_F(WorkerPauseTest, ResumeAsksTheStoreAgainAtOnceThoughNoTrackIsQueuedYet)
{
    store.goDown();
    acts = {[this] {
        ASSERT_TRUE(store.comeUp());
        controller.resumeDownloads();
    }};
    TrackResolver(*this, shared);
    EXPECT_THAT(woken, ::testing::ElementsAre(true));
}

TEST_F(WorkerPauseTest, ResumeOrANewRequestWakesTheDownloaderAtOnce)
{
    store.setTrackFileStatus(503);
    controller.onEntryResolved({ResolveReport::Outcome::Consumed, QueueItem("A", store.trackUrl("a"))});
    acts = {[this] { controller.resumeDownloads(); }, [this] { EXPECT_TRUE(controller.AddRawEntry("track=b")); }};
    TrackDownloader(*this, shared);
    EXPECT_THAT(woken, ::testing::ElementsAre(true, true));
}

// A download never waits for the window to show how far it is, and its last figure
// is the whole track's 100 %.
TEST_F(WorkerPauseTest, TheProgressIsPostedUpToOneHundredPercent)
{
    store.addTrack({.id = "b", .title = "B", .size = 100000});
    controller.onEntryResolved({ResolveReport::Outcome::Consumed, QueueItem("B", store.trackUrl("b"))});
    reportsLeft = 1;
    TrackDownloader(*this, shared);
    EXPECT_THAT(sent, ::testing::Not(::testing::Contains(WM_DOWNLOAD_PROGRESS)));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
}

// A full folder rarely has room a second later: the track waits 30 s and more, and
// the part it has stays, though the store answers with the whole track each time.
TEST_F(WorkerPauseTest, AFolderAtItsReserveWaitsThirtySecondsOrMoreWithItsPartKept)
{
    store.addTrack({.id = "b", .title = "B", .size = 100000});
    store.setDropAfter(50000, 1);
    store.setResumeMode(sim::ResumeMode::Ignore);
    controller.onEntryResolved({ResolveReport::Outcome::Consumed, QueueItem("B", store.trackUrl("b"))});
    std::uintmax_t part = 0;
    acts = {[&] {
                part = std::filesystem::file_size(dir.file("B.mp3"));
                full = true;
            },
            [] {}, [] {}};
    TrackDownloader(*this, shared);
    ASSERT_EQ(pauses.size(), 3u);
    EXPECT_GE(pauses[1], 30s);
    EXPECT_GT(pauses[2], pauses[1]);
    EXPECT_GT(part, 0u);
    EXPECT_EQ(std::filesystem::file_size(dir.file("B.mp3")), part);
}

// The reserve is kept whole: no write of a track may take from it, however little it
// would take.
TEST_F(WorkerPauseTest, AFolderOneByteAboveItsReserveTakesNothingOfATrack)
{
    store.addTrack({.id = "b", .title = "B", .size = 100000});
    controller.onEntryResolved({ResolveReport::Outcome::Consumed, QueueItem("B", store.trackUrl("b"))});
    oneByteAboveReserve = true;
    acts = {[] {}};
    reportsLeft = 1;  // or a track downloaded whole
    TrackDownloader(*this, shared);
    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_GE(pauses[0], 30s) << "the pause of a full folder";
    const std::string track = dir.file("B.mp3");
    EXPECT_TRUE(!std::filesystem::exists(track) || std::filesystem::file_size(track) == 0) << "nothing of it on disk";
}

// A write the disk took only in part (here: room for one byte more) leaves nothing of
// itself: the next attempt goes on from the last write that succeeded.
TEST_F(WorkerPauseTest, AWriteThatFailedLeavesNothingOfItselfOnDisk)
{
    store.addTrack({.id = "b", .title = "B", .size = 100000});
    store.setDropAfter(50000, 1);
    controller.onEntryResolved({ResolveReport::Outcome::Consumed, QueueItem("B", store.trackUrl("b"))});
    std::uintmax_t part = 0;
    std::optional<DiskFull> oneByteLeft;
    acts = {[&] {
                part = std::filesystem::file_size(dir.file("B.mp3"));
                ASSERT_TRUE(oneByteLeft.emplace(part + 1).active());
            },
            [&] {
                oneByteLeft.reset();
                EXPECT_EQ(std::filesystem::file_size(dir.file("B.mp3")), part);
            }};
    TrackDownloader(*this, shared);
    EXPECT_EQ(woken.size(), 2u);
}

// A resume answered from before the part on disk cannot be appended where the part
// ends: what is on disk stays a true beginning of the track.
TEST_F(WorkerPauseTest, APartialAnswerFromBeforeThePartOnDiskIsNotAppendedToIt)
{
    const sim::Track track {.id = "b", .title = "B", .size = 100000, .pattern = 5};
    store.addTrack(track);
    store.setDropAfter(50000, 1);
    store.setResumeMode(sim::ResumeMode::PartialContent);
    askedEarlierBy = 300;
    controller.onEntryResolved({ResolveReport::Outcome::Consumed, QueueItem("B", store.trackUrl("b"))});
    acts.resize(3, [] {});
    reportsLeft = 2;  // the attempt that broke off, and the resume
    TrackDownloader(*this, shared);
    const std::string onDisk = readFile(dir.file("B.mp3"));
    EXPECT_TRUE(onDisk == sim::trackContent(track).substr(0, onDisk.size())) << onDisk.size() << " bytes";
}

// A worker asleep in its pause after a failure hears a new request at once, not when
// the pause (here an hour) is over.
TEST_F(WorkerPauseTest, ANewRequestWakesAWorkerAsleepInItsPause)
{
    std::latch asleep(1);
    bool first = true;
    auto slept = std::async(std::launch::async, [&] {
        shared.m_wake.waitFor(std::chrono::hours(1), [&] {
            // Asked first with the lock held, so nobody can notify before it waits.
            if (std::exchange(first, false)) {
                asleep.count_down();
                return false;
            }
            return shared.m_retryDownloadNow || shared.m_bStopThreads;
        });
    });
    asleep.wait();
    EXPECT_TRUE(controller.AddRawEntry("track=b"));
    EXPECT_TRUE(slept.wait_for(60s) == std::future_status::ready) << "still asleep a minute later";
    shared.m_bStopThreads = true;
    shared.m_wake.notify();
}

// A track sent whole again keeps only what came this time, though it broke off short
// of the part on disk: the store's track may have changed since the part came.
TEST_F(WorkerPauseTest, AWholeAnswerThatBreaksOffShortOfThePartLeavesOnlyWhatItBrought)
{
    store.addTrack({.id = "b", .title = "B", .size = 100000, .pattern = 5});
    store.setDropAfter(50000, 1);
    controller.onEntryResolved({ResolveReport::Outcome::Consumed, QueueItem("B", store.trackUrl("b"))});
    const sim::Track changed {.id = "b", .title = "B", .size = 100000, .pattern = 6};
    acts = {[&] {
                store.addTrack(changed);
                store.setResumeMode(sim::ResumeMode::Ignore);
                store.setDropAfter(30000, 1);
            },
            [] {}};
    TrackDownloader(*this, shared);
    const std::string onDisk = readFile(dir.file("B.mp3"));
    EXPECT_EQ(onDisk.size(), 30000u);
    EXPECT_TRUE(onDisk == sim::trackContent(changed).substr(0, onDisk.size())) << "a true beginning of the track";
}

// What a download leaves free: the smaller of 64 MiB and 1 % of the file system.
TEST(DiskReserve, IsTheSmallerOf64MiBOrOnePercentOfTheFileSystem)
{
    constexpr std::uint64_t kMiB = 1 << 20;
    EXPECT_EQ(WorkerSettings::defaultDiskReserve(1024 * 1024 * kMiB), 64 * kMiB) << "of a terabyte";
    EXPECT_EQ(WorkerSettings::defaultDiskReserve(1000 * kMiB), 10 * kMiB) << "of a gigabyte";
}

// A Retry-After, and the wait it asks for by the header's rule.
struct StoreAsks {
    const char* name;
    int status = 503;
    const char* retryAfter;
    std::optional<std::chrono::seconds> asks {};
};

class RetryAfterTest : public WorkerPauseTest, public ::testing::WithParamInterface<StoreAsks> {};

// The longer of the ask, up to five minutes, and the first pause: 1 s, drawn up to a
// quarter longer.
void expectTheLongerOfTheAskAndThePause(milliseconds pause, const StoreAsks& row)
{
    const milliseconds ask = std::min(row.asks.value_or(0s), std::chrono::seconds(5min));
    EXPECT_GE(pause, std::max(ask, milliseconds(1s)));
    EXPECT_LE(pause, std::max(ask, 1250ms));
}

TEST_P(RetryAfterTest, TrackInfo)
{
    store.setRetryAfter(GetParam().retryAfter);
    store.setTrackInfoAnswer(GetParam().status, "");
    TrackResolver(*this, shared);
    expectTheLongerOfTheAskAndThePause(pauses.at(0), GetParam());
}

TEST_P(RetryAfterTest, Track)
{
    store.setRetryAfter(GetParam().retryAfter);
    store.setTrackFileStatus(GetParam().status);
    controller.onEntryResolved({ResolveReport::Outcome::Consumed, QueueItem("A", store.trackUrl("a"))});
    TrackDownloader(*this, shared);
    expectTheLongerOfTheAskAndThePause(pauses.at(0), GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Asks, RetryAfterTest,
    ::testing::Values(StoreAsks {.name = "Seconds", .retryAfter = "120", .asks = 120s},
                      StoreAsks {.name = "TooManyRequests", .status = 429, .retryAfter = "120", .asks = 120s},
                      StoreAsks {.name = "Absurd", .retryAfter = "99999999999999999999999", .asks = std::chrono::seconds::max()},
                      StoreAsks {.name = "Negative", .retryAfter = "-120"},
                      StoreAsks {.name = "Garbage", .retryAfter = "soon"}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace qvr::test
