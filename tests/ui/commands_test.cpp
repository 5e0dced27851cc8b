// The window's buttons and lists wired to the queue decisions (whose races are the
// controller's tests): what the user clicks reaches the real downloader, the disk and
// the desktop, and what they see follows.
#include "controls/image_button.h"
#include "platform/process_launch.h"

#include "tests/ui/window_fixture.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace qvr::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

class CommandTest : public WindowTest {
protected:
    QListView* queueList() const { return m_window->controlAs<QListView>(IDC_QUEUE_LIST); }
    void select(int row) { queueList()->setCurrentIndex(queueList()->model()->index(row, 0)); }
    std::string selected() const
    {
        const QModelIndex current = queueList()->currentIndex();
        return queueList()->selectionModel()->isSelected(current) ? current.data().toString().toStdString() : "";
    }
    void click(int id) { QTest::mouseClick(m_window->controlAs<QAbstractButton>(id), Qt::LeftButton); }
    std::vector<std::string> rows() const
    {
        std::vector<std::string> shown;
        for (int i = 0; i < queueList()->model()->rowCount(); ++i)
            shown.push_back(queueList()->model()->index(i, 0).data().toString().toStdString());
        return shown;
    }
};

TEST_F(CommandTest, TheButtonsActOnTheQueueThatTheListShowsAndTheDownloaderStops)
{
    queueOnDisk({{"a", "Track a", 100000}, {"b", "Track b", 100000}, {"c", "Track c", 100000}});
    m_store.setStallAfter(50000);
    openWindow();
    ASSERT_TRUE(m_store.waitForStalls(1));

    // A second press finds nothing selected: it asks, and removes nothing more.
    select(1);
    click(IDC_REMOVE);
    click(IDC_REMOVE);
    EXPECT_THAT(rows(), ElementsAre("Track a", "Track c"));
    // Confirmed, the running download stops and its report removes it; what it had
    // stays on disk.
    ASSERT_TRUE(waitFor([&] { return fs::file_size(trackPath("Track a")) == 50000; }));
    select(0);
    click(IDC_REMOVE);
    ASSERT_TRUE(waitFor([&] { return rows() == std::vector<std::string> {"Track c"}; }));
    EXPECT_EQ(fs::file_size(trackPath("Track a")), 50000u);

    ASSERT_TRUE(m_store.waitForStalls(1));
    click(IDC_PAUSE);
    EXPECT_TRUE(m_window->controlAs<CImageButton>(IDC_PAUSE)->isLatched());
    EXPECT_FALSE(m_window->controlAs<CImageButton>(IDC_RESUME)->isLatched());
    ASSERT_TRUE(waitFor([&] { return status() == "Downloading Paused"; }));
    m_prompts.answer = IDYES;
    click(IDC_CLEAR);
    EXPECT_THAT(rows(), ElementsAre());
    click(IDC_RESUME);
    EXPECT_EQ(status(), "No Files in Queue");
    std::vector<std::string> captions;
    for (const auto& asked : m_prompts.asked)
        captions.push_back(asked.caption);
    EXPECT_THAT(captions, ElementsAre("No track selected", "Remove Current Download?", "Clear Download Queue?"));
}

// Clear, Remove and Pause stop the track being written within a chunk or so, on a
// store that sends as fast as it can, not once it is whole: by the downloader's
// report, a small part of the track has come after the command.
TEST_F(CommandTest, ACommandStopsTheTrackWhileItIsWritten)
{
    // Chunks of 5000 bytes, and room for the window's thread to be slow to click.
    constexpr std::uintmax_t kSize = 16 << 20, kFar = 64 * 5000;
    const std::tuple<std::string, int, int, std::function<bool()>> cases[] = {
        {"clear", IDC_CLEAR, IDYES, [&] { return rows().empty(); }},
        {"remove", IDC_REMOVE, IDOK, [&] { return rows().empty(); }},
        {"pause", IDC_PAUSE, IDOK, [&] { return status() == "Downloading Paused"; }},
    };
    for (const auto& [id, button, answer, reported] : cases) {
        SCOPED_TRACE(id);
        queueOnDisk({{id, id, kSize}});
        openWindow();
        std::error_code error;
        ASSERT_TRUE(waitFor([&] { return fs::file_size(trackPath(id), error) > 0 && !error; }));
        select(0);
        m_prompts.answer = answer;
        const std::uintmax_t atCommand = fs::file_size(trackPath(id));
        click(button);
        const auto written = [&] { return fs::file_size(trackPath(id)) - atCommand; };
        ASSERT_TRUE(waitFor([&] { return reported() || written() > kFar; }));
        EXPECT_LE(written(), kFar) << "bytes written after the command";
        closeWindow();
    }
}

// The queue list changes only where the queue did: the user's selection stays on
// its track, and a removed track's selection goes to no other.
TEST_F(CommandTest, TheQueueListChangesOnlyWhereTheQueueChanged)
{
    queueOnDisk({{"a", "Track a", 100000}, {"b", "Track b", 100000}, {"c", "Track c", 100000}});
    addTrack("d", "Track d", 100000);
    m_store.setStallAfter(50000);
    openWindow();
    ASSERT_TRUE(m_store.waitForStalls(1));
    select(2);
    m_window->AddRawEntry("track=d");
    ASSERT_TRUE(waitFor([&] { return rows().size() == 4; }));
    EXPECT_EQ(selected(), "Track c");
    m_store.releaseStalls();
    ASSERT_TRUE(waitFor([&] { return rows() == std::vector<std::string> {"Track b", "Track c", "Track d"}; }));
    EXPECT_EQ(selected(), "Track c");
    click(IDC_PAUSE);
    click(IDC_REMOVE);
    EXPECT_THAT(rows(), ElementsAre("Track b", "Track d"));
    EXPECT_EQ(selected(), "");
}

TEST_F(CommandTest, ARequestFileDroppedOnTheQueueListIsFetched)
{
    addTrack("d", "Dropped", 5000);
    writeFile(m_dir.file("dropped.qvr"), "track=d\r\n");
    openWindow();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(m_dir.file("dropped.qvr")))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(queueList()->viewport(), &enter);
    QApplication::sendEvent(queueList()->viewport(), &drop);
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty() && fs::exists(trackPath("Dropped")); }));
    EXPECT_EQ(readFile(trackPath("Dropped")), expectedContent("d", 5000));
}

TEST_F(CommandTest, AChosenFolderIsStoredShownListedAndWatched)
{
    const std::string other = m_dir.file("other music");
    ::mkdir(other.c_str(), 0755);
    writeFile(other + "/there.mp3", "");
    std::vector<std::string> stored;
    m_adjustEnvironment = [&](MainWindowEnvironment& environment) {
        environment.writeDownloadFolder = [&](const std::string& folder) {
            stored.push_back(folder);
            return SettingResult::ok();
        };
    };
    openWindow();
    // The watcher watches the first folder by now.
    writeFile(trackPath("First"), "");
    ASSERT_TRUE(waitFor([&] { return shownFiles().size() == 1; }));
    m_prompts.folder = other;
    click(IDC_CHOOSE_FOLDER);
    EXPECT_THAT(stored, ElementsAre(other));
    ASSERT_TRUE(waitFor([&] { return shownFiles() == std::vector<std::string> {"there.mp3"}; }));
    EXPECT_EQ(m_window->controlAs<QLabel>(IDC_FOLDER_TEXT)->text().toStdString(), other.substr(0, 17) + "...");
    click(IDC_OPEN_FOLDER);
    clickFile(0, true);
    EXPECT_THAT(m_desktop.opened, ElementsAre(other, other + "/there.mp3")) << "what opens is in the chosen folder";
    // The watcher follows: tracks that arrive there, one after another, show up by
    // themselves (more of them than the reports the move itself brings).
    for (std::size_t arrived = 1; arrived <= 3; ++arrived) {
        writeFile(other + "/arrived-" + std::to_string(arrived) + ".mp3", "");
        ASSERT_TRUE(waitFor([&] { return shownFiles().size() == 1 + arrived; })) << arrived;
    }
}

// Settings that could not be read: the user hears so once, a track waits for a folder,
// and the folder chosen takes it at once, also when the settings cannot keep it.
TEST_F(CommandTest, WithoutAFolderATrackArrivesInTheOneChosenEvenWhenTheSettingsCannotKeepIt)
{
    m_config.strings.m_strDownloadFolder.clear();
    m_config.settingsNotice = "Quavero could not read its settings file";
    m_adjustEnvironment = [](MainWindowEnvironment& environment) {
        // Longer than the test may take: only the choice brings the next attempt.
        environment.workers.retryPause = std::chrono::hours(1);
        environment.writeDownloadFolder = [](const std::string&) { return SettingResult::failed("settings error 29"); };
    };
    queueOnDisk({{"a", "Track a", 20000}});
    openWindow();
    ASSERT_TRUE(waitFor([&] { return status() == "Folder Unavailable"; }));
    m_prompts.folder = m_dir.file("music");
    click(IDC_CHOOSE_FOLDER);
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(readFile(m_dir.file("music/Track a.mp3")), expectedContent("a", 20000));
    std::vector<std::string> told;
    for (const auto& asked : m_prompts.asked)
        told.push_back(asked.text);
    EXPECT_THAT(told, ElementsAre("Quavero could not read its settings file", HasSubstr("No download folder is chosen"),
                                  HasSubstr(m_dir.file("music") + "\nfrom now on, but Quavero could not keep it")));
}

// Not the track being downloaded, nor libcurl's connection to the store, held open as long as it runs.
TEST_F(CommandTest, WhatOpensOnTheDesktopInheritsNoDescriptorOfTheWindow)
{
    // Lists what it got, started through the platform's launcher as the desktop's opener is.
    struct ListingOpener : DesktopOpener {
        bool open(const std::string&) override { return startDetached("/bin/sh", {"-c", script, listing}); }
        std::string script = "ls /proc/self/fd > \"$0.part\" && mv \"$0.part\" \"$0\"", listing;
    } opener;
    opener.listing = m_dir.file("listing");
    m_adjustEnvironment = [&](MainWindowEnvironment& environment) { environment.desktop = &opener; };
    queueOnDisk({{"a", "Track a", 100000}});
    m_store.setStallAfter(50000);
    openWindow();
    ASSERT_TRUE(m_store.waitForStalls(1));
    click(IDC_OPEN_FOLDER);
    EXPECT_TRUE(waitFor([&] { return fs::exists(opener.listing); }));
    EXPECT_EQ(readFile(opener.listing), "0\n1\n2\n3\n") << "the standard three, and ls's own look at them";
}

TEST_F(CommandTest, ADoubleClickOnAListedFolderOpensTheFolderItself)
{
    const std::string album = m_config.strings.m_strDownloadFolder + "/Album.mp3";
    ASSERT_EQ(::mkdir(album.c_str(), 0755), 0);
    openWindow();
    ASSERT_TRUE(waitFor([&] { return shownFiles() == std::vector<std::string> {"[Album.mp3]"}; }));
    clickFile(0, true);
    EXPECT_THAT(m_desktop.opened, ElementsAre(album));
}

// Open Folder and a double click on a track are the chosen folder's test.
TEST_F(CommandTest, TheStoreAndATrackNamedInAnyBytesOpenOnTheDesktopAndTheWindowMinimizes)
{
    // A name that is not valid text is opened, and kept selected, by its bytes.
    const std::string latin1 = m_config.strings.m_strDownloadFolder + "/Caf\xe9.mp3";
    writeFile(latin1, "");
    openWindow();
    click(IDC_HOME_PAGE);
    ASSERT_TRUE(waitFor([&] { return shownFiles().size() == 1; }));
    clickFile(0);
    writeFile(trackPath("Zebra"), "");
    ASSERT_TRUE(waitFor([&] { return shownFiles().size() == 2; }));
    ASSERT_EQ(selectedFile(), 0) << "the selection survives the refresh";
    clickFile(0, true);
    EXPECT_THAT(m_desktop.opened, ElementsAre("http://" + m_store.hostPort() + "/", latin1));

    click(IDC_MINIMIZE);
    ASSERT_TRUE(waitFor([&] { return m_window->isMinimized(); }));
    m_window->messageSink().SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(m_window->isMinimized());
}

} // namespace
} // namespace qvr::test
