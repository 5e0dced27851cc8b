#include "engine/file_list.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace qvr {

namespace {

char lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size()
        && std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return lower(a) == lower(b); });
}

bool endsWithMp3(std::string_view name)
{
    constexpr std::string_view kExtension = ".mp3";
    return name.size() >= kExtension.size()
        && startsWithIgnoringCase(name.substr(name.size() - kExtension.size()), kExtension);
}

} // namespace

bool ListTextLess(std::string_view a, std::string_view b)
{
    const bool lessIgnoringCase = std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<unsigned char>(lower(x)) < static_cast<unsigned char>(lower(y));
        });
    const bool greaterIgnoringCase = std::lexicographical_compare(
        b.begin(), b.end(), a.begin(), a.end(), [](char x, char y) {
            return static_cast<unsigned char>(lower(x)) < static_cast<unsigned char>(lower(y));
        });
    if (lessIgnoringCase || greaterIgnoringCase)
        return lessIgnoringCase;
    return a < b;
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
        if (!endsWithMp3(name))
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
        if (startsWithIgnoringCase(entries[static_cast<std::size_t>(index)], prefix))
            return index;
    }
    return -1;
}

} // namespace qvr
