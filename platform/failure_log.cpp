#include "platform/failure_log.h"

#include "platform/text.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace qvr {

namespace {

constexpr std::string_view kPrefix = "quavero: ";
constexpr std::string_view kIdName = "guid=";
constexpr std::string_view kCut = "...";
// Each of a line's three parts is cut to this, so that a whole line stays within
// PIPE_BUF and reaches a pipe in one piece, whoever else writes to it.
constexpr std::size_t kPartLimit = 1300;
// So many things failing at once are followed each; past that, the one unseen longest
// is forgotten, and a failure of it is written again as new.
constexpr std::size_t kFollowed = 64;

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

std::string countText(std::size_t unwritten)
{
    if (unwritten == 0)
        return {};
    return " (" + std::to_string(unwritten) + (unwritten == 1 ? " more time" : " more times") + " since the line before)";
}

void writeLine(std::string_view text)
{
    writeToStderr(std::string(kPrefix) + utcNow() + " " + std::string(text) + "\n");
}

// The process's log: the repeats it follows, and one line out at a time, so that a
// count is never written after the line it counts from.
struct ProcessLog {
    std::mutex lock;
    FailureLines lines;

    void write(const std::vector<std::string>& out)
    {
        for (const std::string& line : out)
            writeLine(line);
    }
};

ProcessLog& processLog()
{
    static ProcessLog log;
    return log;
}

} // namespace

void FailureLines::end(const Failing& failing, std::string_view how, std::vector<std::string>& lines)
{
    if (failing.repeated)
        lines.push_back(failing.what + ": " + failing.why + "; " + std::string(how) + countText(failing.unwritten));
}

std::vector<std::string> FailureLines::failed(std::string_view what, std::string_view why, std::string_view next)
{
    std::vector<std::string> lines;
    const auto now = m_clock();
    const auto found = std::find_if(m_failing.begin(), m_failing.end(), [&](const Failing& f) { return f.what == what; });
    if (found != m_failing.end()) {
        Failing failing = std::move(*found);
        m_failing.erase(found);
        if (failing.why == why) {
            failing.repeated = true;
            failing.next = next;
            if (now - failing.written >= kRepeatInterval) {
                lines.push_back(failing.what + ": " + failing.why + "; " + failing.next + countText(failing.unwritten + 1));
                failing.written = now;
                failing.unwritten = 0;
            } else {
                ++failing.unwritten;
            }
            m_failing.insert(m_failing.begin(), std::move(failing));
            return lines;
        }
        end(failing, "over, it fails for another reason now", lines);
    }
    lines.push_back(std::string(what) + ": " + std::string(why) + "; " + std::string(next));
    m_failing.insert(m_failing.begin(), Failing {std::string(what), std::string(why), std::string(next), now});
    if (m_failing.size() > kFollowed) {
        const Failing& forgotten = m_failing.back();
        if (forgotten.unwritten > 0)
            lines.push_back(forgotten.what + ": " + forgotten.why + "; " + forgotten.next + countText(forgotten.unwritten));
        m_failing.pop_back();
    }
    return lines;
}

std::vector<std::string> FailureLines::succeeded(std::string_view what)
{
    std::vector<std::string> lines;
    const auto found = std::find_if(m_failing.begin(), m_failing.end(), [&](const Failing& f) { return f.what == what; });
    if (found != m_failing.end()) {
        end(*found, "over, it works again", lines);
        m_failing.erase(found);
    }
    return lines;
}

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
    ProcessLog& log = processLog();
    {
        const std::lock_guard<std::mutex> hold(log.lock);
        log.write(log.lines.failed(part(what), part(why.empty() ? "no reason known" : why), part(next)));
    }
    errno = saved;
}

void logSuccess(std::string_view what)
{
    if (!failureLogOn())
        return;
    const int saved = errno;
    ProcessLog& log = processLog();
    {
        const std::lock_guard<std::mutex> hold(log.lock);
        log.write(log.lines.succeeded(part(what)));
    }
    errno = saved;
}

void logStart(std::string_view program, std::string_view version)
{
    if (!failureLogOn())
        return;
    const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
    const std::string qt = QVR_QT_VERSION;
    writeLine(part(std::string(program) + " " + (version.empty() ? "of no known version" : std::string(version))
                   + ", built with Qt " + (qt.empty() ? "none" : qt) + ", libcurl "
                   + (curl && curl->version ? curl->version : "of no known version") + ": failures follow"));
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
