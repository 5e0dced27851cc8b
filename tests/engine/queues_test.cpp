// The engine's lists and the two files that keep them. That any list that loads
// saves and loads back the same, and that only storable elements are saved, is the
// queue-files fuzz target's, and the files' form (CR LF lines, "title|address") the
// crash test's; here how lines load, and the files' failures.
#include "engine/entry_list.h"
#include "engine/queue_controller.h"
#include "engine/queue_files.h"
#include "engine/queue_item.h"
#include "engine/request_inbox.h"
#include "platform/unique_fd.h"

#include "tests/support/controller_fixture.h"
#include "tests/support/disk_full.h"

#include <fcntl.h>
#include <sys/file.h>


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
    EXPECT_EQ(queue.getCount(), items.size());
    EXPECT_EQ(queue.AddTail(std::make_unique<QueueItem>())->prev, before) << "stale tail";
    queue.RemoveAt(static_cast<std::uint32_t>(items.size()));
    return items;
}

const Items kABC {{"A", "1"}, {"B", "2"}, {"C", "3"}};

TEST(EntryList, RemovalAnywhereLeavesAWellLinkedList)
{
    for (const auto& [index, left] : {std::pair<std::uint32_t, Items>(0, {kABC[1], kABC[2]}), {1, {kABC[0], kABC[2]}},
                                      {2, {kABC[0], kABC[1]}}, {3, kABC}}) {
        SCOPED_TRACE(index);
        auto queue = makeQueue(kABC);
        queue.RemoveAt(index);
        EXPECT_EQ(itemsOf(queue), left);
    }
    auto queue = makeQueue({{"Song", "1"}, {"song", "2"}, {"Song", "3"}});
    queue.RemoveHead();
    EXPECT_EQ(itemsOf(queue), (Items {{"song", "2"}, {"Song", "3"}}));
    queue.RemoveAt(1);
    queue.RemoveHead(); // the only element: head and tail at once
    queue.RemoveHead(); // already empty
    EXPECT_EQ(itemsOf(queue), Items {});
    // Far more elements than a recursive teardown could take on the stack.
    for (std::uint32_t i = 0; i < 200'000; ++i)
        queue.AddTail(std::make_unique<QueueItem>());
}

TEST(QueueFiles, AFailedSaveLeavesTheFileAloneAndALoadTakesOnlyGoodLines)
{
    TempDir dir;
    ASSERT_TRUE(SaveDownloadQueue(makeQueue({{"A", "http://x/1"}}), dir.file("queue")));
    EntryList<RawEntryItem> entries;
    entries.AddTail(std::make_unique<RawEntryItem>("id=1&t=a"));
    const std::string queueFile = readFile(dir.file("queue"));
    {
        const test::DiskFull full(16);
        ASSERT_TRUE(full.active());
        EXPECT_FALSE(SaveDownloadQueue(makeQueue({{std::string(100, 't'), "u"}}), dir.file("queue")));
    }
    EXPECT_EQ(readFile(dir.file("queue")), queueFile);
    EXPECT_EQ(test::countEntries(dir.path()), 1u) << "temporary files left behind";

    // Title and address are the first two runs of non-"|" characters; a NUL ends the line.
    writeFile(dir.file("queue"), "\r\n|||A|u1\n\nT|||u2\r\nB|u3|extra|more|\r\n T | u \r\nC\rX|u4\r\n"
                                 "D|u5\0junk|more\r\nT|\r\n|U\r\nT\0|U\r\nE|u6"s);
    writeFile(dir.file("raw"), "\r\nfirst\n\r\n\0hidden\r\nsecond\rlast"s);
    auto queue = makeQueue({{"Old", "u0"}});
    ASSERT_TRUE(LoadDownloadQueue(queue, dir.file("queue")));
    ASSERT_TRUE(LoadRawQueue(entries, dir.file("raw")));
    EXPECT_EQ(itemsOf(queue), (Items {{"Old", "u0"}, {"A", "u1"}, {"T", "u2"}, {"B", "u3"}, {" T ", " u "},
                                      {"C\rX", "u4"}, {"D", "u5"}, {"E", "u6"}}));
    EXPECT_EQ(test::linesOf(entries), (Texts {"id=1&t=a", "first", "second\rlast"}));
    // A request kept for the next start goes on a line of its own, also after a
    // last line without its end.
    ASSERT_TRUE(appendRawQueue("track=2", dir.file("raw")) && appendRawQueue("track=1", dir.file("new")));
    EXPECT_FALSE(appendRawQueue("a\nb", dir.file("new")));
    EXPECT_EQ(readFile(dir.file("raw")) + readFile(dir.file("new")),
              "\r\nfirst\n\r\n\0hidden\r\nsecond\rlast\r\ntrack=2\r\ntrack=1\r\n"s);
}

// A queue file that was there but could not be read holds what the lists do not: it
// is never written over. (A folder of theirs that is gone, the first start's test.)
TEST(QueueFiles, AFileThatCouldNotBeReadIsNeverWrittenOver)
{
    TempDir dir;
    writeFile(dir.file("download.txt"), "A|http://x/1\r\n");
    QueueFiles files(dir.file("download.txt"), dir.file("raw.txt"));
    EntryList<QueueItem> queue;
    {
        UniqueFd holder(::open(dir.file("download.txt").c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(holder.get(), LOCK_SH), 0);  // another program reads it
        EXPECT_FALSE(files.LoadDownloadQueue(queue));
    }
    EXPECT_FALSE(files.SaveDownloadQueue(makeQueue({{"B", "http://x/2"}})));
    EXPECT_EQ(readFile(dir.file("download.txt")), "A|http://x/1\r\n");
    EntryList<RawEntryItem> entries;
    ASSERT_EQ(files.LoadRawQueue(entries).error(), ENOENT);
    EXPECT_TRUE(files.SaveRawQueue(entries)) << "a file that is not there yet is no loss";
}

// The file is read a piece at a time: lines across the pieces' seams load as saved.
TEST(QueueFiles, AQueueOfManyTracksLoadsWholeAndInOrderAfterASave)
{
    TempDir dir;
    Items items;
    for (int i = 0; i < 20'000; ++i)
        items.emplace_back("Artist " + std::to_string(i % 97) + " - Song " + std::to_string(i),
                           "http://store/tracks/w" + std::to_string(i) + ".mp3");
    ASSERT_TRUE(SaveDownloadQueue(makeQueue(items), dir.file("queue")));
    EntryList<QueueItem> queue;
    ASSERT_TRUE(LoadDownloadQueue(queue, dir.file("queue")));
    EXPECT_EQ(itemsOf(queue), items);
}

// Each start that hands a request over deposits it on its own. The deposits go on
// past the next whole second and a tenth beyond it, so that requests of one second
// differ in every digit of its fraction.
TEST(RequestInbox, RequestsHandedOverInTheSameSecondAreTakenInTheOrderSent)
{
    using namespace std::chrono_literals;
    TempDir dir;
    const std::string folder = RequestInbox::folderBeside(dir.file("raw.txt"));
    RequestInbox window(folder);
    Texts sent;
    const auto until = std::chrono::ceil<std::chrono::seconds>(std::chrono::system_clock::now()) + 150ms;
    while (std::chrono::system_clock::now() < until) {
        sent.push_back("track=" + std::to_string(sent.size()));
        ASSERT_TRUE(sent.size() % 2 ? window.depositRequest(sent.back()) : RequestInbox(folder).depositRequest(sent.back()));
    }
    Texts taken;
    for (const RequestInbox::Letter& letter : window.pendingLetters())
        taken.push_back(letter.text);
    EXPECT_EQ(taken, sent);
}

} // namespace
} // namespace qvr
