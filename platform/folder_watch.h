#pragma once

#include "platform/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qvr {

// Waits for changes in a folder and everything below it, and can be woken from
// another thread. Built on inotify, which watches single folders only: every folder
// of the tree gets its own watch, and folders that appear or leave later are added
// or dropped as their events come in. With Limits {1, 0} and Changes::Names it
// watches the names in the folder itself and nothing else, in one watch.
//
// One thread owns the object and calls everything but poke(); poke() may be called
// from any thread, also while that thread waits.
class FolderWatch {
public:
    enum class Event { Changed, Poked, Failed };

    // How far the watch reaches, so that a huge or looping tree cannot use up the
    // kernel's watches. Folders more than `depth` levels below the watched folder
    // are left out, and so is every folder found once `folders` folders (the
    // watched one included) have watches. The tree is walked breadth first, so the
    // folders left out are the deepest. Changes in them go unnoticed.
    struct Limits {
        std::size_t folders = 10000;
        int depth = 32;
    };
    // What counts as a change: anything (a file written to, its attributes), or
    // only names that come, go or move.
    enum class Changes { Any, Names };

    // Creates the inotify instance and the wake-up counter; valid() is false when
    // either cannot be made.
    FolderWatch();
    explicit FolderWatch(Limits limits, Changes changes = Changes::Any);
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    [[nodiscard]] bool valid() const { return m_inotify.valid() && m_wake.valid(); }

    // Watches `folder` and every folder below it, in place of any earlier folder.
    // Changes still pending from the earlier folder are forgotten. `folder` itself
    // may be a symbolic link to a folder; links below it are not followed. False,
    // with nothing watched, when `folder` is empty, missing, not a folder or not
    // readable.
    [[nodiscard]] bool watch(const std::string& folder);
    void unwatch();
    [[nodiscard]] bool watching() const { return m_root >= 0; }

    // Blocks until something changes in the watched tree (a name created, deleted
    // or moved in or out, attributes changed, a file written to), or until poke().
    // All changes pending at that moment come back as one Changed. When changes and
    // a poke are both pending, Changed comes first and the next wait() returns Poked
    // before it looks at further changes, so a folder that never stops changing (a
    // running download) cannot hold a poke back. Any number of poke() calls before
    // a wait() make one Poked. When the kernel had to drop events, that is a
    // Changed too, and the tree is walked anew to find folders made meanwhile.
    //
    // When the watched folder itself is deleted or moved away, that is a Changed
    // and the watch ends (watching() becomes false); from then on, as with no
    // folder watched, only poke() ends a wait. Failed on an unexpected error of
    // the kernel objects.
    [[nodiscard]] Event wait();

    // Gets the waiting thread's attention as a change in the folder would, without
    // touching the folder: ends the current or the next wait() with Poked. This is
    // how the thread is asked to look at its stop and move requests; no wake-up
    // file is made, so it works for a missing or read-only folder too, and a file
    // of the user's is never touched. Only writes to a counter, so it may even be
    // called from a signal handler.
    void poke();

    // The names in the watched folder itself that came, went or moved in or out since
    // the last call or watch(), each once and in no order; what is pending is looked
    // at first, without waiting. `whole` when they may not be all: the kernel dropped
    // events, the folder itself moved or went (the watch ends, as wait() says), or
    // more names came than are kept (kMostNames). Only a whole read of the folder
    // then tells what is in it.
    struct News {
        std::vector<std::string> names;
        bool whole = false;
    };
    [[nodiscard]] News takeNews();
    // So many names are kept for takeNews() at most: a storm that goes on while nobody
    // asks costs a whole read then, not memory without end.
    static constexpr std::size_t kMostNames = 20000;

private:
    struct Folder {
        int parent = -1;                     // -1 for the watched folder
        std::string name;                    // the full path for the watched folder
        std::map<std::string, int> children; // name -> watch descriptor
    };
    enum class Drained { Nothing, Changed, Failed };
    enum class Taken { Nothing, Wake, Failed };

    void addTree(int parent, const std::string& name);
    [[nodiscard]] int addFolder(int parent, const std::string& name, const std::string& path);
    void dropTree(int wd);
    void noteName(const std::string& name);
    std::string pathOf(int wd) const;
    int depthOf(int wd) const;
    [[nodiscard]] bool handle(std::uint32_t mask, int wd, const std::string& name);
    [[nodiscard]] Drained drainEvents();
    [[nodiscard]] Taken takeWake();

    Limits m_limits;
    std::uint32_t m_mask;
    UniqueFd m_inotify;
    UniqueFd m_wake;
    std::unordered_map<int, Folder> m_folders; // by watch descriptor
    int m_root = -1;
    bool m_overflowed = false;
    bool m_wakeFirst = false;
    std::unordered_set<std::string> m_names;  // for takeNews()
    bool m_whole = false;
};

} // namespace qvr
