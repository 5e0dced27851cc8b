#include "platform/folder_watch.h"
#include "platform/unique_fd.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace qvr {
namespace {

namespace fs = std::filesystem;
using Event = FolderWatch::Event;
using test::TempDir;
using test::writeFile;

// What the changes made so far amount to. The wake() behind them ends the wait also
// when the watch missed them, so a fault shows as Woken instead of a hung test.
Event settle(FolderWatch& watch)
{
    watch.wake();
    const Event first = watch.wait();
    if (first == Event::Changed) {
        EXPECT_EQ(watch.wait(), Event::Woken) << "all pending changes must come back as one";
    }
    return first;
}

TEST(FolderWatch, ReportsEveryKindOfChangeInTheFolder)
{
    TempDir dir;
    FolderWatch watch;
    ASSERT_TRUE(watch.valid());
    ASSERT_TRUE(watch.watch(dir.path()));
    EXPECT_TRUE(watch.watching());
    EXPECT_EQ(settle(watch), Event::Woken);

    writeFile(dir.file("a.mp3"), "x");
    EXPECT_EQ(settle(watch), Event::Changed) << "created";
    std::ofstream(dir.file("a.mp3"), std::ios::app) << "next chunk";
    EXPECT_EQ(settle(watch), Event::Changed) << "appended";
    fs::permissions(dir.file("a.mp3"), fs::perms::owner_read);
    EXPECT_EQ(settle(watch), Event::Changed) << "attributes";
    fs::rename(dir.file("a.mp3"), dir.file("b.mp3"));
    EXPECT_EQ(settle(watch), Event::Changed) << "renamed";
    fs::remove(dir.file("b.mp3"));
    EXPECT_EQ(settle(watch), Event::Changed) << "removed";
}

TEST(FolderWatch, ReportsChangesAtAnyDepthAlsoInFoldersThatCameLater)
{
    TempDir dir;
    TempDir outside;
    fs::create_directories(dir.file("sub/subsub"));
    FolderWatch watch;
    ASSERT_TRUE(watch.watch(dir.path()));
    writeFile(dir.file("sub/a"), "x");
    EXPECT_EQ(settle(watch), Event::Changed);
    writeFile(dir.file("sub/subsub/a"), "x");
    EXPECT_EQ(settle(watch), Event::Changed);

    fs::create_directory(dir.file("new"));
    EXPECT_EQ(settle(watch), Event::Changed);
    writeFile(dir.file("new/a"), "x");
    EXPECT_EQ(settle(watch), Event::Changed);

    // Moved in with a folder already inside it, then moved within the tree.
    fs::create_directories(outside.file("album/cd1"));
    fs::rename(outside.file("album"), dir.file("album"));
    EXPECT_EQ(settle(watch), Event::Changed);
    writeFile(dir.file("album/cd1/a"), "x");
    EXPECT_EQ(settle(watch), Event::Changed);
    fs::rename(dir.file("album"), dir.file("sub/album"));
    EXPECT_EQ(settle(watch), Event::Changed);
    fs::create_directory(dir.file("sub/album/cd2"));
    EXPECT_EQ(settle(watch), Event::Changed);
    writeFile(dir.file("sub/album/cd2/a"), "x");
    EXPECT_EQ(settle(watch), Event::Changed) << "a folder made in a moved one has the new path";
}

TEST(FolderWatch, IgnoresFoldersThatLeftTheTreeOrLieBehindLinksOrLimits)
{
    TempDir dir;
    TempDir outside;
    fs::create_directories(dir.file("gone/inner"));
    fs::create_directories(dir.file("a/b"));
    fs::create_directory_symlink(outside.path(), dir.file("link"));
    FolderWatch watch(FolderWatch::Limits {.folders = 10, .depth = 1});
    ASSERT_TRUE(watch.watch(dir.path()));

    fs::rename(dir.file("gone"), outside.file("gone"));
    EXPECT_EQ(settle(watch), Event::Changed);
    writeFile(outside.file("gone/inner/a"), "x");
    writeFile(outside.file("a"), "x");
    writeFile(dir.file("a/b/a"), "x");
    EXPECT_EQ(settle(watch), Event::Woken);
    writeFile(dir.file("a/a"), "x");
    EXPECT_EQ(settle(watch), Event::Changed);
    fs::create_directory(dir.file("a/late"));
    EXPECT_EQ(settle(watch), Event::Changed);
    writeFile(dir.file("a/late/a"), "x");
    EXPECT_EQ(settle(watch), Event::Woken) << "too deep, although it came later";

    FolderWatch narrow(FolderWatch::Limits {.folders = 2});
    ASSERT_TRUE(narrow.watch(dir.file("a/b")));
    fs::create_directory(dir.file("a/b/one"));
    fs::create_directory(dir.file("a/b/two"));
    EXPECT_EQ(settle(narrow), Event::Changed);
    writeFile(dir.file("a/b/two/a"), "x");
    EXPECT_EQ(settle(narrow), Event::Woken) << "one folder too many";
    writeFile(dir.file("a/b/one/a"), "x");
    EXPECT_EQ(settle(narrow), Event::Changed);
}

TEST(FolderWatch, AWakeIsNeitherLostNorHeldBackByChanges)
{
    TempDir dir;
    FolderWatch watch;
    for (const bool watched : {false, true}) {
        if (watched) {
            ASSERT_TRUE(watch.watch(dir.path()));
        }
        Event seen = Event::Failed;
        std::thread waiter([&] { seen = watch.wait(); });
        watch.wake();
        waiter.join();
        EXPECT_EQ(seen, Event::Woken) << "watched: " << watched;
    }

    watch.wake();
    writeFile(dir.file("a"), "x");
    EXPECT_EQ(watch.wait(), Event::Changed);
    writeFile(dir.file("b"), "x");
    EXPECT_EQ(watch.wait(), Event::Woken) << "the wake must not wait behind the next change";
    EXPECT_EQ(watch.wait(), Event::Changed);
}

TEST(FolderWatch, AnotherFolderOrOneThatCannotBeWatchedReplacesTheFirst)
{
    TempDir first;
    TempDir second;
    writeFile(second.file("file"), "x");
    FolderWatch watch;
    ASSERT_TRUE(watch.watch(first.path()));
    writeFile(first.file("before"), "x");
    ASSERT_TRUE(watch.watch(second.path()));
    writeFile(first.file("after"), "x");
    EXPECT_EQ(settle(watch), Event::Woken) << "nothing of the first folder may be left";
    writeFile(second.file("a"), "x");
    EXPECT_EQ(settle(watch), Event::Changed);

    for (const std::string& bad : {first.file("missing"), second.file("file"), std::string()})
        EXPECT_FALSE(watch.watch(bad)) << bad;
    EXPECT_FALSE(watch.watching());
    writeFile(second.file("b"), "x");
    EXPECT_EQ(settle(watch), Event::Woken);
}

TEST(FolderWatch, EndsWhenItsFolderIsMovedOrRemoved)
{
    TempDir dir;
    fs::create_directories(dir.file("root/sub"));
    FolderWatch watch;
    ASSERT_TRUE(watch.watch(dir.file("root")));
    fs::rename(dir.file("root"), dir.file("moved"));
    EXPECT_EQ(settle(watch), Event::Changed);
    EXPECT_FALSE(watch.watching());
    writeFile(dir.file("moved/sub/a"), "x");
    EXPECT_EQ(settle(watch), Event::Woken) << "no watch may stay on the moved tree";

    ASSERT_TRUE(watch.watch(dir.file("moved/sub")));
    fs::remove_all(dir.file("moved"));
    EXPECT_EQ(settle(watch), Event::Changed);
    EXPECT_FALSE(watch.watching());
}

TEST(FolderWatch, AfterLostEventsFoldersMadeMeanwhileAreWatchedToo)
{
    long queueLength = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queueLength;
    if (queueLength <= 0 || queueLength > 100000)
        GTEST_SKIP() << "the kernel's event queue is too long to overflow quickly";
    TempDir dir;
    FolderWatch watch;
    ASSERT_TRUE(watch.watch(dir.path()));
    // Writes that take turns between files, so that the kernel cannot fold them together.
    std::vector<UniqueFd> files;
    for (int i = 0; i < 64; ++i) {
        files.emplace_back(::open(dir.file(std::to_string(i)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
        ASSERT_TRUE(files.back());
    }
    for (long i = 0; i <= queueLength; ++i)
        ASSERT_EQ(::write(files[static_cast<std::size_t>(i) % files.size()].get(), "x", 1), 1);
    fs::create_directory(dir.file("late"));
    EXPECT_EQ(settle(watch), Event::Changed);
    writeFile(dir.file("late/a"), "x");
    EXPECT_EQ(settle(watch), Event::Changed);
}

} // namespace
} // namespace qvr
