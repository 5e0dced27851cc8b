// The roads of a download through the whole window: its workers, the store
// simulator and the disk (the queue decisions alone are the controller's tests).
#include "tests/support/disk_full.h"
#include "tests/support/stuck_network.h"
#include "tests/ui/window_fixture.h"

namespace qvr::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

TEST_F(WindowTest, RequestsTravelFromRawEntryToTrackFileInOrder)
{
    addTrack("a", "Left Over", 12000);
    addTrack("b", "Brand New", 70000);
    writeFile(m_config.strings.m_strRawQueuePath, "track=a\r\n");
    m_config.strings.m_strRequest = "track=b";
    openWindow();
    ASSERT_TRUE(waitFor([&] { return fs::exists(trackPath("Brand New")) && m_window->queue().IsEmpty()
                                      && status() == "No Files in Queue"; }));
    EXPECT_EQ(readFile(trackPath("Left Over")), expectedContent("a", 12000));
    EXPECT_EQ(readFile(trackPath("Brand New")), expectedContent("b", 70000));
    EXPECT_EQ(readFile(m_config.strings.m_strDownloadQueuePath), "");
    // The entry left from the last run goes first, and every request carries the id.
    const auto infos = requestsTo("/downloader/downloader_dlm.html");
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].query, "track=a&guid=0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(infos[1].query, "track=b&guid=0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(infos[0].header("User-Agent"), "Track Info Session");
    for (const auto& file : requestsTo("/tracks/")) {
        EXPECT_EQ(file.header("User-Agent"), "Download Session");
        EXPECT_FALSE(file.header("RANGE")) << "a new file is asked for whole";
        EXPECT_THAT(file.query, HasSubstr("&guid=0123456789ABCDEF0123456789ABCDEF"));
    }
    closeWindow();
    EXPECT_EQ(readFile(m_config.strings.m_strRawQueuePath), "") << "every raw entry was consumed";
}

TEST_F(WindowTest, AnswersWithoutATrackConsumeTheEntryAndOnlyTheFirst9999BytesCount)
{
    openWindow();
    // A closing tag beyond the first 9999 bytes of an answer is not seen.
    const std::string tail = "<title>Far</title><url>http://127.0.0.1:1/t?x=1</url>";
    for (const auto& [code, answer] : {std::pair(404, std::string("<title>T</title><url>http://x/y?z</url>")),
                                       {200, std::string(9999 - tail.size() + 1, ' ') + tail}}) {
        m_store.setTrackInfoAnswer(code, answer);
        m_window->AddRawEntry("track=" + std::to_string(code));
        ASSERT_TRUE(waitFor([&] { return m_window->rawEntries().IsEmpty(); }));
    }
    EXPECT_TRUE(m_window->queue().IsEmpty());
    EXPECT_EQ(status(), "No Files in Queue");
    EXPECT_EQ(requestsTo("/downloader/").size(), 2u);

    m_store.setTrackInfoAnswer(200, std::string(9999 - tail.size(), ' ') + tail);
    m_store.setStallAfter(0);
    m_window->AddRawEntry("track=fits");
    ASSERT_TRUE(waitFor([&] { return !m_window->queue().IsEmpty(); }));
    EXPECT_THAT(queueTitles(), ElementsAre("Far"));
}

// Whatever the store does with a resume header, a partial file ends as the whole
// track, and one already whole (its queue entry outlived a crash) is finished as it is.
class ResumeTest : public WindowTest, public ::testing::WithParamInterface<sim::ResumeMode> {};

TEST_P(ResumeTest, APartialFileEndsAsTheWholeTrackAndAWholeOneIsNotFetchedAgain)
{
    constexpr std::uint64_t kSize = 400000;
    queueOnDisk({{"r", "Resumed", kSize}, {"w", "Whole", 20000}});
    m_store.setResumeMode(GetParam());
    writeFile(trackPath("Resumed"), expectedContent("r", kSize).substr(0, 123456));
    writeFile(trackPath("Whole"), expectedContent("w", 20000));
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Resumed")), expectedContent("r", kSize));
    EXPECT_EQ(readFile(trackPath("Whole")), expectedContent("w", 20000));
    const auto files = requestsTo("/tracks/");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].header("RANGE"), "123456-");
}

INSTANTIATE_TEST_SUITE_P(ServerBehaviours, ResumeTest,
                         ::testing::Values(sim::ResumeMode::Honour, sim::ResumeMode::Ignore,
                                           sim::ResumeMode::PartialContent));

TEST_F(WindowTest, ATrackDeletedWhileItIsWrittenIsFetchedAgain)
{
    queueOnDisk({{"d", "Deleted", 300000}});
    m_store.setStallAfter(100000, 1);
    openWindow();
    ASSERT_TRUE(m_store.waitForStalls(1));
    ASSERT_TRUE(waitFor([&] { return fs::file_size(trackPath("Deleted")) == 100000; }));
    fs::remove(trackPath("Deleted"));
    m_store.releaseStalls();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Deleted")), expectedContent("d", 300000));
    EXPECT_EQ(requestsTo("/tracks/").size(), 2u);
}

TEST_F(WindowTest, AWriteThatFailsIsAFailedAttemptAndTheTrackStaysQueued)
{
    queueOnDisk({{"f", "Full Disk", 30000}});
    {
        const DiskFull full(12000);
        ASSERT_TRUE(full.active());
        openWindow();
        ASSERT_TRUE(waitFor([&] { return requestsTo("/tracks/f").size() >= 3 && status() == "Network Error"; }));
        EXPECT_THAT(queueTitles(), ElementsAre("Full Disk"));
        EXPECT_EQ(readFile(trackPath("Full Disk")), expectedContent("f", 12000));
    }
    // With room again it resumes where the disk stopped it.
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Full Disk")), expectedContent("f", 30000));
}

TEST_F(WindowTest, PauseAndCloseDoNotWaitForAStoreThatNeverAnswers)
{
    // A stall limit far beyond the test's patience: only the interrupt ends the wait.
    m_store.setLatency(std::chrono::hours(1));
    m_adjustEnvironment = [](MainWindowEnvironment& environment) {
        environment.http = curlHttpClientFactory({std::chrono::minutes(5), std::chrono::minutes(5)});
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
        environment.http = network.factory();
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

TEST_F(WindowTest, ATitleThatIsAPathIsNeverWrittenAndTheItemIsDropped)
{
    addTrack("p", "../escape", 1000);
    addTrack("q", "AC/DC", 1000);
    openWindow();
    m_window->AddRawEntry("track=p");
    m_window->AddRawEntry("track=q");
    ASSERT_TRUE(waitFor([&] { return m_prompts.asked.size() == 2 && m_window->queue().IsEmpty(); }));
    EXPECT_EQ(m_prompts.asked[1].caption, "File error!");
    EXPECT_EQ(m_prompts.asked[1].text, "Unable to open file: " + trackPath("AC/DC")
                                           + " for writing!\n\nPlease close any application that currently accesses "
                                             "that file and try again.");
    EXPECT_FALSE(fs::exists(m_dir.file("escape.mp3")));
    EXPECT_TRUE(requestsTo("/tracks/").empty());
}

// What the window does with answers a broken or hostile store gives: no request is
// lost, no queue is blocked for good, and nothing is written that the store did
// not promise.
class HostileStoreTest : public WindowTest {};

TEST_F(HostileStoreTest, AnAnswerCutShortKeepsTheRequest)
{
    const std::string answer = "<title>Cut</title><url>" + m_store.trackUrl("c") + "</url>" + std::string(100, ' ');
    addTrack("c", "Cut", 1000);
    m_store.setTrackInfoAnswer(200, answer, answer.size() - 50);
    m_store.setStallAfter(0);
    openWindow();
    m_window->AddRawEntry("track=c");
    ASSERT_TRUE(waitFor([&] { return status() == "Network Error"; }));
    EXPECT_EQ(m_window->rawEntries().GetCount(), 1u) << "the tags came, but not the whole answer";
    EXPECT_TRUE(m_window->queue().IsEmpty());

    m_store.setTrackInfoAnswer(200, answer);
    ASSERT_TRUE(waitFor([&] { return m_window->rawEntries().IsEmpty(); }));
    EXPECT_THAT(queueTitles(), ElementsAre("Cut"));
}

TEST_F(HostileStoreTest, AddressesNoRequestCanBeMadeWithAreDroppedAtOnce)
{
    // From the store's answer: never queued.
    m_store.setTrackInfoAnswer(200, "<title>Port</title><url>http://127.0.0.1:99999/t?x=1</url>");
    openWindow();
    m_window->AddRawEntry("track=p");
    ASSERT_TRUE(waitFor([&] { return m_window->rawEntries().IsEmpty(); }));
    EXPECT_TRUE(m_window->queue().IsEmpty());
    closeWindow();

    // From a queue file: dropped without a file, and without blocking the rest.
    addTrack("g", "Good", 3000);
    writeFile(m_config.strings.m_strDownloadQueuePath, "Ftp|ftp://127.0.0.1/t?x=1\r\nSpace|http://127.0.0.1/a b?x=1\r\n"
                                                "Good|" + m_store.trackUrl("g") + "\r\n");
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Good")), expectedContent("g", 3000));
    EXPECT_FALSE(fs::exists(trackPath("Ftp")));
    EXPECT_FALSE(fs::exists(trackPath("Space")));
}

TEST_F(HostileStoreTest, ABodyIsWrittenOnlyAsFarAsItsAnswerSaid)
{
    // Longer than its Content-Length: the rest is not part of the track.
    queueOnDisk({{"l", "Long", 20000}});
    m_store.setFraming(sim::Framing::ChunkedUnderstated, 5000);
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Long")), expectedContent("l", 15000));
    closeWindow();

    // No length at all: taken up to a limit, and a body past it is no track.
    queueOnDisk({{"e", "Endless", 30000}});
    m_store.setFraming(sim::Framing::NoLength);
    m_adjustEnvironment = [](MainWindowEnvironment& environment) { environment.unannouncedTrackLimit = 10000; };
    openWindow();
    ASSERT_TRUE(waitFor([&] { return requestsTo("/tracks/e").size() >= 3 && status() == "Network Error"; }));
    EXPECT_THAT(queueTitles(), ElementsAre("Endless"));
    EXPECT_LE(fs::file_size(trackPath("Endless")), 10000u);
}

TEST_F(HostileStoreTest, AResumeAnswerThatCannotBePlacedFailsVisiblyAndChangesNothing)
{
    for (const auto mode : {sim::ResumeMode::MisplacedRange, sim::ResumeMode::PartialWithoutRange}) {
        SCOPED_TRACE(static_cast<int>(mode));
        m_store.setResumeMode(mode);
        queueOnDisk({{"r", "Resumed", 50000}});
        writeFile(trackPath("Resumed"), expectedContent("r", 50000).substr(0, 1000));
        openWindow();
        // Retried, and failing the same way each time.
        ASSERT_TRUE(waitFor([&] { return requestsTo("/tracks/r").size() >= 3 && status() == "Network Error"; }));
        EXPECT_EQ(readFile(trackPath("Resumed")), expectedContent("r", 1000));
        EXPECT_THAT(queueTitles(), ElementsAre("Resumed"));
        closeWindow();
        m_store.clearRequests();
    }
}

} // namespace
} // namespace qvr::test
