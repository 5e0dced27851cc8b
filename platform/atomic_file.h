#pragma once

#include <sys/types.h>

#include <functional>
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

// The same way of replacing, for contents that `fill` writes into the temporary
// file's descriptor (false from it abandons the new file), with the permission bits
// `mode`. The name `path` itself gets the new file: a link there is replaced, not
// followed.
bool placeFileAtomically(const std::string& path, mode_t mode, const std::function<bool(int fd)>& fill);

// Flushes the entries of `folder`, so that a rename in it survives a crash.
void syncFolder(const std::string& folder);

} // namespace qvr
