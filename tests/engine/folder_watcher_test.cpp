// The folder watcher keeps the window's downloaded-files list, off the window's thread,
// with a real folder, the window's queue decisions and a window played by the test.
#include "engine/file_list.h"
#include "engine/messages.h"
#include "engine/worker_set.h"

#include "tests/support/controller_fixture.h"

#include <fcntl.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

namespace qvr::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAreArray;

// Keeps the list as the window does: whole lists in place of its own, changes taken
// in. Reports can be held until the test lets them go.
class ListingWindow final : public MessageSink {
public:
    std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        std::unique_lock lock(m_mutex);
        m_holding = m_hold;
        m_told.notify_all();
        m_told.wait(lock, [&] { return !m_hold; });
        m_holding = false;
        if (message == WM_FOLDER_CHANGED)
            if (const msg::FolderChange* change = msg::FolderChanged::unpack({wParam, lParam}).value; change->changes)
                change->changes->applyTo(list);
        if (message == WM_FILES_LISTED) {
            ++wholeReads;
            list = *msg::FilesListed::unpack({wParam, lParam}).value->entries;
        }
        m_told.notify_all();
        return 0;
    }
    // Until the list shows what scanDownloadedFiles() reads in `folder` (after one whole read at least).
    bool waitForListOf(const std::string& folder)
    {
        const std::vector<std::string> expected = rowsOf(scanDownloadedFiles(folder));
        std::unique_lock lock(m_mutex);
        return m_told.wait_for(lock, std::chrono::seconds(30), [&] { return wholeReads > 0 && rowsOf(list) == expected; });
    }
    void hold(bool hold)
    {
        std::lock_guard lock(m_mutex);
        m_hold = hold;
        m_told.notify_all();
    }
    // Until a report is held.
    bool waitForHeld()
    {
        std::unique_lock lock(m_mutex);
        return m_told.wait_for(lock, std::chrono::seconds(30), [&] { return m_holding; });
    }

    FileList list;       // read once the watcher has ended
    int wholeReads = 0;  // likewise

private:
    bool m_hold = false;
    bool m_holding = false;
    std::mutex m_mutex;
    std::condition_variable m_told;
};

class FolderWatcherTest : public ::testing::Test {
protected:
    void start()
    {
        configuration.strings.m_strDownloadFolder = dir.path();
        workers.emplace(window, configuration, WorkerSettings {});
        workers->listDownloadedFiles();  // as the window's start asks
        workers->start(WorkerSet::Worker::FolderWatcher);
    }
    void stop()
    {
        window.hold(false);
        workers->requestStop();
        EXPECT_TRUE(workers->wait(std::chrono::seconds(30)));
    }
    void TearDown() override { stop(); }

    TempDir dir, outside;
    Configuration configuration;
    ListingWindow window;
    std::optional<WorkerSet> workers;
};

TEST_F(FolderWatcherTest, NamesThatComeGoOrMoveChangeTheirRowsWithoutAWholeRead)
{
    writeFile(dir.file("b.mp3"), "");
    writeFile(dir.file("c.mp3"), "");
    writeFile(outside.file("moved in.MP3"), "");
    start();
    ASSERT_TRUE(window.waitForListOf(dir.path()));
    writeFile(dir.file("A.mp3"), "");
    writeFile(dir.file("notes.txt"), "");
    fs::create_directory(dir.file("album.mp3"));
    writeFile(dir.file("album.mp3/deep.mp3"), "");
    fs::rename(outside.file("moved in.MP3"), dir.file("moved in.MP3"));
    fs::rename(dir.file("b.mp3"), outside.file("b.mp3"));
    fs::rename(dir.file("c.mp3"), dir.file("c.mp3.txt"));
    fs::create_symlink(dir.file("album.mp3"), dir.file("link.mp3"));
    ASSERT_TRUE(window.waitForListOf(dir.path()));
    stop();
    EXPECT_THAT(rowsOf(window.list), ElementsAreArray({"[album.mp3]", "[link.mp3]", "A.mp3", "moved in.MP3"}));
    EXPECT_EQ(window.wholeReads, 1) << "only the start reads the folder whole";
}

// The kernel keeps so many events for a watch, and drops the rest: then nothing but a
// whole read can tell what is in the folder.
TEST_F(FolderWatcherTest, AfterTheKernelDroppedEventsTheFolderIsReadWhole)
{
    std::size_t most = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> most;
    if (most == 0 || most > 100000)
        GTEST_SKIP() << "the kernel keeps " << most << " events";
    // The watch is set up, and its first read waits while more names come than
    // the kernel keeps.
    window.hold(true);
    start();
    ASSERT_TRUE(window.waitForHeld());
    for (std::size_t i = 0; i <= most; ++i)
        ::close(::open(dir.file(std::to_string(i) + ".mp3").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    window.hold(false);
    ASSERT_TRUE(window.waitForListOf(dir.path()));
    stop();
    EXPECT_EQ(window.list.size(), most + 1);
    EXPECT_EQ(window.wholeReads, 2);
}

} // namespace
} // namespace qvr::test
