// The queue decisions of the main window, without a window, threads or a store: the
// races between the user's commands and the workers' reports, and the order of saves.
#include "tests/support/controller_fixture.h"
#include "tests/support/temp_dir.h"

#include <sys/stat.h>
#include <utime.h>

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>

namespace qvr::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(ControllerTest, ARequestIsOnDiskInOneQueueOrTheOtherAfterEverySave)
{
    // A kill may come right after any save: at each of them, every request taken
    // is in the raw-queue file or its track in the download-queue file.
    std::vector<std::pair<std::string, std::string>> taken;  // request, its track
    int saves = 0;
    store.afterSave = [&] {
        ++saves;
        for (const auto& [request, title] : taken)
            EXPECT_TRUE(std::ranges::count(store.rawQueue, request) + std::ranges::count(store.downloadQueue, title))
                << request << " is on disk nowhere at save " << saves;
    };
    startWith({"Old"});
    controller.LoadRawQueue();
    for (const auto& [request, title] : {std::pair("track=a", "A"), std::pair("track=old", "Old")}) {
        taken.emplace_back(request, title);
        ASSERT_TRUE(controller.AddRawEntry(request));
        resolved(title);
    }
    EXPECT_THAT(queued(), ElementsAre("Old", "A")) << "a track resolved twice is queued once";
    EXPECT_THAT(store.rawQueue, IsEmpty());
    EXPECT_GE(saves, 5);
}

TEST_F(ControllerTest, ARequestThatCannotBeSavedIsNotTakenAndTheUserIsToldOnce)
{
    // Before the raw entries are loaded (the update step), requests go to the file.
    EXPECT_TRUE(controller.AddRawEntry("track=early"));
    controller.SaveAtEnd();
    EXPECT_THAT(store.rawQueue, ElementsAre("track=early")) << "a list never loaded is not the file's content";
    store.full = true;
    EXPECT_FALSE(controller.OnCopyData("track=a"));
    controller.LoadRawQueue();
    EXPECT_FALSE(controller.OnCopyData("track=b"));
    EXPECT_FALSE(controller.AddRawEntry("track=c"));
    EXPECT_THAT(store.rawQueue, ElementsAre("track=early"));
    EXPECT_EQ(controller.rawEntries().GetCount(), 1u) << "nothing lives in memory only";
    store.full = false;
    EXPECT_TRUE(controller.AddRawEntry("track=d"));
    EXPECT_FALSE(controller.AddRawEntry("")) << "an empty request would be asked for forever";
    EXPECT_FALSE(controller.AddRawEntry("a\nb")) << "a line break cannot be kept";
    EXPECT_THAT(store.rawQueue, ElementsAre("track=early", "track=d"));
    EXPECT_EQ(view.warnings.size(), 1u);
}

TEST_F(ControllerTest, HandedOverRequestsWaitInTheInboxUntilTheRawQueueHoldsThem)
{
    TempDir dir;
    RequestInbox inbox(RequestInbox::FolderBeside(dir.file("raw.txt")));
    for (const char* text : {"track=1", "track=2", "track=3"})
        ASSERT_TRUE(inbox.Deposit(text));
    // What the folder may also hold: junk, and deposits a killed process cut short.
    writeFile(inbox.folder() + "/0-empty.req", "");
    for (const char* name : {"/.half.req.AbCdEf", "/.new.req.AbCdEf"})
        writeFile(inbox.folder() + name, "track=4");
    const utimbuf old {0, 0};
    ::utime((inbox.folder() + "/.half.req.AbCdEf").c_str(), &old);
    inbox.RemoveStaleTemporaries();

    controller.TakeHandOvers(inbox);
    EXPECT_THAT(store.rawQueue, IsEmpty()) << "not before the raw entries are loaded";
    controller.LoadRawQueue();
    store.full = true;
    controller.TakeHandOvers(inbox);
    EXPECT_EQ(inbox.Pending().size(), 3u) << "a request that cannot be kept stays";
    EXPECT_EQ(view.warnings.size(), 1u);
    store.full = false;
    // The hook after the save sees the file still there: a kill then keeps it twice,
    // never nowhere.
    store.afterSave = [&] { EXPECT_EQ(inbox.Pending().size() + store.rawQueue.size(), 4u); };
    controller.TakeHandOvers(inbox);
    EXPECT_THAT(store.rawQueue, ElementsAre("track=1", "track=2", "track=3")) << "in the order they came";
    EXPECT_THAT(gates.handed, ElementsAre("resolve"));
    EXPECT_THAT(inbox.Pending(), IsEmpty());
    EXPECT_TRUE(std::filesystem::exists(inbox.folder() + "/.new.req.AbCdEf")) << "a deposit under way stays";
    EXPECT_FALSE(std::filesystem::exists(inbox.folder() + "/.half.req.AbCdEf"));
    EXPECT_FALSE(std::filesystem::exists(inbox.folder() + "/0-empty.req"));
}

TEST_F(ControllerTest, ResolvedEntriesAreConsumedAndANetworkErrorHoldsDownloadsBack)
{
    controller.LoadRawQueue();
    controller.AddRawEntry("track=a");
    EXPECT_EQ(shared.m_strCurRawEntry, "track=a");
    resolved(nullptr, RSF_NETWORK_ERROR);
    EXPECT_EQ(controller.rawEntries().GetCount(), 1u) << "kept, and handed over again";
    startWith({"Queued"});
    controller.StartNextDownload();
    EXPECT_THAT(gates.handed, ElementsAre("resolve", "resolve")) << "no download while the store is out of reach";

    resolved(nullptr);  // an answer without a track
    EXPECT_TRUE(controller.rawEntries().IsEmpty());
    controller.AddRawEntry("track=b");
    resolved("B");
    EXPECT_THAT(gates.handed, ElementsAre("resolve", "resolve", "resolve", "download"));
    EXPECT_EQ(shared.m_strCurTitle, "Queued");
    EXPECT_THAT(view.rows, ElementsAre("Queued", "B"));
}

TEST_F(ControllerTest, RemoveAsksOnlyForTheHeadWhileNotPausedAndTheReportRemovesIt)
{
    startWith({"A", "B", "C"});
    controller.StartNextDownload();
    controller.Remove(-1);
    controller.Remove(2);
    EXPECT_THAT(store.downloadQueue, ElementsAre("A", "B")) << "another track goes at once, without a question";
    view.answer = IDCANCEL;
    controller.Remove(0);
    EXPECT_FALSE(shared.m_bCancelCurrent);
    view.answer = IDOK;
    controller.Remove(0);
    EXPECT_THAT(view.asked, ElementsAre("No track selected", "Remove Current Download?", "Remove Current Download?"));
    EXPECT_TRUE(shared.m_bCancelCurrent);
    EXPECT_THAT(queued(), ElementsAre("A", "B")) << "the downloader's report removes it";
    finished(DLF_CANCEL_CURRENT);
    EXPECT_THAT(queued(), ElementsAre("B"));
    EXPECT_FALSE(shared.m_bCancelCurrent);
    EXPECT_EQ(shared.m_strCurTitle, "B");

    controller.Pause();
    controller.Remove(0);
    EXPECT_EQ(view.asked.size(), 3u) << "paused, the head goes at once";
    EXPECT_THAT(store.downloadQueue, IsEmpty());
}

TEST_F(ControllerTest, ClearAsksAndActsAtOnceWhilePausedOrAtTheReport)
{
    controller.Clear();
    EXPECT_THAT(view.asked, IsEmpty()) << "an empty queue asks nothing";
    startWith({"A", "B"});
    controller.StartNextDownload();
    view.answer = IDNO;
    controller.Clear();
    EXPECT_FALSE(shared.m_bClearQueue);
    view.answer = IDYES;
    controller.Clear();
    EXPECT_THAT(view.asked, ElementsAre("Clear Download Queue?", "Clear Download Queue?"));
    EXPECT_EQ(queued().size(), 2u);
    finished(DLF_CLEAR_QUEUE);
    EXPECT_THAT(store.downloadQueue, IsEmpty());
    EXPECT_FALSE(shared.m_bClearQueue);
    EXPECT_EQ(view.status, "No Files in Queue");

    startWith({"C"});
    controller.Pause();
    controller.Clear();
    EXPECT_THAT(queued(), IsEmpty());
    EXPECT_THAT(store.downloadQueue, IsEmpty());
}

TEST_F(ControllerTest, ACancelOrClearWaitsOutAPauseAndAReportActsOnlyOnItsTrack)
{
    // Removes the head while `meanwhile` happens during the question.
    const auto removeHeadWhile = [&](std::function<void()> meanwhile) {
        view.whileAsking = std::move(meanwhile);
        controller.Remove(0);
        view.whileAsking = nullptr;
    };
    startWith({"A", "B", "C"});
    controller.StartNextDownload();
    // Paused while the question is open: the pause wins, the cancel waits.
    removeHeadWhile([&] { controller.Pause(); });
    finished(DLF_PAUSED | DLF_CANCEL_CURRENT);
    EXPECT_EQ(view.status, "Downloading Paused");
    EXPECT_THAT(queued(), ElementsAre("A", "B", "C"));
    EXPECT_TRUE(shared.m_bCancelCurrent);
    controller.Resume();
    finished(DLF_CANCEL_CURRENT);
    EXPECT_THAT(queued(), ElementsAre("B", "C"));

    // A cancel left pending by a pause goes with the track it was for.
    removeHeadWhile([&] { controller.Pause(); });
    finished(DLF_PAUSED);
    controller.Remove(0);
    EXPECT_FALSE(shared.m_bCancelCurrent) << "aimed at a track that has gone";
    EXPECT_THAT(queued(), ElementsAre("C"));

    // Paused, the head removed and resumed before the report: the track that then
    // finishes is not the head any more.
    startWith({"D", "E"});
    controller.Resume();
    EXPECT_EQ(shared.m_strCurTitle, "C");
    controller.Pause();
    controller.Remove(0);
    controller.Resume();
    finished(DLF_DONE);
    EXPECT_THAT(queued(), ElementsAre("D", "E"));

    // The track finishes, and the next one starts, while the question is open.
    removeHeadWhile([&] { finished(DLF_DONE); });
    EXPECT_THAT(queued(), ElementsAre("E"));
    EXPECT_FALSE(shared.m_bCancelCurrent) << "the answer is about the track that was asked";
}

TEST_F(ControllerTest, PauseAndResumeLatchTheirButtonsOnlyWithAQueue)
{
    controller.Pause();
    controller.Resume();
    EXPECT_EQ(view.latched, std::pair(false, false)) << "the clicks changed nothing, not even the looks";
    EXPECT_FALSE(shared.m_bPaused);
    EXPECT_EQ(view.status, "No Files in Queue");

    startWith({"A"});
    controller.Pause();
    EXPECT_EQ(view.latched, std::pair(false, true));
    EXPECT_EQ(view.status, "Downloading Paused") << "nothing runs: said at once";
    controller.StartNextDownload();
    EXPECT_THAT(gates.handed, IsEmpty());
    controller.Resume();
    EXPECT_EQ(view.latched, std::pair(true, false));
    EXPECT_THAT(gates.handed, ElementsAre("download"));
    view.status.clear();
    controller.Pause();
    EXPECT_EQ(view.status, "") << "the downloader says it once it has stopped";
    finished(DLF_PAUSED);
    EXPECT_EQ(view.status, "Downloading Paused");
    EXPECT_THAT(queued(), ElementsAre("A"));
    controller.Resume();
    finished(DLF_DONE);
    EXPECT_THAT(queued(), IsEmpty());
}

TEST_F(ControllerTest, ChoosingAFolderStoresItFirstThenMovesListAndWatcher)
{
    for (const auto& [chosen, result] : {std::pair("/other", 1L), {"/music", 0L}, {"", 0L}}) {
        view.chosen = chosen;
        folderWriteResult = result;
        controller.ChooseFolder();
    }
    EXPECT_THAT(folderWrites, ElementsAre("/other")) << "the same folder, or none, is not stored";
    EXPECT_EQ(controller.downloadFolder(), "/music") << "not kept, so not taken";
    EXPECT_EQ(gates.pokes, 0);

    shared.m_bFolderChanged = false;
    view.chosen = "/other";
    controller.ChooseFolder();
    EXPECT_EQ(controller.downloadFolder(), "/other");
    EXPECT_EQ(view.folderText, "/other");
    EXPECT_THAT(view.refreshes, ElementsAre("/other"));
    EXPECT_TRUE(shared.m_bFolderChanged);
    EXPECT_EQ(gates.pokes, 1);
}

TEST_F(ControllerTest, TheFileListIsRefreshedOnceADownloadAndTheWindowEndsWithTheLastWorker)
{
    controller.OnFolderChanged();
    startWith({"A", "B"});
    controller.StartNextDownload();
    for (int download = 0; download < 2; ++download) {
        controller.OnFolderChanged();
        controller.OnFolderChanged();
        finished(DLF_DONE);
    }
    EXPECT_EQ(view.refreshes.size(), 3u) << "once while each download writes";
    controller.OnFolderChanged();
    EXPECT_EQ(view.refreshes.size(), 4u) << "every time while none runs";

    EXPECT_FALSE(controller.OnThreadExited(THREAD_BIT_WATCHER | THREAD_BIT_RESOLVER));
    EXPECT_TRUE(controller.OnThreadExited(THREAD_BIT_DOWNLOADER));
    controller.LoadRawQueue();
    controller.AddRawEntry("track=a");
    store.rawQueue.clear();
    controller.OnSwitchQuit();
    controller.SaveAtEnd();
    EXPECT_THAT(store.rawQueue, IsEmpty()) << "the file is the newer instance's";
}

} // namespace
} // namespace qvr::test
