#pragma once

#include "platform/file_result.h"

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace qvr {

// Replaces the file at `path` with `contents` so that a reader, a crash or a full
// disk never sees anything but the old file or the new one, whole: the data go to
// a temporary file in the same folder, are flushed, and the temporary file is then
// renamed over the old one. A symbolic link at `path` is followed, so the file it
// points to is replaced and the link stays. On any failure the old file is left
// untouched and the result says why.
[[nodiscard]] FileResult replaceFileAtomically(const std::string& path, std::string_view contents);

// The same way of replacing, for contents that `fill` writes into the temporary
// file's descriptor (false from it abandons the new file, with errno saying why),
// with the permission bits `mode`. The name `path` itself gets the new file: a link
// there is replaced, not followed.
[[nodiscard]] FileResult placeFileAtomically(const std::string& path, mode_t mode,
                                             const std::function<bool(int fd)>& fill);

// Flushes the entries of `folder`, so that a name made, renamed or removed in it
// survives a power cut.
[[nodiscard]] FileResult syncFolder(const std::string& folder);

// Makes `folder` and any missing folder above it, each with `mode` (less the
// umask), and syncs the folder that holds each one made, so that a power cut does
// not take them back. Done when `folder` is there as a folder at the end.
[[nodiscard]] FileResult makeFolders(const std::string& folder, mode_t mode);

// Removes what replacements of `path` that a killed process left half done: its
// temporary files, older than `age` (a replacement takes milliseconds). With an
// empty file name (`path` ending in "/"), those of every file in that folder.
void removeStaleTemporaries(const std::string& path, std::chrono::seconds age = std::chrono::seconds(60));

} // namespace qvr
