#pragma once

#include "platform/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qvr {

// A track being downloaded into its file. Every write reaches the disk before it
// returns (the file is opened for synchronous data writes), so that what the file
// holds is always what has been counted as received. Each operation says whether it
// worked; one that did not leaves the download unfinished, never silently short.
// One thread uses an object at a time.
class TrackFile {
public:
    // Opens the file at `path` for reading and writing, creating it when missing and
    // keeping what it holds, and takes an exclusive lock on it, so that a second
    // download of the same track cannot write into it. Nothing when the file cannot
    // be opened or locked, when `path` names a symbolic link or anything but a
    // regular file.
    static std::optional<TrackFile> openForResume(const std::string& path);

    // The file's size when it was opened: the bytes of the track already there.
    std::uint64_t sizeAtOpen() const noexcept { return m_sizeAtOpen; }

    // Writes all `size` bytes at `offset`; false when not all of them could be
    // written (the disk is full, the file too large, an I/O error).
    [[nodiscard]] bool writeAt(std::uint64_t offset, const char* data, std::size_t size);
    // Cuts the file to `size` bytes.
    [[nodiscard]] bool truncate(std::uint64_t size);
    // Waits until what was written is on the disk.
    [[nodiscard]] bool sync();
    // True while this file is still the one at `path`: not deleted, not moved away,
    // not replaced by another.
    [[nodiscard]] bool stillAt(const std::string& path) const;

private:
    TrackFile(UniqueFd fd, std::uint64_t size) : m_fd(std::move(fd)), m_sizeAtOpen(size) {}

    UniqueFd m_fd;
    std::uint64_t m_sizeAtOpen = 0;
};

} // namespace qvr
