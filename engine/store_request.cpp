#include "engine/store_request.h"

#include "engine/queue_files.h"
#include "platform/text.h"

#include <algorithm>
#include <charconv>

namespace qvr {

std::string textBetweenTags(std::string_view answer, std::string_view open, std::string_view close)
{
    const auto start = answer.find(open);
    const auto end = answer.find(close);
    if (start == std::string_view::npos || end == std::string_view::npos)
        return {};
    const auto from = start + open.size();
    if (end <= from)
        return {};
    return std::string(answer.substr(from, end - from));
}

std::optional<TrackInfo> parseTrackInfo(std::string_view answer)
{
    TrackInfo info {textBetweenTags(answer, "<title>", "</title>"),
                    textBetweenTags(answer, "<url>", "</url>")};
    if (!isStorableQueueItem(info.title, info.url) || info.title.find('\r') != std::string::npos
        || info.url.find('\r') != std::string::npos)
        return std::nullopt;
    return info;
}

std::string encodeRequestText(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::string_view kUnsafe = " \"<>\\^`{|}#";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f || kUnsafe.find(c) != std::string_view::npos) {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xf];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

std::string formatStrings(std::string_view format, std::initializer_list<std::string_view> arguments)
{
    std::string result;
    auto next = arguments.begin();
    while (!format.empty()) {
        const auto at = format.find("%s");
        if (at == std::string_view::npos || next == arguments.end()) {
            result += format;
            break;
        }
        result += format.substr(0, at);
        result += *next++;
        format.remove_prefix(at + 2);
    }
    return result;
}

std::optional<TrackAddress> splitTrackUrl(std::string_view url)
{
    for (std::string_view scheme : {"http://", "https://"}) {
        if (!url.starts_with(scheme))
            continue;
        const std::string_view rest = url.substr(scheme.size());
        const auto slash = rest.find('/');
        if (slash == std::string_view::npos || slash == 0)
            return std::nullopt;
        return TrackAddress {std::string(scheme), std::string(rest.substr(0, slash)),
                             std::string(rest.substr(slash))};
    }
    return std::nullopt;
}

std::optional<std::string> trackFileRequestUrl(std::string_view url, std::string_view installationId)
{
    const auto address = splitTrackUrl(url);
    if (!address)
        return std::nullopt;
    std::string object = address->object;
    object.insert(std::min(object.find('#'), object.size()), "&guid=" + std::string(installationId));
    return address->scheme + address->host + object;
}

std::uint64_t parseContentLength(std::string_view value)
{
    value = trimStart(value, kBlanks);
    if (!value.empty() && value.front() == '+')
        value.remove_prefix(1);
    else if (!value.empty() && value.front() == '-')
        return 0;
    std::uint64_t length = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
    return error == std::errc() ? length : 0;
}

namespace {

struct NumberAndRest {
    std::uint64_t number;
    std::string_view rest;
};

// The decimal number right after `prefix` (leading blanks skipped) and what
// follows it.
std::optional<NumberAndRest> numberAfter(std::string_view value, std::string_view prefix)
{
    value = trimStart(value, " ");
    if (!value.starts_with(prefix))
        return std::nullopt;
    value.remove_prefix(prefix.size());
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc())
        return std::nullopt;
    return NumberAndRest {number, value.substr(static_cast<std::size_t>(end - value.data()))};
}

} // namespace

std::optional<std::uint64_t> contentRangeStart(std::string_view value)
{
    const auto parsed = numberAfter(value, "bytes ");
    if (!parsed || !parsed->rest.starts_with('-'))
        return std::nullopt;
    return parsed->number;
}

std::optional<std::uint64_t> unsatisfiedRangeSize(std::string_view value)
{
    const auto parsed = numberAfter(value, "bytes */");
    if (!parsed || !parsed->rest.empty())
        return std::nullopt;
    return parsed->number;
}

bool storeBusy(int status)
{
    return status >= 500 || status == 408 || status == 429;
}

int percentOf(std::uint64_t done, std::uint64_t total)
{
    if (total == 0)
        return 0;
    const double percent = static_cast<double>(done) * 100.0 / static_cast<double>(total);
    // A Content-Length that is too small only makes the figure large, never wrap.
    return percent >= 2147483647.0 ? 2147483647 : static_cast<int>(percent);
}

} // namespace qvr
