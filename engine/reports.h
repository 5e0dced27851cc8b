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
    };
    Outcome outcome = Outcome::StoreBusy;
    std::optional<QueueItem> item;  // the track of a consumed request
};

} // namespace qvr
