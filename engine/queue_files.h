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

} // namespace qvr
