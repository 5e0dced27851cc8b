#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace qvr {

// What the store's track-info answer names: the title and the download address.
struct TrackInfo {
    std::string title;
    std::string url;
};

// The text between the end of the first `open` tag and the start of the first
// `close` tag, both searched from the start of the answer and case-sensitively;
// empty when either is missing or the closing tag comes first.
std::string textBetweenTags(std::string_view answer, std::string_view open, std::string_view close);

// The title and address of a track-info answer, or nothing when either is empty
// or holds a character the queue file cannot keep ("|", CR, LF, NUL).
[[nodiscard]] std::optional<TrackInfo> parseTrackInfo(std::string_view answer);

// A request text as it goes into the query of the track-info address: bytes a URL
// query may not hold (space, controls, " < > \ ^ ` { | } #, and bytes from 0x80)
// are percent-encoded; everything else, "%" escapes and "&=" included, passes.
std::string encodeRequestText(std::string_view text);

// `format` with each "%s" replaced, in order, by the next of `arguments` (a "%s"
// without an argument left stands as it is). The arguments are never scanned, so
// a "%s" inside one stays text.
std::string formatStrings(std::string_view format, std::initializer_list<std::string_view> arguments);

// A download address split for the request: scheme with "://", host (with port),
// and the rest from the "/" after the host.
struct TrackAddress {
    std::string scheme;
    std::string host;
    std::string object;
};
[[nodiscard]] std::optional<TrackAddress> splitTrackUrl(std::string_view url);

// The address a track file is asked for at: the track's address with
// "&guid=<installation id>" added to its query, before a "#fragment" (which is
// never sent). Nothing when the address does not split as above.
[[nodiscard]] std::optional<std::string> trackFileRequestUrl(std::string_view url, std::string_view installationId);

// The leading decimal number of a Content-Length value, after blanks and a sign;
// 0 when there is none.
std::uint64_t parseContentLength(std::string_view value);

// The first byte of a "bytes <first>-<last>/<size>" Content-Range value.
[[nodiscard]] std::optional<std::uint64_t> contentRangeStart(std::string_view value);

// The size in a "bytes */<size>" Content-Range value (the answer to a range that
// starts at or past the end).
[[nodiscard]] std::optional<std::uint64_t> unsatisfiedRangeSize(std::string_view value);

// Whether an answer's status says the store could not answer now (a server error,
// a timeout, too many requests), unlike one that says there is nothing for the request.
bool storeBusy(int status);

// done x 100 / total, cut toward zero; 0 when total is 0.
int percentOf(std::uint64_t done, std::uint64_t total);

} // namespace qvr
