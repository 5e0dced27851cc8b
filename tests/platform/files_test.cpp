#include "platform/atomic_file.h"
#include "platform/exclusive_file.h"
#include "platform/track_file.h"
#include "platform/unique_fd.h"

#include "tests/support/common.h"

#include <fcntl.h>
#include <sys/file.h>

namespace qvr {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// That a failed write leaves the old file and no other, the queue files' and the registry's tests show.
TEST(ReplaceFileAtomically, ReplacesTheTargetKeepingItsModeAndAnyLinkToIt)
{
    TempDir dir;
    const std::string path = dir.file("queue.txt");
    ASSERT_TRUE(replaceFileAtomically(path, "first"));
    ::chmod(path.c_str(), 0640);
    ASSERT_EQ(::symlink("queue.txt", dir.file("link.txt").c_str()), 0);
    ASSERT_TRUE(replaceFileAtomically(dir.file("link.txt"), std::string(10000, 'o')));
    EXPECT_EQ(readFile(path), std::string(10000, 'o'));
    EXPECT_EQ(test::modeOf(path), 0640u);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.txt")));
    EXPECT_FALSE(replaceFileAtomically(dir.file("missing/queue.txt"), "x"));
    // A program started meanwhile (the desktop's opener, a new version) must not hold the new file open.
    EXPECT_TRUE(placeFileAtomically(path, 0600, [](int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }));
}

// How the first line is cut is the request-line fuzz target's; that an exclusive holder keeps
// others out, the queue files', the drop's and the start-up's tests.
TEST(ReadExclusive, AFileAnotherProgramReadsOrAFifoIsNotRead)
{
    TempDir dir;
    const std::string path = dir.file("a.qvr");
    writeFile(path, "track=1\r\n");
    {
        UniqueFd holder(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(holder.get(), LOCK_SH), 0);
        EXPECT_FALSE(readFileExclusive(path) || readFirstLineExclusive(path, 100));
    }
    EXPECT_EQ(readFileExclusive(path), "track=1\r\n") << "the lock ends with its holder";
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(readFirstLineExclusive(dir.file("fifo"), 100)) << "must neither block nor read";
}

// A write the disk has no room for, the window's downloads show.
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
    std::filesystem::create_symlink("Other.mp3", dir.file("Link.mp3"));
    EXPECT_FALSE(TrackFile::openForResume(dir.file("Folder.mp3")) || TrackFile::openForResume(dir.file("Link.mp3")));

    ASSERT_TRUE(file->writeAt(3, "abcdef", 6) && file->truncate(7) && file->sync());
    EXPECT_EQ(readFile(path), "123abcd");
    EXPECT_TRUE(file->stillAt(path));
    ::rename(path.c_str(), dir.file("Moved.mp3").c_str());
    EXPECT_FALSE(file->stillAt(path));
    writeFile(path, "");
    EXPECT_FALSE(file->stillAt(path)) << "another file under the name";
}

} // namespace
} // namespace qvr
