#pragma once

#include "engine/entry_list.h"
#include "engine/queue_item.h"
#include "platform/file_result.h"

#include <string>
#include <string_view>

namespace qvr {

// The two queue files are plain text, one element per line, each line ending in
// CR LF. The download queue holds "title|url" lines, head first; the raw queue
// one raw entry per line, oldest first. When reading, a line ends at LF (a CR just
// before it is dropped), empty lines are skipped and a line counts only up to a
// NUL byte.
//
// The load functions append the file's elements to the list in file order. They
// fail, leaving the list as it was, when the file is missing (ENOENT), is not a
// regular file, is locked by another program or cannot be read.
//
// The save functions replace the file as a whole, so that a crash or a full disk
// leaves the old file intact. They fail, leaving the file as it was, when it cannot
// be written or when the list holds an element that would not read back as itself
// (EINVAL; see the IsStorable functions).

[[nodiscard]] FileResult LoadDownloadQueue(EntryList<QueueItem>& queue, const std::string& path);
[[nodiscard]] FileResult SaveDownloadQueue(const EntryList<QueueItem>& queue, const std::string& path);

[[nodiscard]] FileResult LoadRawQueue(EntryList<RawEntryItem>& entries, const std::string& path);
[[nodiscard]] FileResult SaveRawQueue(const EntryList<RawEntryItem>& entries, const std::string& path);

// Adds one raw entry as a last line behind those in the file, making the file when
// it is missing; the file is replaced whole, as by the save functions. Fails, the
// file as it was, when the entry is not storable or the file exists but cannot be
// read (locked by another program, say) or cannot be written.
[[nodiscard]] FileResult appendRawQueue(std::string_view text, const std::string& path);

// The request that `data` brings as a raw entry: its first line, as a request
// file's first line is read (up to LF, a CR just before it dropped), up to a NUL.
RawEntry requestLine(std::string_view data);

// True when a queue item with this title and URL survives a save and a load
// unchanged: both non-empty, without "|", LF or NUL. A CR is fine: every line ends
// in CR LF and the reader drops only the CR right before the LF.
[[nodiscard]] bool isStorableQueueItem(std::string_view title, std::string_view url);

// True when a raw entry survives a save and a load unchanged: non-empty, without
// LF or NUL.
[[nodiscard]] bool isStorableRawEntry(std::string_view text);

// Where the two lists are kept between runs (the files above, on disk). Each call
// says whether it worked; a failed save leaves what was kept as it was.
class QueueStore {
public:
    enum class File { DownloadQueue, RawQueue };

    virtual ~QueueStore() = default;
    [[nodiscard]] virtual FileResult LoadDownloadQueue(EntryList<QueueItem>& queue) = 0;
    [[nodiscard]] virtual FileResult SaveDownloadQueue(const EntryList<QueueItem>& queue) = 0;
    [[nodiscard]] virtual FileResult LoadRawQueue(EntryList<RawEntryItem>& entries) = 0;
    [[nodiscard]] virtual FileResult SaveRawQueue(const EntryList<RawEntryItem>& entries) = 0;
    // One more raw entry behind those kept, without the list in memory.
    [[nodiscard]] virtual FileResult appendRawQueue(std::string_view text) = 0;
    // The folder that holds `file`, as the user would look for it.
    virtual std::string folderOf(File file) const = 0;
};

// The queue files at the paths of the settings. A file that was there but could not
// be read at the start is never written over: what it holds is not what the lists
// hold. A folder of theirs that is gone is made again.
class QueueFiles final : public QueueStore {
public:
    QueueFiles(std::string downloadQueuePath, std::string rawQueuePath);
    [[nodiscard]] FileResult LoadDownloadQueue(EntryList<QueueItem>& queue) override;
    [[nodiscard]] FileResult SaveDownloadQueue(const EntryList<QueueItem>& queue) override;
    [[nodiscard]] FileResult LoadRawQueue(EntryList<RawEntryItem>& entries) override;
    [[nodiscard]] FileResult SaveRawQueue(const EntryList<RawEntryItem>& entries) override;
    [[nodiscard]] FileResult appendRawQueue(std::string_view text) override;
    std::string folderOf(File file) const override;

    // Removes the temporary files that saves of a killed process left.
    void removeLeftTemporaries() const;

private:
    // One of the two files: where it is, and why it could not be read at the start
    // (0: it could, or it was not there).
    struct KeptFile {
        std::string path;
        int unread = 0;
    };
    template <class List>
    [[nodiscard]] static FileResult loadFile(KeptFile& file, List& list, FileResult (*load)(List&, const std::string&));
    template <class List>
    [[nodiscard]] static FileResult saveFile(const KeptFile& file, const List& list,
                                         FileResult (*save)(const List&, const std::string&));
    // Runs `save` once more after making the file's folder, when that is gone.
    template <class Write>
    [[nodiscard]] static FileResult saveMakingFolder(const std::string& path, Write save);

    KeptFile m_downloadQueue;
    KeptFile m_rawQueue;
};

} // namespace qvr
