// The window's buttons and lists wired to the queue decisions (whose races are the
// controller's tests): what the user clicks reaches the real downloader, the disk and
// the desktop, and what they see follows.
#include "controls/image_button.h"
#include "platform/process_launch.h"

#include "tests/ui/window_fixture.h"


namespace qvr::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

class CommandTest : public WindowTest {
protected:
    QListView* queueList() const { return m_window->controlAs<QListView>(IDC_QUEUE_LIST); }
    void select(int row) { queueList()->setCurrentIndex(queueList()->model()->index(row, 0)); }
    void click(int id) { QTest::mouseClick(m_window->controlAs<QAbstractButton>(id), Qt::LeftButton); }
    std::vector<std::string> rows() const { return rowsOf(queueList()); }
};

// A second press finds nothing selected: it asks, and removes nothing more.
TEST_F(CommandTest, RemoveTakesTheSelectedTrackOnly)
{
    queueOnDisk({{"a", "Track a", 100000}, {"b", "Track b", 100000}, {"c", "Track c", 100000}});
    m_store.setStallAfter(50000);
    openWindow();
    ASSERT_TRUE(m_store.waitForStalls(1));
    select(1);
    click(IDC_REMOVE);
    click(IDC_REMOVE);
    EXPECT_THAT(rows(), ElementsAre("Track a", "Track c"));
    EXPECT_THAT(m_prompts.asked, ElementsAre(::testing::Field(&ScriptedPrompts::Asked::caption, "No track selected")));
}

// Clear, Remove and Pause stop the track being written within a chunk or so, on a
// store that sends as fast as it can, not once it is whole: by the downloader's
// report, a small part of the track has come after the command, and what came before stays.
// A command, the answer to the question it asks, and the status once it stopped the track
// (none: the list is empty).
struct StoppingCommand { const char* name; int button; int answer; const char* shownOnceStopped; };
class StoppingCommandTest : public CommandTest, public ::testing::WithParamInterface<StoppingCommand> {};

TEST_P(StoppingCommandTest, StopsTheTrackWhileItIsWritten)
{
    // Chunks of 5000 bytes, and room for the window's thread to be slow to click.
    constexpr std::uintmax_t kSize = 16 << 20, kFar = 64 * 5000;
    queueOnDisk({{"t", "Track", kSize}});
    openWindow();
    std::error_code error;
    ASSERT_TRUE(waitFor([&] { return fs::file_size(trackPath("Track"), error) > 0 && !error; }));
    select(0);
    m_prompts.answer = GetParam().answer;
    const std::uintmax_t atCommand = fs::file_size(trackPath("Track"));
    click(GetParam().button);
    const auto stopped = [&] { return GetParam().shownOnceStopped ? status() == GetParam().shownOnceStopped : rows().empty(); };
    const auto written = [&] { return fs::file_size(trackPath("Track")) - atCommand; };
    ASSERT_TRUE(waitFor([&] { return stopped() || written() > kFar; }));
    EXPECT_LE(written(), kFar) << "bytes written after the command";
    EXPECT_GE(fs::file_size(trackPath("Track")), atCommand) << "what came before it stays";
}

INSTANTIATE_TEST_SUITE_P(CommandTest, StoppingCommandTest, ::testing::Values(
    StoppingCommand {.name = "Clear", .button = IDC_CLEAR, .answer = IDYES, .shownOnceStopped = nullptr},
    StoppingCommand {.name = "Remove", .button = IDC_REMOVE, .answer = IDOK, .shownOnceStopped = nullptr},
    StoppingCommand {.name = "Pause", .button = IDC_PAUSE, .answer = IDOK, .shownOnceStopped = "Downloading Paused"}), kByName);

TEST_F(CommandTest, EverythingFollowsTheChosenFolder)
{
    const std::string other = m_dir.file("other music");
    ::mkdir(other.c_str(), 0755);
    writeFile(other + "/there.mp3", "");
    openWindow();
    // The watcher watches the first folder by now.
    writeFile(trackPath("First"), "");
    ASSERT_TRUE(waitFor([&] { return shownFiles().size() == 1; }));
    m_prompts.folder = other;
    click(IDC_CHOOSE_FOLDER);
    ASSERT_TRUE(waitFor([&] { return shownFiles() == std::vector<std::string> {"there.mp3"}; }));
    EXPECT_EQ(m_window->controlAs<QLabel>(IDC_FOLDER_TEXT)->text().toStdString(), other.substr(0, 17) + "...");
    click(IDC_OPEN_FOLDER);
    doubleClickFile(0);
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
    ASSERT_TRUE(waitFor([&] { return m_window->queue().isEmpty(); }));
    EXPECT_EQ(readFile(m_dir.file("music/Track a.mp3")), expectedContent("a", 20000));
    const auto told = [](const auto& text) { return ::testing::Field(&ScriptedPrompts::Asked::text, text); };
    EXPECT_THAT(m_prompts.asked, ElementsAre(told("Quavero could not read its settings file"),
                                             told(HasSubstr("No download folder is chosen")),
                                             told(HasSubstr(m_dir.file("music") + "\nfrom now on, but Quavero could not keep it"))));
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

// Open Folder and a double click on a track are the chosen folder's test. A listed
// folder opens as the folder itself, and a name that is not valid text by its bytes
// (a selection kept across a refresh is the list model's test).
TEST_F(CommandTest, TheStoreButtonOrADoubleClickedEntryOpensOnTheDesktop)
{
    const std::string album = m_config.strings.m_strDownloadFolder + "/Album.mp3";
    const std::string latin1 = m_config.strings.m_strDownloadFolder + "/Caf\xe9.mp3";
    ASSERT_EQ(::mkdir(album.c_str(), 0755), 0);
    writeFile(latin1, "");
    openWindow();
    click(IDC_HOME_PAGE);
    ASSERT_TRUE(waitFor([&] { return shownFiles().size() == 2; }));
    ASSERT_EQ(shownFiles().front(), "[Album.mp3]");
    doubleClickFile(0);
    doubleClickFile(1);
    EXPECT_THAT(m_desktop.opened, ElementsAre("http://" + m_store.hostPort() + "/", album, latin1));
}

TEST_F(CommandTest, TheMinimizeButtonMinimizesTheWindowUntilItIsRestored)
{
    openWindow();
    click(IDC_MINIMIZE);
    ASSERT_TRUE(waitFor([&] { return m_window->isMinimized(); }));
    m_window->messageSink().SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(m_window->isMinimized());
}

} // namespace
} // namespace qvr::test
