#include "platform/folder_watch.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace qvr {
namespace {

namespace fs = std::filesystem;
using Event = FolderWatch::Event;
using test::TempDir;
using test::writeFile;

// What the changes made so far amount to. The poke() behind them ends the wait also
// when the watch missed them, so a fault shows as Poked instead of a hung test.
Event settle(FolderWatch& watch)
{
    watch.poke();
    const Event first = watch.wait();
    EXPECT_TRUE(first != Event::Changed || watch.wait() == Event::Poked) << "pending changes must come as one";
    return first;
}

TEST(FolderWatch, ReportsChangesAnywhereInTheTreeAlsoInFoldersThatCameLater)
{
    TempDir dir;
    TempDir outside;
    fs::create_directories(dir.file("sub/subsub"));
    FolderWatch watch;
    ASSERT_TRUE(watch.watch(dir.path()));
    EXPECT_EQ(settle(watch), Event::Poked);

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

    writeFile(dir.file("sub/subsub/a"), "x");
    EXPECT_EQ(settle(watch), Event::Changed) << "in a subfolder";
    fs::create_directory(dir.file("new"));
    EXPECT_EQ(settle(watch), Event::Changed);
    writeFile(dir.file("new/a"), "x");
    EXPECT_EQ(settle(watch), Event::Changed) << "in a folder made after watch()";
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

TEST(FolderWatch, LeavesOutFoldersTooDeepAlsoWhenTheyCameLater)
{
    TempDir dir;
    fs::create_directories(dir.file("a/b"));
    FolderWatch watch(FolderWatch::Limits {.folders = 10, .depth = 1});
    ASSERT_TRUE(watch.watch(dir.path()));
    writeFile(dir.file("a/b/a"), "x");
    EXPECT_EQ(settle(watch), Event::Poked) << "too deep";
    fs::create_directory(dir.file("a/late"));
    EXPECT_EQ(settle(watch), Event::Changed);
    writeFile(dir.file("a/late/a"), "x");
    EXPECT_EQ(settle(watch), Event::Poked) << "too deep, although it came later";
}

TEST(FolderWatch, APokeIsNeitherLostNorHeldBackByChanges)
{
    TempDir dir;
    FolderWatch watch;
    for (const bool watched : {false, true}) {
        ASSERT_TRUE(!watched || watch.watch(dir.path()));
        Event seen = Event::Failed;
        std::thread waiter([&] { seen = watch.wait(); });
        watch.poke();
        waiter.join();
        EXPECT_EQ(seen, Event::Poked) << "watched: " << watched;
    }

    watch.poke();
    writeFile(dir.file("a"), "x");
    EXPECT_EQ(watch.wait(), Event::Changed);
    writeFile(dir.file("b"), "x");
    EXPECT_EQ(watch.wait(), Event::Poked) << "the poke must not wait behind the next change";
    EXPECT_EQ(watch.wait(), Event::Changed);
}

TEST(FolderWatch, EndsWithItsFolderOrWhenAnotherReplacesIt)
{
    TempDir dir;
    fs::create_directories(dir.file("first/sub"));
    fs::create_directory(dir.file("second"));
    FolderWatch watch;
    ASSERT_TRUE(watch.watch(dir.file("first")));
    writeFile(dir.file("first/before"), "x");
    ASSERT_TRUE(watch.watch(dir.file("second")));
    writeFile(dir.file("first/after"), "x");
    EXPECT_EQ(settle(watch), Event::Poked) << "nothing of the first folder may be left";
    writeFile(dir.file("second/a"), "x");
    EXPECT_EQ(settle(watch), Event::Changed);
    for (const std::string& bad : {dir.file("missing"), dir.file("second/a"), std::string()})
        EXPECT_FALSE(watch.watch(bad)) << bad;
    EXPECT_FALSE(watch.watching());

    ASSERT_TRUE(watch.watch(dir.file("first")));
    fs::rename(dir.file("first"), dir.file("moved"));
    EXPECT_EQ(settle(watch), Event::Changed);
    EXPECT_FALSE(watch.watching());
    writeFile(dir.file("moved/sub/a"), "x");
    EXPECT_EQ(settle(watch), Event::Poked) << "no watch may stay on the moved tree";
    ASSERT_TRUE(watch.watch(dir.file("moved/sub")));
    fs::remove_all(dir.file("moved"));
    EXPECT_EQ(settle(watch), Event::Changed);
    EXPECT_FALSE(watch.watching());
}

} // namespace
} // namespace qvr
