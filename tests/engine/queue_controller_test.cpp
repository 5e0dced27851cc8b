// The queue decisions of the main window, without a window, threads or a store.
#include "tests/support/controller_fixture.h"

#include <gmock/gmock.h>

#include <algorithm>

namespace qvr::test {
namespace {

using ::testing::ElementsAre;

template <class List, class Value>
bool holds(const List& list, const Value& value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

TEST_F(ControllerTest, ARequestIsOnDiskInOneQueueOrTheOtherAfterEverySave)
{
    // A kill may come right after any save: at each of them, every request taken
    // is in the raw-queue file or its track in the download-queue file.
    std::vector<std::pair<std::string, std::string>> taken;  // request, its track
    int saves = 0;
    store.afterSave = [&] {
        ++saves;
        for (const auto& [request, title] : taken) {
            const bool queued = std::any_of(store.downloadQueue.begin(), store.downloadQueue.end(),
                                            [&](const auto& line) { return line.first == title; });
            EXPECT_TRUE(holds(store.rawQueue, request) || queued) << request << " is on disk nowhere at save " << saves;
        }
    };
    startWith({"Old"});
    for (const auto& [request, title] : {std::pair("track=a", "A"), std::pair("track=old", "Old")}) {
        taken.emplace_back(request, title);
        ASSERT_TRUE(controller.AddRawEntry(request));
        resolved(title);
    }
    EXPECT_THAT(queued(), ElementsAre("Old", "A")) << "a track resolved twice is queued once";
    EXPECT_TRUE(store.rawQueue.empty());
    EXPECT_GE(saves, 5);
}

TEST_F(ControllerTest, ARequestThatCannotBeSavedIsNotTakenAndTheUserIsToldOnce)
{
    // Before the raw entries are loaded (the update step), requests go to the file.
    EXPECT_TRUE(controller.AddRawEntry("track=early"));
    store.full = true;
    EXPECT_FALSE(controller.OnCopyData("track=a"));
    controller.LoadRawQueue();
    EXPECT_FALSE(controller.OnCopyData("track=b"));
    EXPECT_FALSE(controller.AddRawEntry("track=c"));
    EXPECT_THAT(store.rawQueue, ElementsAre("track=early"));
    EXPECT_EQ(controller.rawEntries().GetCount(), 1u) << "nothing lives in memory only";
    EXPECT_EQ(view.warnings.size(), 1u);

    store.full = false;
    EXPECT_TRUE(controller.AddRawEntry("track=d"));
    EXPECT_THAT(store.rawQueue, ElementsAre("track=early", "track=d"));
    EXPECT_EQ(view.warnings.size(), 1u);
}

} // namespace
} // namespace qvr::test
