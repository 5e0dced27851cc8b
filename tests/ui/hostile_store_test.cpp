// What the window does with answers a broken or hostile store gives: no request is
// lost, no queue is blocked for good, and nothing is written that the store did
// not promise.
#include "tests/ui/window_fixture.h"

#include <filesystem>

namespace qvr::test {
namespace {

using ::testing::ElementsAre;
namespace fs = std::filesystem;

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
    addTrack("l", "Long", 20000);
    m_store.setFraming(sim::Framing::ChunkedUnderstated, 5000);
    writeFile(m_config.strings.m_strDownloadQueuePath, "Long|" + m_store.trackUrl("l") + "\r\n");
    openWindow();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Long")), expectedContent("l", 15000));
    closeWindow();

    // No length at all: taken up to a limit, and a body past it is no track.
    addTrack("e", "Endless", 30000);
    m_store.setFraming(sim::Framing::NoLength);
    m_adjustEnvironment = [](MainWindowEnvironment& environment) { environment.unannouncedTrackLimit = 10000; };
    writeFile(m_config.strings.m_strDownloadQueuePath, "Endless|" + m_store.trackUrl("e") + "\r\n");
    openWindow();
    ASSERT_TRUE(waitFor([&] { return requestsTo("/tracks/e").size() >= 3 && status() == "Network Error"; }));
    EXPECT_THAT(queueTitles(), ElementsAre("Endless"));
    EXPECT_LE(fs::file_size(trackPath("Endless")), 10000u);
}

TEST_F(HostileStoreTest, AResumeAnswerThatCannotBePlacedFailsVisiblyAndChangesNothing)
{
    addTrack("r", "Resumed", 50000);
    for (const auto mode : {sim::ResumeMode::MisplacedRange, sim::ResumeMode::PartialWithoutRange}) {
        SCOPED_TRACE(static_cast<int>(mode));
        m_store.setResumeMode(mode);
        writeFile(trackPath("Resumed"), expectedContent("r", 50000).substr(0, 1000));
        writeFile(m_config.strings.m_strDownloadQueuePath, "Resumed|" + m_store.trackUrl("r") + "\r\n");
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
