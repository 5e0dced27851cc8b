#pragma once

#include "platform/file_result.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

// Requests that second starts handed over and that the window has not taken yet,
// one file each in a folder beside the queue files. The hand-off's own thread puts
// a request here before it answers, so a second start may go as soon as its request
// is on disk, however busy the window is; the window's thread takes them later, in
// the order they came, and removes each one once the raw-queue file holds it.
class RequestInbox {
public:
    // The longest request a file here may hold; a longer file is not one of ours.
    static constexpr std::size_t kMaxRequestBytes = 64 * 1024;

    explicit RequestInbox(std::string folder);

    // The inbox that belongs to the raw-queue file at `rawQueuePath`.
    static std::string folderBeside(const std::string& rawQueuePath);

    // Puts `text` into a file of its own, on disk before this returns (the file and
    // its name), making the folder when it is missing. When that failed, nothing is
    // left behind. Safe from any thread.
    [[nodiscard]] FileResult depositRequest(std::string_view text);

    struct Letter {
        std::string path;
        std::string text;
    };
    // What waits, oldest first. A file that is no request (empty, too long, a
    // folder) is removed.
    std::vector<Letter> pendingLetters() const;
    // Whether any file waits that may be a letter; cheaper than reading them all.
    [[nodiscard]] bool hasLetters() const;
    void removeLetter(const Letter& letter) const;

    // Removes the temporary files of deposits that a killed process left half done.
    void removeLeftTemporaries() const;

    const std::string& folder() const { return m_folder; }

private:
    std::string m_folder;
    std::atomic<unsigned> m_count {0};
};

} // namespace qvr
