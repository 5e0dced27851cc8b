#include "engine/file_list.h"

#include "platform/folder_listing.h"
#include "platform/text.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cassert>
#include <cerrno>

namespace qvr {

namespace {

// Entries per block: a change moves at most this many names (some 15 KB), and the
// rows of a million names are counted over some 2,000 blocks.
constexpr std::size_t kBlockEntries = 512;

constexpr std::string_view kListed = ".mp3";

std::string folderEntry(std::string_view name)
{
    std::string entry;
    entry.reserve(name.size() + 2);
    entry += '[';
    entry += name;
    entry += ']';
    return entry;
}

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

std::string_view FileList::Block::at(std::size_t entry) const
{
    const std::size_t start = entry == 0 ? 0 : ends[entry - 1] + 1;
    return std::string_view(text).substr(start, ends[entry] - start);
}

std::size_t FileList::Block::lowerBound(std::string_view entry) const
{
    std::size_t low = 0;
    std::size_t high = size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (listTextLess(at(middle), entry))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void FileList::Block::insert(std::size_t at, std::string_view entry)
{
    const std::size_t start = at == 0 ? 0 : ends[at - 1] + 1;
    const auto grown = static_cast<std::uint32_t>(entry.size() + 1);
    text.insert(start, entry.size() + 1, '\0');
    std::copy(entry.begin(), entry.end(), text.begin() + static_cast<std::ptrdiff_t>(start));
    for (std::size_t i = at; i < ends.size(); ++i)
        ends[i] += grown;
    ends.insert(ends.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint32_t>(start + entry.size()));
}

void FileList::Block::erase(std::size_t at)
{
    const std::size_t start = at == 0 ? 0 : ends[at - 1] + 1;
    const std::uint32_t shrunk = ends[at] + 1 - static_cast<std::uint32_t>(start);
    text.erase(start, shrunk);
    ends.erase(ends.begin() + static_cast<std::ptrdiff_t>(at));
    for (std::size_t i = at; i < ends.size(); ++i)
        ends[i] -= shrunk;
}

std::string_view FileList::Iterator::operator*() const
{
    return m_list->m_blocks[m_block].at(m_entry);
}

FileList::Iterator& FileList::Iterator::operator++()
{
    if (++m_entry == m_list->m_blocks[m_block].size()) {
        ++m_block;
        m_entry = 0;
    }
    return *this;
}

FileList::FileList(std::initializer_list<std::string_view> entries)
{
    for (const std::string_view entry : entries)
        insert(entry);
}

std::string_view FileList::at(std::size_t row) const
{
    const Place place = placeOfRow(row);
    return m_blocks[place.block].at(place.entry);
}

bool FileList::operator==(const FileList& other) const
{
    return m_size == other.m_size && std::equal(begin(), end(), other.begin());
}

FileList::Place FileList::lowerBound(std::string_view entry) const
{
    // The first block whose last entry is not before `entry`.
    const auto block = std::partition_point(m_blocks.begin(), m_blocks.end(), [&](const Block& b) {
        return listTextLess(b.at(b.size() - 1), entry);
    });
    if (block == m_blocks.end())
        return {m_blocks.size(), 0};
    return {static_cast<std::size_t>(block - m_blocks.begin()), block->lowerBound(entry)};
}

FileList::Place FileList::placeOfRow(std::size_t row) const
{
    const auto after = std::upper_bound(m_firstRows.begin(), m_firstRows.end(), row);
    const auto block = static_cast<std::size_t>(after - m_firstRows.begin()) - 1;
    return {block, row - m_firstRows[block]};
}

void FileList::countFrom(std::size_t block)
{
    m_firstRows.resize(m_blocks.size());
    std::size_t row = block == 0 ? 0 : m_firstRows[block - 1] + m_blocks[block - 1].size();
    for (std::size_t i = block; i < m_blocks.size(); ++i) {
        m_firstRows[i] = row;
        row += m_blocks[i].size();
    }
    m_size = row;
}

std::optional<std::size_t> FileList::find(std::string_view entry) const
{
    const Place place = lowerBound(entry);
    if (place.block == m_blocks.size() || m_blocks[place.block].at(place.entry) != entry)
        return std::nullopt;
    return rowOf(place);
}

std::optional<std::size_t> FileList::placeOf(std::string_view entry) const
{
    const Place place = lowerBound(entry);
    if (place.block == m_blocks.size())
        return m_size;
    if (m_blocks[place.block].at(place.entry) == entry)
        return std::nullopt;
    return rowOf(place);
}

std::optional<std::size_t> FileList::insert(std::string_view entry)
{
    Place place = lowerBound(entry);
    if (place.block == m_blocks.size()) {
        append(entry);
        return m_size - 1;
    }
    Block& block = m_blocks[place.block];
    if (block.at(place.entry) == entry)
        return std::nullopt;
    const std::size_t row = rowOf(place);
    block.insert(place.entry, entry);
    if (block.size() > kBlockEntries) {
        // Split in two halves, so that the next names that come here move few.
        Block back;
        const std::size_t half = block.size() / 2;
        const std::size_t cut = block.ends[half - 1] + 1;
        back.text.assign(block.text, cut);
        back.ends.assign(block.ends.begin() + static_cast<std::ptrdiff_t>(half), block.ends.end());
        for (std::uint32_t& end : back.ends)
            end -= static_cast<std::uint32_t>(cut);
        block.text.resize(cut);
        block.ends.resize(half);
        m_blocks.insert(m_blocks.begin() + static_cast<std::ptrdiff_t>(place.block) + 1, std::move(back));
    }
    countFrom(place.block);
    return row;
}

void FileList::erase(std::size_t row)
{
    const Place place = placeOfRow(row);
    Block& block = m_blocks[place.block];
    block.erase(place.entry);
    if (block.size() == 0)
        m_blocks.erase(m_blocks.begin() + static_cast<std::ptrdiff_t>(place.block));
    countFrom(std::min(place.block, m_blocks.size()));
}

void FileList::append(std::string_view entry)
{
    assert(m_blocks.empty() || listTextLess(at(m_size - 1), entry));
    if (m_blocks.empty() || m_blocks.back().size() >= kBlockEntries) {
        m_blocks.emplace_back();
        m_firstRows.push_back(m_size);
    }
    Block& block = m_blocks.back();
    block.text.append(entry);
    block.ends.push_back(static_cast<std::uint32_t>(block.text.size()));
    block.text.push_back('\0');
    ++m_size;
}

void FileList::shrinkToFit()
{
    for (Block& block : m_blocks) {
        block.text.shrink_to_fit();
        block.ends.shrink_to_fit();
    }
    m_blocks.shrink_to_fit();
    m_firstRows.shrink_to_fit();
}

std::optional<std::size_t> FileList::findPrefix(std::string_view prefix) const
{
    // Sorted without regard to case first, the entries that begin with `prefix` are
    // next to each other, from the first one not before it.
    const auto block = std::partition_point(m_blocks.begin(), m_blocks.end(), [&](const Block& b) {
        return compareIgnoringCase(b.at(b.size() - 1), prefix) < 0;
    });
    if (block == m_blocks.end())
        return std::nullopt;
    std::size_t low = 0;
    std::size_t high = block->size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (compareIgnoringCase(block->at(middle), prefix) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    const std::size_t first = rowOf({static_cast<std::size_t>(block - m_blocks.begin()), low});
    if (!startsWithIgnoringCase(at(first), prefix))
        return std::nullopt;
    // The search starts at the second entry and comes to the first one last.
    if (first == 0 && m_size > 1 && startsWithIgnoringCase(at(1), prefix))
        return 1;
    return first;
}

FileList scanDownloadedFiles(const std::string& folder)
{
    FileList list;
    if (folder.empty())
        return list;
    const FolderListing listing = listFolder(UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!listing)
        return list;
    // The names packed end to end while the folder is read, then sorted as views of
    // them: a million names cost their bytes and a view each, not a string each.
    std::string names;
    std::vector<std::size_t> ends;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (!endsWithIgnoringCase(name, kListed))
            continue;
        if (isFolder(::dirfd(listing.get()), *entry))
            names += folderEntry(name);
        else
            names += name;
        ends.push_back(names.size());
    }
    std::vector<std::string_view> sorted(ends.size());
    for (std::size_t i = 0, start = 0; i < ends.size(); start = ends[i++])
        sorted[i] = std::string_view(names).substr(start, ends[i] - start);
    std::vector<std::size_t>().swap(ends);
    std::sort(sorted.begin(), sorted.end(), listTextLess);
    for (const std::string_view entry : sorted)
        list.append(entry);
    list.shrinkToFit();
    return list;
}

void FileListChanges::applyTo(FileList& list) const
{
    for (const std::string& entry : gone) {
        if (const std::optional<std::size_t> row = list.find(entry))
            list.erase(*row);
    }
    for (const std::string& entry : came)
        list.insert(entry);
}

std::optional<FileListChanges> listChangesOf(const std::string& folder, const std::vector<std::string>& names)
{
    FileListChanges changes;
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return std::nullopt;
    for (const std::string& name : names) {
        if (!endsWithIgnoringCase(name, kListed) || name.find('/') != std::string::npos)
            continue;
        struct stat st {};
        if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return std::nullopt;
            changes.gone.push_back(name);
            changes.gone.push_back(folderEntry(name));
            continue;
        }
        // As a listing takes it: a link to a folder is a folder, a broken one a file.
        bool folderNow = S_ISDIR(st.st_mode);
        if (S_ISLNK(st.st_mode))
            folderNow = ::fstatat(dir.get(), name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode);
        std::string entry = folderNow ? folderEntry(name) : name;
        changes.gone.push_back(folderNow ? name : folderEntry(name));
        changes.came.push_back(std::move(entry));
    }
    return changes;
}

} // namespace qvr
