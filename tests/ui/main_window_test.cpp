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

// An answer without a usable track (an error, tags past the first 9999 bytes, an
// address no request can be made with) consumes its entry, and the user is told which
// request the store refused; one cut short, or a store too busy to answer, keeps it.
TEST_F(WindowTest, ATrackInfoAnswerConsumesItsEntryOnlyWhenWholeAndQueuesOnlyAUsableTrack)
{
    addTrack("c", "Cut", 1000);
    m_store.setStallAfter(0);
    openWindow();
    const std::string far = "<title>Far</title><url>http://127.0.0.1:1/t?x=1</url>";
    const std::string cut = "<title>Cut</title><url>" + m_store.trackUrl("c") + "</url>" + std::string(100, ' ');
    enum Fate { Refused, Kept, Queued };
    // The answer's status, body and cut; what becomes of the entry; the queue then
    // and (where it tells) the status.
    const std::tuple<int, std::string, std::optional<std::size_t>, Fate, std::vector<std::string>, const char*>
        cases[] = {
            {404, "<title>T</title><url>http://x/y?z</url>", {}, Refused, {}, "No Files in Queue"},
            {200, std::string(9999 - far.size() + 1, ' ') + far, {}, Refused, {}, "No Files in Queue"},
            {200, "<title>Port</title><url>http://127.0.0.1:99999/t?x=1</url>", {}, Refused, {}, "No Files in Queue"},
            {503, "", {}, Kept, {}, "Store Busy"},
            {200, cut, cut.size() - 50, Kept, {}, "Network Error"},  // the tags came, but not the whole answer
            {429, "", {}, Kept, {}, "Store Busy"},                  // too many requests: asked again later
            {200, cut, {}, Queued, {"Cut"}, nullptr},                // asked again
            {200, std::string(9999 - far.size(), ' ') + far, {}, Queued, {"Cut", "Far"}, nullptr},
        };
    bool retry = false;
    std::string request;
    for (const auto& [code, answer, cutAfter, fate, queued, shown] : cases) {
        SCOPED_TRACE(std::to_string(code) + " " + answer.substr(std::min(answer.size(), answer.find_first_not_of(' ')), 20));
        m_store.setTrackInfoAnswer(code, answer, cutAfter);
        const std::size_t asked = requestsTo("/downloader/").size();
        const std::size_t boxes = m_prompts.asked.size();
        if (!retry) {
            request = "track=" + std::to_string(asked);
            m_window->AddRawEntry(request);
        }
        ASSERT_TRUE(waitFor([&] {
            return (fate == Kept || m_window->rawEntries().IsEmpty()) && (!shown || status() == shown)
                && (fate != Refused || m_prompts.asked.size() > boxes);
        })) << status();
        EXPECT_EQ(m_window->rawEntries().GetCount(), fate == Kept ? 1u : 0u);
        EXPECT_EQ(linesOf(m_window->queue()), queued);
        if (fate == Refused) {
            EXPECT_THAT(m_prompts.asked.back().text, HasSubstr("\n" + request));
        }
        EXPECT_TRUE(fate == Kept || retry || requestsTo("/downloader/").size() == asked + 1) << "asked once";
        EXPECT_EQ(requestsTo("/downloader/").back().header("User-Agent"), "Track Info Session");
        retry = fate == Kept;
    }
}

// The close button ends the window while a box is open and others wait: they go with it.
TEST_F(WindowTest, TheCloseButtonEndsTheWindowWhateverBoxesWait)
{
    m_store.setTrackInfoAnswer(404, "");
    openWindow();
    m_prompts.whileAsking = [&] {
        m_window->AddRawEntry("track=2");
        ASSERT_TRUE(waitFor([&] { return m_window->rawEntries().IsEmpty(); }));
        QTest::mouseClick(m_window->control(IDC_CLOSE), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return m_window->isHidden(); }));
    };
    m_window->AddRawEntry("track=1");
    ASSERT_TRUE(waitFor([&] { return m_window->isHidden(); }));
    EXPECT_EQ(m_prompts.asked.size(), 1u);
}

// Whatever the store does with a resume header, a partial file ends as the whole
// track, and one already whole (its queue entry outlived a crash) is finished as it is.
class ResumeTest : public WindowTest, public ::testing::WithParamInterface<sim::ResumeMode> {};

TEST_P(ResumeTest, APartialFileEndsAsTheWholeTrackAndAWholeOneIsNotFetchedAgain)
{
    constexpr std::uint64_t kSize = 400000;
    queueOnDisk({{"w", "Whole", 20000}});
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    closeWindow();
    // The whole track's entry back, as a crash right after its end leaves it, and a
    // track whose first attempt the network cuts short.
    queueOnDisk({{"r", "Resumed", kSize}, {"w", "Whole", 20000}});
    m_store.setResumeMode(GetParam());
    m_store.setDropAfter(120000, 1);
    const std::size_t before = requestsTo("/tracks/").size();
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
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

INSTANTIATE_TEST_SUITE_P(ServerBehaviours, ResumeTest,
                         ::testing::Values(sim::ResumeMode::Honour, sim::ResumeMode::Ignore,
                                           sim::ResumeMode::PartialContent));

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
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Shorter")), expectedContent("s", 100000));
}

TEST_F(WindowTest, ATrackDeletedWhileItIsWrittenIsFetchedAgain)
{
    queueOnDisk({{"d", "Deleted", 300000}});
    ASSERT_NO_FATAL_FAILURE(openWithPartOnDisk("Deleted", 100000));
    fs::remove(trackPath("Deleted"));
    m_store.releaseStalls();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Deleted")), expectedContent("d", 300000));
    EXPECT_EQ(requestsTo("/tracks/").size(), 2u);
}

// Attempts that fail the same way each time: the status says so, the track stays
// queued, and the disk holds a true beginning of it no longer than what came whole;
// once the fault is gone the track is finished from there.
TEST_F(WindowTest, ARepeatedFailureIsVisibleKeepsTheTrackAndWhatCameWhole)
{
    std::optional<DiskFull> full;
    // Track id, fault, what the window says, bytes on disk before, and bytes on disk after.
    const std::tuple<std::string, std::function<void()>, const char*, std::size_t, std::size_t> cases[] = {
        {"full", [&] { EXPECT_TRUE(full.emplace(10000).active()); }, "Download Folder Full", 0, 10000},
        // A resume answer that cannot be placed changes nothing.
        {"misplaced", [&] { m_store.setResumeMode(sim::ResumeMode::MisplacedRange); }, "Network Error", 5000, 5000},
        {"unplaced", [&] { m_store.setResumeMode(sim::ResumeMode::PartialWithoutRange); }, "Network Error", 5000, 5000},
    };
    for (const auto& [id, fault, shown, part, after] : cases) {
        SCOPED_TRACE(id);
        const std::string title = "Track " + id;
        queueOnDisk({{id, title, 30000}});
        // An earlier attempt that the network cut short left the part.
        if (part)
            m_store.setDropAfter(part, 1);
        fault();
        openWindow();
        ASSERT_TRUE(waitFor([&] { return requestsTo("/tracks/" + id).size() >= 3 && status() == shown; }));
        EXPECT_THAT(linesOf(m_window->queue()), ElementsAre(title));
        const std::string onDisk = readFile(trackPath(title));
        EXPECT_TRUE(onDisk.size() == after && expectedContent(id, 30000).starts_with(onDisk)) << onDisk.size();
        full.reset();
        m_store.setResumeMode(sim::ResumeMode::Honour);
        ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
        EXPECT_EQ(readFile(trackPath(title)), expectedContent(id, 30000));
        closeWindow();
    }
}

TEST_F(WindowTest, PauseAndCloseDoNotWaitForAStoreThatNeverAnswers)
{
    // A stall limit far beyond the test's patience: only the interrupt ends the wait.
    m_store.setLatency(std::chrono::hours(1));
    m_adjustEnvironment = [](MainWindowEnvironment& environment) {
        environment.workers.http = curlHttpClientFactory({std::chrono::minutes(5), std::chrono::minutes(5)});
    };
    writeFile(m_config.strings.m_strDownloadQueuePath, "Silent|http://" + m_store.hostPort() + "/t?x=1\r\n");
    openWindow();
    ASSERT_TRUE(m_store.waitForRequests("/t", 1));
    m_window->OnPause();
    ASSERT_TRUE(waitFor([&] { return status() == "Downloading Paused"; }));
    m_window->OnResume();
    ASSERT_TRUE(m_store.waitForRequests("/t", 2));
    closeWindow();
}

TEST_F(WindowTest, AWorkerThatDoesNotEndIsReportedAndLetGoWithTheRequestsKept)
{
    StuckNetwork network;
    m_adjustEnvironment = [&](MainWindowEnvironment& environment) {
        environment.workers.http = network.factory();
        environment.workerGrace = std::chrono::milliseconds(100);
    };
    openWindow();
    m_window->AddRawEntry("track=stuck");
    ASSERT_TRUE(network.waitUntilStuck());
    m_window->OnClose();
    EXPECT_FALSE(m_window->EndWindow());
    EXPECT_EQ(readFile(m_config.strings.m_strRawQueuePath), "track=stuck\r\n");
    // The window goes first; the worker, once free, must not touch it.
    m_window.reset();
    network.release();
    EXPECT_TRUE(network.waitUntilGone());
}

TEST_F(WindowTest, ATitleThatIsAPathArrivesInsideTheFolderUnderAName)
{
    addTrack("p", "../escape", 1000);
    addTrack("q", "AC/DC", 1000);
    openWindow();
    m_window->AddRawEntry("track=p");
    m_window->AddRawEntry("track=q");
    // The second file, and no queue: both arrived, one after the other.
    ASSERT_TRUE(waitFor([&] { return fs::exists(trackPath("AC_DC")) && m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("_escape")), expectedContent("p", 1000));
    EXPECT_EQ(readFile(trackPath("AC_DC")), expectedContent("q", 1000));
    EXPECT_FALSE(fs::exists(m_dir.file("escape.mp3")));
    EXPECT_TRUE(m_prompts.asked.empty());
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
    ASSERT_TRUE(waitFor([&] { return fs::exists(trackPath("Ramfs")) && m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Ramfs")), expectedContent("r", 20000));
}

// A server that takes the track's connection and never answers, while the store
// answers: the track waits out a pause of its own, and the one behind it arrives.
TEST_F(WindowTest, ATrackThatGetsNoAnswerWhileTheStoreAnswersDoesNotHoldTheTrackBehindIt)
{
    const LoopbackListener silent = listenOnLoopback();
    addTrack("plain1", "Plain", 20000);
    writeFile(m_config.strings.m_strDownloadQueuePath, "Silent|http://127.0.0.1:" + std::to_string(silent.port)
                                                           + "/tracks/s.mp3?dl=s\r\nPlain|" + m_store.trackUrl("plain1") + "\r\n");
    m_adjustEnvironment = [](MainWindowEnvironment& environment) {
        environment.workers.http = curlHttpClientFactory({.connect = std::chrono::seconds(5), .stall = std::chrono::milliseconds(300)});
    };
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().GetCount() == 1 && fs::exists(trackPath("Plain")); }));
    EXPECT_EQ(m_window->queue().GetHead()->title, "Silent");
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

// The queue folder fills while a request is resolved: the request stays on disk until
// the download queue that holds its track can be saved.
TEST_F(WindowTest, AFullQueueFolderKeepsTheRequestUntilItsTrackIsSaved)
{
    addTrack("f", "Full", 20000);
    writeFile(m_config.strings.m_strRawQueuePath, "track=f\r\n");
    std::optional<DiskFull> full(std::in_place, 10);  // the request's line fits, a track's does not
    ASSERT_TRUE(full->active());
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().GetCount() == 1; }));
    ASSERT_EQ(readFile(m_config.strings.m_strRawQueuePath), "track=f\r\n");
    ASSERT_TRUE(waitFor([&] { return !m_prompts.asked.empty(); }));
    EXPECT_THAT(m_prompts.asked[0].text, HasSubstr(m_dir.path()));
    closeWindow();
    EXPECT_EQ(readFile(m_config.strings.m_strRawQueuePath), "track=f\r\n");
    full.reset();
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty() && m_window->rawEntries().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Full")), expectedContent("f", 20000));
}

TEST_F(WindowTest, AMissingDownloadFolderKeepsTheQueueUntilTheFolderIsBack)
{
    queueOnDisk({{"u", "Unplugged", 20000}});
    fs::remove(m_config.strings.m_strDownloadFolder);
    openWindow();
    ASSERT_TRUE(waitFor([&] { return !m_prompts.asked.empty(); }));
    ASSERT_THAT(linesOf(m_window->queue()), ElementsAre("Unplugged"));
    EXPECT_THAT(m_prompts.asked[0].text, HasSubstr(m_config.strings.m_strDownloadFolder + "\n"));
    ASSERT_TRUE(waitFor([&] { return status() == "Folder Unavailable"; }));
    fs::create_directory(m_config.strings.m_strDownloadFolder);
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Unplugged")), expectedContent("u", 20000));
    EXPECT_EQ(m_prompts.asked.size(), 1u) << "told once";
}

// What the rest of the system needs stays free: a track stops short of the reserve,
// stays queued, and goes on once there is room.
TEST_F(WindowTest, ADownloadNeverFillsTheDiskAndGoesOnOnceThereIsRoom)
{
    std::atomic<bool> full {true};
    m_adjustEnvironment = [&](MainWindowEnvironment& environment) {
        environment.workers.diskReserve = [&](std::uint64_t total) { return full ? total : 0; };
    };
    queueOnDisk({{"r", "Roomy", 20000}});
    openWindow();
    ASSERT_TRUE(waitFor([&] { return status() == "Download Folder Full" && !m_prompts.asked.empty(); }));
    EXPECT_THAT(m_prompts.asked[0].text, HasSubstr(m_config.strings.m_strDownloadFolder + "\n"));
    EXPECT_THAT(linesOf(m_window->queue()), ElementsAre("Roomy"));
    EXPECT_EQ(fs::file_size(trackPath("Roomy")), 0u);
    full = false;
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Roomy")), expectedContent("r", 20000));
}

// On a file system that keeps a new name only once its folder is synced, a track
// that arrived must not vanish after its queue entry went.
TEST_F(WindowTest, TheFolderIsSyncedWhenATrackFileIsMadeAndBeforeItsItemLeavesTheQueue)
{
    queueOnDisk({{"s", "Synced", 20000}});
    static_cast<void>(takeDiskEvents());  // those of earlier tests
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
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
TEST_F(WindowTest, ARequestLeftInTheInboxWhileTheWindowRunsIsTakenAndDownloaded)
{
    addTrack("i", "Inboxed", 1000);
    openWindow();
    ASSERT_TRUE(RequestInbox(RequestInbox::folderBeside(m_config.strings.m_strRawQueuePath)).depositRequest("track=i"));
    EXPECT_TRUE(waitFor([&] { return fs::exists(trackPath("Inboxed")) && m_window->queue().IsEmpty(); }));
}

// What the window does with answers a broken or hostile store gives: no request is
// lost, no queue is blocked for good, and nothing is written that the store did
// not promise.
class HostileStoreTest : public WindowTest {};

// Which addresses no request can be made with is the HTTP layer's test.
TEST_F(HostileStoreTest, AnAddressInTheQueueFileNoRequestCanBeMadeWithIsDroppedWithoutBlockingTheRest)
{
    addTrack("g", "Good", 3000);
    writeFile(m_config.strings.m_strDownloadQueuePath, "Ftp|ftp://127.0.0.1/t?x=1\r\nSpace|http://127.0.0.1/a b?x=1\r\n"
                                                "Good|" + m_store.trackUrl("g") + "\r\n");
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Good")), expectedContent("g", 3000));
    EXPECT_FALSE(requestsTo("/tracks/g").at(0).header("RANGE")) << "a new file is asked for whole";
    EXPECT_FALSE(fs::exists(trackPath("Ftp")));
    EXPECT_FALSE(fs::exists(trackPath("Space")));
}

// Where the protocol's counters end, an answer is no track however it is framed.
TEST_F(HostileStoreTest, ABodyPastTheLargestTrackThereCanBeIsNoTrack)
{
    m_adjustEnvironment = [](MainWindowEnvironment& environment) { environment.workers.largestTrack = 20000; };
    for (const sim::Framing framing : {sim::Framing::Length, sim::Framing::NoLength}) {
        SCOPED_TRACE(static_cast<int>(framing));
        m_store.setFraming(framing);
        queueOnDisk({{"b", "Big", 30000}});
        openWindow();
        ASSERT_TRUE(waitFor([&] { return requestsTo("/tracks/b").size() >= 2 && status() == "Network Error"; }));
        EXPECT_THAT(linesOf(m_window->queue()), ElementsAre("Big"));
        EXPECT_LE(fs::file_size(trackPath("Big")), framing == sim::Framing::Length ? 0u : 20000u);
        closeWindow();
    }
}

// A content network's address is followed, with the resume header on every hop.
TEST_F(HostileStoreTest, ATrackIsFollowedThroughFiveRedirectsAtMostAndOverHttpOnly)
{
    const std::tuple<std::string, int, const char*> cases[] = {{"five", 5, "http"}, {"six", 6, "http"}, {"ftp", 1, "ftp"}};
    for (const auto& [id, hops, scheme] : cases) {
        SCOPED_TRACE(id);
        m_store.setTrackRedirects(hops, scheme);
        m_store.setDropAfter(5000, 1);  // the first attempt cut short, so that the next resumes
        queueOnDisk({{id, id, 20000}});
        openWindow();
        if (id == "five") {
            ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
            EXPECT_EQ(readFile(trackPath(id)), expectedContent(id, 20000));
            const auto resumed = requestsTo("/tracks/" + id);
            ASSERT_EQ(resumed.size(), 12u);
            for (std::size_t hop = 6; hop < 12; ++hop)
                EXPECT_EQ(resumed[hop].header("RANGE"), "5000-") << hop;
        } else {
            ASSERT_TRUE(waitFor([&] { return requestsTo("/tracks/" + id).size() >= 2 * std::size_t(hops) && status() == "Network Error"; }));
            EXPECT_THAT(linesOf(m_window->queue()), ElementsAre(id));
            EXPECT_EQ(fs::file_size(trackPath(id)), 0u);
        }
        closeWindow();
    }
}

TEST_F(HostileStoreTest, ABodyLongerThanItsLengthIsWrittenOnlyAsFarAsItsLengthSaid)
{
    queueOnDisk({{"l", "Long", 20000}});
    m_store.setFraming(sim::Framing::ChunkedUnderstated, 5000);
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Long")), expectedContent("l", 15000));
}

} // namespace
} // namespace qvr::test
