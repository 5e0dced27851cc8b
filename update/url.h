#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qvr {

// Room for a canonical address, its terminating NUL included.
constexpr std::size_t kCanonicalUrlBuffer = 1024;

// An address made safe to send the way a browser does: before the first "?" or
// "#", every unsafe byte (controls, space, bytes above 0x7E and " < > \ ^ ` { | })
// becomes %XX, so a space becomes %20; everything else, and all from that "?" or
// "#" on, stays as it is. Nothing when the result does not fit kCanonicalUrlBuffer.
[[nodiscard]] std::optional<std::string> canonicalizeUrl(std::string_view url);

// The host of "scheme://[user@]host[:port]/...", brackets kept for IPv6; empty
// when there is no "://".
std::string urlHost(std::string_view url);

} // namespace qvr
