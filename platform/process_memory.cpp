#include "platform/process_memory.h"

#include "platform/exclusive_file.h"
#include "platform/folder_listing.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

namespace {

// A small file of /proc, read whole.
std::optional<std::string> readProcFile(const std::string& path)
{
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return file ? readAll(file.get(), 4096) : std::nullopt;
}

// The parent in /proc/<pid>/stat: the fourth field, after the name in parentheses,
// which may hold anything, spaces and parentheses too.
std::optional<pid_t> parentOf(std::string_view pid)
{
    const auto stat = readProcFile("/proc/" + std::string(pid) + "/stat");
    const auto nameEnd = stat ? stat->rfind(')') : std::string::npos;
    if (nameEnd == std::string::npos || nameEnd + 4 >= stat->size())
        return std::nullopt;
    const char* from = stat->data() + nameEnd + 4;  // past ") S "
    pid_t parent = 0;
    if (std::from_chars(from, stat->data() + stat->size(), parent).ec != std::errc())
        return std::nullopt;
    return parent;
}

} // namespace

std::uint64_t residentBytes(pid_t pid)
{
    // "size resident shared ...", in pages.
    const auto statm = readProcFile("/proc/" + std::to_string(pid) + "/statm");
    const auto space = statm ? statm->find(' ') : std::string::npos;
    std::uint64_t pages = 0;
    if (space == std::string::npos
        || std::from_chars(statm->data() + space + 1, statm->data() + statm->size(), pages).ec != std::errc())
        return 0;
    return pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

std::uint64_t descendantsResidentBytes(pid_t pid)
{
    std::multimap<pid_t, pid_t> children;
    const FolderListing proc = listFolder(UniqueFd(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!proc)
        return 0;
    while (const dirent* entry = ::readdir(proc.get())) {
        pid_t child = 0;
        const std::string_view name(entry->d_name);
        if (std::from_chars(name.data(), name.data() + name.size(), child).ec != std::errc())
            continue;
        if (const auto parent = parentOf(name))
            children.emplace(*parent, child);
    }
    std::uint64_t total = 0;
    std::vector<pid_t> below {pid};
    while (!below.empty()) {
        const pid_t parent = below.back();
        below.pop_back();
        for (auto [at, end] = children.equal_range(parent); at != end; ++at) {
            total += residentBytes(at->second);
            below.push_back(at->second);
        }
    }
    return total;
}

} // namespace qvr
