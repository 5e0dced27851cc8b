// The queue decisions of the main window, without a window, threads or a store: the
// races between the user's commands and the workers' reports, and the order of saves.
#include "tests/support/controller_fixture.h"

namespace qvr::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Outcome = DownloadReport::Outcome;

// Titles repeat across albums: a track is its address, whatever installation asks.
TEST_F(WhileATrackDownloads, ATrackIsKnownByItsAddressNotByItsTitle)
{
    givenRequests({"track=a2", "track=a-again"});
    theResolverReports("A", ResolveReport::Outcome::Consumed, "http://store/A?from=album2");
    theResolverReports("A renamed", ResolveReport::Outcome::Consumed, "http://store/A?guid=OLD");
    EXPECT_THAT(store.downloadQueue, ElementsAre("A", "B", "C", "A"));
    controller.removeTrack(1);
    controller.removeTrack(1);
    // The first "A" finishes while Remove asks about it: the other "A" is not cancelled.
    whileTheBoxIsOpen([this] { theDownloaderReports({.outcome = Outcome::Done}); });
    controller.removeTrack(0);
    EXPECT_FALSE(shared.m_bCancelCurrent);
    EXPECT_THAT(queued(), ElementsAre("A"));
}

// Whether a track is queued follows every change of the queue: a track that left may
// come again, and one still there may not, even at the far end of a long queue or
// twice in a hand-edited file.
TEST_F(ControllerTest, ATrackIsADuplicateExactlyWhileItIsQueued)
{
    std::vector<std::string> titles {"Twice"};
    for (int i = 0; i < 1000; ++i)
        titles.push_back("T" + std::to_string(i));
    titles.push_back("Twice");
    givenAQueue(titles);
    controller.pauseDownloads();
    givenRequests({"track=1", "track=2", "track=3"});
    theResolverReports("T999");
    controller.removeTrack(0);
    theResolverReports("Twice");
    EXPECT_EQ(controller.queue().getCount(), 1001u);
    controller.removeTrack(1000);
    theResolverReports("Twice");
    EXPECT_EQ(controller.queue().getCount(), 1001u);
    EXPECT_EQ(controller.queue().getTail()->title, "Twice");
}

// The queue list is told each change where it is made: its rows stay the queue's.
TEST_F(WhileATrackDownloads, TheQueueListShowsEveryChangeInItsPlace)
{
    givenRequests({"track=d"});
    theResolverReports("D");
    EXPECT_THAT(view.rows, ElementsAre("A", "B", "C", "D"));
    theDownloaderReports({.outcome = Outcome::SetAside});
    controller.removeTrack(2);
    EXPECT_THAT(view.rows, ElementsAre("A", "B", "D"));
    theDownloaderReports({.outcome = Outcome::Done});
    EXPECT_THAT(view.rows, ElementsAre("A", "D"));
    controller.pauseDownloads();
    controller.clearQueue();
    EXPECT_THAT(view.rows, IsEmpty());
}

// A track or request failing for reasons of its own waits out its own pause in its
// place; those behind it go on, and only the track in download asks before Remove.
TEST_F(WhileATrackDownloads, ATrackSetAsideKeepsItsPlaceWhileTheTracksBehindItDownload)
{
    theDownloaderReports({.outcome = Outcome::SetAside});
    EXPECT_EQ(shared.m_strCurTitle, "B");
    EXPECT_THAT(view.rows, ElementsAre("A", "B", "C"));
    controller.removeTrack(1);
    controller.removeTrack(0);
    EXPECT_THAT(view.asked, ElementsAre("Remove Current Download?"));
    theDownloaderReports({.cancelled = true});
    EXPECT_THAT(store.downloadQueue, ElementsAre("C"));
}

TEST_F(ControllerTest, ATrackSetAsideIsTriedAgainWhenItsGrowingPauseEndsOrOnResume)
{
    givenAQueue({"A"});
    controller.StartNextDownload();
    theDownloaderReports({.outcome = Outcome::SetAside});
    EXPECT_THAT(gates.handed, ElementsAre("download"));
    const std::chrono::milliseconds first = view.waitRetry.value();
    now += first;
    controller.retryWaiting();
    theDownloaderReports({.outcome = Outcome::SetAside});
    EXPECT_GT(view.waitRetry.value(), first);
    controller.resumeDownloads();
    EXPECT_THAT(gates.handed, ElementsAre("download", "download", "download"));
}

// The window's timer may come a moment before the wait ends, and time goes on while
// the controller looks: the track still has a way back.
TEST_F(ControllerTest, ARetryThatComesAsTheWaitEndsLeavesTheTrackATimerOrTheDownloader)
{
    givenAQueue({"A"});
    controller.StartNextDownload();
    theDownloaderReports({.outcome = Outcome::SetAside});
    // The wait ends within the last millisecond of the pause asked for.
    now += view.waitRetry.value() - std::chrono::milliseconds(1);
    clockStep = std::chrono::milliseconds(1);
    view.waitRetry.reset();
    controller.retryWaiting();
    EXPECT_TRUE(gates.handed.size() == 2 || view.waitRetry.has_value());
}

TEST_F(ControllerTest, ARequestSetAsideHoldsNothingBehindItUntilResume)
{
    givenRequests({"track=long", "track=b"});
    theResolverReports(nullptr, ResolveReport::Outcome::SetAside);
    theResolverReports("B");
    EXPECT_THAT(gates.handed, ElementsAre("resolve", "resolve", "download"));
    EXPECT_THAT(linesOf(controller.rawEntries()), ElementsAre("track=long"));
    controller.resumeDownloads();
    EXPECT_EQ(shared.m_strCurRawEntry, "track=long");
}

TEST_F(ControllerTest, ARequestThatCannotBeSavedIsNotTakenAndTheEndSavesOnlyARawListItOwns)
{
    // Before the raw entries are loaded (the update step), requests go to the file.
    EXPECT_TRUE(controller.AddRawEntry("track=early"));
    controller.saveAtEnd();
    EXPECT_THAT(store.rawQueue, ElementsAre("track=early")) << "a list never loaded is not the file's content";
    store.failures = 1000; // the disk full
    EXPECT_FALSE(controller.onCopyData("track=a"));
    controller.LoadRawQueue();
    EXPECT_FALSE(controller.onCopyData("track=b"));
    EXPECT_FALSE(controller.AddRawEntry("track=c"));
    EXPECT_THAT(store.rawQueue, ElementsAre("track=early"));
    EXPECT_EQ(controller.rawEntries().getCount(), 1u) << "nothing lives in memory only";
    store.failures = 0;
    EXPECT_TRUE(controller.AddRawEntry("track=d"));
    EXPECT_FALSE(controller.AddRawEntry("")) << "an empty request would be asked for forever";
    EXPECT_FALSE(controller.AddRawEntry("a\nb")) << "a line break cannot be kept";
    EXPECT_THAT(store.rawQueue, ElementsAre("track=early", "track=d"));
    // The window ends with the last worker; after a take-over the file is the newer instance's.
    EXPECT_FALSE(controller.onThreadExited(THREAD_BIT_WATCHER | THREAD_BIT_RESOLVER));
    EXPECT_TRUE(controller.onThreadExited(THREAD_BIT_DOWNLOADER));
    store.rawQueue.clear();
    controller.onSwitchQuit();
    controller.saveAtEnd();
    EXPECT_THAT(store.rawQueue, IsEmpty());
}

TEST_F(ControllerTest, ARequestStaysOnDiskUntilItsTrackIsSaved)
{
    givenRequests({"track=a", "track=b"});
    store.failures = 1;  // the download queue's save
    theResolverReports("A");
    EXPECT_THAT(store.rawQueue, ElementsAre("track=a", "track=b"));
    EXPECT_THAT(queued(), ElementsAre("A")) << "the track downloads meanwhile";
    EXPECT_EQ(shared.m_strCurRawEntry, "track=b");
    EXPECT_THAT(view.warnings, ElementsAre(HasSubstr("/queues")));
    EXPECT_EQ(view.retriesAsked, 1);
    controller.retrySaves();
    EXPECT_THAT(store.downloadQueue, ElementsAre("A"));
    EXPECT_THAT(store.rawQueue, ElementsAre("track=b"));
}

TEST_F(WhileATrackDownloads, ASaveThatKeepsFailingIsToldOnceUntilEverythingIsSavedAgain)
{
    store.failures = 2;
    controller.removeTrack(2);
    controller.removeTrack(1);
    EXPECT_THAT(store.downloadQueue, ElementsAre("A", "B", "C"));
    EXPECT_EQ(view.warnings.size(), 1u);
    controller.saveAtEnd();
    EXPECT_THAT(store.downloadQueue, ElementsAre("A")) << "the end tries once more";
    store.failures = 1;
    controller.pauseDownloads();
    controller.removeTrack(0);
    EXPECT_EQ(view.warnings.size(), 2u) << "a new failure is news";
}

// The title of the last track tried, at its 0 %, would read as a download under way.
TEST_F(WhileATrackDownloads, WhenEveryTrackWaitsOutAFailureOfItsOwnTheStatusSaysSo)
{
    for (int track = 0; track < 3; ++track)
        theDownloaderReports({.outcome = Outcome::SetAside});
    EXPECT_EQ(view.status, "Waiting to Retry");
}

TEST_F(WhileATrackDownloads, AChangeInAFullFolderThatCannotBeMeasuredTriesTheTrackAgainAtOnce)
{
    controller.onFolderUnavailable("/music", ENOSPC);
    theDownloaderReports({.outcome = Outcome::FolderUnavailable});
    shared.m_retryDownloadNow = false;
    controller.onFolderChanged();
    EXPECT_TRUE(shared.m_retryDownloadNow);
}

TEST_F(WhileATrackDownloads, AFolderThatCannotTakeTheTrackIsToldOnceUntilATrackArrives)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        controller.onFolderUnavailable("/music", ENOENT);
        theDownloaderReports({.outcome = Outcome::FolderUnavailable});
    }
    EXPECT_THAT(queued(), ElementsAre("A", "B", "C"));
    EXPECT_EQ(view.status, "Folder Unavailable");
    EXPECT_THAT(view.warnings, ElementsAre(HasSubstr("/music\n")));
    theDownloaderReports({.outcome = Outcome::Done});
    controller.onFolderUnavailable("/music", ENOSPC);
    EXPECT_EQ(view.status, "Download Folder Full");
    EXPECT_EQ(view.warnings.size(), 2u);
}

TEST_F(ControllerTest, HandedOverRequestsWaitInTheInboxUntilTheRawQueueHoldsThem)
{
    TempDir dir;
    RequestInbox inbox(RequestInbox::folderBeside(dir.file("raw.txt")));
    for (const char* text : {"track=1", "track=2", "track=3"})
        ASSERT_TRUE(inbox.depositRequest(text));
    // What the folder may also hold: junk (a deposit a killed process cut short is the
    // window's start's test).
    writeFile(inbox.folder() + "/0-empty.req", "");

    controller.takeHandOvers(inbox);
    EXPECT_THAT(store.rawQueue, IsEmpty()) << "not before the raw entries are loaded";
    controller.LoadRawQueue();
    store.failures = 1;
    controller.takeHandOvers(inbox);
    EXPECT_EQ(inbox.pendingLetters().size(), 3u) << "a request that cannot be kept stays, and those behind it wait";
    EXPECT_EQ(view.warnings.size(), 1u);
    // The hook after the save sees the file still there: a kill then keeps it twice,
    // never nowhere.
    store.afterSave = [&] { EXPECT_EQ(inbox.pendingLetters().size() + store.rawQueue.size(), 4u); };
    controller.takeHandOvers(inbox);
    EXPECT_THAT(store.rawQueue, ElementsAre("track=1", "track=2", "track=3")) << "in the order they came";
    EXPECT_THAT(gates.handed, ElementsAre("resolve"));
    EXPECT_THAT(inbox.pendingLetters(), IsEmpty());
    EXPECT_FALSE(std::filesystem::exists(inbox.folder() + "/0-empty.req"));
}

// A long queue drained one track at a time, the resolver ahead of the downloader:
// what a kill could only make happen again (a track downloaded, a request resolved)
// is saved in few whole writes, and still, after every save, every request is on
// disk in one queue file or the other, and every track handed to the downloader is
// in the download-queue file.
TEST_F(ControllerTest, ADrainMergesItsSavesWithoutLeavingARequestOffDisk)
{
    constexpr int kRequests = 256;
    for (int i = 0; i < kRequests; ++i)
        store.rawQueue.push_back("track=" + std::to_string(i));
    controller.LoadRawQueue();
    int saves = 0;
    int downloaded = 0;
    // A kill may come right after any save.
    store.afterSave = [&] {
        ++saves;
        for (int i = 0; i < kRequests; ++i)
            EXPECT_TRUE(i < downloaded || std::ranges::count(store.rawQueue, "track=" + std::to_string(i))
                        || std::ranges::count(store.downloadQueue, "T" + std::to_string(i)))
                << i << " is on disk nowhere at save " << saves;
    };
    const auto check = [&] {
        EXPECT_EQ(std::ranges::count(store.downloadQueue, shared.m_strCurTitle), 1) << "fetched, not on disk";
    };
    controller.StartNextResolve();
    for (int i = 0; i < kRequests; ++i) {
        theResolverReports(("T" + std::to_string(i)).c_str());
        check();
        if (i % 2 == 1) {
            ++downloaded;
            theDownloaderReports({.outcome = Outcome::Done});
            check();
        }
    }
    EXPECT_LT(saves, kRequests) << "not one save per change";
    EXPECT_GT(view.retriesAsked, 0) << "what waits is saved once the lists are quiet";
    controller.retrySaves();
    EXPECT_EQ(store.downloadQueue, queued());
    EXPECT_TRUE(store.rawQueue.empty());
    // The user's own removal is saved at once.
    store.afterSave = nullptr;
    controller.removeTrack(3);
    EXPECT_EQ(store.downloadQueue, queued());
}

TEST_F(ControllerTest, ANetworkErrorOfTheResolverHoldsDownloadsBackUntilItsNextAnswerThoughThatBringsNoTrack)
{
    givenAQueue({"Queued"});
    givenRequests({"track=gone"});
    theResolverReports(nullptr, ResolveReport::Outcome::NetworkError);
    controller.StartNextDownload();
    EXPECT_THAT(gates.handed, ElementsAre("resolve", "resolve"));
    theResolverReports(nullptr, ResolveReport::Outcome::Refused);
    EXPECT_THAT(gates.handed, ElementsAre("resolve", "resolve", "download"));
}

TEST_F(WhileATrackDownloads, RemoveWithNoTrackChosenOnlyAsksForOne)
{
    controller.removeTrack(-1);
    EXPECT_THAT(view.asked, ElementsAre("No track selected"));
    EXPECT_THAT(queued(), ElementsAre("A", "B", "C"));
}

// Only the track in download stops first; the user's removal is on disk at once.
TEST_F(WhileATrackDownloads, ATrackNotInDownloadIsRemovedWithoutAsking)
{
    controller.removeTrack(1);
    EXPECT_THAT(view.asked, IsEmpty());
    EXPECT_FALSE(shared.m_bCancelCurrent);
    EXPECT_THAT(store.downloadQueue, ElementsAre("A", "C"));
}

TEST_F(WhileATrackDownloads, AClearWhilePausedEmptiesTheQueueOnDiskAtOnce)
{
    controller.pauseDownloads();
    controller.clearQueue();
    EXPECT_FALSE(shared.m_bClearQueue);
    EXPECT_THAT(store.downloadQueue, IsEmpty());
}

TEST_F(WhileATrackDownloads, ARemoveOrClearDeclinedChangesNothing)
{
    view.answer = false;  // Cancel
    controller.removeTrack(0);
    view.answer = false;  // No
    controller.clearQueue();
    EXPECT_THAT(view.asked, ElementsAre("Remove Current Download?", "Clear Download Queue?"));
    EXPECT_FALSE(shared.m_bCancelCurrent);
    EXPECT_FALSE(shared.m_bClearQueue);
    EXPECT_THAT(queued(), ElementsAre("A", "B", "C"));
}

TEST_F(WhileATrackDownloads, RemoveOfItOrClearConfirmedActsOnceTheDownloaderReportsIt)
{
    controller.removeTrack(0);
    EXPECT_TRUE(shared.m_bCancelCurrent);
    theDownloaderReports({.cancelled = true});
    EXPECT_THAT(queued(), ElementsAre("B", "C"));
    EXPECT_FALSE(shared.m_bCancelCurrent);
    controller.clearQueue();
    EXPECT_TRUE(shared.m_bClearQueue);
    theDownloaderReports({.cleared = true});
    EXPECT_THAT(store.downloadQueue, IsEmpty());
    EXPECT_FALSE(shared.m_bClearQueue);
    EXPECT_EQ(view.status, "No Files in Queue");
}

TEST_F(WhileATrackDownloads, ACancelOrClearWhoseTrackWasRemovedWhilePausedAimsAtNothing)
{
    controller.clearQueue();
    whileTheBoxIsOpen([this] { controller.pauseDownloads(); });
    controller.removeTrack(0);
    controller.removeTrack(0);
    EXPECT_FALSE(shared.m_bCancelCurrent);
    EXPECT_FALSE(shared.m_bClearQueue);
    theDownloaderReports({.cleared = true});
    EXPECT_THAT(queued(), ElementsAre("B", "C"));
}

TEST_F(WhileATrackDownloads, APauseWhileRemoveAsksHoldsTheCancelUntilResume)
{
    whileTheBoxIsOpen([this] { controller.pauseDownloads(); });
    controller.removeTrack(0);
    EXPECT_EQ(view.status, "");
    theDownloaderReports({.paused = true, .cancelled = true});
    EXPECT_EQ(view.status, "Downloading Paused");
    EXPECT_THAT(queued(), ElementsAre("A", "B", "C"));
    controller.resumeDownloads();
    theDownloaderReports({.cancelled = true});
    EXPECT_THAT(queued(), ElementsAre("B", "C"));
}

// Pause and Resume pressed in quick succession: the downloader's late report of the
// pause holds nothing up, and the track it stopped is handed to it again.
TEST_F(WhileATrackDownloads, APauseLiftedBeforeTheDownloaderStoppedForItHoldsNothingUp)
{
    controller.pauseDownloads();
    controller.resumeDownloads();
    theDownloaderReports({.paused = true});
    EXPECT_NE(view.status, "Downloading Paused");
    EXPECT_THAT(gates.handed, ElementsAre("download", "download"));
}

TEST_F(ControllerTest, PauseHoldsTheQueueBackUntilResume)
{
    givenAQueue({"A"});
    controller.pauseDownloads();
    controller.StartNextDownload();
    EXPECT_EQ(view.latched, std::pair(false, true));
    EXPECT_EQ(view.status, "Downloading Paused");
    EXPECT_THAT(gates.handed, IsEmpty());
    controller.resumeDownloads();
    EXPECT_EQ(view.latched, std::pair(true, false));
    EXPECT_THAT(gates.handed, ElementsAre("download"));
}

TEST_F(ControllerTest, OnAnEmptyQueuePauseResumeOrClearDoNothing)
{
    controller.pauseDownloads();
    controller.resumeDownloads();
    controller.clearQueue();
    EXPECT_EQ(view.latched, std::pair(false, false));
    EXPECT_THAT(view.asked, IsEmpty());
    givenAQueue({"A"});
    controller.StartNextDownload();
    EXPECT_THAT(gates.handed, ElementsAre("download")) << "nothing held back";
}

// Settings that cannot be written must not keep the user's choice from the window.
TEST_F(ControllerTest, AChosenFolderTheSettingsCannotKeepIsStillUsed)
{
    folderWriteResult = SettingResult::failed("settings error 29");
    for (const char* chosen : {"/other", "/other", ""}) {
        view.chosen = chosen;
        controller.chooseDownloadFolder();
    }
    EXPECT_EQ(controller.downloadFolder(), "/other");
    EXPECT_EQ(view.folderText, "/other");
    EXPECT_THAT(view.refreshes, ElementsAre("/other"));
    EXPECT_EQ(gates.pokes, 1);
    EXPECT_THAT(view.warnings, ElementsAre(::testing::AllOf(HasSubstr("/other\n"), HasSubstr("(settings error 29)"))))
        << "once: the folder in use chosen again is no choice";
    folderWriteResult = SettingResult::ok();
    view.chosen = "/music";
    controller.chooseDownloadFolder();
    EXPECT_THAT(folderWrites, ElementsAre("/other", "/music"));
    EXPECT_EQ(controller.downloadFolder(), "/music");
    EXPECT_EQ(view.warnings.size(), 1u);
}

// On a slow stick a track takes seconds: the tracks done are saved a few at a time,
// not the whole file once a track, and the track in download stays on disk.
TEST_F(ControllerTest, ASlowDrainSavesTheTracksItFinishesAFewAtATime)
{
    std::vector<std::string> titles;
    for (int i = 0; i < 100; ++i)
        titles.push_back("T" + std::to_string(i));
    givenAQueue(titles);
    int saves = 0;
    store.afterSave = [&] { ++saves; };
    controller.StartNextDownload();
    std::optional<std::chrono::steady_clock::time_point> saveDue;  // the view's timer
    for (int track = 0; track < 10; ++track) {
        now += std::chrono::seconds(5);
        if (saveDue && now >= *saveDue) {
            saveDue.reset();
            controller.retrySaves();
        }
        view.saveRetry.reset();
        theDownloaderReports({.outcome = Outcome::Done});
        if (view.saveRetry)
            saveDue = now + *view.saveRetry;
        EXPECT_EQ(std::ranges::count(store.downloadQueue, shared.m_strCurTitle), 1) << "fetched, not on disk";
    }
    EXPECT_LE(saves, 2);
}

} // namespace
} // namespace qvr::test
