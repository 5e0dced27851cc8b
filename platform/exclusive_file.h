#pragma once

#include "platform/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

// A regular file opened for reading without blocking (a FIFO cannot hang us);
// invalid, with errno telling why, when it cannot be opened or is something else.
[[nodiscard]] UniqueFd openRegularFile(const std::string& path);

// The rest of `fd`, at most `maxBytes` + 1 bytes so that a longer file shows as
// such; nothing on a read error.
[[nodiscard]] std::optional<std::string> readAll(int fd, std::size_t maxBytes = SIZE_MAX);

// Writes all of `data` to `fd`, going on after short writes and interruptions.
[[nodiscard]] bool writeAll(int fd, std::string_view data);

// Reading a file the way the program's Windows heritage opens it: without sharing.
// The file is opened without blocking (a FIFO cannot hang us), must be a regular
// file, and is held under an exclusive, non-blocking flock while it is read; a file
// that another program holds locked therefore reads as "cannot be opened".

// The whole file, or nothing when it is missing, not a regular file, locked or
// unreadable; errno then says which.
[[nodiscard]] std::optional<std::string> readFileExclusive(const std::string& path);

// The file's first line without its line end (LF, or CR LF). Nothing when the file
// cannot be read as above, or when the line is longer than `maxBytes`; an empty
// file gives an empty line.
[[nodiscard]] std::optional<std::string> readFirstLineExclusive(const std::string& path, std::size_t maxBytes);

// Splits text the way a text-mode reader sees it: a line ends at LF and a CR just
// before that LF is dropped; a last line without LF still counts, an empty text has
// no lines.
std::vector<std::string> splitTextLines(std::string_view text);

// True when something (file, folder, ...) exists at `path`.
[[nodiscard]] bool pathExists(const std::string& path);

} // namespace qvr
