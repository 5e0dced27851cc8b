// The queue decisions of the main window, without a window, threads or a store: the
// races between the user's commands and the workers' reports, and the order of saves.
#include "tests/support/controller_fixture.h"

namespace qvr::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
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

TEST_F(ControllerTest, ARequestThatCannotBeSavedIsNotTakenAndTheEndSavesOnlyARawListItOwns)
{
    // Before the raw entries are loaded (the update step), requests go to the file.
    EXPECT_TRUE(controller.AddRawEntry("track=early"));
    controller.SaveAtEnd();
    EXPECT_THAT(store.rawQueue, ElementsAre("track=early")) << "a list never loaded is not the file's content";
    store.failures = 1000; // the disk full
    EXPECT_FALSE(controller.OnCopyData("track=a"));
    controller.LoadRawQueue();
    EXPECT_FALSE(controller.OnCopyData("track=b"));
    EXPECT_FALSE(controller.AddRawEntry("track=c"));
    EXPECT_THAT(store.rawQueue, ElementsAre("track=early"));
    EXPECT_EQ(controller.rawEntries().GetCount(), 1u) << "nothing lives in memory only";
    store.failures = 0;
    EXPECT_TRUE(controller.AddRawEntry("track=d"));
    EXPECT_FALSE(controller.AddRawEntry("")) << "an empty request would be asked for forever";
    EXPECT_FALSE(controller.AddRawEntry("a\nb")) << "a line break cannot be kept";
    EXPECT_THAT(store.rawQueue, ElementsAre("track=early", "track=d"));
    // The window ends with the last worker; after a take-over the file is the newer instance's.
    EXPECT_FALSE(controller.OnThreadExited(THREAD_BIT_WATCHER | THREAD_BIT_RESOLVER));
    EXPECT_TRUE(controller.OnThreadExited(THREAD_BIT_DOWNLOADER));
    store.rawQueue.clear();
    controller.OnSwitchQuit();
    controller.SaveAtEnd();
    EXPECT_THAT(store.rawQueue, IsEmpty());
}

TEST_F(ControllerTest, ARequestWhoseTrackCouldNotBeSavedStaysOnDiskAndIsNotAskedForAgain)
{
    controller.LoadRawQueue();
    ASSERT_TRUE(controller.AddRawEntry("track=a"));
    ASSERT_TRUE(controller.AddRawEntry("track=b"));
    store.failures = 1;  // the download queue's save
    resolved("A");
    EXPECT_THAT(store.rawQueue, ElementsAre("track=a", "track=b"));
    EXPECT_THAT(queued(), ElementsAre("A")) << "the track downloads meanwhile";
    EXPECT_EQ(shared.m_strCurRawEntry, "track=b");
    EXPECT_THAT(view.warnings, ElementsAre(HasSubstr("/queues")));
    EXPECT_EQ(view.retriesAsked, 1);
    controller.RetrySaves();
    EXPECT_THAT(store.downloadQueue, ElementsAre("A"));
    EXPECT_THAT(store.rawQueue, ElementsAre("track=b"));
}

TEST_F(ControllerTest, ASaveThatKeepsFailingIsToldOnceUntilEverythingIsSavedAgain)
{
    startWith({"A", "B", "C"});
    store.failures = 2;
    controller.Remove(2);
    controller.Remove(1);
    EXPECT_THAT(store.downloadQueue, ElementsAre("A", "B", "C"));
    EXPECT_EQ(view.warnings.size(), 1u);
    controller.SaveAtEnd();
    EXPECT_THAT(store.downloadQueue, ElementsAre("A")) << "the end tries once more";
    store.failures = 1;
    controller.Pause();
    controller.Remove(0);
    EXPECT_EQ(view.warnings.size(), 2u) << "a new failure is news";
}

TEST_F(ControllerTest, AFolderThatCannotTakeTheTrackKeepsTheQueueAndIsToldOnceUntilATrackArrives)
{
    startWith({"A", "B"});
    controller.StartNextDownload();
    for (int attempt = 0; attempt < 3; ++attempt) {
        controller.OnFolderUnavailable("/music", ENOENT);
        finished(DLF_FOLDER_UNAVAILABLE);
    }
    EXPECT_THAT(queued(), ElementsAre("A", "B"));
    EXPECT_EQ(view.status, "Download Folder Unavailable");
    EXPECT_THAT(view.warnings, ElementsAre(HasSubstr("/music\n")));
    finished(DLF_DONE);
    controller.OnFolderUnavailable("/music", ENOSPC);
    EXPECT_EQ(view.status, "Download Folder Full");
    EXPECT_EQ(view.warnings.size(), 2u);
}

TEST_F(ControllerTest, HandedOverRequestsWaitInTheInboxUntilTheRawQueueHoldsThem)
{
    TempDir dir;
    RequestInbox inbox(RequestInbox::FolderBeside(dir.file("raw.txt")));
    for (const char* text : {"track=1", "track=2", "track=3"})
        ASSERT_TRUE(inbox.Deposit(text));
    // What the folder may also hold: junk (a deposit a killed process cut short is the
    // window's start's test).
    writeFile(inbox.folder() + "/0-empty.req", "");

    controller.TakeHandOvers(inbox);
    EXPECT_THAT(store.rawQueue, IsEmpty()) << "not before the raw entries are loaded";
    controller.LoadRawQueue();
    store.failures = 1;
    controller.TakeHandOvers(inbox);
    EXPECT_EQ(inbox.Pending().size(), 3u) << "a request that cannot be kept stays, and those behind it wait";
    EXPECT_EQ(view.warnings.size(), 1u);
    // The hook after the save sees the file still there: a kill then keeps it twice,
    // never nowhere.
    store.afterSave = [&] { EXPECT_EQ(inbox.Pending().size() + store.rawQueue.size(), 4u); };
    controller.TakeHandOvers(inbox);
    EXPECT_THAT(store.rawQueue, ElementsAre("track=1", "track=2", "track=3")) << "in the order they came";
    EXPECT_THAT(gates.handed, ElementsAre("resolve"));
    EXPECT_THAT(inbox.Pending(), IsEmpty());
    EXPECT_FALSE(std::filesystem::exists(inbox.folder() + "/0-empty.req"));
}

// A long queue drained one track at a time, the resolver ahead of the downloader:
// what a kill could only make happen again (a track downloaded, a request resolved)
// is saved in few whole writes, and still every request is on disk, and every track
// handed to the downloader is in the download-queue file.
TEST_F(ControllerTest, ADrainMergesItsSavesAndKeepsEveryRequestAndEveryFetchedTrackOnDisk)
{
    constexpr int kRequests = 256;
    for (int i = 0; i < kRequests; ++i)
        store.rawQueue.push_back("track=" + std::to_string(i));
    controller.LoadRawQueue();
    int saves = 0;
    int downloaded = 0;
    store.afterSave = [&] { ++saves; };
    const auto check = [&](int resolvedSoFar) {
        for (int i = 0; i < resolvedSoFar; ++i)
            EXPECT_TRUE(i < downloaded || std::ranges::count(store.rawQueue, "track=" + std::to_string(i))
                        || std::ranges::count(store.downloadQueue, "T" + std::to_string(i)))
                << i << " is on disk nowhere";
        EXPECT_EQ(std::ranges::count(store.downloadQueue, shared.m_strCurTitle), 1) << "fetched, not on disk";
    };
    controller.StartNextResolve();
    for (int i = 0; i < kRequests; ++i) {
        resolved(("T" + std::to_string(i)).c_str());
        check(i + 1);
        if (i % 2 == 1) {
            finished(DLF_DONE);
            ++downloaded;
            check(i + 1);
        }
    }
    EXPECT_LT(saves, kRequests) << "not one save per change";
    EXPECT_GT(view.retriesAsked, 0) << "what waits is saved once the lists are quiet";
    controller.RetrySaves();
    EXPECT_EQ(store.downloadQueue, queued());
    EXPECT_TRUE(store.rawQueue.empty());
    // The user's own removal is saved at once.
    controller.Remove(3);
    EXPECT_EQ(store.downloadQueue, queued());
}

std::vector<std::string> split(std::string_view text, std::string_view by)
{
    std::vector<std::string> parts;
    while (!text.empty()) {
        const std::size_t end = text.find(by);
        parts.emplace_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + by.size());
    }
    return parts;
}

// The user's commands and the workers' reports in the order a scenario gives them,
// as "verb argument" steps (lists comma-separated), with checks of what the user sees
// and what the workers are told in between.
class Scenario : public ControllerTest, public ::testing::WithParamInterface<const char*> {
protected:
    void run(const std::string& step)
    {
        SCOPED_TRACE(step);
        const std::size_t space = step.find(' ');
        const std::string verb = step.substr(0, space), arg = space == std::string::npos ? "" : step.substr(space + 1);
        const std::vector<std::string> list = split(arg, ",");
        const std::map<std::string, std::function<void()>> steps {
            {"load", [&] { startWith(list); }},
            {"raw", [&] { controller.LoadRawQueue(); }},
            {"add", [&] { EXPECT_TRUE(controller.AddRawEntry(arg)); }},
            {"start", [&] { controller.StartNextDownload(); }},
            {"remove", [&] { controller.Remove(std::stoi(arg)), view.whileAsking = nullptr; }},
            {"clear", [&] { controller.Clear(), view.whileAsking = nullptr; }},
            {"pause", [&] { controller.Pause(); }},
            {"resume", [&] { controller.Resume(); }},
            {"answer", [&] { view.answer = std::map<std::string, int> {{"ok", IDOK}, {"cancel", IDCANCEL},
                                                                        {"yes", IDYES}, {"no", IDNO}}.at(arg); }},
            {"during", [&] { view.whileAsking = [this, arg] { run(arg); }; }},  // the next question
            {"finished", [&] { finished(flags(arg)); }},
            {"resolved", [&] { resolved(arg.empty() ? nullptr : arg.c_str()); }},
            {"offline", [&] { resolved(nullptr, RSF_NETWORK_ERROR); }},
            {"writes", [&] { folderWriteResult = arg == "fail"; }},
            {"choose", [&] { view.chosen = arg, controller.ChooseFolder(); }},
            {"watched", [&] { shared.m_bFolderChanged = false; }},
            {"changed", [&] { controller.OnFolderChanged(); }},
            {"forget", [&] { view.status.clear(); }},
            // What the user sees.
            {"queue", [&] { EXPECT_EQ(queued(), list); }},
            {"rows", [&] { EXPECT_EQ(view.rows, list); }},
            {"status", [&] { EXPECT_EQ(view.status, arg); }},
            {"asked", [&] { EXPECT_EQ(captionsAsked(), list); }},
            {"latched", [&] { EXPECT_EQ(view.latched, std::pair(arg.starts_with("resume"), arg.ends_with("pause"))); }},
            {"shown", [&] { EXPECT_EQ(view.folderText, arg); }},
            {"refreshes", [&] { EXPECT_EQ(view.refreshes, list); }},
            // What is kept, and what the workers are told.
            {"disk", [&] { EXPECT_EQ(store.downloadQueue, list); }},
            {"entries", [&] { EXPECT_EQ(linesOf(controller.rawEntries()), list); }},
            {"stored", [&] { EXPECT_EQ(folderWrites, list); }},
            {"folder", [&] { EXPECT_EQ(controller.downloadFolder(), arg); }},
            {"handed", [&] { EXPECT_EQ(gates.handed, list); }},
            {"current", [&] { EXPECT_EQ(shared.m_strCurTitle, arg); }},
            {"resolving", [&] { EXPECT_EQ(shared.m_strCurRawEntry, arg); }},
            {"cancelling", [&] { EXPECT_EQ(shared.m_bCancelCurrent.load(), arg == "yes"); }},
            {"clearing", [&] { EXPECT_EQ(shared.m_bClearQueue.load(), arg == "yes"); }},
            {"paused", [&] { EXPECT_EQ(shared.m_bPaused.load(), arg == "yes"); }},
            {"flagged", [&] { EXPECT_EQ(shared.m_bFolderChanged.load(), arg == "yes"); }},
            {"pokes", [&] { EXPECT_EQ(gates.pokes, std::stoi(arg)); }},
        };
        if (const auto found = steps.find(verb); found != steps.end())
            found->second();
        else
            ADD_FAILURE() << "no such step";
    }
    static std::int32_t flags(const std::string& names)
    {
        static const std::map<std::string, std::int32_t> bits {
            {"done", DLF_DONE}, {"cancel", DLF_CANCEL_CURRENT}, {"clear", DLF_CLEAR_QUEUE}, {"paused", DLF_PAUSED}};
        std::int32_t flags = 0;
        for (const std::string& name : split(names, "+"))
            flags |= bits.at(name);
        return flags;
    }
    // The boxes asked so far, by the first word of their captions.
    std::vector<std::string> captionsAsked() const
    {
        std::vector<std::string> words;
        for (const std::string& caption : view.asked)
            words.push_back(caption.substr(0, caption.find(' ')));
        return words;
    }
};

TEST_P(Scenario, GivesWhatItsChecksSay)
{
    for (const std::string& step : split(GetParam(), "; "))
        run(step);
}

INSTANTIATE_TEST_SUITE_P(QueueCommandsAndReports, Scenario, ::testing::Values(
    // A network error keeps the entry and holds downloads back; an answer without a
    // track consumes it.
    "raw; add track=a; resolving track=a; offline; entries track=a; load Queued; start; handed resolve,resolve; "
    "resolved; entries; add track=b; resolved B; handed resolve,resolve,resolve,download; current Queued; "
    "rows Queued,B",
    // Remove asks only for the head (not the row after it) while not paused, and the
    // downloader's report removes it; paused, the head goes at once.
    "load A,B,C; start; remove -1; remove 1; disk A,C; answer cancel; remove 0; cancelling no; answer ok; "
    "remove 0; asked No,Remove,Remove; cancelling yes; queue A,C; finished cancel; queue C; cancelling no; "
    "current C; pause; remove 0; asked No,Remove,Remove; disk",
    // Clear asks (not for an empty queue), and acts at once while paused or else at the report.
    "clear; asked; load A,B; start; answer no; clear; clearing no; answer yes; clear; asked Clear,Clear; "
    "queue A,B; finished clear; disk; clearing no; status No Files in Queue; load C; pause; clear; queue; disk",
    // A clear whose track the user removed first, paused, aims at nothing when it is reported.
    "load A,B,C; start; answer yes; clear; clearing yes; pause; remove 0; clearing no; finished clear; queue B,C",
    // Paused while the question is open: the pause wins and the cancel waits.
    "load A,B,C; start; during pause; remove 0; finished paused+cancel; status Downloading Paused; queue A,B,C; "
    "cancelling yes; resume; finished cancel; queue B,C; "
    // A cancel left pending by a pause goes with the track it was for.
    "during pause; remove 0; finished paused; remove 0; cancelling no; queue C; "
    // Paused, the head removed and resumed before the report: the track that then
    // finishes is not the head any more.
    "load D,E; resume; current C; pause; remove 0; resume; finished done; queue D,E; "
    // The track finishes, and the next one starts, while the question is open: the
    // answer is about the track that was asked.
    "during finished done; remove 0; queue E; cancelling no",
    // Pause and resume latch their buttons only with a queue; the downloader says it
    // has paused once it has stopped.
    "pause; resume; latched none; paused no; status No Files in Queue; load A; pause; latched pause; "
    "status Downloading Paused; start; handed; resume; latched resume; handed download; forget; pause; status; "
    "finished paused; status Downloading Paused; queue A; resume; finished done; queue",
    // A folder is taken only once stored, and only when it is another; then the list
    // and the watcher move.
    "watched; writes fail; choose /other; writes work; choose /music; choose; stored /other; folder /music; "
    "flagged no; pokes 0; choose /other; stored /other,/other; folder /other; shown /other; refreshes /other; "
    "flagged yes; pokes 1",
    // The file list is read again once while each download writes, and every time while none runs.
    "changed; load A,B; start; changed; changed; finished done; changed; changed; finished done; "
    "refreshes /music,/music,/music; changed; refreshes /music,/music,/music,/music"));

} // namespace
} // namespace qvr::test
