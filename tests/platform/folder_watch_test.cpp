#include "platform/folder_watch.h"

#include "tests/support/common.h"

#include <fstream>
#include <future>

namespace qvr {
namespace {

namespace fs = std::filesystem;
using Event = FolderWatch::Event;
using test::TempDir;
using test::writeFile;
using ::testing::UnorderedElementsAre;

// What the changes so far amount to. The poke() behind them ends the wait also when the watch
// missed them, so a fault shows as Poked instead of a hung test.
Event settle(FolderWatch& watch)
{
    watch.poke();
    const Event first = watch.wait();
    EXPECT_TRUE(first != Event::Changed || watch.wait() == Event::Poked) << "pending changes must come as one";
    return first;
}

TEST(FolderWatch, ReportsChangesAnywhereInTheTreeAlsoInFoldersThatCameLater)
{
    TempDir dir, outside;
    fs::create_directories(dir.file("sub/subsub"));
    fs::create_directories(outside.file("album/cd1"));
    FolderWatch watch;
    ASSERT_TRUE(watch.watch(dir.path()));
    EXPECT_EQ(settle(watch), Event::Poked);
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"created", [&] { writeFile(dir.file("a.mp3"), "x"); }},
        {"appended", [&] { std::ofstream(dir.file("a.mp3"), std::ios::app) << "next chunk"; }},
        {"attributes", [&] { fs::permissions(dir.file("a.mp3"), fs::perms::owner_read); }},
        {"renamed", [&] { fs::rename(dir.file("a.mp3"), dir.file("b.mp3")); }},
        {"removed", [&] { fs::remove(dir.file("b.mp3")); }},
        {"in a subfolder", [&] { writeFile(dir.file("sub/subsub/a"), "x"); }},
        {"a folder made", [&] { fs::create_directory(dir.file("new")); }},
        {"in a folder made after watch()", [&] { writeFile(dir.file("new/a"), "x"); }},
        // Moved in with a folder already inside it, then moved within the tree.
        {"moved in", [&] { fs::rename(outside.file("album"), dir.file("album")); }},
        {"in a folder moved in", [&] { writeFile(dir.file("album/cd1/a"), "x"); }},
        {"moved within", [&] { fs::rename(dir.file("album"), dir.file("sub/album")); }},
        {"a folder made in a moved one", [&] { fs::create_directory(dir.file("sub/album/cd2")); }},
        {"in that folder, which has the new path", [&] { writeFile(dir.file("sub/album/cd2/a"), "x"); }},
    };
    for (const auto& [what, change] : changes) {
        change();
        EXPECT_EQ(settle(watch), Event::Changed) << what;
    }

    // A poke is neither lost while a wait runs nor held back by changes.
    std::future<Event> seen = std::async(std::launch::async, [&] { return watch.wait(); });
    watch.poke();
    EXPECT_EQ(seen.get(), Event::Poked);
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
    EXPECT_TRUE(settle(watch) == Event::Changed && !watch.watching());
    writeFile(dir.file("moved/sub/a"), "x");
    EXPECT_EQ(settle(watch), Event::Poked) << "no watch may stay on the moved tree";
    ASSERT_TRUE(watch.watch(dir.file("moved/sub")));
    fs::remove_all(dir.file("moved"));
    EXPECT_TRUE(settle(watch) == Event::Changed && !watch.watching());
}

TEST(FolderWatch, TellsTheNamesThatCameOrWentInTheFolderItselfUntilItMoves)
{
    TempDir dir;
    fs::create_directories(dir.file("music/sub"));
    writeFile(dir.file("in"), "");
    FolderWatch watch(FolderWatch::Limits {1, 0}, FolderWatch::Changes::Names);
    ASSERT_TRUE(watch.watch(dir.file("music")));
    writeFile(dir.file("music/a"), "");
    std::ofstream(dir.file("music/a"), std::ios::app) << "written to";
    fs::rename(dir.file("music/a"), dir.file("music/b"));
    fs::rename(dir.file("in"), dir.file("music/in"));
    writeFile(dir.file("music/sub/deep"), "");
    fs::remove(dir.file("music/b"));
    const FolderWatch::News news = watch.takeNews();
    EXPECT_FALSE(news.whole);
    EXPECT_THAT(news.names, UnorderedElementsAre("a", "b", "in"));
    EXPECT_TRUE(watch.takeNews().names.empty()) << "each name is told once";
    fs::rename(dir.file("music"), dir.file("moved"));
    EXPECT_TRUE(watch.takeNews().whole);
    EXPECT_FALSE(watch.watching());
}

} // namespace
} // namespace qvr
