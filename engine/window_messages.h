#pragma once

// The main window's own messages, beside the workers' reports (engine/messages.h):
// the system commands of its menu, and what a second start of the program sends it
// (the hand-off: restore, the request, take-over). Header only: the executable's
// second start, which loads no GUI framework, speaks it too.

#include "engine/messages.h"

#include <cstdint>

namespace qvr {

enum HandoffMessageNumber : unsigned {
    WM_COPYDATA = 0x004A,
    WM_SYSCOMMAND = 0x0112,
    WM_SWITCH_QUIT = WM_USER + 106,  // 1130; lParam: the sender's pid
    // Posted by the window's own hand-off thread, never sent by a second start:
    // requests wait in the inbox, or one could not be put there.
    WM_HANDED_OVER = WM_USER + 110,         // 1134
    WM_HAND_OVER_NOT_KEPT = WM_USER + 111,  // 1135
    // From a start that takes over, once its window is published: it runs. The
    // window that handed over to it ends then, and not before.
    WM_TAKEN_OVER = WM_USER + 112,  // 1136
};

// System commands (wParam of WM_SYSCOMMAND).
constexpr std::uintptr_t SC_MOVE = 0xF010;
constexpr std::uintptr_t SC_MINIMIZE = 0xF020;
constexpr std::uintptr_t SC_CLOSE = 0xF060;
constexpr std::uintptr_t SC_RESTORE = 0xF120;

// The data tag of a request handed over with WM_COPYDATA.
constexpr std::uintptr_t COPYDATA_RAW_ENTRY = 1125;

// What a WM_COPYDATA message carries.
struct CopyDataStruct {
    std::uintptr_t dwData = 0;
    std::uint32_t cbData = 0;
    const void* lpData = nullptr;
};

namespace msg {

// A newer instance takes over: the window ends without saving its raw entries.
using SwitchQuit = detail::Signal<WM_SWITCH_QUIT>;
// Data handed over by another instance.
using CopyData = detail::InLParam<WM_COPYDATA, const CopyDataStruct*>;

// A command of the system menu (SC_RESTORE, SC_MINIMIZE); wParam.
struct SysCommand {
    static constexpr unsigned kNumber = WM_SYSCOMMAND;
    std::uintptr_t command = 0;
    MessageParams pack() const noexcept { return {command, 0}; }
    static SysCommand unpack(MessageParams p) noexcept { return {p.wParam}; }
};

} // namespace msg
} // namespace qvr
