// The folder watcher reads the downloaded-files list for the window, off the window's
// thread, with a real folder, the window's queue decisions and a window played by the test.
#include "engine/messages.h"
#include "engine/worker_set.h"

#include "tests/support/controller_fixture.h"

#include <condition_variable>
#include <mutex>

namespace qvr::test {
namespace {

using ::testing::ElementsAre;

// Asks for the list again at every change report, as the window does while no
// download runs, and writes down the lists it is handed.
class ListingWindow final : public MessageSink {
public:
    std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        std::lock_guard lock(m_mutex);
        if (message == WM_FOLDER_CHANGED) {
            ++m_reports;
            workers->listDownloadedFiles();
        }
        if (message == WM_FILES_LISTED)
            lists.push_back(*msg::FilesListed::unpack({wParam, lParam}).value->entries);
        m_told.notify_all();
        return 0;
    }
    // Waits until `count` lists and `reports` change reports have come.
    bool waitFor(std::size_t count, int reports)
    {
        std::unique_lock lock(m_mutex);
        return m_told.wait_for(lock, std::chrono::seconds(30),
                               [&] { return lists.size() >= count && m_reports >= reports; });
    }
    WorkerSet* workers = nullptr;  // set before the watcher starts
    std::vector<std::vector<std::string>> lists;  // read once the watcher has ended

private:
    std::mutex m_mutex;
    std::condition_variable m_told;
    int m_reports = 0;
};

TEST(FolderWatcher, ReadsTheListAtOnceAndGathersTheChangesOfABurstIntoItsNextRead)
{
    TempDir dir;
    TempDir other;
    writeFile(dir.file("b.mp3"), "");
    Configuration configuration;
    configuration.strings.m_strDownloadFolder = dir.path();
    ListingWindow window;
    // No second read of a folder that keeps changing before an hour has passed.
    WorkerSet workers(window, configuration, {.listingInterval = std::chrono::hours(1)});
    window.workers = &workers;
    RecordingView view;
    MemoryStore store;
    QueueController controller(view, workers, workers.shared(), store, [](const std::string&) { return SettingResult::ok(); });
    workers.listDownloadedFiles();  // as the window's start asks
    workers.start(WorkerSet::Worker::FolderWatcher);
    ASSERT_TRUE(window.waitFor(1, 0)) << "read at once";

    for (const char* name : {"c.mp3", "A.mp3", "notes.txt", "d.mp3"})
        writeFile(dir.file(name), "");
    ASSERT_TRUE(window.waitFor(1, 1));
    // A folder chosen anew is read at once, and so is the first one chosen again,
    // with everything the burst made.
    view.chosen = other.path();
    controller.chooseDownloadFolder();
    ASSERT_TRUE(window.waitFor(2, 1));
    view.chosen = dir.path();
    controller.chooseDownloadFolder();
    ASSERT_TRUE(window.waitFor(3, 1));
    workers.requestStop();
    ASSERT_TRUE(workers.wait(std::chrono::seconds(30)));
    EXPECT_THAT(window.lists, ElementsAre(ElementsAre("b.mp3"), ElementsAre(), ElementsAre("A.mp3", "b.mp3", "c.mp3", "d.mp3")))
        << "the burst was read once";
}

} // namespace
} // namespace qvr::test
