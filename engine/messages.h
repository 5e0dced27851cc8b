#pragma once

#include <cstdint>

namespace qvr {

// Messages the workers (and other instances) send to the main window. Every one is
// delivered synchronously: the sender waits until the window's thread has handled it.
enum WindowMessage : unsigned {
    WM_SYSCOMMAND = 0x0112,
    WM_COPYDATA = 0x004A,
    WM_USER = 0x0400,
    WM_FOLDER_CHANGED = WM_USER + 100,    // 1124
    WM_SET_STATUS = WM_USER + 102,        // 1126, lParam: const char* text
    WM_DOWNLOAD_PROGRESS = WM_USER + 103, // 1127, lParam: percent
    WM_DOWNLOAD_FINISHED = WM_USER + 104, // 1128, lParam: DLF_ flags
    WM_FILE_OPEN_FAILED = WM_USER + 105,  // 1129, lParam: const char* path
    WM_SWITCH_QUIT = WM_USER + 106,       // 1130
    WM_ENTRY_RESOLVED = WM_USER + 107,    // 1131, wParam: QueueItem* or 0, lParam: RSF_ flags
    WM_THREAD_EXITED = WM_USER + 108,     // 1132, lParam: THREAD_BIT_
};

constexpr std::uintptr_t SC_RESTORE = 0xF120;
constexpr std::uintptr_t SC_MINIMIZE = 0xF020;
constexpr std::uintptr_t COPYDATA_RAW_ENTRY = 1125;

// What a WM_COPYDATA message carries.
struct CopyDataStruct {
    std::uintptr_t dwData = 0;
    std::uint32_t cbData = 0;
    const void* lpData = nullptr;
};

enum DownloadFlags : std::int32_t {
    DLF_DONE = 1,
    DLF_PAUSED = 2,
    DLF_NETWORK_ERROR = 4,
    DLF_CANCEL_CURRENT = 8,
    DLF_CLEAR_QUEUE = 16,
};

enum ResolveFlags : std::int32_t {
    RSF_CONSUMED = 1,
    RSF_NETWORK_ERROR = 2,
};

enum ThreadBits : std::int32_t {
    THREAD_BIT_WATCHER = 1,
    THREAD_BIT_RESOLVER = 2,
    THREAD_BIT_DOWNLOADER = 4,
    THREAD_BITS_ALL = 7,
};

// The receiving end of the messages: the main window. SendMessage returns once the
// message has been handled (or at once, with 0, when the window is gone).
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

} // namespace qvr
