#include "engine/file_list.h"

#include "platform/text.h"

#include <algorithm>
#include <filesystem>

namespace qvr {

bool ListTextLess(std::string_view a, std::string_view b)
{
    const int order = CompareIgnoringCase(a, b);
    return order != 0 ? order < 0 : a < b;
}

std::vector<std::string> ListDownloadedFiles(const std::string& folder)
{
    std::vector<std::string> entries;
    if (folder.empty())
        return entries;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(folder, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!EndsWithIgnoringCase(name, ".mp3"))
            continue;
        std::error_code typeError;
        entries.push_back(it->is_directory(typeError) ? "[" + name + "]" : name);
    }
    std::sort(entries.begin(), entries.end(), ListTextLess);
    return entries;
}

int FindStringPrefix(const std::vector<std::string>& entries, std::string_view prefix, int start)
{
    const int count = static_cast<int>(entries.size());
    if (count == 0)
        return -1;
    const int first = start < 0 || start >= count ? 0 : start + 1;
    for (int i = 0; i < count; ++i) {
        const int index = (first + i) % count;
        if (StartsWithIgnoringCase(entries[static_cast<std::size_t>(index)], prefix))
            return index;
    }
    return -1;
}

} // namespace qvr
