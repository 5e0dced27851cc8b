#pragma once

#include "platform/text.h"

#include <algorithm>
#include <memory>
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

// One resolved track waiting to be downloaded. The title is also the downloaded
// file's name (before ".mp3"); the address is what the track is (trackIdentity).
struct QueueItem {
    QueueItem() = default;
    QueueItem(std::string trackTitle, std::string trackUrl) : title(std::move(trackTitle)), url(std::move(trackUrl)) {}

    std::string title;
    std::string url;
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
