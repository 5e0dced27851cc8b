#include "engine/file_list.h"

#include "platform/folder_listing.h"
#include "platform/text.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

namespace qvr {

namespace {

// Whether the entry is a folder, or a link to one. The kernel's directory read tells
// the type of most entries itself; a link, or a file system that does not say, costs
// a stat.
bool isFolder(int dir, const dirent& entry)
{
    if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK)
        return entry.d_type == DT_DIR;
    struct stat st {};
    return ::fstatat(dir, entry.d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool listTextLess(std::string_view a, std::string_view b)
{
    const int order = compareIgnoringCase(a, b);
    return order != 0 ? order < 0 : a < b;
}

std::vector<std::string> scanDownloadedFiles(const std::string& folder)
{
    std::vector<std::string> entries;
    if (folder.empty())
        return entries;
    const FolderListing listing = listFolder(UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!listing)
        return entries;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (!endsWithIgnoringCase(name, ".mp3"))
            continue;
        if (isFolder(::dirfd(listing.get()), *entry))
            entries.push_back("[" + std::string(name) + "]");
        else
            entries.emplace_back(name);
    }
    std::sort(entries.begin(), entries.end(), listTextLess);
    return entries;
}

int findStringPrefix(const std::vector<std::string>& entries, std::string_view prefix, int start)
{
    const int count = static_cast<int>(entries.size());
    if (count == 0)
        return -1;
    const int first = start < 0 || start >= count ? 0 : start + 1;
    for (int i = 0; i < count; ++i) {
        const int index = (first + i) % count;
        if (startsWithIgnoringCase(entries[static_cast<std::size_t>(index)], prefix))
            return index;
    }
    return -1;
}

} // namespace qvr
