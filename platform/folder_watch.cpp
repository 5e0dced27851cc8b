#include "platform/folder_watch.h"

#include "platform/folder_listing.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <string_view>
#include <utility>
#include <vector>

namespace qvr {

namespace {

// Names only: a file written to (a running download grows its file one chunk at a
// time) wakes nobody who cares only which names there are.
constexpr std::uint32_t kNameMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF
    | IN_MOVE_SELF | IN_ONLYDIR;
// IN_MODIFY stands for size changes.
constexpr std::uint32_t kFolderMask = kNameMask | IN_ATTRIB | IN_MODIFY;

// The names of the folders directly in `path`. A link to a folder is not one of
// them: following links could lead out of the tree or round in a loop.
std::vector<std::string> subfolders(const std::string& path, bool followLink)
{
    std::vector<std::string> names;
    const FolderListing dir = listFolder(
        UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW))));
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            isFolder = ::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISDIR(st.st_mode);
        }
        if (isFolder)
            names.emplace_back(name);
    }
    return names;
}

} // namespace

FolderWatch::FolderWatch() : FolderWatch(Limits {}) {}

FolderWatch::FolderWatch(Limits limits, Changes changes)
    : m_limits(limits)
    , m_mask(changes == Changes::Names ? kNameMask : kFolderMask)
    , m_inotify(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK))
    , m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

bool FolderWatch::watch(const std::string& folder)
{
    unwatch();
    if (!valid() || folder.empty())
        return false;
    addTree(-1, folder);
    return watching();
}

void FolderWatch::unwatch()
{
    if (m_root >= 0)
        dropTree(m_root);
    m_folders.clear();
    m_overflowed = false;
    m_names.clear();
    m_whole = false;
    // Events of the old tree still queued would read as changes of the next one.
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_inotify.get(), buffer, sizeof buffer);
        if (n <= 0 && !(n < 0 && errno == EINTR))
            break;
    }
}

FolderWatch::Event FolderWatch::wait()
{
    if (!valid())
        return Event::Failed;
    // The last wait() reported changes; a poke that came meanwhile goes first now,
    // or a folder that keeps changing could hold it back for ever.
    if (std::exchange(m_wakeFirst, false)) {
        switch (takeWake()) {
        case Taken::Wake:
            return Event::Poked;
        case Taken::Failed:
            return Event::Failed;
        case Taken::Nothing:
            break;
        }
    }
    for (;;) {
        pollfd fds[] = {{m_inotify.get(), POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return Event::Failed;
        }
        if ((fds[0].revents | fds[1].revents) & (POLLERR | POLLHUP | POLLNVAL))
            return Event::Failed;
        if (fds[0].revents & POLLIN) {
            const Drained drained = drainEvents();
            if (drained == Drained::Failed)
                return Event::Failed;
            if (drained == Drained::Changed) {
                m_wakeFirst = true;
                return Event::Changed;
            }
        }
        if (fds[1].revents & POLLIN) {
            const Taken taken = takeWake();
            if (taken != Taken::Nothing)
                return taken == Taken::Wake ? Event::Poked : Event::Failed;
        }
    }
}

void FolderWatch::poke()
{
    // The caller may be a signal handler, which must find errno as it left it.
    const int savedErrno = errno;
    const std::uint64_t one = 1;
    // EAGAIN means the counter is full, so a poke is pending anyway.
    while (::write(m_wake.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    errno = savedErrno;
}

FolderWatch::News FolderWatch::takeNews()
{
    if (valid() && drainEvents() == Drained::Failed)
        m_whole = true;
    News news;
    news.whole = std::exchange(m_whole, false);
    if (!news.whole)
        news.names.assign(m_names.begin(), m_names.end());
    m_names.clear();
    return news;
}

void FolderWatch::noteName(const std::string& name)
{
    if (m_whole)
        return;
    if (m_names.size() >= kMostNames) {
        m_whole = true;
        m_names.clear();
        return;
    }
    m_names.insert(name);
}

void FolderWatch::addTree(int parent, const std::string& name)
{
    const std::string path = parent < 0 ? name : pathOf(parent) + '/' + name;
    const int depth = parent < 0 ? 0 : depthOf(parent) + 1;
    if (depth > m_limits.depth)
        return;
    const int top = addFolder(parent, name, path);
    if (top < 0)
        return;

    // Breadth first, so that the folders the limit leaves out are the deepest ones.
    struct Pending {
        int wd;
        std::string path;
        int depth;
    };
    std::deque<Pending> pending {{top, path, depth}};
    while (!pending.empty() && m_folders.size() < m_limits.folders) {
        const Pending folder = std::move(pending.front());
        pending.pop_front();
        if (folder.depth >= m_limits.depth)
            continue;
        // The folder's watch is in place before it is listed, so a subfolder made in
        // the meantime is found by the listing or announced by an event, or both.
        for (const std::string& child : subfolders(folder.path, folder.depth == 0)) {
            std::string childPath = folder.path + '/' + child;
            const int wd = addFolder(folder.wd, child, childPath);
            if (wd >= 0)
                pending.push_back({wd, std::move(childPath), folder.depth + 1});
        }
    }
}

int FolderWatch::addFolder(int parent, const std::string& name, const std::string& path)
{
    if (m_folders.size() >= m_limits.folders)
        return -1;
    // The watched folder may be a link to the real one; below it no link is followed.
    const std::uint32_t mask = parent < 0 ? m_mask : m_mask | IN_DONT_FOLLOW;
    const int wd = ::inotify_add_watch(m_inotify.get(), path.c_str(), mask);
    // A folder that already has its watch was either reached a second time (a bind
    // mount can make a loop) or found by the walk before its creation event came in.
    if (wd < 0 || m_folders.contains(wd))
        return -1;
    m_folders.emplace(wd, Folder {parent, name, {}});
    if (parent < 0)
        m_root = wd;
    else
        m_folders.at(parent).children[name] = wd;
    return wd;
}

void FolderWatch::dropTree(int wd)
{
    const auto top = m_folders.find(wd);
    if (top == m_folders.end())
        return;
    if (const auto parent = m_folders.find(top->second.parent); parent != m_folders.end()) {
        auto& siblings = parent->second.children;
        // The name may belong to a newer folder by now.
        if (const auto entry = siblings.find(top->second.name); entry != siblings.end() && entry->second == wd)
            siblings.erase(entry);
    }
    std::vector<int> doomed {wd};
    for (std::size_t i = 0; i < doomed.size(); ++i) {
        const auto folder = m_folders.find(doomed[i]);
        if (folder == m_folders.end())
            continue;
        for (const auto& [name, child] : folder->second.children)
            doomed.push_back(child);
        // Fails for a watch the kernel has dropped already, which is all right.
        ::inotify_rm_watch(m_inotify.get(), doomed[i]);
        m_folders.erase(folder);
    }
    if (wd == m_root)
        m_root = -1;
}

std::string FolderWatch::pathOf(int wd) const
{
    std::vector<const std::string*> names;
    for (auto it = m_folders.find(wd); it != m_folders.end(); it = m_folders.find(it->second.parent))
        names.push_back(&it->second.name);
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!path.empty())
            path += '/';
        path += **name;
    }
    return path;
}

int FolderWatch::depthOf(int wd) const
{
    int depth = -1;
    for (auto it = m_folders.find(wd); it != m_folders.end(); it = m_folders.find(it->second.parent))
        ++depth;
    return depth;
}

bool FolderWatch::handle(std::uint32_t mask, int wd, const std::string& name)
{
    if (mask & IN_Q_OVERFLOW) {
        m_overflowed = watching();
        return watching();
    }
    if (!m_folders.contains(wd))
        return false; // left over from a folder that is no longer watched
    if (wd == m_root && (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))) {
        // Whatever now has the name is another folder, and the old one may be anywhere.
        dropTree(wd);
        m_whole = true;
        return true;
    }
    if (mask & IN_IGNORED) {
        // The folder is gone (or its file system unmounted); its parent reports that.
        dropTree(wd);
        return false;
    }
    if (wd == m_root && !name.empty() && (mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)))
        noteName(name);
    if ((mask & IN_ISDIR) && !name.empty()) {
        if (mask & IN_MOVED_FROM) {
            // Its watches would go on reporting wherever it went. If it only moved
            // within the tree, the IN_MOVED_TO that follows watches it again.
            const auto& children = m_folders.at(wd).children;
            if (const auto child = children.find(name); child != children.end())
                dropTree(child->second);
        }
        if (mask & (IN_CREATE | IN_MOVED_TO))
            addTree(wd, name);
    }
    return true;
}

FolderWatch::Drained FolderWatch::drainEvents()
{
    alignas(inotify_event) char buffer[16 * 1024];
    bool changed = false;
    for (;;) {
        const ssize_t n = ::read(m_inotify.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return Drained::Failed;
        if (n <= 0)
            break;
        const auto size = static_cast<std::size_t>(n);
        for (std::size_t offset = 0; offset + sizeof(inotify_event) <= size;) {
            inotify_event event;
            std::memcpy(&event, buffer + offset, sizeof event);
            const char* name = buffer + offset + sizeof event;
            changed |= handle(event.mask, event.wd, std::string(name, ::strnlen(name, event.len)));
            offset += sizeof event + event.len;
        }
    }
    if (std::exchange(m_overflowed, false) && watching()) {
        // Events were lost, perhaps the creation of folders that need watches of
        // their own; only a fresh walk is sure to find them.
        const std::string root = m_folders.at(m_root).name;
        // A folder that cannot be walked again is watched no more, as one deleted
        // is: this round still reports the change, and pokes end later waits.
        static_cast<void>(watch(root));
        m_whole = true;
    }
    return changed ? Drained::Changed : Drained::Nothing;
}

FolderWatch::Taken FolderWatch::takeWake()
{
    std::uint64_t count = 0;
    for (;;) {
        const ssize_t n = ::read(m_wake.get(), &count, sizeof count);
        if (n == static_cast<ssize_t>(sizeof count))
            return Taken::Wake;
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN ? Taken::Nothing : Taken::Failed;
    }
}

} // namespace qvr
