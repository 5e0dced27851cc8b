#pragma once

#include <string>
#include <string_view>

namespace qvr {

// Replaces the file at `path` with `contents` so that a reader, a crash or a full
// disk never sees anything but the old file or the new one, whole: the data go to
// a temporary file in the same folder, are flushed, and the temporary file is then
// renamed over the old one. A symbolic link at `path` is followed, so the file it
// points to is replaced and the link stays. Returns false (old file untouched) on
// any failure.
bool replaceFileAtomically(const std::string& path, std::string_view contents);

} // namespace qvr
