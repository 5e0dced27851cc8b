#pragma once

#include "engine/queue_item.h"
#include "engine/reports.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace qvr {

class FileList;
struct FileListChanges;

// Messages the workers send to the main window (the window's own vocabulary, and what
// other instances send it, is window_messages.h). Every one but the download's
// progress is delivered synchronously: the sender waits until the window's thread has
// handled it. What each carries, and where, is fixed by its type in namespace msg
// below.
enum WindowMessage : unsigned {
    WM_USER = 0x0400,
    WM_FOLDER_CHANGED = WM_USER + 100,    // 1124
    WM_SET_STATUS = WM_USER + 102,        // 1126
    WM_DOWNLOAD_PROGRESS = WM_USER + 103, // 1127
    WM_DOWNLOAD_FINISHED = WM_USER + 104, // 1128
    WM_FILE_OPEN_FAILED = WM_USER + 105,  // 1129
    WM_ENTRY_RESOLVED = WM_USER + 107,    // 1131
    WM_THREAD_EXITED = WM_USER + 108,     // 1132
    WM_FOLDER_UNAVAILABLE = WM_USER + 109,  // 1133
    WM_FILES_LISTED = WM_USER + 113,        // 1137
};

enum DownloadFlags : std::int32_t {
    DLF_DONE = 1,
    DLF_PAUSED = 2,
    DLF_NETWORK_ERROR = 4,
    DLF_CANCEL_CURRENT = 8,
    DLF_CLEAR_QUEUE = 16,
    // The download folder could not take the track (WM_FOLDER_UNAVAILABLE said why);
    // the item stays.
    DLF_FOLDER_UNAVAILABLE = 32,
    // The track alone failed: it waits, and the tracks behind it go on.
    DLF_SET_ASIDE = 64,
};

enum ResolveFlags : std::int32_t {
    RSF_CONSUMED = 1,
    RSF_NETWORK_ERROR = 2,
    // With RSF_CONSUMED: the store answered, but with no track to queue.
    RSF_REFUSED = 4,
    // The request alone failed: it waits, and the requests behind it go on.
    RSF_SET_ASIDE = 8,
};

enum ThreadBits : std::int32_t {
    THREAD_BIT_WATCHER = 1,
    THREAD_BIT_RESOLVER = 2,
    THREAD_BIT_DOWNLOADER = 4,
    THREAD_BITS_ALL = 7,
};

// A message's two parameters as they travel.
struct MessageParams {
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// The receiving end of the messages: the main window. SendMessage returns once the
// message has been handled (or at once, with 0, when the window is gone); postMessage
// queues it behind those sent or posted before, and returns at once.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // A sink without a queue of its own handles the message at once.
    virtual void postMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
    {
        // Nobody waits for the result of a posted message.
        static_cast<void>(SendMessage(message, wParam, lParam));
    }
};

// The running download's percentage on its way from the downloader to the window,
// which the downloader never waits for: a chunk of a fast download takes far less
// than a repaint. The downloader leaves each new figure here, and posts
// WM_DOWNLOAD_PROGRESS only while no report is held: the window shows the figure it
// carries, and kProgressIntervalMs later takes the latest figure, if another
// came, or lets the next report come at once. So the window shows a new figure at
// most about ten times a second, and the one a stalled download stopped at.
class ProgressMailbox {
public:
    static constexpr int kProgressIntervalMs = 100;

    // The downloader's new figure; true when it is to be posted now.
    [[nodiscard]] bool publish(std::int32_t percent)
    {
        m_latest = percent;
        return !m_held.exchange(true);
    }
    // The window, kProgressIntervalMs after it showed `shown`: a newer figure to show
    // now (reports stay held for another interval), or none (the next one is posted).
    [[nodiscard]] std::optional<std::int32_t> takeNewer(std::int32_t shown)
    {
        // Let go first: a figure left after the look below is posted by the
        // downloader itself.
        m_held = false;
        const std::int32_t latest = m_latest;
        if (latest < 0 || latest == shown)
            return std::nullopt;
        m_held = true;
        return latest;
    }
    // The window, once the attempt has ended (its downloader waits for the report).
    void clear()
    {
        m_latest = -1;
        m_held = false;
    }

private:
    std::atomic<std::int32_t> m_latest {-1};
    std::atomic<bool> m_held {false};
};

// One type per message: its number, what it carries, and the one pair that puts the
// payload into the parameters (pack) and takes it out again (unpack). Senders and
// the window both go through these, so the two ends cannot disagree. A pointer in a
// payload is valid only while the message is being handled: the sender waits.
namespace msg {

namespace detail {

// The one place where a payload becomes a parameter and back.
template <class T>
std::uintptr_t toWParam(T* pointer) noexcept
{
    return reinterpret_cast<std::uintptr_t>(pointer);
}
template <class T>
std::intptr_t toLParam(T* pointer) noexcept
{
    return static_cast<std::intptr_t>(toWParam(pointer));
}
inline std::intptr_t toLParam(std::int32_t number) noexcept
{
    return number;
}
template <class Payload>
Payload fromParam(std::uintptr_t param) noexcept
{
    if constexpr (std::is_pointer_v<Payload>)
        return reinterpret_cast<Payload>(param);
    else
        return static_cast<Payload>(param);
}

// A message without a payload.
template <unsigned number>
struct Signal {
    static constexpr unsigned kNumber = number;
    MessageParams pack() const noexcept { return {}; }
    static Signal unpack(MessageParams) noexcept { return {}; }
};

// A message whose payload travels in lParam: a 32-bit number, or a pointer.
template <unsigned number, class Payload>
struct InLParam {
    static constexpr unsigned kNumber = number;
    Payload value {};
    MessageParams pack() const noexcept { return {0, toLParam(value)}; }
    static InLParam unpack(MessageParams p) noexcept
    {
        return {fromParam<Payload>(static_cast<std::uintptr_t>(p.lParam))};
    }
};

} // namespace detail

// The folder watcher saw names come or go in the download folder `folder`
// (NUL-terminated), and what they change in its list (none when nothing listed
// changed). Valid during the call.
struct FolderChange {
    const char* folder = nullptr;
    const FileListChanges* changes = nullptr;
};
using FolderChanged = detail::InLParam<WM_FOLDER_CHANGED, const FolderChange*>;
// The status text to show, NUL-terminated.
using SetStatus = detail::InLParam<WM_SET_STATUS, const char*>;
// How far the running download is, in percent (posted: see ProgressMailbox).
using DownloadProgress = detail::InLParam<WM_DOWNLOAD_PROGRESS, std::int32_t>;
// The target file, whose full path this is (NUL-terminated), cannot be opened.
using FileOpenFailed = detail::InLParam<WM_FILE_OPEN_FAILED, const char*>;
// The worker with this THREAD_BIT_ ended.
using ThreadExited = detail::InLParam<WM_THREAD_EXITED, std::int32_t>;

// The download folder, or why it cannot take a track: missing, not a folder, not
// writable or full.
struct FolderTrouble {
    const char* folder = nullptr;  // NUL-terminated
    std::int32_t error = 0;        // the errno behind it
};
using FolderUnavailable = detail::InLParam<WM_FOLDER_UNAVAILABLE, const FolderTrouble*>;

// The downloaded-files list of `folder` (NUL-terminated), read whole and sorted by
// the folder watcher (scanDownloadedFiles): because the window asked for it, the
// folder is newly watched, or its names cannot be followed one by one (the kernel
// dropped some, the folder moved). The window may take the entries and leave others
// in their place, which the sender frees.
struct FilesListing {
    const char* folder = nullptr;
    FileList* entries = nullptr;
};
using FilesListed = detail::InLParam<WM_FILES_LISTED, FilesListing*>;

// An attempt on the head item ended. lParam: the DLF_ flags of its outcome and of
// the user's requests the downloader saw.
struct DownloadFinished {
    static constexpr unsigned kNumber = WM_DOWNLOAD_FINISHED;
    using Outcome = DownloadReport::Outcome;
    DownloadReport value;

    MessageParams pack() const noexcept
    {
        std::int32_t flags = 0;
        switch (value.outcome) {
        case Outcome::Done: flags = DLF_DONE; break;
        case Outcome::Unfinished: break;
        case Outcome::NetworkError: flags = DLF_NETWORK_ERROR; break;
        case Outcome::FolderUnavailable: flags = DLF_FOLDER_UNAVAILABLE; break;
        case Outcome::SetAside: flags = DLF_SET_ASIDE; break;
        }
        flags |= (value.paused ? DLF_PAUSED : 0) | (value.cancelled ? DLF_CANCEL_CURRENT : 0)
            | (value.cleared ? DLF_CLEAR_QUEUE : 0);
        return {0, flags};
    }
    static DownloadFinished unpack(MessageParams p) noexcept
    {
        const auto flags = static_cast<std::int32_t>(p.lParam);
        const Outcome outcome = (flags & DLF_DONE)      ? Outcome::Done
            : (flags & DLF_FOLDER_UNAVAILABLE)          ? Outcome::FolderUnavailable
            : (flags & DLF_NETWORK_ERROR)               ? Outcome::NetworkError
            : (flags & DLF_SET_ASIDE)                   ? Outcome::SetAside
                                                        : Outcome::Unfinished;
        return {{outcome, (flags & DLF_PAUSED) != 0, (flags & DLF_CANCEL_CURRENT) != 0,
                 (flags & DLF_CLEAR_QUEUE) != 0}};
    }
};

// A track-info request ended. wParam: the sender's new item, or null; the window
// moves the item out (take()), and the sender frees what is left. lParam: the RSF_
// flags of the outcome.
struct EntryResolved {
    static constexpr unsigned kNumber = WM_ENTRY_RESOLVED;
    using Outcome = ResolveReport::Outcome;
    Outcome outcome = Outcome::StoreBusy;
    QueueItem* item = nullptr;

    // The message of the sender's report, which stays the sender's until take().
    static EntryResolved of(ResolveReport& report) noexcept
    {
        return {report.outcome, report.item ? &*report.item : nullptr};
    }
    MessageParams pack() const noexcept
    {
        std::int32_t flags = 0;
        switch (outcome) {
        case Outcome::Consumed: flags = RSF_CONSUMED; break;
        case Outcome::Refused: flags = RSF_CONSUMED | RSF_REFUSED; break;
        case Outcome::NetworkError: flags = RSF_NETWORK_ERROR; break;
        case Outcome::StoreBusy: break;
        case Outcome::SetAside: flags = RSF_SET_ASIDE; break;
        }
        return {detail::toWParam(item), flags};
    }
    static EntryResolved unpack(MessageParams p) noexcept
    {
        const auto flags = static_cast<std::int32_t>(p.lParam);
        const Outcome outcome = (flags & RSF_NETWORK_ERROR) ? Outcome::NetworkError
            : (flags & RSF_SET_ASIDE)                       ? Outcome::SetAside
            : !(flags & RSF_CONSUMED)                       ? Outcome::StoreBusy
            : (flags & RSF_REFUSED)                         ? Outcome::Refused
                                                            : Outcome::Consumed;
        return {outcome, detail::fromParam<QueueItem*>(p.wParam)};
    }
    // The report, its item moved out of the sender's.
    ResolveReport take() const
    {
        ResolveReport report {outcome, std::nullopt};
        if (item)
            report.item.emplace(std::move(item->title), std::move(item->url));
        return report;
    }
};

} // namespace msg

// Sends one typed message and waits for the answer.
template <class Message>
std::intptr_t sendMessage(MessageSink& window, const Message& message)
{
    const MessageParams params = message.pack();
    return window.SendMessage(Message::kNumber, params.wParam, params.lParam);
}

// Posts one typed message; its payload must not point at anything.
template <class Message>
void postMessage(MessageSink& window, const Message& message)
{
    const MessageParams params = message.pack();
    window.postMessage(Message::kNumber, params.wParam, params.lParam);
}

} // namespace qvr
