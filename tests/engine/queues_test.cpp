// The engine's lists and the two files that keep them.
#include "engine/entry_list.h"
#include "engine/queue_files.h"
#include "engine/queue_item.h"

#include "tests/support/disk_full.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qvr {
namespace {

using namespace std::string_literals;
using test::readFile;
using test::TempDir;
using test::writeFile;

using Items = std::vector<std::pair<std::string, std::string>>;
using Texts = std::vector<std::string>;

EntryList<QueueItem> makeQueue(const Items& items)
{
    EntryList<QueueItem> queue;
    for (const auto& [title, url] : items)
        queue.AddTail(std::make_unique<QueueItem>(title, url));
    return queue;
}

EntryList<RawEntryItem> makeEntries(const Texts& texts)
{
    EntryList<RawEntryItem> entries;
    for (const std::string& text : texts)
        entries.AddTail(std::make_unique<RawEntryItem>(text));
    return entries;
}

// The items from head to tail, after checking that the back links and the count
// agree with the forward chain and that the tail is the last element.
Items itemsOf(EntryList<QueueItem>& queue)
{
    Items items;
    const QueueItem* before = nullptr;
    for (const QueueItem* item = queue.GetHead(); item; before = item, item = item->next.get()) {
        EXPECT_EQ(item->prev, before) << item->title;
        items.emplace_back(item->title, item->url);
    }
    EXPECT_EQ(queue.GetCount(), items.size());
    EXPECT_EQ(queue.AddTail(std::make_unique<QueueItem>())->prev, before) << "stale tail";
    queue.RemoveAt(static_cast<std::uint32_t>(items.size()));
    return items;
}

Texts textsOf(const EntryList<RawEntryItem>& entries)
{
    Texts texts;
    for (const RawEntryItem* entry = entries.GetHead(); entry; entry = entry->next.get())
        texts.push_back(entry->text);
    return texts;
}

const Items kABC {{"A", "1"}, {"B", "2"}, {"C", "3"}};

TEST(EntryList, RemovalRelinksNeighboursAndEmptiedListsStartAfresh)
{
    const std::pair<std::uint32_t, Items> cases[] = {
        {0, {kABC[1], kABC[2]}}, {1, {kABC[0], kABC[2]}}, {2, {kABC[0], kABC[1]}}, {3, kABC}, {0xFFFFFFFF, kABC},
    };
    for (const auto& [index, left] : cases) {
        SCOPED_TRACE(index);
        auto queue = makeQueue(kABC);
        queue.RemoveAt(index);
        EXPECT_EQ(itemsOf(queue), left);
    }
    auto queue = makeQueue({kABC[0], kABC[1]});
    queue.RemoveHead();
    EXPECT_EQ(itemsOf(queue), Items {kABC[1]});
    queue.RemoveAt(0);  // the only element: head and tail at once
    queue.RemoveHead(); // already empty
    EXPECT_EQ(itemsOf(queue), Items {});

    // Far more elements than a recursive teardown could take on the stack.
    for (std::uint32_t i = 0; i < 200'000; ++i)
        queue.AddTail(std::make_unique<QueueItem>());
}

TEST(EntryList, GetAtAndFindTitle)
{
    auto queue = makeQueue({{"Song", "1"}, {"song", "2"}, {"Song", "3"}});
    EXPECT_EQ(queue.GetAt(1)->url, "2");
    EXPECT_EQ(queue.GetAt(3), nullptr);
    // The first exact match: no case folding and no prefix match.
    EXPECT_EQ(queue.FindTitle("Song"), 0);
    EXPECT_EQ(queue.FindTitle("song"), 1);
    EXPECT_EQ(queue.FindTitle(""), -1);
    queue.RemoveAt(0);
    EXPECT_EQ(queue.FindTitle("Song"), 1);
}

TEST(QueueFiles, SaveExactCrLfLinesOrKeepTheOldFileWhole)
{
    TempDir dir;
    ASSERT_TRUE(SaveRawQueue(EntryList<RawEntryItem>(), dir.file("raw")));
    EXPECT_EQ(readFile(dir.file("raw")), "");
    // A CR inside survives, even at the end of a line, since the reader drops only one.
    const Items items {{"A", "http://x/1"}, {"B\rC", "u\r"}};
    const Texts texts {"id=1&t=a", "id=2 b"};
    ASSERT_TRUE(SaveDownloadQueue(makeQueue(items), dir.file("queue")));
    ASSERT_TRUE(SaveRawQueue(makeEntries(texts), dir.file("raw")));
    const std::string queueFile = "A|http://x/1\r\nB\rC|u\r\r\n";
    const std::string rawFile = "id=1&t=a\r\nid=2 b\r\n";
    EXPECT_EQ(readFile(dir.file("queue")), queueFile);
    EXPECT_EQ(readFile(dir.file("raw")), rawFile);
    EntryList<QueueItem> queue;
    EntryList<RawEntryItem> entries;
    ASSERT_TRUE(LoadDownloadQueue(queue, dir.file("queue")));
    ASSERT_TRUE(LoadRawQueue(entries, dir.file("raw")));
    EXPECT_EQ(itemsOf(queue), items);
    EXPECT_EQ(textsOf(entries), texts);

    // Elements that would read back differently, one of each kind.
    for (const auto& bad : Items {{"A|B", "u"}, {"A", "u\n"}, {"A\0B"s, "u"}, {"A", ""}})
        EXPECT_FALSE(SaveDownloadQueue(makeQueue({{"Good", "u"}, bad}), dir.file("queue")))
            << testing::PrintToString(bad);
    for (const std::string& bad : {"a\nb"s, "a\0b"s, ""s})
        EXPECT_FALSE(SaveRawQueue(makeEntries({"good", bad}), dir.file("raw"))) << testing::PrintToString(bad);
    {
        const test::DiskFull full(64);
        ASSERT_TRUE(full.active());
        EXPECT_FALSE(SaveDownloadQueue(makeQueue({{std::string(100, 't'), "u"}}), dir.file("queue")));
        EXPECT_FALSE(SaveRawQueue(makeEntries({std::string(100, 'r')}), dir.file("raw")));
    }
    EXPECT_EQ(readFile(dir.file("queue")), queueFile);
    EXPECT_EQ(readFile(dir.file("raw")), rawFile);
    EXPECT_EQ(test::countEntries(dir.path()), 2u) << "temporary files left behind";
}

TEST(QueueFiles, LoadingAppendsGoodLinesOrLeavesTheListsAlone)
{
    TempDir dir;
    // Title and address are the first two runs of non-"|" characters; a NUL ends the line.
    writeFile(dir.file("queue"), "\r\n|||A|u1\n\nT|||u2\r\nB|u3|extra|more|\r\n T | u \r\nC\rX|u4\r\n"
                                 "D|u5\0junk|more\r\nT|\r\n|U\r\nT\0|U\r\nE|u6"s);
    writeFile(dir.file("raw"), "\r\nfirst\n\r\n\0hidden\r\nsecond\r\nthird\rlast"s);
    auto queue = makeQueue({{"Old", "u0"}});
    auto entries = makeEntries({"request"});
    ASSERT_TRUE(LoadDownloadQueue(queue, dir.file("queue")));
    ASSERT_TRUE(LoadRawQueue(entries, dir.file("raw")));
    const Items items {{"Old", "u0"}, {"A", "u1"}, {"T", "u2"}, {"B", "u3"}, {" T ", " u "},
                       {"C\rX", "u4"}, {"D", "u5"}, {"E", "u6"}};
    const Texts texts {"request", "first", "second", "third\rlast"};
    EXPECT_EQ(itemsOf(queue), items);
    EXPECT_EQ(textsOf(entries), texts);

    // Another program holds the file locked.
    const int fd = ::open(dir.file("queue").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    for (const char* name : {"missing", "queue"}) {
        EXPECT_FALSE(LoadDownloadQueue(queue, dir.file(name))) << name;
        EXPECT_FALSE(LoadRawQueue(entries, dir.file(name))) << name;
    }
    ::close(fd);
    EXPECT_EQ(itemsOf(queue), items);
    EXPECT_EQ(textsOf(entries), texts);
}

} // namespace
} // namespace qvr
