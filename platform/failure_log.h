#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The failure log: for a user who wants to see why a track does not arrive, or who
// is asked for it by the store's support. Off unless the environment holds
// QVR_LOG=1 when the process starts; then each failure the program meets is one
// line on stderr, which the desktop's journal keeps:
//
//     quavero: 2024-05-01T09:30:12.345Z <what failed>: <why>; <what happens next>
//
// The time is UTC. Any thread may log: a line goes out in one write, so the lines
// of different threads never mix. The first line names the program's version and the
// libraries' (logStart). A failure that repeats (the same what and why) is written
// when it starts, then at most once a minute with a count, and when it ends: at the
// next success of the same thing, or when it fails for another reason.
namespace qvr {

// Whether the log is on; the environment is read once, on the first call.
[[nodiscard]] bool failureLogOn();

// Writes the failure when the log is on, by the rule of the repeats above. Installation ids are shortened
// (maskInstallationIds), line breaks and other control characters become '?', and a
// `what` too long for one line is cut.
void logFailure(std::string_view what, std::string_view why, std::string_view next);

// Says that `what` worked, which ends a failure of it that repeated.
void logSuccess(std::string_view what);

// Writes the log's first line when the log is on: `program` and its `version`, the
// version of Qt the window part is built with and the libcurl that runs.
void logStart(std::string_view program, std::string_view version);

// What the log writes of failures and successes, after the time: the rule of the
// repeated failure, with the clock it measures a minute by.
class FailureLines {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::minutes kRepeatInterval {1};

    explicit FailureLines(Clock clock = std::chrono::steady_clock::now) : m_clock(std::move(clock)) {}

    // The lines to write, none when the failure is written already this minute.
    [[nodiscard]] std::vector<std::string> failed(std::string_view what, std::string_view why, std::string_view next);
    [[nodiscard]] std::vector<std::string> succeeded(std::string_view what);

private:
    struct Failing {
        std::string what, why, next;
        std::chrono::steady_clock::time_point written;
        std::size_t unwritten = 0;  // repeats since the line last written
        bool repeated = false;
    };
    // The line that ends `failing`, saying `how`, when it repeated.
    static void end(const Failing& failing, std::string_view how, std::vector<std::string>& lines);

    Clock m_clock;
    std::vector<Failing> m_failing;  // the longest unseen last
};

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
