#pragma once

#include <string>
#include <vector>

namespace qvr::test {

// What the test program asked the disk to keep, in order: each fsync with the path of
// the file or folder it synced, each rename with the path it renamed to. The
// program's own fsync and rename (link sync_log.cpp into it) stand in for the C
// library's, note each call and pass it on.
struct DiskEvent {
    enum Kind { Sync, Rename };
    Kind kind;
    std::string path;
    friend bool operator==(const DiskEvent&, const DiskEvent&) = default;
};

// The events since the last call.
std::vector<DiskEvent> takeDiskEvents();

} // namespace qvr::test
