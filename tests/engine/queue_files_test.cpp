#include "engine/queue_files.h"

#include "tests/support/disk_full.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>

#include <filesystem>
#include <iterator>
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

Items itemsOf(const EntryList<QueueItem>& queue)
{
    Items items;
    for (const QueueItem* item = queue.GetHead(); item; item = item->next.get())
        items.emplace_back(item->title, item->url);
    return items;
}

Texts textsOf(const EntryList<RawEntryItem>& entries)
{
    Texts texts;
    for (const RawEntryItem* entry = entries.GetHead(); entry; entry = entry->next.get())
        texts.push_back(entry->text);
    return texts;
}

TEST(QueueFilesTest, SavesCrLfLinesAndLoadsThemBack)
{
    TempDir dir;
    const Items items{{"A", "http://x/1"}, {"B", "http://x/2"}};
    ASSERT_TRUE(SaveDownloadQueue(makeQueue(items), dir.file("queue")));
    EXPECT_EQ(readFile(dir.file("queue")), "A|http://x/1\r\nB|http://x/2\r\n");
    EntryList<QueueItem> queue;
    ASSERT_TRUE(LoadDownloadQueue(queue, dir.file("queue")));
    EXPECT_EQ(itemsOf(queue), items);
    EXPECT_EQ(queue.GetCount(), 2u);

    const Texts texts{"id=1&t=a", "id=2 b"};
    ASSERT_TRUE(SaveRawQueue(makeEntries(texts), dir.file("raw")));
    EXPECT_EQ(readFile(dir.file("raw")), "id=1&t=a\r\nid=2 b\r\n");
    EntryList<RawEntryItem> entries;
    ASSERT_TRUE(LoadRawQueue(entries, dir.file("raw")));
    EXPECT_EQ(textsOf(entries), texts);

    ASSERT_TRUE(SaveRawQueue(EntryList<RawEntryItem>(), dir.file("raw")));
    EXPECT_EQ(readFile(dir.file("raw")), "");
    EXPECT_EQ(test::countEntries(dir.path()), 2u) << "temporary files left behind";
}

TEST(QueueFilesTest, DownloadQueueLinesSplitLikeATokenizer)
{
    const std::pair<std::string, Items> cases[] = {
        {"|||T|U", {{"T", "U"}}},
        {"T|||U", {{"T", "U"}}},
        {"T|U|extra|more|", {{"T", "U"}}},
        {" T | U ", {{" T ", " U "}}},
        {"T\rX|U", {{"T\rX", "U"}}},
        {"T|U\0junk|more"s, {{"T", "U"}}},
        {"T|", {}},
        {"|U", {}},
        {"|||", {}},
        {"T\0|U"s, {}},
    };
    TempDir dir;
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(line));
        writeFile(dir.file("queue"), line + "\r\n");
        EntryList<QueueItem> queue;
        ASSERT_TRUE(LoadDownloadQueue(queue, dir.file("queue")));
        EXPECT_EQ(itemsOf(queue), expected);
    }
}

TEST(QueueFilesTest, LoadingAppendsInFileOrderSkippingEmptyLines)
{
    TempDir dir;
    writeFile(dir.file("queue"), "\r\nA|u1\n\nbroken\r\nB|u2\r\n\r\nA|u3\r\nC|u4");
    EntryList<QueueItem> queue = makeQueue({{"Old", "u0"}});
    ASSERT_TRUE(LoadDownloadQueue(queue, dir.file("queue")));
    EXPECT_EQ(itemsOf(queue), (Items{{"Old", "u0"}, {"A", "u1"}, {"B", "u2"}, {"A", "u3"}, {"C", "u4"}}));
    EXPECT_EQ(queue.GetAt(4)->prev, queue.GetAt(3));

    writeFile(dir.file("raw"), "\r\nfirst\n\r\n\0hidden\r\nsecond\r\nthird\rlast"s);
    EntryList<RawEntryItem> entries = makeEntries({"request"});
    ASSERT_TRUE(LoadRawQueue(entries, dir.file("raw")));
    EXPECT_EQ(textsOf(entries), (Texts{"request", "first", "second", "third\rlast"}));
}

TEST(QueueFilesTest, UnreadableFilesLeaveTheListsAlone)
{
    TempDir dir;
    EntryList<QueueItem> queue = makeQueue({{"A", "u1"}});
    EntryList<RawEntryItem> entries = makeEntries({"r"});
    EXPECT_FALSE(LoadDownloadQueue(queue, dir.file("missing")));
    EXPECT_FALSE(LoadRawQueue(entries, dir.file("missing")));

    // Another program holds the file locked.
    writeFile(dir.file("locked"), "B|u2\r\n");
    const int fd = ::open(dir.file("locked").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(LoadDownloadQueue(queue, dir.file("locked")));
    EXPECT_FALSE(LoadRawQueue(entries, dir.file("locked")));
    ::close(fd);

    EXPECT_EQ(itemsOf(queue), (Items{{"A", "u1"}}));
    EXPECT_EQ(textsOf(entries), Texts{"r"});
}

TEST(QueueFilesTest, ElementsThatWouldReadBackDifferentlyAreNotSaved)
{
    TempDir dir;
    writeFile(dir.file("queue"), "Old|u0\r\n");
    writeFile(dir.file("raw"), "old\r\n");
    const std::pair<std::string, std::string> badItems[] = {
        {"A|B", "u"}, {"A", "u|v"}, {"A\nB", "u"}, {"A", "u\n"}, {"A\0B"s, "u"}, {"", "u"}, {"A", ""},
    };
    for (const auto& bad : badItems) {
        SCOPED_TRACE(testing::PrintToString(bad));
        EXPECT_FALSE(SaveDownloadQueue(makeQueue({{"Good", "u"}, bad}), dir.file("queue")));
        EXPECT_EQ(readFile(dir.file("queue")), "Old|u0\r\n");
    }
    for (const std::string& bad : {"a\nb"s, "a\0b"s, ""s}) {
        SCOPED_TRACE(testing::PrintToString(bad));
        EXPECT_FALSE(SaveRawQueue(makeEntries({"good", bad}), dir.file("raw")));
        EXPECT_EQ(readFile(dir.file("raw")), "old\r\n");
    }

    // A CR survives, even at the end of a line, since the reader drops only one.
    const Items items{{"A\rB", "u\r"}};
    ASSERT_TRUE(SaveDownloadQueue(makeQueue(items), dir.file("queue")));
    EntryList<QueueItem> queue;
    ASSERT_TRUE(LoadDownloadQueue(queue, dir.file("queue")));
    EXPECT_EQ(itemsOf(queue), items);
}

TEST(QueueFilesTest, AFailedSaveKeepsTheOldFileWhole)
{
    TempDir dir;
    writeFile(dir.file("queue"), "Old|u0\r\n");
    writeFile(dir.file("raw"), "old\r\n");
    Items items;
    Texts texts;
    for (int i = 0; i < 50; ++i) {
        items.emplace_back("Track " + std::to_string(i), "http://x/" + std::to_string(i));
        texts.push_back("id=" + std::to_string(i));
    }

    {
        const test::DiskFull full(64);
        ASSERT_TRUE(full.active());
        EXPECT_FALSE(SaveDownloadQueue(makeQueue(items), dir.file("queue")));
        EXPECT_FALSE(SaveRawQueue(makeEntries(texts), dir.file("raw")));
    }
    EXPECT_EQ(readFile(dir.file("queue")), "Old|u0\r\n");
    EXPECT_EQ(readFile(dir.file("raw")), "old\r\n");
    EXPECT_EQ(test::countEntries(dir.path()), 2u) << "temporary files left behind";
}

} // namespace
} // namespace qvr
