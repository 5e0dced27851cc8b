#include "update/url.h"

namespace qvr {

namespace {

bool isUnsafe(unsigned char c)
{
    if (c <= 0x20 || c >= 0x7F)
        return true;
    switch (c) {
    case '"': case '<': case '>': case '\\': case '^': case '`': case '{': case '|': case '}':
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<std::string> canonicalizeUrl(std::string_view url)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::size_t tail = url.find_first_of("?#");
    std::string canonical;
    for (std::size_t i = 0; i < url.size(); ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        if (i < tail && isUnsafe(c)) {
            canonical += '%';
            canonical += kHex[c >> 4];
            canonical += kHex[c & 0xF];
        } else {
            canonical += static_cast<char>(c);
        }
        if (canonical.size() >= kCanonicalUrlBuffer)
            return std::nullopt;
    }
    return canonical;
}

std::string urlHost(std::string_view url)
{
    const auto scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return {};
    std::string_view authority = url.substr(scheme + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (!authority.empty() && authority.front() == '[')
        return std::string(authority.substr(0, authority.find(']') + 1));
    return std::string(authority.substr(0, authority.find(':')));
}

} // namespace qvr
