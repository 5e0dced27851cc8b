// The downloaded-files list: what a folder's listing holds, in which order, and the
// list kept in that order as names come and go.
#include "engine/file_list.h"

#include "tests/support/common.h"

#include <random>

namespace qvr::test {
namespace {

TEST(FileList, ListsMp3EntriesOfTheFolderItselfSorted)
{
    TempDir dir;
    for (const char* name : {"b.mp3", "a.mp3", "A.MP3", "c.txt", ".38 Special.mp3", "mp3", "a.mp3.part"})
        writeFile(dir.file(name), "");
    ::mkdir(dir.file("album.mp3").c_str(), 0755);
    ::mkdir(dir.file("sub").c_str(), 0755);
    writeFile(dir.file("sub/deep.mp3"), "");
    // Case does not count, except between names that differ only in case.
    EXPECT_EQ(rowsOf(scanDownloadedFiles(dir.path())),
              (std::vector<std::string> {".38 Special.mp3", "[album.mp3]", "A.MP3", "a.mp3", "b.mp3"}));
    EXPECT_TRUE(scanDownloadedFiles(dir.file("missing")).empty());
}

TEST(FileList, SelectionIsFoundByPrefixFromTheSecondEntryRound)
{
    const FileList entries {"Song.mp3", "song.mp3 (2)", "Zed.mp3"};
    const std::pair<const char*, std::optional<std::size_t>> cases[] = {
        {"SONG.MP3", 1}, {"zed", 2}, {"song.mp3 (3)", std::nullopt}, {"s", 1}};
    for (const auto& [prefix, found] : cases)
        EXPECT_EQ(entries.findPrefix(prefix), found) << prefix << ": starts after the first entry";
    EXPECT_EQ((FileList {"Song.mp3", "Zed.mp3"}).findPrefix("song"), 0u) << "wraps round";
    EXPECT_EQ(FileList().findPrefix("a"), std::nullopt);
}

// Thousands of names, so that they fill many blocks, come and go at random; the list
// keeps them all in the list's order, each once, at the rows that order gives.
TEST(FileList, NamesThatComeOrGoKeepTheListsOrderAcrossBlocks)
{
    std::mt19937 random(46);
    FileList list;
    std::vector<std::string> expected;
    for (int step = 0; step < 6000; ++step) {
        const std::string name = (random() % 2 ? "Track " : "track ") + std::to_string(random() % 2000) + ".mp3";
        const auto at = std::lower_bound(expected.begin(), expected.end(), name, listTextLess);
        const auto row = static_cast<std::size_t>(at - expected.begin());
        const bool listed = at != expected.end() && *at == name;
        if (step % 3 == 2 && listed) {
            ASSERT_EQ(list.find(name), row) << name;
            list.erase(row);
            expected.erase(at);
        } else {
            ASSERT_EQ(list.insert(name), listed ? std::nullopt : std::optional(row)) << name;
            if (!listed)
                expected.insert(at, name);
        }
    }
    EXPECT_EQ(rowsOf(list), expected);
    EXPECT_EQ(list.size(), expected.size());
    EXPECT_EQ(list.at(expected.size() / 2), expected[expected.size() / 2]);
}

} // namespace
} // namespace qvr::test
