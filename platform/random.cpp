#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>

namespace qvr {

std::optional<std::array<std::uint8_t, 16>> randomGuidBytes()
{
    std::array<std::uint8_t, 16> bytes {};
    size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        filled += static_cast<size_t>(n);
    }
    return bytes;
}

} // namespace qvr
