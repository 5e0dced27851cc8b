#include "platform/exclusive_file.h"

#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qvr {

namespace {

UniqueFd openExclusive(const std::string& path)
{
    UniqueFd fd = openRegularFile(path);
    if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return {};
    return fd;
}

// Reads until `stop` says enough or the file ends; false on a read error.
template <class Stop>
bool readInto(int fd, std::string& out, Stop stop)
{
    char buffer[16384];
    while (!stop(out)) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

} // namespace

UniqueFd openRegularFile(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd)
        return {};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return {};
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return {};
    }
    return fd;
}

std::optional<std::string> readAll(int fd, std::size_t maxBytes)
{
    std::string text;
    if (!readInto(fd, text, [maxBytes](const std::string& s) { return s.size() > maxBytes; }))
        return std::nullopt;
    return text;
}

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::optional<std::string> readFileExclusive(const std::string& path)
{
    const UniqueFd fd = openExclusive(path);
    if (!fd)
        return std::nullopt;
    return readAll(fd.get());
}

std::optional<std::string> readFirstLineExclusive(const std::string& path, std::size_t maxBytes)
{
    const UniqueFd fd = openExclusive(path);
    if (!fd)
        return std::nullopt;
    std::string text;
    // One byte beyond the limit, and one more for a CR before the LF, tells a
    // line that is too long from one that just fits.
    const std::size_t enough = maxBytes + 2;
    const bool ok = readInto(fd.get(), text, [enough](const std::string& s) {
        return s.find('\n') != std::string::npos || s.size() >= enough;
    });
    if (!ok)
        return std::nullopt;
    std::string line = text.substr(0, text.find('\n'));
    if (line.size() < text.size() && !line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > maxBytes)
        return std::nullopt;
    return line;
}

std::vector<std::string> splitTextLines(std::string_view text)
{
    std::vector<std::string> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool pathExists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

} // namespace qvr
