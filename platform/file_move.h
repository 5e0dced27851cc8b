#pragma once

#include "platform/unique_fd.h"

#include <string>

namespace qvr {

// Gives the file at `from` the name `to`, replacing a file there. A rename when
// both lie on one file system; otherwise a copy, on disk before `from` is removed.
// The copy is made under a temporary name beside `to`, so `to` never names a
// partial file, and it keeps the permission bits of `from`. False, with `from` in
// place and `to` as it was, on failure.
[[nodiscard]] bool moveFile(const std::string& from, const std::string& to);

// A new, empty file at `path` that only we can read and write, opened for
// writing. A file of ours that is there is replaced; a link is never followed, and
// a file of someone else's (in a shared temporary folder, say) makes it fail.
[[nodiscard]] UniqueFd createFreshFile(const std::string& path);

// Gives `to` the permission bits (rwx for user, group and others) of `from`.
[[nodiscard]] bool copyPermissions(const std::string& from, const std::string& to);

// A second name `to` for the file at `from` (a hard link; a copy, on disk, where the
// file system has no links), and the folder of `to` flushed. A file at `to` is
// replaced. False, with `to` as it was, on failure.
[[nodiscard]] bool linkOrCopy(const std::string& from, const std::string& to);

// Flushes the contents of the file at `path` to the disk.
[[nodiscard]] bool syncFile(const std::string& path);

} // namespace qvr
