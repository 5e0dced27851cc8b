#pragma once

#include "platform/file_result.h"
#include "platform/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvr {

// Which track each file the program makes in the download folder belongs to, so
// that it only ever writes into a file it started for that same track. The mark is
// an extended attribute of the file; where the file system keeps none, it is a line
// in a record file of the program's (beside the queue files). A mark is appended to
// the record, whose latest line for a path holds, and the lines of earlier marks
// and of files that are gone are dropped now and then by an atomic replacement of
// the record; a line that a kill cut short is no mark.
class TrackMarks {
public:
    // What a file is marked with: the track it holds (its address as the store gave
    // it), and once it is whole, its size then.
    struct Mark {
        std::string track;
        std::optional<std::uint64_t> wholeSize;
        friend bool operator==(const Mark&, const Mark&) = default;
    };

    // `recordPath`: the record file for file systems without extended attributes.
    // `useAttributes` false: the record file always (a test's way to reach it).
    explicit TrackMarks(std::string recordPath, bool useAttributes = true);

    // The mark of the file open at `fd`, whose path is `path`; nothing when it has
    // none (a file of the user's, of another program, or of an earlier version).
    [[nodiscard]] std::optional<Mark> read(int fd, const std::string& path) const;
    [[nodiscard]] FileResult write(int fd, const std::string& path, const Mark& mark) const;

private:
    [[nodiscard]] FileResult writeRecord(int fd, const std::string& path, const Mark& mark) const;
    [[nodiscard]] std::optional<Mark> readRecord(int fd, const std::string& path) const;

    std::string m_recordPath;
    bool m_useAttributes;
};

// A track being downloaded into its file. Every write reaches the disk before it
// returns (the file is opened for synchronous data writes), so that what the file
// holds is always what has been counted as received. Each operation says whether it
// worked; one that did not leaves the download unfinished, never silently short.
// One thread uses an object at a time.
class TrackFile {
public:
    // Why a track's file could not be opened.
    struct Failure {
        enum class Kind {
            FolderUnavailable,  // the folder is missing, no folder, cannot be written or is full
            NameRefused,        // the file system takes no file of this name
            Busy,               // the track's own file is held by another download
        };
        Kind kind = Kind::FolderUnavailable;
        int error = 0;     // the errno behind it
        std::string path;  // the folder, or the file
    };
    struct Opening;

    // How a new file comes to its name, so that no file shows there without its
    // mark: made without a name (O_TMPFILE) and linked to it once it is marked, or
    // made under a temporary name of the program's and renamed. A file system that
    // cannot make a file without a name gets the second way by itself;
    // `UnderTemporaryName` is a test's way to reach it.
    enum class Making { Unnamed, UnderTemporaryName };

    // The rules for names of the folder's file system. A FAT folder (or one that
    // refuses a name FAT would refuse) gets FAT's by itself; `Fat` is a test's way to
    // reach them anywhere.
    enum class Names { Posix, Fat };

    // Opens the file for the track `track` titled `title` in `folder`: "title.mp3"
    // when that is the track's own file (marked for it) or free, else the first of
    // "title (2).mp3", "title (3).mp3"... that is. A file the track does not own
    // (another song of the same title, a file of the user's or of another user, a
    // link, a folder) is never opened for writing. A file made here takes its name
    // only once it is marked for the track and synced, never from a file that has
    // that name meanwhile, and that name is synced into the folder before the file
    // is used: a kill on the way leaves no file under the name. The file is held
    // under an exclusive lock, so that a second download cannot write into it.
    // "title" is the title made into a name the file system takes: a slash, control
    // and text-reordering characters, a leading dot or space never reach the name,
    // and a long title is cut to the longest name, keeping ".mp3".
    [[nodiscard]] static Opening open(const std::string& folder, const std::string& title, const std::string& track,
                                      const TrackMarks& marks, Making making = Making::Unnamed,
                                      Names names = Names::Posix);

    // The file's size when it was opened: the bytes of the track already there.
    std::uint64_t sizeAtOpen() const noexcept { return m_sizeAtOpen; }
    const std::string& path() const noexcept { return m_path; }

    // Writes all `size` bytes at `offset`; a failure (the disk is full, the file too
    // large, an I/O error) says why.
    FileResult writeAt(std::uint64_t offset, const char* data, std::size_t size);
    // The space of the file system the file is on: what is free for us, and its size;
    // nothing when the file system does not say.
    struct Space {
        std::uint64_t available = 0;
        std::uint64_t total = 0;
    };
    [[nodiscard]] std::optional<Space> space() const;
    // Cuts the file to `size` bytes.
    [[nodiscard]] bool truncate(std::uint64_t size);
    // Waits until what was written is on the disk.
    [[nodiscard]] bool sync();
    // True while this file is still the one at its path: not deleted, not moved
    // away, not replaced by another.
    [[nodiscard]] bool stillThere() const;
    // Marks the file whole at `size`, and syncs the folder, so that the track's
    // file and its name are on the disk before its queue entry goes. A whole file
    // is resumed (from its end) only while it keeps that size: one that somebody
    // changed since is theirs.
    [[nodiscard]] FileResult finish(std::uint64_t size);

private:
    TrackFile(UniqueFd folder, UniqueFd fd, std::string path, std::string track, std::uint64_t size,
              TrackMarks marks)
        : m_folder(std::move(folder)), m_fd(std::move(fd)), m_path(std::move(path)), m_track(std::move(track)),
          m_sizeAtOpen(size), m_marks(std::move(marks))
    {
    }

    UniqueFd m_folder;
    UniqueFd m_fd;
    std::string m_path;
    std::string m_track;
    std::uint64_t m_sizeAtOpen = 0;
    TrackMarks m_marks;
};

// The space of the file system that holds `folder`; nothing when it cannot be read,
// or the file system reports no size.
[[nodiscard]] std::optional<TrackFile::Space> folderSpace(const std::string& folder);

struct TrackFile::Opening {
    std::optional<TrackFile> file;
    Failure failure;  // when there is no file
};

} // namespace qvr
