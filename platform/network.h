#pragma once

#include <string_view>

namespace qvr {

// True when a network interface other than loopback is up and has an address.
[[nodiscard]] bool hasNetworkInterface();

// True for "localhost" and for numeric loopback addresses (127.0.0.0/8, ::1, also
// in brackets).
[[nodiscard]] bool isLoopbackHost(std::string_view host);

} // namespace qvr
