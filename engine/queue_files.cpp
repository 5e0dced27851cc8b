#include "engine/queue_files.h"

#include "platform/atomic_file.h"
#include "platform/exclusive_file.h"
#include "platform/unique_fd.h"

#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace qvr {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Hands `take` the file's lines as a C-string reader sees them: without their line
// ends (a CR before the LF goes too), each cut at its first NUL byte, empty ones left
// out. The file is read a piece at a time under its lock: a queue of 100,000 tracks
// is never held as text and as elements at once. False, with errno saying why, when
// the file cannot be read; the lines handed over until then are then not the file's.
template <class Take>
bool forEachLine(const std::string& path, Take take)
{
    const UniqueFd fd = openRegularFile(path);
    if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    const auto takeLine = [&](std::string_view line, bool ended) {
        if (ended && line.ends_with('\r'))
            line.remove_suffix(1);
        line = line.substr(0, line.find('\0'));
        if (!line.empty())
            take(line);
    };
    std::string partial;  // a line the last piece began
    std::array<char, 65536> buffer {};
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        std::string_view rest(buffer.data(), static_cast<std::size_t>(n));
        for (auto end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
            if (partial.empty()) {
                takeLine(rest.substr(0, end), true);
            } else {
                partial.append(rest.substr(0, end));
                takeLine(partial, true);
                partial.clear();
            }
            rest.remove_prefix(end + 1);
        }
        partial.append(rest);
    }
    takeLine(partial, false);
    return true;
}

// The first two pieces of `line` split at "|", where leading separators are
// skipped and a run of them counts as one. Nothing when there are fewer than two.
std::optional<std::pair<std::string_view, std::string_view>> splitTitleAndUrl(std::string_view line)
{
    std::string_view pieces[2];
    for (std::string_view& piece : pieces) {
        const auto start = line.find_first_not_of('|');
        if (start == std::string_view::npos)
            return std::nullopt;
        line.remove_prefix(start);
        piece = line.substr(0, line.find('|'));
        line.remove_prefix(piece.size());
    }
    return std::pair(pieces[0], pieces[1]);
}

bool holdsLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\n\0", 2)) != std::string_view::npos;
}

} // namespace

RawEntry requestLine(std::string_view data)
{
    std::string_view line = data.substr(0, data.find('\n'));
    if (line.size() < data.size() && line.ends_with('\r'))
        line.remove_suffix(1);
    return RawEntry(line.substr(0, line.find('\0')));
}

bool isStorableQueueItem(std::string_view title, std::string_view url)
{
    const auto storable = [](std::string_view text) {
        return !text.empty() && text.find('|') == std::string_view::npos && !holdsLineBreakOrNul(text);
    };
    return storable(title) && storable(url);
}

bool isStorableRawEntry(std::string_view text)
{
    return !text.empty() && !holdsLineBreakOrNul(text);
}

FileResult LoadDownloadQueue(EntryList<QueueItem>& queue, const std::string& path)
{
    // A damaged or hand-edited line must not stop the load nor queue a track
    // without an address; it is simply left out.
    EntryList<QueueItem> loaded;
    const bool read = forEachLine(path, [&](std::string_view line) {
        if (const auto fields = splitTitleAndUrl(line))
            loaded.AddTail(std::make_unique<QueueItem>(std::string(fields->first), std::string(fields->second)));
    });
    if (!read)
        return FileResult::fromErrno();
    queue.AddTail(std::move(loaded));
    return FileResult::ok();
}

FileResult SaveDownloadQueue(const EntryList<QueueItem>& queue, const std::string& path)
{
    std::string contents;
    for (const QueueItem* item = queue.GetHead(); item; item = item->next.get()) {
        // Such an item is refused where it enters the queue; should one slip
        // through, keeping the old file beats writing a line that loads as
        // something else or not at all.
        if (!isStorableQueueItem(item->title, item->url))
            return FileResult::failed(EINVAL);
        contents.append(item->title).append("|").append(item->url).append(kLineEnd);
    }
    return replaceFileAtomically(path, contents);
}

FileResult LoadRawQueue(EntryList<RawEntryItem>& entries, const std::string& path)
{
    EntryList<RawEntryItem> loaded;
    const bool read = forEachLine(path, [&](std::string_view line) {
        loaded.AddTail(std::make_unique<RawEntryItem>(RawEntry(line)));
    });
    if (!read)
        return FileResult::fromErrno();
    entries.AddTail(std::move(loaded));
    return FileResult::ok();
}

FileResult SaveRawQueue(const EntryList<RawEntryItem>& entries, const std::string& path)
{
    std::string contents;
    for (const RawEntryItem* entry = entries.GetHead(); entry; entry = entry->next.get()) {
        // As for the download queue: refused on entry, and never half-written here.
        if (!isStorableRawEntry(entry->text))
            return FileResult::failed(EINVAL);
        contents.append(entry->text).append(kLineEnd);
    }
    return replaceFileAtomically(path, contents);
}

FileResult appendRawQueue(std::string_view text, const std::string& path)
{
    if (!isStorableRawEntry(text))
        return FileResult::failed(EINVAL);
    std::string contents;
    if (pathExists(path)) {
        auto existing = readFileExclusive(path);
        if (!existing)
            return FileResult::fromErrno();
        contents = std::move(*existing);
        // A last line without its line end would otherwise run into ours.
        if (!contents.empty() && contents.back() != '\n')
            contents.append(kLineEnd);
    }
    contents.append(text).append(kLineEnd);
    return replaceFileAtomically(path, contents);
}

} // namespace qvr
