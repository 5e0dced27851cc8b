#pragma once

#include <string>
#include <vector>

namespace qvr::test {

// What a test program asked the disk to keep, in order, while a SyncLog lives: each
// fsync with the path of the file or folder it synced, each rename with the path it
// renamed to. The program's own fsync and rename stand in for the C library's (link
// sync_log.cpp into it) and pass every call on.
struct DiskEvent {
    enum Kind { Sync, Rename };
    Kind kind;
    std::string path;
    friend bool operator==(const DiskEvent&, const DiskEvent&) = default;
};

class SyncLog {
public:
    SyncLog();
    ~SyncLog();
    SyncLog(const SyncLog&) = delete;
    SyncLog& operator=(const SyncLog&) = delete;

    std::vector<DiskEvent> events() const;
};

} // namespace qvr::test
