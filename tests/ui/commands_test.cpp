#include "tests/ui/window_fixture.h"
#include "controls/image_button.h"
#include "ui/layout.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <sys/stat.h>

#include <filesystem>

namespace qvr::test {
namespace {

using ::testing::ElementsAre;
namespace fs = std::filesystem;

// The user's commands, with the window's questions answered by the test.
class CommandTest : public WindowTest {
protected:
    // A queue of three tracks whose downloads stall at once, so nothing finishes.
    void openWithStalledQueue()
    {
        std::string queue;
        for (const char* id : {"a", "b", "c"}) {
            addTrack(id, std::string("Track ") + id, 100000);
            queue += std::string("Track ") + id + "|" + m_store.trackUrl(id) + "\r\n";
        }
        writeFile(m_config.strings.m_strDownloadQueuePath, queue);
        m_store.setStallAfter(0);
        openWindow();
    }
    void select(int row) { m_window->controlAs<QListWidget>(IDC_QUEUE_LIST)->setCurrentRow(row); }
    void click(int id) { QTest::mouseClick(m_window->controlAs<QAbstractButton>(id), Qt::LeftButton); }
    // Whether the button shows its latched look (the hover picture while idle).
    bool latched(int id) const
    {
        const auto* button = m_window->controlAs<CImageButton>(id);
        return CImageButton::ImageIndex(CImageButton::BTN_IDLE, button->m_bLatchable, button->m_bLatched) == 1;
    }
};

TEST_F(CommandTest, RemoveAsksOnlyForTheHeadWhileNotPaused)
{
    openWithStalledQueue();
    click(IDC_REMOVE);
    ASSERT_EQ(m_prompts.asked.size(), 1u);
    EXPECT_EQ(m_prompts.asked[0].caption, "No track selected");
    EXPECT_EQ(m_prompts.asked[0].text, "Please choose a track in the download queue to remove.");

    select(2);
    click(IDC_REMOVE);
    EXPECT_EQ(m_prompts.asked.size(), 1u) << "another item goes at once, download or not";
    EXPECT_THAT(queueTitles(), ElementsAre("Track a", "Track b"));
    EXPECT_EQ(readFile(m_config.strings.m_strDownloadQueuePath), "Track a|" + m_store.trackUrl("a") + "\r\nTrack b|"
                                                              + m_store.trackUrl("b") + "\r\n");

    // Not confirmed: the download goes on, and the track arrives whole.
    ASSERT_TRUE(m_store.waitForStalls(1));
    select(0);
    m_prompts.answer = IDCANCEL;
    click(IDC_REMOVE);
    ASSERT_EQ(m_prompts.asked.size(), 2u);
    EXPECT_EQ(m_prompts.asked[1].caption, "Remove Current Download?");
    EXPECT_EQ(m_prompts.asked[1].type & 0xF, MB_OKCANCEL);
    m_store.releaseStalls();
    m_store.setStallAfter(0, 1);
    ASSERT_TRUE(waitFor([&] { return queueTitles() == std::vector<std::string> {"Track b"}; }));
    EXPECT_EQ(readFile(trackPath("Track a")), expectedContent("a", 100000));

    // While paused the head item goes at once, without a question.
    ASSERT_TRUE(m_store.waitForStalls(1));
    click(IDC_PAUSE);
    // The paused download's report has come: resuming can hand the next track over.
    ASSERT_TRUE(waitFor([&] { return status() == "Downloading Paused"; }));
    m_window->AddRawEntry("track=c");
    ASSERT_TRUE(waitFor([&] { return m_window->queue().GetCount() == 2; }));
    select(0);
    click(IDC_REMOVE);
    EXPECT_THAT(queueTitles(), ElementsAre("Track c"));
    EXPECT_EQ(m_prompts.asked.size(), 2u);

    // Confirmed: the downloader's report removes it; what it had stays on disk. (The
    // report of the paused download comes first: the wait for the stall below runs no
    // events of the window.)
    ASSERT_TRUE(waitFor([&] { return status() == "Downloading Paused"; }));
    m_store.releaseStalls();
    m_store.setStallAfter(0, 1);
    click(IDC_RESUME);
    ASSERT_TRUE(m_store.waitForStalls(1));
    m_prompts.answer = IDOK;
    select(0);
    click(IDC_REMOVE);
    EXPECT_EQ(m_prompts.asked.size(), 3u);
    EXPECT_EQ(m_window->queue().GetCount(), 1u) << "the downloader's report removes it";
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Track c")), "");
}

TEST_F(CommandTest, ACancelOrClearWaitsOutAPauseAndTakesEffectAtTheNextReport)
{
    addTrack("a", "First", 300000);
    addTrack("b", "Second", 300000);
    addTrack("c", "Third", 20000);
    writeFile(m_config.strings.m_strDownloadQueuePath, "First|" + m_store.trackUrl("a") + "\r\nSecond|"
                  + m_store.trackUrl("b") + "\r\nThird|" + m_store.trackUrl("c") + "\r\n");
    m_store.setStallAfter(100000, 1);
    openWindow();
    ASSERT_TRUE(m_store.waitForStalls(1));
    ASSERT_TRUE(waitFor([&] { return m_window->controlAs<QLabel>(IDC_PERCENT_TEXT)->text() != "0%"; }));

    // Paused, with a cancel asked for: the pause wins and the cancel waits. (The
    // pause comes while the question is open, so that the downloader cannot see
    // the cancel alone first.)
    m_prompts.whileAsking = [&] { click(IDC_PAUSE); };
    select(0);
    click(IDC_REMOVE);
    m_prompts.whileAsking = nullptr;
    ASSERT_TRUE(waitFor([&] { return status() == "Downloading Paused"; }));
    EXPECT_THAT(queueTitles(), ElementsAre("First", "Second", "Third"));
    const auto partial = fs::file_size(trackPath("First"));
    EXPECT_GT(partial, 0u);
    EXPECT_LT(partial, 300000u) << "the pause ends the transfer, stalled or not";

    // Resuming delivers the cancel at the next report; then a clear empties the rest.
    m_store.releaseStalls();
    m_store.setStallAfter(50000, 1);
    click(IDC_RESUME);
    ASSERT_TRUE(waitFor([&] { return queueTitles() == std::vector<std::string> {"Second", "Third"}; }));
    ASSERT_TRUE(m_store.waitForStalls(1));
    m_prompts.answer = IDYES;
    click(IDC_CLEAR);
    EXPECT_EQ(m_window->queue().GetCount(), 2u) << "the downloader's report empties it";
    m_store.releaseStalls();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(m_config.strings.m_strDownloadQueuePath), "");
    EXPECT_TRUE(requestsTo("/tracks/c").empty());
    EXPECT_FALSE(fs::exists(trackPath("Third")));
}

// Each scenario changes the queue while a report is on its way; the tracks left
// must all arrive whole.
TEST_F(CommandTest, AReportActsOnlyOnTheTrackItIsAbout)
{
    const auto expectRestArrives = [&](const char* scenario) {
        SCOPED_TRACE(scenario);
        ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
        EXPECT_EQ(readFile(trackPath("Track b")), expectedContent("b", 100000));
        EXPECT_EQ(readFile(trackPath("Track c")), expectedContent("c", 100000));
        closeWindow();
        for (const char* title : {"Track a", "Track b", "Track c"})
            fs::remove(trackPath(title));
    };

    // Paused, the head removed and resumed before the downloader's report: the
    // download that then finishes is not the head any more.
    openWithStalledQueue();
    ASSERT_TRUE(m_store.waitForStalls(1));
    click(IDC_PAUSE);
    select(0);
    click(IDC_REMOVE);
    click(IDC_RESUME);
    m_store.releaseStalls();
    expectRestArrives("finished after its removal");

    // A cancel left pending by a pause goes with the track it was for.
    openWithStalledQueue();
    ASSERT_TRUE(m_store.waitForStalls(1));
    m_prompts.whileAsking = [&] { click(IDC_PAUSE); };
    select(0);
    click(IDC_REMOVE);
    m_prompts.whileAsking = nullptr;
    m_store.releaseStalls();
    ASSERT_TRUE(waitFor([&] { return status() == "Downloading Paused"; }));
    select(0);
    click(IDC_REMOVE);
    click(IDC_RESUME);
    expectRestArrives("cancel pending through a pause");

    // The track finishes, and the next one starts, while the question is open.
    openWithStalledQueue();
    ASSERT_TRUE(m_store.waitForStalls(1));
    m_prompts.whileAsking = [&] {
        m_store.releaseStalls();
        m_store.setStallAfter(0, 1);
        ASSERT_TRUE(waitFor([&] { return queueTitles() == std::vector<std::string> {"Track b", "Track c"}; }));
        ASSERT_TRUE(m_store.waitForStalls(1));
    };
    select(0);
    click(IDC_REMOVE);
    m_prompts.whileAsking = nullptr;
    m_store.releaseStalls();
    expectRestArrives("answered after the track was done");
}

TEST_F(CommandTest, ClearAsksAndActsAtOnceWhilePaused)
{
    // Not confirmed: the tracks keep coming.
    openWithStalledQueue();
    m_prompts.answer = IDNO;
    click(IDC_CLEAR);
    ASSERT_EQ(m_prompts.asked.size(), 1u);
    EXPECT_EQ(m_prompts.asked[0].caption, "Clear Download Queue?");
    EXPECT_EQ(m_prompts.asked[0].text, "Are you sure you want to remove ALL tracks from the download queue?");
    m_store.releaseStalls();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    for (const char* id : {"a", "b", "c"})
        EXPECT_EQ(readFile(trackPath(std::string("Track ") + id)), expectedContent(id, 100000)) << id;
    click(IDC_CLEAR);
    EXPECT_EQ(m_prompts.asked.size(), 1u) << "an empty queue asks nothing";

    // Confirmed while paused: gone at once, and for good.
    closeWindow();
    for (const char* id : {"a", "b", "c"})
        fs::remove(trackPath(std::string("Track ") + id));
    openWithStalledQueue();
    m_prompts.answer = IDYES;
    click(IDC_PAUSE);
    click(IDC_CLEAR);
    EXPECT_TRUE(m_window->queue().IsEmpty());
    closeWindow();
    openWindow();
    EXPECT_TRUE(m_window->queue().IsEmpty());
}

TEST_F(CommandTest, PauseAndResumeLatchTheirButtonsAndKeepTheHeadItem)
{
    openWindow();
    EXPECT_TRUE(latched(IDC_RESUME)) << "not paused at start";
    EXPECT_FALSE(latched(IDC_PAUSE));
    click(IDC_PAUSE);
    click(IDC_RESUME);
    EXPECT_EQ(status(), "No Files in Queue");
    EXPECT_TRUE(latched(IDC_RESUME)) << "the clicks changed nothing, not even the looks";
    EXPECT_FALSE(latched(IDC_PAUSE));
    // Nor the downloads: a request that comes now is fetched at once.
    addTrack("n", "Not Paused", 1000);
    click(IDC_PAUSE);
    m_window->AddRawEntry("track=n");
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty() && fs::exists(trackPath("Not Paused")); }));

    closeWindow();
    addTrack("a", "Paused One", 300000);
    writeFile(m_config.strings.m_strDownloadQueuePath, "Paused One|" + m_store.trackUrl("a") + "\r\n");
    m_store.setStallAfter(100000, 1);
    openWindow();
    ASSERT_TRUE(m_store.waitForStalls(1));
    click(IDC_PAUSE);
    EXPECT_TRUE(latched(IDC_PAUSE));
    EXPECT_FALSE(latched(IDC_RESUME));
    m_store.releaseStalls();
    ASSERT_TRUE(waitFor([&] { return status() == "Downloading Paused"; }));
    EXPECT_THAT(queueTitles(), ElementsAre("Paused One"));

    click(IDC_RESUME);
    EXPECT_TRUE(latched(IDC_RESUME));
    EXPECT_FALSE(latched(IDC_PAUSE));
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(trackPath("Paused One")), expectedContent("a", 300000));
}

TEST_F(CommandTest, ARequestFileDroppedOnTheQueueListIsFetched)
{
    addTrack("d", "Dropped", 5000);
    writeFile(m_dir.file("dropped.qvr"), "track=d\r\n");
    openWindow();
    QWidget* list = m_window->controlAs<QListWidget>(IDC_QUEUE_LIST)->viewport();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(m_dir.file("dropped.qvr")))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &drop);
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty() && fs::exists(trackPath("Dropped")); }));
    EXPECT_EQ(readFile(trackPath("Dropped")), expectedContent("d", 5000));
}

TEST_F(CommandTest, ChoosingAFolderStoresItFirstThenMovesListAndWatcher)
{
    const std::string other = m_dir.file("other music");
    ::mkdir(other.c_str(), 0755);
    writeFile(other + "/there.mp3", "");
    std::vector<std::string> stored;
    long storeResult = 1;
    m_adjustEnvironment = [&](MainWindowEnvironment& environment) {
        environment.writeDownloadFolder = [&](const std::string& folder) {
            stored.push_back(folder);
            return storeResult;
        };
    };
    openWindow();
    auto* files = m_window->controlAs<QListWidget>(IDC_FILE_LIST);

    m_prompts.folder = other;
    click(IDC_CHOOSE_FOLDER);
    EXPECT_EQ(stored, std::vector<std::string> {other});
    EXPECT_EQ(m_window->queueController().downloadFolder(), m_dir.file("music")) << "not kept, so not taken";

    storeResult = 0;
    m_prompts.folder = m_config.strings.m_strDownloadFolder;
    click(IDC_CHOOSE_FOLDER);
    EXPECT_EQ(stored.size(), 1u) << "the same folder changes nothing, not even the settings";

    m_prompts.folder = other;
    click(IDC_CHOOSE_FOLDER);
    EXPECT_EQ(m_window->queueController().downloadFolder(), other);
    ASSERT_EQ(files->count(), 1);
    EXPECT_EQ(files->item(0)->text(), "there.mp3");
    EXPECT_EQ(m_window->controlAs<QLabel>(IDC_FOLDER_TEXT)->text().toStdString(), FolderLabel(other));
    EXPECT_THAT(m_window->control(IDC_FOLDER_TEXT)->toolTip().toStdString(), ::testing::HasSubstr(other));

    // The watcher follows: a track being written in the new folder shows up by
    // itself, once the watcher has moved there.
    ASSERT_TRUE(waitFor([&] {
        writeFile(other + "/arrived.mp3", std::to_string(files->count()));
        return files->count() == 2;
    }));
}

TEST_F(CommandTest, OpenCommandsHandTheirTargetToTheDesktop)
{
    writeFile(trackPath("Song"), "");
    openWindow();
    click(IDC_OPEN_FOLDER);
    click(IDC_HOME_PAGE);
    auto* files = m_window->controlAs<QListWidget>(IDC_FILE_LIST);
    ASSERT_EQ(files->count(), 1);
    files->setCurrentRow(0);
    emit files->itemDoubleClicked(files->item(0));
    EXPECT_THAT(m_desktop.opened, ElementsAre(m_config.strings.m_strDownloadFolder, "http://" + m_store.hostPort() + "/",
                                              trackPath("Song")));

    // A name that is not valid text is opened, and kept selected, by its bytes.
    const std::string latin1 = m_config.strings.m_strDownloadFolder + "/Caf\xe9.mp3";
    writeFile(latin1, "");
    ASSERT_TRUE(waitFor([&] { return files->count() == 2; }));
    files->setCurrentRow(0);
    writeFile(trackPath("Zebra"), "");
    ASSERT_TRUE(waitFor([&] { return files->count() == 3; }));
    ASSERT_EQ(files->currentRow(), 0) << "the selection survives the refresh";
    emit files->itemDoubleClicked(files->currentItem());
    EXPECT_EQ(m_desktop.opened.back(), latin1);

    click(IDC_MINIMIZE);
    ASSERT_TRUE(waitFor([&] { return m_window->isMinimized(); }));
    m_window->messageSink().SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(m_window->isMinimized());
}

} // namespace
} // namespace qvr::test
