#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace qvr {

// 16 random bytes from the kernel, or nothing when it has none to give.
[[nodiscard]] std::optional<std::array<std::uint8_t, 16>> randomGuidBytes();

} // namespace qvr
