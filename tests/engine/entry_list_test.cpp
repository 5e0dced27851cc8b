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
// agree with the forward chain and that an element appended through the tail
// lands last.
Titles titlesOf(Queue& queue)
{
    Titles titles;
    const QueueItem* before = nullptr;
    for (const QueueItem* item = queue.GetHead(); item; before = item, item = item->next.get()) {
        EXPECT_EQ(item->prev, before) << item->title;
        titles.push_back(item->title);
    }
    EXPECT_EQ(queue.GetCount(), titles.size());
    const auto end = static_cast<std::uint32_t>(titles.size());
    const QueueItem* probe = queue.AddTail(std::make_unique<QueueItem>());
    EXPECT_EQ(probe->prev, before);
    EXPECT_EQ(queue.GetAt(end), probe);
    queue.RemoveAt(end);
    return titles;
}

TEST(EntryListTest, RemoveAtRelinksNeighbours)
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
}

TEST(EntryListTest, EmptiedListsStartAfresh)
{
    Queue queue = makeQueue({"A", "B"});
    queue.RemoveHead();
    EXPECT_EQ(titlesOf(queue), Titles{"B"});
    queue.RemoveHead();
    queue.RemoveHead(); // already empty
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_EQ(titlesOf(queue), Titles{});

    Queue single = makeQueue({"S"});
    single.RemoveAt(0);
    EXPECT_EQ(titlesOf(single), Titles{});

    EntryList<RawEntryItem> entries;
    entries.AddTail(std::make_unique<RawEntryItem>("one"));
    entries.AddTail(std::make_unique<RawEntryItem>("two"));
    entries.RemoveHead();
    entries.RemoveHead();
    const RawEntryItem* three = entries.AddTail(std::make_unique<RawEntryItem>("three"));
    entries.AddTail(std::make_unique<RawEntryItem>("four"));
    EXPECT_EQ(entries.GetHead(), three);
    EXPECT_EQ(entries.GetAt(1)->text, "four");
    EXPECT_EQ(entries.GetAt(2), nullptr);
    EXPECT_EQ(entries.GetCount(), 2u);
}

TEST(EntryListTest, GetAtAndFindTitle)
{
    Queue queue = makeQueue({"Song", "song", "Song ", "Song"});
    EXPECT_EQ(queue.GetAt(1)->url, "http://x/song");
    EXPECT_EQ(queue.GetAt(4), nullptr);
    EXPECT_EQ(queue.FindTitle("Song"), 0);
    EXPECT_EQ(queue.FindTitle("song"), 1);
    EXPECT_EQ(queue.FindTitle("Song "), 2);
    EXPECT_EQ(queue.FindTitle("SONG"), -1);
    EXPECT_EQ(queue.FindTitle(""), -1);
    queue.RemoveAt(0);
    EXPECT_EQ(queue.FindTitle("Song"), 2);
}

TEST(EntryListTest, LongListsAreFreedWithoutDeepRecursion)
{
    // Far more elements than a recursive teardown could take on the stack.
    constexpr std::uint32_t kCount = 200'000;
    {
        EntryList<RawEntryItem> entries;
        for (std::uint32_t i = 0; i < kCount; ++i)
            entries.AddTail(std::make_unique<RawEntryItem>());
    }
    Queue queue;
    for (std::uint32_t i = 0; i < kCount; ++i)
        queue.AddTail(std::make_unique<QueueItem>());
    queue.RemoveAll();
    EXPECT_EQ(queue.GetHead(), nullptr);
}

} // namespace
} // namespace qvr
