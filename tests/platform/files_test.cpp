#include "platform/atomic_file.h"
#include "platform/exclusive_file.h"
#include "platform/track_file.h"
#include "platform/unique_fd.h"

#include "tests/support/disk_full.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace qvr {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(ReplaceFileAtomically, ReplacesTheTargetWholeKeepingItsModeOrLeavesItAsItWas)
{
    TempDir dir;
    const std::string path = dir.file("queue.txt");
    ASSERT_TRUE(replaceFileAtomically(path, "first"));
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(replaceFileAtomically(path, std::string(10000, 'o')));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    {
        test::DiskFull diskFull(4096);
        EXPECT_FALSE(replaceFileAtomically(path, std::string(20000, 'n')));
    }
    EXPECT_EQ(readFile(path), std::string(10000, 'o'));
    EXPECT_EQ(test::countEntries(dir.path()), 1u) << "no temporary file may stay behind";
    EXPECT_FALSE(replaceFileAtomically(dir.file("missing/queue.txt"), "x"));

    // Through a link: the file it points at is replaced, the link stays.
    ASSERT_EQ(::symlink("queue.txt", dir.file("link.txt").c_str()), 0);
    ASSERT_TRUE(replaceFileAtomically(dir.file("link.txt"), ""));
    EXPECT_EQ(readFile(path), "");
    ASSERT_EQ(::lstat(dir.file("link.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// How the first line is cut is the request-line fuzz target's; here what it reads.
TEST(ReadExclusive, LockedMissingAndSpecialFilesCannotBeReadAndLinesAreBounded)
{
    TempDir dir;
    const std::string path = dir.file("a.qvr");
    writeFile(path, "track=1\r\nsecond\r\n");
    EXPECT_EQ(readFileExclusive(path), "track=1\r\nsecond\r\n");
    EXPECT_EQ(readFirstLineExclusive(path, 7), "track=1") << "a line of exactly the limit";
    EXPECT_FALSE(readFirstLineExclusive(path, 6));
    {
        UniqueFd holder(::open(path.c_str(), O_RDONLY));
        ASSERT_EQ(::flock(holder.get(), LOCK_SH), 0);
        EXPECT_FALSE(readFileExclusive(path)) << "a file another program holds locked";
        EXPECT_FALSE(readFirstLineExclusive(path, 100));
    }
    EXPECT_TRUE(readFileExclusive(path)) << "the lock ends with its holder";
    writeFile(path, std::string(100000, 'x'));
    EXPECT_FALSE(readFirstLineExclusive(path, 5));

    EXPECT_FALSE(readFileExclusive(dir.file("missing")));
    EXPECT_FALSE(readFileExclusive(dir.path())) << "a folder";
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(readFirstLineExclusive(dir.file("fifo"), 100)) << "must neither block nor read";
}

TEST(TrackFile, OneDownloadAtATimeIntoARegularFileThatStaysWhereItWas)
{
    TempDir dir;
    const std::string path = dir.file("Song.mp3");
    writeFile(path, "12345");
    auto file = TrackFile::openForResume(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->sizeAtOpen(), 5u);
    EXPECT_FALSE(TrackFile::openForResume(path)) << "locked by the first";
    ::mkdir(dir.file("Folder.mp3").c_str(), 0755);
    writeFile(dir.file("Other.mp3"), ""); // unlocked: only the link itself may stop the open
    ::symlink("Other.mp3", dir.file("Link.mp3").c_str());
    EXPECT_FALSE(TrackFile::openForResume(dir.file("Folder.mp3")));
    EXPECT_FALSE(TrackFile::openForResume(dir.file("Link.mp3")));

    ASSERT_TRUE(file->writeAt(3, "abcdef", 6) && file->truncate(7) && file->sync());
    EXPECT_EQ(readFile(path), "123abcd");
    {
        test::DiskFull diskFull(8);
        EXPECT_FALSE(file->writeAt(6, "xyz", 3)) << "only part of it fits";
    }
    EXPECT_TRUE(file->stillAt(path));
    ::rename(path.c_str(), dir.file("Moved.mp3").c_str());
    EXPECT_FALSE(file->stillAt(path));
    writeFile(path, "");
    EXPECT_FALSE(file->stillAt(path)) << "another file under the name";
}

} // namespace
} // namespace qvr
