#pragma once

#include "engine/queue_item.h"

#include <optional>

namespace qvr {

// What the resolver came to with the request it was handed.
struct ResolveReport {
    enum class Outcome {
        Consumed,      // done with: its track is the item, or it asked for nothing
        Refused,       // the store answered, but with no track to queue
        NetworkError,  // no answer: the request waits for the next one
        StoreBusy,     // the store could not answer now: the request waits
        // The store answers, but not this request: it waits out a pause of its
        // own while the requests behind it are resolved.
        SetAside,
    };
    Outcome outcome = Outcome::StoreBusy;
    std::optional<QueueItem> item;  // the track of a consumed request
};

// How an attempt on the track the downloader was handed ended, and the user's
// requests it saw at its end.
struct DownloadReport {
    enum class Outcome {
        Done,               // on disk, or never storable: its entry goes
        Unfinished,         // stopped, or put off: the entry stays
        NetworkError,       // the store's answer failed: the entry stays
        FolderUnavailable,  // the folder cannot take it (the window was told why)
        // This track alone fails (the store refuses it, another program holds its
        // file): it waits out a pause of its own while the tracks behind it download.
        SetAside,
    };
    Outcome outcome = Outcome::Unfinished;
    bool paused = false;
    bool cancelled = false;  // the cancel of the current track
    bool cleared = false;    // the clear of the whole queue
};

} // namespace qvr
