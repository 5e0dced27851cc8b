#pragma once

#include <memory>
#include <string>
#include <utility>

namespace qvr {

// One track request, a single line of narrow text. The engine never looks inside
// it; the resolver passes it on verbatim.
using RawEntry = std::string;

// One resolved track waiting to be downloaded. The title is also the downloaded
// file's name (before ".mp3") and the key by which duplicates are found.
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
