#include "engine/entry_list.h"
#include "engine/queue_item.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qvr {
namespace {

using Queue = EntryList<QueueItem>;
using Titles = std::vector<std::string>;

Queue makeQueue(const Titles& titles)
{
    Queue queue;
    for (const std::string& title : titles)
        queue.AddTail(std::make_unique<QueueItem>(title, "http://x/" + title));
    return queue;
}

// The titles from head to tail, after checking that the back links and the count
// agree with the forward chain and that the tail is the last element.
Titles titlesOf(Queue& queue)
{
    Titles titles;
    const QueueItem* before = nullptr;
    for (const QueueItem* item = queue.GetHead(); item; before = item, item = item->next.get()) {
        EXPECT_EQ(item->prev, before) << item->title;
        titles.push_back(item->title);
    }
    EXPECT_EQ(queue.GetCount(), titles.size());
    EXPECT_EQ(queue.AddTail(std::make_unique<QueueItem>())->prev, before) << "stale tail";
    queue.RemoveAt(static_cast<std::uint32_t>(titles.size()));
    return titles;
}

TEST(EntryListTest, RemovalRelinksNeighboursAndEmptiedListsStartAfresh)
{
    const std::pair<std::uint32_t, Titles> cases[] = {
        {0, {"B", "C"}}, {1, {"A", "C"}}, {2, {"A", "B"}}, {3, {"A", "B", "C"}}, {0xFFFFFFFF, {"A", "B", "C"}},
    };
    for (const auto& [index, left] : cases) {
        SCOPED_TRACE(index);
        Queue queue = makeQueue({"A", "B", "C"});
        queue.RemoveAt(index);
        EXPECT_EQ(titlesOf(queue), left);
    }

    Queue queue = makeQueue({"A", "B"});
    queue.RemoveHead();
    EXPECT_EQ(titlesOf(queue), Titles{"B"});
    queue.RemoveAt(0);  // the only element: head and tail at once
    queue.RemoveHead(); // already empty
    EXPECT_EQ(titlesOf(queue), Titles{});
}

TEST(EntryListTest, GetAtAndFindTitle)
{
    Queue queue = makeQueue({"Song", "song", "Song"});
    EXPECT_EQ(queue.GetAt(1)->url, "http://x/song");
    EXPECT_EQ(queue.GetAt(3), nullptr);
    // The first exact match: no case folding and no prefix match.
    EXPECT_EQ(queue.FindTitle("Song"), 0);
    EXPECT_EQ(queue.FindTitle("song"), 1);
    EXPECT_EQ(queue.FindTitle(""), -1);
    queue.RemoveAt(0);
    EXPECT_EQ(queue.FindTitle("Song"), 1);
}

TEST(EntryListTest, LongListsAreFreedWithoutDeepRecursion)
{
    // Far more elements than a recursive teardown could take on the stack.
    Queue queue;
    for (std::uint32_t i = 0; i < 200'000; ++i)
        queue.AddTail(std::make_unique<QueueItem>());
}

} // namespace
} // namespace qvr
