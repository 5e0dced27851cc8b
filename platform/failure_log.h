#pragma once

#include <chrono>
#include <string>
#include <string_view>

// The failure log: for a user who wants to see why a track does not arrive, or who
// is asked for it by the store's support. Off unless the environment holds
// QVR_LOG=1 when the process starts; then each failure the program meets is one
// line on stderr, which the desktop's journal keeps:
//
//     quavero: 2024-05-01T09:30:12.345Z <what failed>: <why>; <what happens next>
//
// The time is UTC. Any thread may log: a line goes out in one write, so the lines
// of different threads never mix.
namespace qvr {

// Whether the log is on; the environment is read once, on the first call.
[[nodiscard]] bool failureLogOn();

// Writes one line when the log is on. Installation ids are shortened
// (maskInstallationIds), line breaks and other control characters become '?', and a
// `what` too long for one line is cut.
void logFailure(std::string_view what, std::string_view why, std::string_view next);

// `text` with the value of each "guid=" (in any case) cut to its first characters:
// at most four, and at most a quarter of it; "..." stands for the rest. A value ends
// at '&', '#', a blank or the end of the text.
[[nodiscard]] std::string maskInstallationIds(std::string_view text);

// The pieces a reason or a next step is made of: "errno 28, No space left on device",
// "HTTP 404", and a pause as "1.2 s".
[[nodiscard]] std::string errnoText(int error);
[[nodiscard]] std::string httpStatusText(int status);
[[nodiscard]] std::string secondsText(std::chrono::milliseconds pause);

} // namespace qvr
