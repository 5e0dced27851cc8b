#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qvr {

// The downloaded-files list: the entries of `folder` itself (not of its
// subfolders) whose names end in ".mp3" in any letter case, files by name and
// folders as "[name]", in the list's sort order.
// Empty when the folder cannot be read.
std::vector<std::string> scanDownloadedFiles(const std::string& folder);

// The list's sort order: without regard to case, then byte by byte.
[[nodiscard]] bool listTextLess(std::string_view a, std::string_view b);

// The index of the first entry that begins with `prefix` (without regard to case),
// searching from the entry after `start` and wrapping round; -1 when none does.
[[nodiscard]] int findStringPrefix(const std::vector<std::string>& entries, std::string_view prefix, int start);

} // namespace qvr
