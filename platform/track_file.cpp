#include "platform/track_file.h"

#include "platform/atomic_file.h"
#include "platform/exclusive_file.h"
#include "platform/folder_listing.h"
#include "platform/paths.h"

#include <fcntl.h>
#include <sys/file.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <ctime>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace qvr {

namespace {

constexpr const char* kMarkAttribute = "user.quavero.track";
// A mark longer than this is none of ours: a track's address is far shorter.
constexpr std::size_t kMaxMarkBytes = 8192;
// The record file never grows past what a folder of many thousand tracks needs
// (it keeps a few times the size of its live lines).
constexpr std::size_t kMaxRecordBytes = 64 * 1024 * 1024;
// "title (2).mp3" up to this number; a folder with more of one title is not sane.
constexpr unsigned kMaxNames = 999;

// A mark as text: the track's address, and after a line feed its whole size once it
// is whole. An address never holds a line feed (the queue file could not keep it).
std::string markText(const TrackMarks::Mark& mark)
{
    return mark.wholeSize ? mark.track + "\n" + std::to_string(*mark.wholeSize) : mark.track;
}

std::optional<std::uint64_t> parseNumber(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<TrackMarks::Mark> parseMark(std::string_view text)
{
    const auto feed = text.find('\n');
    if (feed == std::string_view::npos)
        return TrackMarks::Mark {std::string(text), std::nullopt};
    const auto size = parseNumber(text.substr(feed + 1));
    if (!size)
        return std::nullopt;
    return TrackMarks::Mark {std::string(text.substr(0, feed)), size};
}

// A line of the record file: "<device>:<inode>|<mark>|<path>", the mark with its
// line feed as "|" (an address never holds one), the path last since it may.
std::string recordKey(const struct stat& st)
{
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

struct Record {
    std::string_view key;
    std::string_view mark;
    std::string_view path;
};

std::optional<Record> parseRecord(std::string_view line)
{
    const auto first = line.find('|');
    const auto second = first == std::string_view::npos ? first : line.find('|', first + 1);
    const auto third = second == std::string_view::npos ? second : line.find('|', second + 1);
    if (third == std::string_view::npos)
        return std::nullopt;
    return Record {line.substr(0, first), line.substr(first + 1, third - first - 1), line.substr(third + 1)};
}

std::string recordMark(const TrackMarks::Mark& mark)
{
    return mark.track + "|" + (mark.wholeSize ? std::to_string(*mark.wholeSize) : std::string());
}

std::optional<TrackMarks::Mark> parseRecordMark(std::string_view text)
{
    const auto bar = text.rfind('|');
    if (bar == std::string_view::npos)
        return std::nullopt;
    if (bar + 1 == text.size())
        return TrackMarks::Mark {std::string(text.substr(0, bar)), std::nullopt};
    const auto size = parseNumber(text.substr(bar + 1));
    if (!size)
        return std::nullopt;
    return TrackMarks::Mark {std::string(text.substr(0, bar)), size};
}

// Calls `visit` with each whole line of the record text and its parsed form. A
// last line without its line feed is what a kill cut short while it was appended:
// it is no line yet.
template <typename Visit>
void forEachRecord(std::string_view text, Visit visit)
{
    text = text.substr(0, text.rfind('\n') + 1);
    while (!text.empty()) {
        const std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(line.size() + 1);
        if (const auto record = parseRecord(line))
            visit(*record, line);
    }
}

// The record open for appending and locked against other writers, `size` its size
// without what a kill left of a line; invalid, with errno, when it cannot be. The
// lock is on the file that has the name: a compaction replaces it, and a writer that
// waited on the one it replaced opens the new one.
UniqueFd openRecordForAppending(const std::string& recordPath, std::uint64_t& size)
{
    for (;;) {
        UniqueFd fd(::open(recordPath.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600));
        struct stat opened {};
        struct stat named {};
        int locked;
        do
            locked = fd ? ::flock(fd.get(), LOCK_EX) : -1;
        while (locked != 0 && errno == EINTR);
        if (locked != 0 || ::fstat(fd.get(), &opened) != 0)
            return {};
        if (!S_ISREG(opened.st_mode)) {
            errno = EINVAL;
            return {};
        }
        if (::stat(recordPath.c_str(), &named) != 0 || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino)
            continue;
        // Back to the end of the last whole line, looking back from the end.
        auto end = static_cast<std::uint64_t>(opened.st_size);
        std::array<char, 4096> chunk {};
        while (end > 0 && !(::pread(fd.get(), chunk.data(), 1, static_cast<off_t>(end - 1)) == 1 && chunk[0] == '\n')) {
            const std::uint64_t from = end > chunk.size() ? end - chunk.size() : 0;
            const ssize_t n = ::pread(fd.get(), chunk.data(), end - from, static_cast<off_t>(from));
            if (n != static_cast<ssize_t>(end - from)) {
                errno = n < 0 ? errno : EIO;
                return {};
            }
            const auto feed = std::string_view(chunk.data(), static_cast<std::size_t>(n)).rfind('\n');
            if (feed != std::string_view::npos) {
                end = from + feed + 1;
                break;
            }
            end = from;
        }
        if (end < static_cast<std::uint64_t>(opened.st_size) && ::ftruncate(fd.get(), static_cast<off_t>(end)) != 0)
            return {};
        size = end;
        return fd;
    }
}

// The record is looked at for dead lines whenever its size passes 16 KiB times a
// power of two: often enough that it stays within a few times its live lines, and
// so rarely that what is read and written for it stays a few times what is appended.
constexpr std::uint64_t kCompactionUnit = 16 * 1024;

std::uint64_t compactionStep(std::uint64_t size)
{
    return size < kCompactionUnit ? 0 : std::bit_floor(size / kCompactionUnit);
}

// Replaces the record, open and locked at `locked`, by its live lines: for each
// path its latest line, while the file it names is still at that path. Done when
// the dead lines outweighed the live ones (with `anyDead`, when there was one) and
// the record was replaced.
bool compactRecord(const std::string& recordPath, int locked, bool anyDead)
{
    if (::lseek(locked, 0, SEEK_SET) != 0)
        return false;
    const auto text = readAll(locked, kMaxRecordBytes);
    if (!text || text->size() > kMaxRecordBytes)
        return false;
    std::vector<std::pair<Record, std::string_view>> lines;
    std::unordered_map<std::string_view, std::size_t> latest;
    forEachRecord(*text, [&](const Record& record, std::string_view line) {
        latest[record.path] = lines.size();
        lines.emplace_back(record, line);
    });
    std::string live;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& [record, line] = lines[i];
        struct stat st {};
        if (latest[record.path] == i && ::lstat(std::string(record.path).c_str(), &st) == 0
            && recordKey(st) == record.key)
            live.append(line).append("\n");
    }
    const std::size_t dead = text->size() - live.size();
    if (anyDead ? dead == 0 : dead <= live.size())
        return false;
    return static_cast<bool>(replaceFileAtomically(recordPath, live));
}

// The next character of `text` and its length in bytes; a byte that begins no
// valid UTF-8 character is a character of its own, reported as `kNotUtf8`.
constexpr char32_t kNotUtf8 = 0xFFFFFFFF;
std::pair<char32_t, std::size_t> nextCharacter(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return {lead, 1};
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                                               : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || text.size() < length)
        return {kNotUtf8, 1};
    char32_t c = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return {kNotUtf8, 1};
        c = (c << 6) | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and what lies past Unicode are no characters.
    const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (c < least || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        return {kNotUtf8, 1};
    return {c, length};
}

// Characters that change the order in which the rest of a name shows: a name could
// pose as another ("3pm.exe" reading as "exe.mp3").
bool reordersText(char32_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// The title made into what the file system takes before ".mp3": no slash (a name,
// never a path), no control characters (line breaks and tabs become spaces, the rest
// goes) and nothing that reorders the text, no leading dot (a hidden file) or space,
// and on FAT none of the characters it refuses. Bytes that are no UTF-8 become "_".
std::string nameStem(std::string_view title, TrackFile::Names names)
{
    std::string stem;
    for (std::size_t at = 0; at < title.size();) {
        const auto [c, length] = nextCharacter(title.substr(at));
        const bool fatRefuses = names == TrackFile::Names::Fat && c < 0x80
            && std::string_view("?:*\"<>\\|").find(static_cast<char>(c)) != std::string_view::npos;
        if (c == '/' || c == kNotUtf8 || fatRefuses)
            stem += '_';
        else if (c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
            stem += ' ';
        else if (c >= 0x20 && c != 0x7F && !(c >= 0x80 && c <= 0x9F) && !reordersText(c))
            stem.append(title.substr(at, length));
        at += length;
    }
    stem.erase(0, stem.find_first_not_of(". "));
    return stem.empty() ? std::string("_") : stem;
}

// "stem.mp3", or "stem (n).mp3" from the second on, with the stem cut (at a whole
// character) so that the name takes at most `nameMax` bytes, and on FAT at most 255
// UTF-16 units.
std::string candidateName(const std::string& stem, unsigned n, std::size_t nameMax, TrackFile::Names names)
{
    const std::string suffix = n == 1 ? std::string(".mp3") : " (" + std::to_string(n) + ").mp3";
    const std::size_t maxUnits = names == TrackFile::Names::Fat ? 255 : nameMax;
    std::size_t bytes = 0;
    std::size_t units = suffix.size();
    while (bytes < stem.size()) {
        const auto [c, length] = nextCharacter(std::string_view(stem).substr(bytes));
        units += c >= 0x10000 ? 2 : 1;
        if (bytes + length + suffix.size() > nameMax || units > maxUnits)
            break;
        bytes += length;
    }
    return stem.substr(0, bytes) + suffix;
}

bool isFat(int dir)
{
    // exFAT's magic number, which older kernel headers lack.
    constexpr unsigned long kExfatMagic = 0x2011BAB0;
    struct statfs fs {};
    if (::fstatfs(dir, &fs) != 0)
        return false;
    const auto type = static_cast<unsigned long>(fs.f_type);
    return type == MSDOS_SUPER_MAGIC || type == kExfatMagic;
}

// The most bytes a name in the folder open at `dir` may take.
std::size_t longestName(int dir)
{
    const long most = ::fpathconf(dir, _PC_NAME_MAX);
    return most > 0 ? static_cast<std::size_t>(most) : NAME_MAX;
}

bool refusesName(int error)
{
    return error == ENAMETOOLONG || error == EINVAL || error == EILSEQ;
}

using Kind = TrackFile::Failure::Kind;
constexpr int kFileFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_DSYNC;

// Why a new file could not be made: EEXIST when its name was taken meanwhile.
struct Refusal {
    Kind kind;
    int error;
};

Refusal refusalOfName(int error)
{
    return {refusesName(error) ? Kind::NameRefused : Kind::FolderUnavailable, error};
}

// A new file waits under a name of this prefix, where the file system cannot make one
// without a name, until it is marked. Nothing is ever written into it under that
// name, so one that a killed process left behind is empty; it is removed once it is
// older than any making takes.
constexpr std::string_view kTemporaryPrefix = ".quavero-new-";
constexpr std::time_t kAbandonedAfterSeconds = 60;

void removeAbandonedFiles(int dir)
{
    const FolderListing listing = listFolder(UniqueFd(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!listing)
        return;
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(listing.get())) {
        struct stat st {};
        if (std::string_view(entry->d_name).starts_with(kTemporaryPrefix)
            && ::fstatat(::dirfd(listing.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
            && st.st_uid == ::geteuid() && st.st_size == 0 && now - st.st_mtime > kAbandonedAfterSeconds)
            ::unlinkat(::dirfd(listing.get()), entry->d_name, 0);  // else at a later making
    }
}

// Gives the file at `temporary` the name `name`, never taking it from a file that
// has it: an exclusive rename, or, where the file system has none, a second name and
// the first removed. The errno when it could not.
int nameExclusively(int dir, const std::string& temporary, const std::string& name)
{
    if (::renameat2(dir, temporary.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    if (::linkat(dir, temporary.c_str(), dir, name.c_str(), 0) != 0)
        return errno;
    if (::unlinkat(dir, temporary.c_str(), 0) == 0)
        return 0;
    // Two names for the track's file would leave one behind for good: neither stays.
    const int error = errno;
    ::unlinkat(dir, name.c_str(), 0);
    return error;
}

// The track's new file under `name` in the folder open at `dir`, locked and marked
// for the track under its path `path` before the name shows it (see
// TrackFile::Making). In the record file the mark's line comes before the name: a
// kill between them leaves a line for a file that is not there, which the record's
// next compaction drops.
std::variant<UniqueFd, Refusal> makeMarkedFile(int dir, const std::string& name, const std::string& path,
                                               const std::string& track, const TrackMarks& marks,
                                               TrackFile::Making making)
{
    const auto lockAndMark = [&](int fd) -> std::optional<Refusal> {
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
            return Refusal {Kind::Busy, errno};
        FileResult marked = marks.write(fd, path, {track, std::nullopt});
        if (marked && ::fsync(fd) != 0)
            marked = FileResult::fromErrno();
        return marked ? std::nullopt : std::optional(Refusal {Kind::FolderUnavailable, marked.error()});
    };
    if (making == TrackFile::Making::Unnamed) {
        UniqueFd fd(::openat(dir, ".", kFileFlags | O_TMPFILE, 0644));
        // A file system without such files says so in one of these ways.
        if (!fd && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return Refusal {Kind::FolderUnavailable, errno};
        if (fd) {
            if (const auto refused = lockAndMark(fd.get()))
                return *refused;
            const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
            if (::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
                return fd;
            // ENOENT: no /proc to link through (or no folder, which the way below finds).
            if (errno != ENOENT)
                return refusalOfName(errno);
        }
    }
    removeAbandonedFiles(dir);
    std::string temporary;
    UniqueFd fd;
    for (unsigned i = 0; !fd && i < kMaxNames; ++i) {
        temporary = std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" + std::to_string(i);
        fd = UniqueFd(::openat(dir, temporary.c_str(), kFileFlags | O_CREAT | O_EXCL, 0644));
        if (!fd && errno != EEXIST)
            break;
    }
    if (!fd)  // EEXIST here would read as the track's name taken
        return Refusal {Kind::FolderUnavailable, errno == EEXIST ? EAGAIN : errno};
    const auto refused = lockAndMark(fd.get());
    const int error = refused ? 0 : nameExclusively(dir, temporary, name);
    if (!refused && error == 0)
        return fd;
    ::unlinkat(dir, temporary.c_str(), 0);
    if (refused)
        return *refused;
    if (error != EPERM && error != EOPNOTSUPP && error != ENOSYS)
        return refusalOfName(error);
    // Neither an exclusive rename nor a second name: the file is made under its
    // name and marked there, the one way such a file system leaves.
    fd = UniqueFd(::openat(dir, name.c_str(), kFileFlags | O_CREAT | O_EXCL, 0644));
    if (!fd)
        return refusalOfName(errno);
    if (const auto unmarked = lockAndMark(fd.get())) {
        ::unlinkat(dir, name.c_str(), 0);
        return *unmarked;
    }
    return fd;
}

} // namespace

TrackMarks::TrackMarks(std::string recordPath, bool useAttributes)
    : m_recordPath(std::move(recordPath)), m_useAttributes(useAttributes)
{
}

std::optional<TrackMarks::Mark> TrackMarks::read(int fd, const std::string& path) const
{
    if (m_useAttributes) {
        std::array<char, kMaxMarkBytes> buffer {};
        const ssize_t n = ::fgetxattr(fd, kMarkAttribute, buffer.data(), buffer.size());
        if (n >= 0)
            return parseMark(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        if (errno != ENOTSUP)
            return std::nullopt;
    }
    return readRecord(fd, path);
}

FileResult TrackMarks::write(int fd, const std::string& path, const Mark& mark) const
{
    if (mark.track.empty() || mark.track.find_first_of(std::string_view("\n|\0", 3)) != std::string::npos)
        return FileResult::failed(EINVAL);
    if (m_useAttributes) {
        const std::string text = markText(mark);
        if (::fsetxattr(fd, kMarkAttribute, text.data(), text.size(), 0) == 0)
            return ::fsync(fd) == 0 ? FileResult::ok() : FileResult::fromErrno();
        if (errno != ENOTSUP)
            return FileResult::fromErrno();
    }
    return writeRecord(fd, path, mark);
}

std::optional<TrackMarks::Mark> TrackMarks::readRecord(int fd, const std::string& path) const
{
    struct stat st {};
    const UniqueFd file = openRegularFile(m_recordPath);
    const auto text = file ? readAll(file.get(), kMaxRecordBytes) : std::nullopt;
    if (!text || ::fstat(fd, &st) != 0)
        return std::nullopt;
    std::optional<Record> latest;
    forEachRecord(*text, [&](const Record& record, std::string_view) {
        if (record.path == path)
            latest = record;
    });
    // A line for an earlier file under this path is no mark of the file there now.
    if (!latest || latest->key != recordKey(st))
        return std::nullopt;
    return parseRecordMark(latest->mark);
}

FileResult TrackMarks::writeRecord(int fd, const std::string& path, const Mark& mark) const
{
    struct stat st {};
    if (m_recordPath.empty() || path.find('\n') != std::string::npos)
        return FileResult::failed(ENOTSUP);
    if (::fstat(fd, &st) != 0)
        return FileResult::fromErrno();
    const std::string line = recordKey(st) + "|" + recordMark(mark) + "|" + path + "\n";
    if (const FileResult folder = makeFolders(parentFolder(m_recordPath), 0700); !folder)
        return folder;
    // A record too large to take the line gets its dead lines dropped first, once.
    for (bool compacted = false;; compacted = true) {
        std::uint64_t size = 0;
        const auto record = openRecordForAppending(m_recordPath, size);
        if (!record)
            return FileResult::fromErrno();
        if (size + line.size() > kMaxRecordBytes) {
            if (!compacted && compactRecord(m_recordPath, record.get(), true))
                continue;
            return FileResult::failed(EFBIG);
        }
        if (!writeAll(record.get(), line) || ::fdatasync(record.get()) != 0) {
            const FileResult failed = FileResult::fromErrno();
            // What a failed write left of the line would only be dropped by the next, which
            // cuts a torn last line anyway: a failure here changes nothing.
            [[maybe_unused]] const int cut = ::ftruncate(record.get(), static_cast<off_t>(size));
            return failed;
        }
        // A record made just now must keep its name through a power cut, as the mark.
        if (size == 0) {
            if (const FileResult synced = syncFolder(parentFolder(resolvedPath(m_recordPath))); !synced)
                return synced;
        }
        // Dropping dead lines now and then keeps the record near the size of its live
        // ones: at every doubling of its size, when the dead outweigh the live. The
        // mark is on the disk already; a compaction that fails leaves the record
        // as it is, only longer, and is tried at the next doubling.
        if (compactionStep(size + line.size()) > compactionStep(size))
            static_cast<void>(compactRecord(m_recordPath, record.get(), false));
        return FileResult::ok();
    }
}

TrackFile::Opening TrackFile::open(const std::string& folder, const std::string& title, const std::string& track,
                                   const TrackMarks& marks, Making making, Names names)
{
    const auto failed = [](Kind kind, int error, std::string path) {
        return Opening {std::nullopt, Failure {kind, error, std::move(path)}};
    };
    // A folder given relative to wherever the program was started is no folder of
    // the user's.
    if (!folder.starts_with('/'))
        return failed(Kind::FolderUnavailable, ENOENT, folder);
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return failed(Kind::FolderUnavailable, errno, folder);
    if (isFat(dir.get()))
        names = Names::Fat;
    const std::size_t nameMax = longestName(dir.get());
    std::string stem = nameStem(title, names);

    unsigned races = 0;
    for (unsigned n = 1; n <= kMaxNames; ++n) {
        const std::string name = candidateName(stem, n, nameMax, names);
        std::string path = folder + "/" + name;
        // Not blocking: a FIFO planted under the name cannot hang the download.
        if (UniqueFd fd(::openat(dir.get(), name.c_str(), kFileFlags | O_NONBLOCK)); fd) {
            struct stat st {};
            if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
                continue;
            const auto mark = marks.read(fd.get(), path);
            const auto size = static_cast<std::uint64_t>(st.st_size);
            if (!mark || mark->track != track || (mark->wholeSize && *mark->wholeSize != size))
                continue;
            if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
                return failed(Kind::Busy, errno, std::move(path));
            return Opening {TrackFile(std::move(dir), std::move(fd), std::move(path), track, size, marks), {}};
        }
        if (errno == ENOENT) {
            auto made = makeMarkedFile(dir.get(), name, path, track, marks, making);
            if (const auto* refused = std::get_if<Refusal>(&made)) {
                if (refused->error == EEXIST && ++races < kMaxNames) {
                    --n;  // made by somebody else just now: look at it again
                    continue;
                }
                return failed(refused->kind, refused->error, refused->kind == Kind::FolderUnavailable ? folder : path);
            }
            // The file's name on the disk: a file without its name would be lost to
            // the next attempt.
            if (::fsync(dir.get()) != 0) {
                const int error = errno;
                ::unlinkat(dir.get(), name.c_str(), 0);
                return failed(Kind::FolderUnavailable, error, folder);
            }
            return Opening {TrackFile(std::move(dir), std::get<UniqueFd>(std::move(made)), std::move(path), track, 0,
                                      marks),
                            {}};
        }
        // A file system that keeps FAT's rules without saying so (a USB stick
        // behind FUSE, a share of another system) refuses their characters.
        if (refusesName(errno) && names != Names::Fat && nameStem(title, Names::Fat) != stem) {
            names = Names::Fat;
            stem = nameStem(title, names);
            n = 0;
            continue;
        }
        if (refusesName(errno))
            return failed(Kind::NameRefused, errno, std::move(path));
        // A link, a folder or a file we may not write: not the track's. Anything
        // else (a read-only or failing disk) is the folder's.
        if (errno != ELOOP && errno != EISDIR && errno != EACCES && errno != EPERM && errno != ETXTBSY
            && errno != ENXIO)
            return failed(Kind::FolderUnavailable, errno, folder);
    }
    return failed(Kind::NameRefused, EEXIST, folder + "/" + candidateName(stem, 1, nameMax, names));
}

FileResult TrackFile::writeAt(std::uint64_t offset, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd.get(), data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return FileResult::fromErrno();
        if (n == 0)
            return FileResult::failed(ENOSPC);
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return FileResult::ok();
}

namespace {

// A file system that reports no size at all (ramfs, some FUSE ones) has no space to
// go by: only a write that fails says it is full.
std::optional<TrackFile::Space> spaceOf(int result, const struct statvfs& fs)
{
    if (result != 0 || fs.f_blocks == 0)
        return std::nullopt;
    return TrackFile::Space {static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize,
                             static_cast<std::uint64_t>(fs.f_blocks) * fs.f_frsize};
}

} // namespace

std::optional<TrackFile::Space> TrackFile::space() const
{
    struct statvfs fs {};
    return spaceOf(::fstatvfs(m_fd.get(), &fs), fs);
}

std::optional<TrackFile::Space> folderSpace(const std::string& folder)
{
    struct statvfs fs {};
    return spaceOf(::statvfs(folder.c_str(), &fs), fs);
}

bool TrackFile::truncate(std::uint64_t size)
{
    int rc;
    do
        rc = ::ftruncate(m_fd.get(), static_cast<off_t>(size));
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool TrackFile::sync()
{
    return ::fdatasync(m_fd.get()) == 0;
}

bool TrackFile::stillThere() const
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(m_fd.get(), &opened) == 0 && opened.st_nlink > 0 && ::stat(m_path.c_str(), &named) == 0
        && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

FileResult TrackFile::finish(std::uint64_t size)
{
    if (const FileResult marked = m_marks.write(m_fd.get(), m_path, {m_track, size}); !marked)
        return marked;
    return ::fsync(m_folder.get()) == 0 ? FileResult::ok() : FileResult::fromErrno();
}

} // namespace qvr
