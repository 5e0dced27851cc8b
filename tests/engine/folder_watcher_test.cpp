// The folder watcher reads the downloaded-files list for the window, off the window's
// thread, with a real folder and a window played by the test.
#include "engine/messages.h"
#include "engine/workers.h"
#include "platform/folder_watch.h"

#include "tests/support/common.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace qvr::test {
namespace {

using ::testing::ElementsAre;

// Asks for the list again at every change report, as the window does while no
// download runs, and writes down the lists it is handed.
class ListingWindow final : public MessageSink {
public:
    explicit ListingWindow(WorkerShared& shared) : m_shared(shared) {}

    std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        std::lock_guard lock(m_mutex);
        if (message == WM_FOLDER_CHANGED) {
            ++m_reports;
            m_shared.m_bListFiles = true;
        }
        if (message == WM_FILES_LISTED)
            m_lists.push_back(*msg::FilesListed::unpack({wParam, lParam}).value->entries);
        m_told.notify_all();
        return 0;
    }
    // Waits until `count` lists and `reports` change reports have come.
    bool waitFor(std::size_t count, int reports)
    {
        std::unique_lock lock(m_mutex);
        return m_told.wait_for(lock, std::chrono::seconds(30),
                               [&] { return m_lists.size() >= count && m_reports >= reports; });
    }
    std::vector<std::vector<std::string>> lists() const
    {
        std::lock_guard lock(m_mutex);
        return m_lists;
    }

private:
    WorkerShared& m_shared;
    mutable std::mutex m_mutex;
    std::condition_variable m_told;
    std::vector<std::vector<std::string>> m_lists;
    int m_reports = 0;
};

TEST(FolderWatcher, ReadsTheListAtOnceAndGathersTheChangesOfABurstIntoItsNextRead)
{
    TempDir dir;
    writeFile(dir.file("b.mp3"), "");
    Configuration configuration;
    configuration.strings.m_strDownloadFolder = dir.path();
    WorkerShared shared(configuration);
    // No second read of a folder that keeps changing before this has passed.
    shared.m_listingInterval = std::chrono::hours(1);
    FolderWatch watch(FolderWatch::Limits {1, 0}, FolderWatch::Changes::Names);
    ListingWindow window(shared);
    shared.m_bListFiles = true;  // as the window's start asks
    std::thread watcher([&] { FolderWatcher(window, shared, watch); });
    ASSERT_TRUE(window.waitFor(1, 0));
    EXPECT_THAT(window.lists()[0], ElementsAre("b.mp3")) << "read at once";

    for (const char* name : {"c.mp3", "A.mp3", "notes.txt", "d.mp3"})
        writeFile(dir.file(name), "");
    ASSERT_TRUE(window.waitFor(1, 1));
    // The folder chosen anew is read at once, with everything the burst made.
    shared.m_bFolderChanged = true;
    watch.poke();
    ASSERT_TRUE(window.waitFor(2, 1));
    shared.m_bStopThreads = true;
    watch.poke();
    watcher.join();
    EXPECT_THAT(window.lists(), ElementsAre(ElementsAre("b.mp3"), ElementsAre("A.mp3", "b.mp3", "c.mp3", "d.mp3")))
        << "the burst was read once";
}

} // namespace
} // namespace qvr::test
