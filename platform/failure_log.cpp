#include "platform/failure_log.h"

#include "platform/text.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace qvr {

namespace {

constexpr std::string_view kPrefix = "quavero: ";
constexpr std::string_view kIdName = "guid=";
constexpr std::string_view kCut = "...";
// Each of a line's three parts is cut to this, so that a whole line stays within
// PIPE_BUF and reaches a pipe in one piece, whoever else writes to it.
constexpr std::size_t kPartLimit = 1300;

// A part of a line: ids shortened, on one line, and cut where a UTF-8 character
// begins when it is too long.
std::string part(std::string_view text)
{
    std::string clean = maskInstallationIds(text);
    for (char& c : clean) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = '?';
    }
    if (clean.size() > kPartLimit) {
        std::size_t end = kPartLimit - kCut.size();
        while (end > 0 && (static_cast<unsigned char>(clean[end]) & 0xC0) == 0x80)
            --end;
        clean.resize(end);
        clean += kCut;
    }
    return clean;
}

std::string utcNow()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc {};
    ::gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
    return text;
}

// One write for the whole line where the system allows it. The desktop's journal
// takes stderr through a socket, where a reader that went away must not end the
// process with SIGPIPE; anywhere else a plain write.
void writeToStderr(std::string_view line)
{
    while (!line.empty()) {
        ssize_t written = ::send(STDERR_FILENO, line.data(), line.size(), MSG_NOSIGNAL);
        if (written < 0 && errno == ENOTSOCK)
            written = ::write(STDERR_FILENO, line.data(), line.size());
        if (written < 0 && errno == EINTR)
            continue;
        // A log that cannot be written is not worth a failure of its own.
        if (written <= 0)
            return;
        line.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace

bool failureLogOn()
{
    static const bool on = [] {
        const char* value = std::getenv("QVR_LOG");
        return value && std::string_view(value) == "1";
    }();
    return on;
}

void logFailure(std::string_view what, std::string_view why, std::string_view next)
{
    if (!failureLogOn())
        return;
    // Called right after a failure, whose errno the caller may still read.
    const int saved = errno;
    const std::string line = std::string(kPrefix) + utcNow() + " " + part(what) + ": "
        + part(why.empty() ? "no reason known" : why) + "; " + part(next) + "\n";
    writeToStderr(line);
    errno = saved;
}

std::string maskInstallationIds(std::string_view text)
{
    std::string masked;
    while (!text.empty()) {
        std::size_t name = 0;
        while (name < text.size() && !startsWithIgnoringCase(text.substr(name), kIdName))
            ++name;
        if (name == text.size()) {
            masked += text;
            break;
        }
        const std::size_t start = name + kIdName.size();
        const std::size_t end = std::min(text.find_first_of("&# \t", start), text.size());
        const std::size_t kept = std::min<std::size_t>(4, (end - start) / 4);
        masked += text.substr(0, start + kept);
        if (end > start)
            masked += kCut;
        text.remove_prefix(end);
    }
    return masked;
}

std::string errnoText(int error)
{
    return "errno " + std::to_string(error) + ", " + std::strerror(error);
}

std::string httpStatusText(int status)
{
    return "HTTP " + std::to_string(status);
}

std::string secondsText(std::chrono::milliseconds pause)
{
    char text[32];
    if (pause < std::chrono::seconds(10))
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(pause.count()) / 1000.0);
    else
        std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(pause.count() / 1000));
    return text;
}

} // namespace qvr
