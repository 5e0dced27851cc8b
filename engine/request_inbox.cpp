#include "engine/request_inbox.h"

#include "platform/atomic_file.h"
#include "platform/exclusive_file.h"
#include "platform/folder_listing.h"
#include "platform/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

namespace qvr {

namespace {

constexpr std::string_view kSuffix = ".req";

bool isLetterName(std::string_view name)
{
    return name.size() > kSuffix.size() && name.front() != '.' && name.ends_with(kSuffix);
}

// Names sort in the order of their deposits: the wall clock in nanoseconds, which
// also orders the files a killed instance left before those of this one, and a
// count for deposits within one tick: this is deposit number `count`.
std::string newLetterName(unsigned count)
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char name[64];
    std::snprintf(name, sizeof name, "%010lld%09ld-%06u-%d%.*s", static_cast<long long>(now.tv_sec), now.tv_nsec,
                  count % 1000000, static_cast<int>(::getpid()), static_cast<int>(kSuffix.size()),
                  kSuffix.data());
    return name;
}

} // namespace

RequestInbox::RequestInbox(std::string folder)
    : m_folder(std::move(folder))
{
}

std::string RequestInbox::folderBeside(const std::string& rawQueuePath)
{
    // Never beside a relative path: that would be wherever the program was started.
    if (!rawQueuePath.starts_with('/'))
        return {};
    return parentFolder(rawQueuePath) + "/inbox";
}

FileResult RequestInbox::depositRequest(std::string_view text)
{
    if (m_folder.empty())
        return FileResult::failed(ENOENT);
    if (text.empty() || text.size() > kMaxRequestBytes)
        return FileResult::failed(EINVAL);
    // The queue folder too may be gone (removed by hand): it is made again.
    if (const FileResult made = makeFolders(m_folder, 0700); !made)
        return made;
    return placeFileAtomically(m_folder + "/" + newLetterName(m_count.fetch_add(1)), 0600,
                               [text](int fd) { return writeAll(fd, text); });
}

std::vector<RequestInbox::Letter> RequestInbox::pendingLetters() const
{
    std::vector<Letter> letters;
    const FolderListing listing = listFolder(UniqueFd(::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!listing)
        return letters;
    while (const dirent* entry = ::readdir(listing.get())) {
        if (!isLetterName(entry->d_name))
            continue;
        Letter letter {m_folder + "/" + entry->d_name, {}};
        auto text = readFileExclusive(letter.path);
        if (!text)
            continue; // a folder, or a file somebody holds: not ours to judge
        if (!text->empty() && text->size() <= kMaxRequestBytes) {
            letter.text = std::move(*text);
            letters.push_back(std::move(letter));
        } else {
            ::unlink(letter.path.c_str());
        }
    }
    std::sort(letters.begin(), letters.end(), [](const Letter& a, const Letter& b) { return a.path < b.path; });
    return letters;
}

bool RequestInbox::hasLetters() const
{
    const FolderListing listing = listFolder(UniqueFd(::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    while (const dirent* entry = listing ? ::readdir(listing.get()) : nullptr)
        if (isLetterName(entry->d_name))
            return true;
    return false;
}

void RequestInbox::removeLetter(const Letter& letter) const
{
    // A removal lost to a power cut only brings the request back at the next start,
    // where it is resolved again and its track found queued or already whole.
    if (::unlink(letter.path.c_str()) == 0)
        static_cast<void>(syncFolder(m_folder));
}

void RequestInbox::removeLeftTemporaries() const
{
    if (!m_folder.empty())
        removeStaleTemporaries(m_folder + "/");
}

} // namespace qvr
