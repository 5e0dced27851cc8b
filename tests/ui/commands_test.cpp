// The window's buttons and lists wired to the queue decisions (whose races are
// tests/engine/queue_controller_test.cpp): what the user clicks reaches the real
// downloader, the disk and the desktop, and what they see follows.
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

class CommandTest : public WindowTest {
protected:
    void select(int row) { m_window->controlAs<QListWidget>(IDC_QUEUE_LIST)->setCurrentRow(row); }
    void click(int id) { QTest::mouseClick(m_window->controlAs<QAbstractButton>(id), Qt::LeftButton); }
    std::vector<std::string> rows() const
    {
        std::vector<std::string> shown;
        const auto* list = m_window->controlAs<QListWidget>(IDC_QUEUE_LIST);
        for (int i = 0; i < list->count(); ++i)
            shown.push_back(list->item(i)->text().toStdString());
        return shown;
    }
    // Whether the button shows its latched look (the hover picture while idle).
    bool latched(int id) const
    {
        const auto* button = m_window->controlAs<CImageButton>(id);
        return CImageButton::ImageIndex(CImageButton::BTN_IDLE, button->m_bLatchable, button->m_bLatched) == 1;
    }
};

TEST_F(CommandTest, TheButtonsActOnTheQueueThatTheListShowsAndTheDownloaderStops)
{
    std::string queue;
    for (const char* id : {"a", "b", "c"}) {
        addTrack(id, std::string("Track ") + id, 100000);
        queue += std::string("Track ") + id + "|" + m_store.trackUrl(id) + "\r\n";
    }
    writeFile(m_config.strings.m_strDownloadQueuePath, queue);
    m_store.setStallAfter(50000);
    openWindow();
    EXPECT_TRUE(latched(IDC_RESUME)) << "not paused at start";
    ASSERT_TRUE(m_store.waitForStalls(1));

    click(IDC_REMOVE);
    select(2);
    click(IDC_REMOVE);
    EXPECT_THAT(rows(), ElementsAre("Track a", "Track b"));
    // Confirmed, the running download stops and its report removes it; what it had
    // stays on disk.
    ASSERT_TRUE(waitFor([&] { return fs::file_size(trackPath("Track a")) == 50000; }));
    select(0);
    click(IDC_REMOVE);
    ASSERT_EQ(m_prompts.asked.size(), 2u);
    EXPECT_EQ(m_prompts.asked[1].caption, "Remove Current Download?");
    ASSERT_TRUE(waitFor([&] { return rows() == std::vector<std::string> {"Track b"}; }));
    EXPECT_EQ(fs::file_size(trackPath("Track a")), 50000u);

    ASSERT_TRUE(m_store.waitForStalls(1));
    click(IDC_PAUSE);
    EXPECT_TRUE(latched(IDC_PAUSE));
    EXPECT_FALSE(latched(IDC_RESUME));
    ASSERT_TRUE(waitFor([&] { return status() == "Downloading Paused"; }));
    m_prompts.answer = IDYES;
    click(IDC_CLEAR);
    EXPECT_THAT(rows(), ElementsAre());
    EXPECT_EQ(readFile(m_config.strings.m_strDownloadQueuePath), "");
    click(IDC_RESUME);
    EXPECT_EQ(status(), "No Files in Queue");
    EXPECT_EQ(m_prompts.asked.back().caption, "Clear Download Queue?");
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

TEST_F(CommandTest, AChosenFolderIsShownListedAndWatched)
{
    const std::string other = m_dir.file("other music");
    ::mkdir(other.c_str(), 0755);
    writeFile(other + "/there.mp3", "");
    std::vector<std::string> stored;
    m_adjustEnvironment = [&](MainWindowEnvironment& environment) {
        environment.writeDownloadFolder = [&](const std::string& folder) {
            stored.push_back(folder);
            return 0L;
        };
    };
    openWindow();
    auto* files = m_window->controlAs<QListWidget>(IDC_FILE_LIST);
    // The watcher watches the first folder by now.
    writeFile(trackPath("First"), "");
    ASSERT_TRUE(waitFor([&] { return files->count() == 1; }));
    m_prompts.folder = other;
    click(IDC_CHOOSE_FOLDER);
    EXPECT_EQ(stored, std::vector<std::string> {other});
    ASSERT_EQ(files->count(), 1);
    EXPECT_EQ(files->item(0)->text(), "there.mp3");
    EXPECT_EQ(m_window->controlAs<QLabel>(IDC_FOLDER_TEXT)->text().toStdString(), FolderLabel(other));

    // The watcher follows: tracks that arrive there, one after another, show up by
    // themselves (more of them than the reports the move itself brings).
    for (int arrived = 1; arrived <= 3; ++arrived) {
        writeFile(other + "/arrived-" + std::to_string(arrived) + ".mp3", "");
        ASSERT_TRUE(waitFor([&] { return files->count() == 1 + arrived; })) << arrived;
    }
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
