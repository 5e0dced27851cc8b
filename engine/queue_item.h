#pragma once

#include "platform/text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace qvr {

// One track request, a single line of narrow text. The engine never looks inside
// it; the resolver passes it on verbatim.
using RawEntry = std::string;

// Which track an address names: the address as the store gave it, without any
// "guid=" parameter, which says who asks, not for what. Titles repeat across albums
// ("Intro", "Home"); two tracks of one title are two tracks, and one address queued
// twice is one. An index of the queue by address (a long queue's duplicate check)
// keys on this.
inline std::string trackIdentity(std::string_view url)
{
    const auto query = url.find('?');
    if (query == std::string_view::npos)
        return std::string(url);
    const auto fragment = std::min(url.find('#', query), url.size());
    std::string identity(url.substr(0, query));
    std::string_view parameters = url.substr(query + 1, fragment - query - 1);
    char separator = '?';
    for (bool more = true; more;) {
        const auto amp = parameters.find('&');
        more = amp != std::string_view::npos;
        const std::string_view parameter = parameters.substr(0, amp);
        if (!startsWithIgnoringCase(parameter, "guid=")) {
            identity += separator;
            identity += parameter;
            separator = '&';
        }
        parameters.remove_prefix(more ? amp + 1 : parameters.size());
    }
    identity += url.substr(fragment);
    return identity;
}

// Text that is set whole and read whole: its bytes, a length and a NUL in one block,
// reached through a single pointer. A queue of 100,000 tracks holds two of them per
// track, where two std::string would take 64 bytes beside the blocks they point at.
class CompactText {
public:
    CompactText() = default;
    CompactText(std::string_view text) { assign(text); }
    CompactText(const std::string& text) : CompactText(std::string_view(text)) {}
    CompactText(const char* text) : CompactText(std::string_view(text)) {}
    CompactText(const CompactText& other) : CompactText(other.view()) {}
    CompactText(CompactText&&) noexcept = default;
    CompactText& operator=(const CompactText& other)
    {
        if (this != &other)
            assign(other.view());
        return *this;
    }
    CompactText& operator=(CompactText&&) noexcept = default;
    ~CompactText() = default;

    [[nodiscard]] std::string_view view() const noexcept
    {
        if (!m_block)
            return {};
        std::uint32_t size = 0;
        std::memcpy(&size, m_block.get(), sizeof size);
        return {m_block.get() + sizeof size, size};
    }
    operator std::string_view() const noexcept { return view(); }
    operator std::string() const { return std::string(view()); }
    [[nodiscard]] std::string str() const { return std::string(view()); }
    [[nodiscard]] const char* c_str() const noexcept { return m_block ? m_block.get() + sizeof(std::uint32_t) : ""; }
    [[nodiscard]] std::size_t size() const noexcept { return view().size(); }
    [[nodiscard]] bool empty() const noexcept { return !m_block; }

    friend bool operator==(const CompactText& a, const CompactText& b) noexcept { return a.view() == b.view(); }
    friend bool operator==(const CompactText& a, std::string_view b) noexcept { return a.view() == b; }
    friend bool operator==(const CompactText& a, const std::string& b) noexcept { return a.view() == b; }
    friend bool operator==(const CompactText& a, const char* b) noexcept { return a.view() == b; }
    friend std::ostream& operator<<(std::ostream& out, const CompactText& text) { return out << text.view(); }

private:
    void assign(std::string_view text)
    {
        if (text.empty()) {
            m_block.reset();
            return;
        }
        const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), UINT32_MAX - 8));
        auto block = std::make_unique_for_overwrite<char[]>(sizeof size + size + 1);
        std::memcpy(block.get(), &size, sizeof size);
        std::memcpy(block.get() + sizeof size, text.data(), size);
        block[sizeof size + size] = '\0';
        m_block = std::move(block);
    }

    std::unique_ptr<char[]> m_block;  // none for the empty text
};

// One resolved track waiting to be downloaded. The title is also the downloaded
// file's name (before ".mp3"); the address is what the track is (trackIdentity).
struct QueueItem {
    QueueItem() = default;
    QueueItem(std::string_view trackTitle, std::string_view trackUrl) : title(trackTitle), url(trackUrl) {}

    CompactText title;
    CompactText url;
    std::unique_ptr<QueueItem> next;
    QueueItem* prev = nullptr;
};

// One waiting raw entry; raw entries only ever leave their list at the head, so
// a forward link is enough.
struct RawEntryItem {
    RawEntryItem() = default;
    explicit RawEntryItem(RawEntry line) : text(std::move(line)) {}

    RawEntry text;
    std::unique_ptr<RawEntryItem> next;
};

} // namespace qvr
