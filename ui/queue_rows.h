#pragma once

#include "engine/entry_list.h"
#include "engine/queue_item.h"

#include <string>
#include <vector>

class QListWidget;

namespace qvr {

// The queue list's rows: the title each shows and how wide it is, so that a change
// of the queue remakes only the rows that changed.
class QueueRows {
public:
    // `list` shows `queue` from now on; its UniformRows, when it has them, are told
    // which row is widest.
    void show(QListWidget& list, const EntryList<QueueItem>& queue);

private:
    std::vector<std::string> m_titles;
    std::vector<int> m_widths;
};

} // namespace qvr
