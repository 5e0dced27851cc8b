#pragma once

#include <string_view>

// Letter case and blanks of the protocol texts, settings and file names the program
// reads: only the ASCII letters A to Z have a case, whatever the locale says, so the
// same bytes compare the same way on every machine. Every other byte is itself.
namespace qvr {

// Space and tab: what separates words on one line.
inline constexpr std::string_view kBlanks = " \t";
// Blanks and line ends.
inline constexpr std::string_view kWhiteSpace = " \t\r\n";

constexpr char asciiLower(char c) noexcept
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Negative, zero or positive as `a` sorts before, with or after `b` when letters are
// taken in lower case and bytes as unsigned numbers; a text sorts before the longer
// texts it begins.
constexpr int compareIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(asciiLower(a[i]));
        const auto y = static_cast<unsigned char>(asciiLower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

[[nodiscard]] constexpr bool equalsIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    return a.size() == b.size() && compareIgnoringCase(a, b) == 0;
}

[[nodiscard]] constexpr bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) noexcept
{
    return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

[[nodiscard]] constexpr bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) noexcept
{
    return text.size() >= suffix.size() && equalsIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

// `text` without the bytes of `set` at its start, at its end, or at both.
constexpr std::string_view trimStart(std::string_view text, std::string_view set = kWhiteSpace) noexcept
{
    const std::size_t first = text.find_first_not_of(set);
    return text.substr(first == std::string_view::npos ? text.size() : first);
}

constexpr std::string_view trimEnd(std::string_view text, std::string_view set = kWhiteSpace) noexcept
{
    const std::size_t last = text.find_last_not_of(set);
    return text.substr(0, last == std::string_view::npos ? 0 : last + 1);
}

constexpr std::string_view trim(std::string_view text, std::string_view set = kWhiteSpace) noexcept
{
    return trimEnd(trimStart(text, set), set);
}

} // namespace qvr
