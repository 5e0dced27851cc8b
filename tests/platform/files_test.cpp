#include "platform/atomic_file.h"
#include "platform/exclusive_file.h"
#include "platform/track_file.h"

#include "tests/support/common.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>

namespace qvr {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// That a failed write leaves the old file and no other, the queue files' and the registry's tests show.
TEST(ReplaceFileAtomically, ReplacesTheTargetThroughALinkKeepingItsMode)
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
}

// How the first line is cut is the request-line fuzz target's; that a file another
// program holds is not read, the queue files' test.
TEST(ReadExclusive, AFifoIsNeitherWaitedForNorRead)
{
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(readFirstLineExclusive(dir.file("fifo"), 100));
}

// The file a track is written into: its own, or a free name beside what others own.
// A write the disk has no room for, the window's downloads show.
class TrackFileTest : public ::testing::TestWithParam<bool> {
protected:
    // An attempt on `track` titled "T" that writes `bytes` and, when `whole`, finishes.
    void downloaded(const std::string& track, const std::string& bytes, bool whole)
    {
        auto opening = TrackFile::open(m_dir.path(), "T", track, m_marks, m_making);
        ASSERT_TRUE(opening.file);
        ASSERT_TRUE(opening.file->writeAt(0, bytes.data(), bytes.size()));
        if (whole) {
            ASSERT_TRUE(opening.file->finish(bytes.size()));
        }
    }

    // The track's attempt opens `used`, resumed from `resumedFrom` bytes; "T.mp3" then holds `left`.
    void expectOpening(const char* used, std::uint64_t resumedFrom, std::uint64_t left)
    {
        const auto opening = TrackFile::open(m_dir.path(), "T", kMine, m_marks, m_making);
        ASSERT_TRUE(opening.file);
        EXPECT_EQ(opening.file->path(), m_dir.file(used));
        EXPECT_EQ(opening.file->sizeAtOpen(), resumedFrom);
        EXPECT_EQ(std::filesystem::is_regular_file(m_dir.file("T.mp3")) ? readFile(m_dir.file("T.mp3")).size() : 0u, left);
        EXPECT_EQ(TrackFile::open(m_dir.path(), "T", kMine, m_marks, m_making).failure.kind, TrackFile::Failure::Kind::Busy);
    }

    static constexpr const char* kMine = "http://store/t?id=1";
    TempDir m_dir;
    // Extended attributes and files made without a name, or the ways of a file
    // system that has neither: the record file and temporary names.
    TrackMarks m_marks {m_dir.file("queues/trackfiles.txt"), GetParam()};
    TrackFile::Making m_making = GetParam() ? TrackFile::Making::Unnamed : TrackFile::Making::UnderTemporaryName;
};

// Only a file the track made itself is resumed; any other file of its name is left
// alone, and the track takes a free name. A second download of the track cannot
// write into its file meanwhile.
TEST_P(TrackFileTest, ItsPartialFileIsResumed)
{
    downloaded(kMine, "12345", false);
    expectOpening("T.mp3", 5, 5);
}

// A track is the user's music: others read it as they read any file the user makes
// (a media server, another account), so far as the user's umask lets them.
TEST_P(TrackFileTest, ATrackIsReadableByOthersAsTheUmaskAllows)
{
    const mode_t before = ::umask(022);
    downloaded(kMine, "12345", true);
    ::umask(before);
    EXPECT_EQ(test::modeOf(m_dir.file("T.mp3")), 0644u);
}

TEST_P(TrackFileTest, ItsWholeFileIsResumedFromItsEnd)
{
    downloaded(kMine, "12345", true);
    expectOpening("T.mp3", 5, 5);
}

TEST_P(TrackFileTest, ItsWholeFileChangedSinceIsTheUsers)
{
    downloaded(kMine, "12345", true);
    writeFile(m_dir.file("T.mp3"), "1234567");
    expectOpening("T (2).mp3", 0, 7);
}

TEST_P(TrackFileTest, AnotherTracksFileIsLeftAlone)
{
    downloaded("http://store/t?id=2", "12345", false);
    expectOpening("T (2).mp3", 0, 5);
}

TEST_P(TrackFileTest, TheUsersFileIsLeftAlone)
{
    writeFile(m_dir.file("T.mp3"), "12345");
    expectOpening("T (2).mp3", 0, 5);
}

TEST_P(TrackFileTest, AFolderOfItsNameIsLeftAlone)
{
    ::mkdir(m_dir.file("T.mp3").c_str(), 0755);
    expectOpening("T (2).mp3", 0, 0);
}

TEST_P(TrackFileTest, ALinkToItsFileIsNotFollowed)
{
    downloaded(kMine, "12345", false);
    ::rename(m_dir.file("T.mp3").c_str(), m_dir.file("U.mp3").c_str());
    ASSERT_EQ(::symlink("U.mp3", m_dir.file("T.mp3").c_str()), 0);
    expectOpening("T (2).mp3", 0, 5);
}

// Only root can plant one.
TEST_P(TrackFileTest, AnotherUsersFileWithItsMarkIsLeftAlone)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file away";
    downloaded(kMine, "12345", false);
    ASSERT_EQ(::chown(m_dir.file("T.mp3").c_str(), 65534, 65534), 0);
    expectOpening("T (2).mp3", 0, 5);
}

// A download killed as its new file is marked (here by the kernel, at the first
// byte the record file gets) leaves no file under the track's name: the track's
// next attempt takes "T.mp3", not "T (2).mp3", and what the kill left goes.
TEST(NewTrackFile, AKillWhileItIsMarkedLeavesNothingUnderTheTracksName)
{
    for (const auto making : {TrackFile::Making::Unnamed, TrackFile::Making::UnderTemporaryName}) {
        SCOPED_TRACE(making == TrackFile::Making::Unnamed ? "made unnamed" : "made under a temporary name");
        TempDir dir;
        const TrackMarks marks {dir.file("queues/trackfiles.txt"), false};
        const pid_t child = ::fork();
        if (child == 0) {
            const rlimit nothing {0, 0};
            ::prctl(PR_SET_DUMPABLE, 0);
            ::setrlimit(RLIMIT_FSIZE, &nothing);
            static_cast<void>(TrackFile::open(dir.path(), "T", "http://store/t", marks, making));  // it dies in there
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
        // The next start comes an hour later.
        const auto anHourAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            std::filesystem::last_write_time(entry, anHourAgo);
        const auto opening = TrackFile::open(dir.path(), "T", "http://store/t", marks, making);
        ASSERT_TRUE(opening.file);
        EXPECT_EQ(opening.file->path(), dir.file("T.mp3"));
        EXPECT_EQ(test::countEntries(dir.path()), 2u) << "the track's file and the queues' folder";
    }
}

// Whatever the store titles a track, it is stored under a name the file system takes,
// that shows what it is, and where its next attempt finds it again.
struct TitleAndName {
    const char* name;
    std::string title;
    std::string file;
    TrackFile::Names names = TrackFile::Names::Posix;
};
class TitleNameTest : public ::testing::TestWithParam<TitleAndName> {};

TEST_P(TitleNameTest, TheTrackIsResumedUnderTheNameItWasStoredUnder)
{
    TempDir dir;
    const TrackMarks marks {dir.file("queues/trackfiles.txt")};
    const auto open = [&] {
        return TrackFile::open(dir.path(), GetParam().title, "http://store/t", marks, TrackFile::Making::Unnamed,
                               GetParam().names);
    };
    ASSERT_TRUE(open().file);
    EXPECT_EQ(open().file->path(), dir.file(GetParam().file));
    ASSERT_TRUE(open().file->writeAt(0, "12345", 5));
    const auto next = open();
    ASSERT_TRUE(next.file);
    EXPECT_EQ(next.file->sizeAtOpen(), 5u);
}

// Names take at most 255 bytes here.
INSTANTIATE_TEST_SUITE_P(Titles, TitleNameTest, ::testing::Values(
    TitleAndName {.name = "ASlashIsReplaced", .title = "AC/DC - Back in Black", .file = "AC_DC - Back in Black.mp3"},
    TitleAndName {.name = "ControlCharactersGoAndATabIsASpace", .title = "Bell\a\x1b[31mRed\tBlue",
                  .file = "Bell[31mRed Blue.mp3"},
    TitleAndName {.name = "TextReorderingGoes", .title = "Song\u202Egpj.exe", .file = "Songgpj.exe.mp3"},
    TitleAndName {.name = "LeadingDotsAndSpacesGo", .title = " ..Hidden", .file = "Hidden.mp3"},
    TitleAndName {.name = "NothingLeftIsAnUnderscore", .title = "...", .file = "_.mp3"},
    TitleAndName {.name = "ALongTitleIsCutToTheLongestName", .title = std::string(300, 'x'),
                  .file = std::string(251, 'x') + ".mp3"},
    TitleAndName {.name = "ALongTitleIsCutAtAWholeCharacter", .title = std::string(250, 'x') + "\u97F3\u97F3",
                  .file = std::string(250, 'x') + ".mp3"},
    TitleAndName {.name = "OnFatItsRefusedCharactersAreReplaced", .title = "What? A:B*C \"D\" <E> F\\G|H",
                  .file = "What_ A_B_C _D_ _E_ F_G_H.mp3", .names = TrackFile::Names::Fat}), test::kByName);

INSTANTIATE_TEST_SUITE_P(Marks, TrackFileTest, ::testing::Values(true, false), [](const auto& instance) {
    return instance.param ? "InAttributes" : "InARecordFileUnderTemporaryNames";
});

class MarkRecordTest : public ::testing::Test {
protected:
    UniqueFd file(const std::string& name) const
    {
        return UniqueFd(::open(m_dir.file(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    }
    void mark(const std::string& name, std::uint64_t size) const
    {
        ASSERT_TRUE(m_marks.write(file(name).get(), m_dir.file(name), {"http://store/" + name, size}));
    }
    auto markOf(const std::string& name) const { return m_marks.read(file(name).get(), m_dir.file(name)); }
    std::string record() const { return readFile(m_dir.file("trackfiles.txt")); }

    TempDir m_dir;
    TrackMarks m_marks {m_dir.file("trackfiles.txt"), false};
};

TEST_F(MarkRecordTest, AMarkThatAKillCutShortIsNoneWithoutSpoilingTheNext)
{
    mark("a", 1);
    const std::string before = record();
    mark("a", 2);
    writeFile(m_dir.file("trackfiles.txt"), record().substr(0, before.size() + 20));  // what a kill left
    EXPECT_EQ(markOf("a"), (TrackMarks::Mark {"http://store/a", 1}));
    mark("b", 3);
    EXPECT_EQ(markOf("b"), (TrackMarks::Mark {"http://store/b", 3}));
}

// 200 files marked, then one of them 1,000 times more and another removed: rewriting the record whole for each mark
// wrote more than a hundred times what appending does.
TEST_F(MarkRecordTest, TheRecordKeepsTheLatestMarkOfEachFileWritingEachAboutOnce)
{
    const auto written = [] {
        const std::string io = readFile("/proc/self/io");
        return std::stoull(io.substr(io.find("wchar:") + 6));
    };
    const std::uint64_t before = written();
    for (int i = 0; i < 200; ++i)
        mark(std::to_string(i), 1);
    std::filesystem::remove(m_dir.file("0"));
    for (std::uint64_t size = 2; size <= 1000; ++size)
        mark("1", size);
    const auto lines = static_cast<std::uint64_t>(std::ranges::count(record(), '\n'));
    EXPECT_LT(written() - before, 3 * 1200 * record().size() / lines) << "1,200 marks of the record's length";
    EXPECT_LT(lines, 4 * 199u) << "at most four times its live lines";
    EXPECT_EQ(markOf("1"), (TrackMarks::Mark {"http://store/1", 1000}));
    EXPECT_EQ(markOf("199"), (TrackMarks::Mark {"http://store/199", 1}));
}

} // namespace
} // namespace qvr
