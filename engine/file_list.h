#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

// The list's sort order: without regard to case, then byte by byte.
[[nodiscard]] bool listTextLess(std::string_view a, std::string_view b);

// The downloaded-files list: entries in the list's order, each once. A folder of a
// million tracks is kept in blocks of a few hundred names packed end to end (about
// 35 MB where strings of their own would take 80 MB), and a name that comes or goes
// moves the names of its block only, whatever the size of the list.
class FileList {
public:
    // Reads the rows front to back; the views stay valid until the list changes.
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        Iterator() = default;
        std::string_view operator*() const;
        Iterator& operator++();
        Iterator operator++(int)
        {
            Iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const Iterator&) const = default;

    private:
        friend class FileList;
        Iterator(const FileList* list, std::size_t block, std::size_t entry) : m_list(list), m_block(block), m_entry(entry) {}
        const FileList* m_list = nullptr;
        std::size_t m_block = 0;
        std::size_t m_entry = 0;
    };

    FileList() = default;
    // For lists written out by hand: `entries` in any order, doubles once.
    FileList(std::initializer_list<std::string_view> entries);

    [[nodiscard]] std::size_t size() const { return m_size; }
    [[nodiscard]] bool empty() const { return m_size == 0; }
    [[nodiscard]] std::string_view at(std::size_t row) const;
    Iterator begin() const { return {this, 0, 0}; }
    Iterator end() const { return {this, m_blocks.size(), 0}; }
    bool operator==(const FileList& other) const;

    // The row of `entry`; none when it is not in the list.
    [[nodiscard]] std::optional<std::size_t> find(std::string_view entry) const;
    // The row `entry` gets; none when it is in the list already.
    [[nodiscard]] std::optional<std::size_t> placeOf(std::string_view entry) const;
    // Puts `entry` in its place and returns its row; none (and no change) when it was
    // there already.
    std::optional<std::size_t> insert(std::string_view entry);
    void erase(std::size_t row);
    // Behind the last entry, which `entry` must follow in the list's order: how a
    // sorted listing is taken in without a search per name.
    void append(std::string_view entry);
    // Gives back the room that growing left over.
    void shrinkToFit();

    // The row to select for `prefix`, as a list box finds it from its first row: the
    // first entry after the first that begins with `prefix` (without regard to case),
    // or else the first entry if that one does; none when no entry does.
    [[nodiscard]] std::optional<std::size_t> findPrefix(std::string_view prefix) const;

private:
    // Entries each followed by a NUL (which no file name holds), and where each NUL is.
    struct Block {
        std::string text;
        std::vector<std::uint32_t> ends;
        [[nodiscard]] std::size_t size() const { return ends.size(); }
        [[nodiscard]] std::string_view at(std::size_t entry) const;
        [[nodiscard]] std::size_t lowerBound(std::string_view entry) const;
        void insert(std::size_t at, std::string_view entry);
        void erase(std::size_t at);
    };
    struct Place {
        std::size_t block = 0;
        std::size_t entry = 0;
    };

    // Where `entry` is or would go.
    [[nodiscard]] Place lowerBound(std::string_view entry) const;
    [[nodiscard]] Place placeOfRow(std::size_t row) const;
    [[nodiscard]] std::size_t rowOf(Place place) const { return m_firstRows[place.block] + place.entry; }
    void countFrom(std::size_t block);

    std::vector<Block> m_blocks;
    std::vector<std::size_t> m_firstRows;  // of each block
    std::size_t m_size = 0;
};

// The downloaded-files list: the entries of `folder` itself (not of its subfolders)
// whose names end in ".mp3" in any letter case, files by name and folders (and links
// to folders) as "[name]". Empty when the folder cannot be read.
FileList scanDownloadedFiles(const std::string& folder);

// What names of `folder` that came, went or changed kind mean for its list now:
// entries to take out where they are listed, and entries to put in where they are not.
struct FileListChanges {
    std::vector<std::string> gone {};
    std::vector<std::string> came {};
    void applyTo(FileList& list) const;
};
// The changes for `names` (of entries directly in `folder`), looked up in the folder as
// it is now; none when the folder cannot be opened, so only a whole read can say.
[[nodiscard]] std::optional<FileListChanges> listChangesOf(const std::string& folder, const std::vector<std::string>& names);

} // namespace qvr
