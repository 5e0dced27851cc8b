// The roads of a download through the whole window: its workers, the store
// simulator and the disk (the queue decisions alone are the controller's tests).
#include "tests/support/controller_fixture.h"
#include "tests/support/disk_full.h"
#include "tests/support/stuck_network.h"
#include "tests/support/sync_log.h"
#include "tests/ui/window_fixture.h"

#include <QScopeGuard>

#include <sys/mount.h>

namespace qvr::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

struct TrackInfoAnswer {
    const char* name;
    int status;
    std::string body;
    std::optional<std::size_t> cutAfter {};
    const char* shown = "No Files in Queue";
};
const std::string kFarTrack = "<title>Far</title><url>http://127.0.0.1:1/t?x=1</url>";

class TrackInfoTest : public WindowTest, public ::testing::WithParamInterface<TrackInfoAnswer> {
protected:
    void askWith(const TrackInfoAnswer& answer)
    {
        m_store.setTrackInfoAnswer(answer.status, answer.body, answer.cutAfter);
        openWindow();
        m_window->AddRawEntry("track=1");
    }
};

// An error, tags past the first 9999 bytes, an address no request can be made with:
// the entry is consumed, and the user is told which request the store refused.
class AnAnswerWithoutAUsableTrack : public TrackInfoTest {};

TEST_P(AnAnswerWithoutAUsableTrack, RefusesTheRequestForGood)
{
    askWith(GetParam());
    ASSERT_TRUE(waitFor([&] { return m_window->rawEntries().isEmpty() && !m_prompts.asked.empty(); }));
    EXPECT_THAT(m_prompts.asked[0].text, HasSubstr("\ntrack=1"));
    EXPECT_TRUE(m_window->queue().isEmpty());
    EXPECT_EQ(status(), "No Files in Queue");
    EXPECT_EQ(requestsTo("/downloader/").size(), 1u) << "asked once";
    EXPECT_EQ(requestsTo("/downloader/").at(0).header("User-Agent"), "Track Info Session");
}

INSTANTIATE_TEST_SUITE_P(WindowTest, AnAnswerWithoutAUsableTrack, ::testing::Values(
    TrackInfoAnswer {.name = "NotFound", .status = 404, .body = "<title>T</title><url>http://x/y?z</url>"},
    TrackInfoAnswer {.name = "TagsPastTheFirst9999Bytes", .status = 200, .body = std::string(9999 - kFarTrack.size() + 1, ' ') + kFarTrack},
    TrackInfoAnswer {.name = "APortPastTheLast", .status = 200, .body = "<title>Port</title><url>http://127.0.0.1:99999/t?x=1</url>"}), kByName);

// An answer cut short, or a store too busy to answer: the entry waits for the next ask.
class AnAnswerCutShortOrBusy : public TrackInfoTest {};

TEST_P(AnAnswerCutShortOrBusy, KeepsTheRequestForTheNextAsk)
{
    askWith(GetParam());
    ASSERT_TRUE(waitFor([&] { return status() == GetParam().shown; }));
    EXPECT_EQ(m_window->rawEntries().getCount(), 1u);
    EXPECT_TRUE(m_prompts.asked.empty());
    m_store.setTrackInfoAnswer(200, kFarTrack);
    ASSERT_TRUE(waitFor([&] { return !m_window->queue().isEmpty(); }));
    EXPECT_THAT(linesOf(m_window->queue()), ElementsAre("Far"));
}

INSTANTIATE_TEST_SUITE_P(WindowTest, AnAnswerCutShortOrBusy, ::testing::Values(
    TrackInfoAnswer {.name = "Unavailable", .status = 503, .body = "", .shown = "Store Busy"},
    TrackInfoAnswer {.name = "CutAfterItsTags", .status = 200, .body = kFarTrack + std::string(100, ' '),
                     .cutAfter = kFarTrack.size() + 50, .shown = "Network Error"}), kByName);

TEST_F(WindowTest, AnAnswerWhoseTagsEndWithinTheFirst9999BytesQueuesItsTrack)
{
    m_store.setTrackInfoAnswer(200, std::string(9999 - kFarTrack.size(), ' ') + kFarTrack);
    openWindow();
    m_window->AddRawEntry("track=1");
    ASSERT_TRUE(waitFor([&] { return !m_window->queue().isEmpty(); }));
    EXPECT_THAT(linesOf(m_window->queue()), ElementsAre("Far"));
}

// The close button ends the window while a box is open and others wait: they go with it.
TEST_F(WindowTest, TheCloseButtonEndsTheWindowWhateverBoxesWait)
{
    m_store.setTrackInfoAnswer(404, "");
    openWindow();
    m_prompts.whileAsking = [&] {
        m_window->AddRawEntry("track=2");
        ASSERT_TRUE(waitFor([&] { return m_window->rawEntries().isEmpty(); }));
        QTest::mouseClick(m_window->control(IDC_CLOSE), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return m_window->isHidden(); }));
    };
    m_window->AddRawEntry("track=1");
    ASSERT_TRUE(waitFor([&] { return m_window->isHidden(); }));
    EXPECT_EQ(m_prompts.asked.size(), 1u);
}

// A 206 to a resume ends the part as the whole track, as one already whole (its entry
// outlived a crash); a 200 (the rest, or all) is the redirect and downloader tests'.
TEST_F(WindowTest, AResumeAnsweredAsPartialContentEndsAsTheWholeTrack)
{
    constexpr std::uint64_t kSize = 400000;
    queueOnDisk({{"w", "Whole", 20000}});
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().isEmpty(); }));
    closeWindow();
    // The whole track's entry back, as a crash right after its end leaves it, and a
    // track whose first attempt the network cuts short.
    queueOnDisk({{"r", "Resumed", kSize}, {"w", "Whole", 20000}});
    m_store.setResumeMode(sim::ResumeMode::PartialContent);
    m_store.setDropAfter(120000, 1);
    const std::size_t before = requestsTo("/tracks/").size();
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().isEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Resumed")), expectedContent("r", kSize));
    EXPECT_EQ(readFile(trackPath("Whole")), expectedContent("w", 20000));
    const auto files = requestsTo("/tracks/");
    ASSERT_EQ(files.size(), before + 3);
    EXPECT_FALSE(files[before].header("RANGE")) << "a new file asks from the start";
    EXPECT_EQ(files[before + 1].header("RANGE"), "120000-");
    EXPECT_EQ(files[before + 1].header("User-Agent"), "Download Session");
    EXPECT_THAT(files[before + 1].query, HasSubstr("&guid=0123456789ABCDEF0123456789ABCDEF"));
    EXPECT_EQ(files[before + 2].header("RANGE"), "20000-");
}

// A resumed track's percentage counts the part already on disk: half of it there and
// a quarter more received is 75 %, not a new start at 0 %.
TEST_F(WindowTest, AResumedTrackShowsThePercentageOfTheWholeTrackOnDisk)
{
    queueOnDisk({{"h", "Half", 400000}});
    ASSERT_NO_FATAL_FAILURE(openWithPartOnDisk("Half", 200000));
    closeWindow();
    m_store.releaseStalls();
    m_store.setStallAfter(100000, 1);
    openWindow();
    const auto percent = [&] { return m_window->controlAs<QLabel>(IDC_PERCENT_TEXT)->text().toStdString(); };
    ASSERT_TRUE(waitFor([&] { return std::atoi(percent().c_str()) >= 75; })) << percent();
    EXPECT_EQ(percent(), "75%");
}

// The store now serves a shorter cut of the track than the part on disk: the part
// goes, once, and the track is fetched anew, whole.
TEST_F(WindowTest, APartLongerThanTheTrackTheStoreNowServesIsFetchedAnew)
{
    queueOnDisk({{"s", "Shorter", 300000}});
    ASSERT_NO_FATAL_FAILURE(openWithPartOnDisk("Shorter", 200000));
    closeWindow();
    m_store.releaseStalls();
    addTrack("s", "Shorter", 100000);
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().isEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Shorter")), expectedContent("s", 100000));
}

TEST_F(WindowTest, ATrackDeletedWhileItIsWrittenIsFetchedAgain)
{
    queueOnDisk({{"d", "Deleted", 300000}});
    ASSERT_NO_FATAL_FAILURE(openWithPartOnDisk("Deleted", 100000));
    fs::remove(trackPath("Deleted"));
    m_store.releaseStalls();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().isEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Deleted")), expectedContent("d", 300000));
    EXPECT_EQ(requestsTo("/tracks/").size(), 2u);
}

struct RepeatedFault {
    const char* name;
    rlim_t roomOnDisk = 0;  // 0: what there is
    sim::ResumeMode resume = sim::ResumeMode::Honour;
    const char* shown;
    std::size_t partBefore = 0, partDuring = 0;  // on disk before the first attempt, and while the fault lasts
};
class RepeatedFaultTest : public WindowTest, public ::testing::WithParamInterface<RepeatedFault> {};

// The status says so, the track stays queued, and the disk holds a true beginning of
// it no longer than what came whole; once the fault is gone the track is finished.
TEST_P(RepeatedFaultTest, KeepsOnlyATrueBeginningOfTheTrack)
{
    const RepeatedFault& fault = GetParam();
    queueOnDisk({{"t", "Track", 30000}});
    if (fault.partBefore)
        m_store.setDropAfter(fault.partBefore, 1);  // an earlier attempt that the network cut short
    std::optional<DiskFull> full;
    if (fault.roomOnDisk) {
        ASSERT_TRUE(full.emplace(fault.roomOnDisk).active());
    }
    m_store.setResumeMode(fault.resume);
    openWindow();
    ASSERT_TRUE(waitFor([&] { return requestsTo("/tracks/t").size() >= 3 && status() == fault.shown; }));
    EXPECT_THAT(linesOf(m_window->queue()), ElementsAre("Track"));
    EXPECT_EQ(readFile(trackPath("Track")), expectedContent("t", 30000).substr(0, fault.partDuring));
    full.reset();
    m_store.setResumeMode(sim::ResumeMode::Honour);
    ASSERT_TRUE(waitFor([&] { return m_window->queue().isEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Track")), expectedContent("t", 30000));
}

// A resume answer that cannot be placed changes nothing.
INSTANTIATE_TEST_SUITE_P(WindowTest, RepeatedFaultTest, ::testing::Values(
    RepeatedFault {.name = "AFullDisk", .roomOnDisk = 10000, .shown = "Download Folder Full", .partDuring = 10000},
    RepeatedFault {.name = "AMisplacedResume", .resume = sim::ResumeMode::MisplacedRange, .shown = "Network Error",
                   .partBefore = 5000, .partDuring = 5000},
    RepeatedFault {.name = "AResumeWithoutItsRange", .resume = sim::ResumeMode::PartialWithoutRange,
                   .shown = "Network Error", .partBefore = 5000, .partDuring = 5000}), kByName);

TEST_F(WindowTest, NoCommandWaitsForAStoreThatNeverAnswers)
{
    // A stall limit far beyond the test's patience: only the interrupt ends the wait.
    m_store.setLatency(std::chrono::hours(1));
    m_adjustEnvironment = [](MainWindowEnvironment& environment) {
        environment.workers.http = curlHttpClientFactory({std::chrono::minutes(5), std::chrono::minutes(5)});
    };
    writeFile(m_config.strings.m_strDownloadQueuePath, "Silent|http://" + m_store.hostPort() + "/t?x=1\r\n");
    openWindow();
    ASSERT_TRUE(m_store.waitForRequests("/t", 1));
    m_window->onPause();
    ASSERT_TRUE(waitFor([&] { return status() == "Downloading Paused"; }));
    m_window->onResume();
    ASSERT_TRUE(m_store.waitForRequests("/t", 2));
    closeWindow();
}

TEST_F(WindowTest, AWorkerThatDoesNotEndIsLetGoWithTheRequestsKept)
{
    StuckNetwork network;
    m_adjustEnvironment = [&](MainWindowEnvironment& environment) {
        environment.workers.http = network.factory();
        environment.workerGrace = std::chrono::milliseconds(100);
    };
    openWindow();
    m_window->AddRawEntry("track=stuck");
    ASSERT_TRUE(network.waitUntilStuck());
    m_window->onClose();
    EXPECT_FALSE(m_window->endWindow());
    EXPECT_EQ(readFile(m_config.strings.m_strRawQueuePath), "track=stuck\r\n");
    // The window goes first; the worker, once free, must not touch it.
    m_window.reset();
    network.release();
    EXPECT_TRUE(network.waitUntilGone());
}

// ramfs reports no size at all: only a write that fails would say it is full.
TEST_F(WindowTest, AFolderOnAFileSystemThatReportsNoSizeTakesTracks)
{
    const std::string music = m_dir.file("music");
    if (::mount("none", music.c_str(), "ramfs", 0, nullptr) != 0)
        GTEST_SKIP() << "mounting ramfs takes root: " << std::strerror(errno);
    const auto unmount = qScopeGuard([&] { ::umount2(music.c_str(), MNT_DETACH); });
    addTrack("r", "Ramfs", 20000);
    openWindow();
    m_window->AddRawEntry("track=r");
    ASSERT_TRUE(waitFor([&] { return fs::exists(trackPath("Ramfs")) && m_window->queue().isEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Ramfs")), expectedContent("r", 20000));
}

// However big the download folder, the window shows at once; its list of tracks
// fills as soon as the folder is read.
TEST_F(WindowTest, TheDownloadedTracksAreListedAfterTheWindowShows)
{
    writeFile(trackPath("beta"), "");
    writeFile(trackPath("Alpha"), "");
    openWindow();
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_TRUE(shownFiles().empty());
    ASSERT_TRUE(waitFor([&] { return !shownFiles().empty(); }));
    EXPECT_THAT(shownFiles(), ElementsAre("Alpha.mp3", "beta.mp3"));
}

// On a file system that keeps a new name only once its folder is synced, a track
// that arrived must not vanish after its queue entry went.
TEST_F(WindowTest, ATracksFolderIsSyncedBeforeItsItemLeavesTheQueue)
{
    queueOnDisk({{"s", "Synced", 20000}});
    static_cast<void>(takeDiskEvents());  // those of earlier tests
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().isEmpty(); }));
    const auto events = takeDiskEvents();
    const auto last = [&](DiskEvent event) { return std::find(events.rbegin(), events.rend(), event) - events.rbegin(); };
    const DiskEvent folder {DiskEvent::Sync, m_config.strings.m_strDownloadFolder};
    EXPECT_GE(std::count(events.begin(), events.end(), folder), 2) << "once made, once whole";
    EXPECT_LT(last({DiskEvent::Rename, m_config.strings.m_strDownloadQueuePath}), last(folder));
    EXPECT_LT(last(folder), last({DiskEvent::Sync, trackPath("Synced")}));
}

TEST_F(WindowTest, TemporariesThatKilledSavesLeftAreRemovedAtTheStart)
{
    fs::create_directory(m_dir.file("inbox"));
    const std::string stale[] = {m_dir.file(".downloadqueue.txt.AbCdEf"), m_dir.file("inbox/.1-2.req.AbCdEf")};
    const std::string underway = m_dir.file(".rawqueue.txt.AbCdEf"), other = m_dir.file(".notes.txt.AbCdEf");
    for (const std::string& path : {stale[0], stale[1], underway, other})
        writeFile(path, "Old|http://store/old\r\n");
    for (const std::string& path : {stale[0], stale[1], other})
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
    openWindow();
    EXPECT_FALSE(fs::exists(stale[0]) || fs::exists(stale[1]));
    EXPECT_TRUE(fs::exists(underway)) << "a save may be under way";
    EXPECT_TRUE(fs::exists(other)) << "not a queue file's";
}

// A start that found the window busy, or came from another login session, left its request there.
TEST_F(WindowTest, ARequestLeftInTheInboxWhileTheWindowRunsIsDownloaded)
{
    addTrack("i", "Inboxed", 1000);
    openWindow();
    ASSERT_TRUE(RequestInbox(RequestInbox::folderBeside(m_config.strings.m_strRawQueuePath)).depositRequest("track=i"));
    EXPECT_TRUE(waitFor([&] { return fs::exists(trackPath("Inboxed")) && m_window->queue().isEmpty(); }));
}

// What the window does with answers a broken or hostile store gives: no request is
// lost, no queue is blocked for good, and nothing is written that the store did
// not promise.
class HostileStoreTest : public WindowTest {};

// Which addresses no request can be made with is the HTTP layer's test.
TEST_F(HostileStoreTest, AnAddressInTheQueueFileNoRequestCanBeMadeWithHoldsNoTrackUp)
{
    addTrack("g", "Good", 3000);
    writeFile(m_config.strings.m_strDownloadQueuePath, "Ftp|ftp://127.0.0.1/t?x=1\r\nSpace|http://127.0.0.1/a b?x=1\r\n"
                                                "Good|" + m_store.trackUrl("g") + "\r\n");
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().isEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Good")), expectedContent("g", 3000));
    EXPECT_FALSE(fs::exists(trackPath("Ftp")) || fs::exists(trackPath("Space")));
}

// Where the protocol's counters end, an answer is no track however it is framed.
struct OversizedBody { const char* name; sim::Framing framing; std::uintmax_t mostOnDisk; };
class OversizedBodyTest : public HostileStoreTest, public ::testing::WithParamInterface<OversizedBody> {};

TEST_P(OversizedBodyTest, ABodyPastTheLargestTrackThereCanBeIsNoTrack)
{
    m_adjustEnvironment = [](MainWindowEnvironment& environment) { environment.workers.largestTrack = 20000; };
    m_store.setFraming(GetParam().framing);
    queueOnDisk({{"b", "Big", 30000}});
    openWindow();
    ASSERT_TRUE(waitFor([&] { return requestsTo("/tracks/b").size() >= 2 && status() == "Network Error"; }));
    EXPECT_THAT(linesOf(m_window->queue()), ElementsAre("Big"));
    EXPECT_LE(fs::file_size(trackPath("Big")), GetParam().mostOnDisk);
}

INSTANTIATE_TEST_SUITE_P(HostileStoreTest, OversizedBodyTest, ::testing::Values(
    OversizedBody {.name = "OfAnnouncedLength", .framing = sim::Framing::Length, .mostOnDisk = 0},
    OversizedBody {.name = "OfNoLength", .framing = sim::Framing::NoLength, .mostOnDisk = 20000}), kByName);

// A content network's address is followed, with the resume header on every hop.
TEST_F(HostileStoreTest, ATrackIsFollowedThroughFiveRedirectsWithItsResumeHeader)
{
    m_store.setTrackRedirects(5, "http");
    m_store.setDropAfter(5000, 1);  // the first attempt cut short, so that the next resumes
    queueOnDisk({{"five", "Five", 20000}});
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().isEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Five")), expectedContent("five", 20000));
    const auto resumed = requestsTo("/tracks/five");
    ASSERT_EQ(resumed.size(), 12u);
    for (std::size_t hop = 6; hop < 12; ++hop)
        EXPECT_EQ(resumed[hop].header("RANGE"), "5000-") << hop;
}

struct Redirect { const char* name; int hops; const char* scheme; };
class RedirectTest : public HostileStoreTest, public ::testing::WithParamInterface<Redirect> {};

TEST_P(RedirectTest, ARedirectPastTheFifthOrOffHttpIsNoTrack)
{
    m_store.setTrackRedirects(GetParam().hops, GetParam().scheme);
    queueOnDisk({{"r", "Redirected", 20000}});
    openWindow();
    const auto attempts = std::size_t(2 * GetParam().hops);
    ASSERT_TRUE(waitFor([&] { return requestsTo("/tracks/r").size() >= attempts && status() == "Network Error"; }));
    EXPECT_THAT(linesOf(m_window->queue()), ElementsAre("Redirected"));
    EXPECT_EQ(fs::file_size(trackPath("Redirected")), 0u);
}

INSTANTIATE_TEST_SUITE_P(HostileStoreTest, RedirectTest, ::testing::Values(
    Redirect {.name = "TheSixth", .hops = 6, .scheme = "http"}, Redirect {.name = "ToFtp", .hops = 1, .scheme = "ftp"}), kByName);

TEST_F(HostileStoreTest, ABodyLongerThanItsLengthIsWrittenOnlyAsFarAsItsLengthSaid)
{
    queueOnDisk({{"l", "Long", 20000}});
    m_store.setFraming(sim::Framing::ChunkedUnderstated, 5000);
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().isEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Long")), expectedContent("l", 15000));
}

} // namespace
} // namespace qvr::test
