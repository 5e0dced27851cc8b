#include "platform/handoff.h"

#include "platform/atomic_file.h"
#include "platform/failure_log.h"
#include "platform/folder_listing.h"
#include "platform/paths.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>
#include <system_error>
#include <type_traits>
#include <utility>

namespace qvr {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kMagic[4] = {'Q', 'V', 'R', '1'};
// Magic, message, wParam, lParam, dataTag, dataLength.
constexpr std::size_t kHeaderSize = 4 + 4 + 8 + 8 + 8 + 4;
constexpr std::size_t kAnswerSize = 8;
constexpr std::string_view kSocketPrefix = "window-";
constexpr std::string_view kSocketSuffix = ".sock";
constexpr std::string_view kBindingSuffix = ".binding";

bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

template <typename T>
void appendLittleEndian(std::string& out, T value)
{
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out.push_back(static_cast<char>(bits & 0xFF));
        bits >>= 8;
    }
}

template <typename T>
T loadLittleEndian(const char* bytes)
{
    std::make_unsigned_t<T> bits = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        bits = (bits << 8) | static_cast<unsigned char>(bytes[i]);
    return static_cast<T>(bits);
}

// The address of the socket file `path`. A socket address holds a path of at most
// 107 bytes, and a runtime folder may be deeper than that; such a path is reached
// through a descriptor of its folder, /proc/self/fd/N/name, which is always short.
class SocketAddress {
public:
    bool assign(const std::string& path)
    {
        m_address = {};
        m_address.sun_family = AF_UNIX;
        m_folder.reset();
        if (path.empty() || path.find('\0') != std::string::npos)
            return false;
        std::string reachable = path;
        if (path.size() >= sizeof m_address.sun_path) {
            m_folder.reset(::open(parentFolder(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!m_folder)
                return false;
            // A name without a folder lies in the current one (npos + 1 is 0).
            const std::string name = path.substr(path.rfind('/') + 1);
            reachable = "/proc/self/fd/" + std::to_string(m_folder.get()) + "/" + name;
        }
        if (reachable.size() >= sizeof m_address.sun_path)
            return false;
        std::memcpy(m_address.sun_path, reachable.data(), reachable.size());
        return true;
    }

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&m_address); }
    socklen_t size() const { return sizeof m_address; }

private:
    sockaddr_un m_address {};
    UniqueFd m_folder; // keeps /proc/self/fd/N meaning the folder while the address is used
};

// Waits until `fd` is ready for `events`. False when the deadline passes first, or
// when `wake` (ignored when -1) becomes readable: the server is being stopped.
bool waitReady(int fd, short events, Clock::time_point deadline, int wake)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd fds[] = {{fd, events, 0}, {wake, POLLIN, 0}};
        const int n = ::poll(fds, 2, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (n < 0 && errno != EINTR)
            return false;
        if (n <= 0)
            continue;
        if (fds[1].revents != 0)
            return false;
        // Errors and hang-ups count as ready: the next read or write reports them.
        return true;
    }
}

[[nodiscard]] bool readExact(int fd, char* out, std::size_t size, Clock::time_point deadline)
{
    while (size > 0) {
        const ssize_t n = ::recv(fd, out, size, MSG_DONTWAIT);
        if (n > 0) {
            out += n;
            size -= static_cast<std::size_t>(n);
        } else if (n == 0) {
            return false;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitReady(fd, POLLIN, deadline, -1))
                return false;
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

[[nodiscard]] bool writeAll(int fd, std::string_view data, Clock::time_point deadline)
{
    while (!data.empty()) {
        // MSG_NOSIGNAL: a peer that went away must not kill the process with SIGPIPE.
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitReady(fd, POLLOUT, deadline, -1))
                return false;
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Takes in one frame in whatever pieces its bytes arrive, so that a reader can wait
// on many senders at once and keep each one's part until the rest comes.
class FrameReader {
public:
    enum class Step { Waiting, Complete, Failed };

    // Reads what the non-blocking `fd` has for the frame, never past its end.
    [[nodiscard]] Step readFrom(int fd)
    {
        while (m_received < m_frame.size()) {
            const ssize_t n = ::recv(fd, m_frame.data() + m_received, m_frame.size() - m_received, MSG_DONTWAIT);
            if (n > 0) {
                m_received += static_cast<std::size_t>(n);
                // Reads stop at the header's end, so this is seen once, as it completes.
                if (m_received == kHeaderSize) {
                    const auto length = loadLittleEndian<std::uint32_t>(m_frame.data() + 32);
                    if (std::memcmp(m_frame.data(), kMagic, sizeof kMagic) != 0 || length > kHandoffMaxData)
                        return Step::Failed;
                    m_frame.resize(kHeaderSize + length);
                }
            } else if (n == 0) {
                return Step::Failed;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return Step::Waiting;
            } else if (errno != EINTR) {
                return Step::Failed;
            }
        }
        return Step::Complete;
    }

    [[nodiscard]] bool started() const noexcept { return m_received > 0; }

    // The message of a complete frame.
    [[nodiscard]] HandoffMessage message() const
    {
        const char* header = m_frame.data();
        return {loadLittleEndian<std::uint32_t>(header + 4), loadLittleEndian<std::uint64_t>(header + 8),
                loadLittleEndian<std::int64_t>(header + 16), loadLittleEndian<std::uint64_t>(header + 24),
                m_frame.substr(kHeaderSize)};
    }

private:
    std::string m_frame = std::string(kHeaderSize, '\0'); // the whole frame's size once the header is in
    std::size_t m_received = 0;
};

UniqueFd connectTo(const std::string& path, std::chrono::milliseconds timeout)
{
    SocketAddress address;
    if (!address.assign(path))
        return {};
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return {};
    // Not a non-blocking connect: on a Unix socket whose listener has a full queue,
    // that fails at once with EAGAIN instead of waiting for room. A blocking connect
    // does wait, for at most the send timeout.
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return {};
        const timeval limit {static_cast<time_t>(left / 1000000), static_cast<suseconds_t>(left % 1000000)};
        if (::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0)
            return {};
        if (::connect(fd.get(), address.get(), address.size()) == 0)
            return fd;
        if (errno != EINTR)
            return {};
    }
}

// True when nobody listens on the socket file `path` any more.
bool refusesConnections(const std::string& path)
{
    SocketAddress address;
    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd || !address.assign(path))
        return false;
    return ::connect(fd.get(), address.get(), address.size()) != 0 && errno == ECONNREFUSED;
}

// Publishers and unpublishers take turns on the folder's lock, so that a handle
// published between an unpublish's check and its removal is never removed.
UniqueFd lockFolder(const std::string& folder)
{
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return {};
    int rc;
    do
        rc = ::flock(dir.get(), LOCK_EX);
    while (rc != 0 && errno == EINTR);
    return rc == 0 ? std::move(dir) : UniqueFd();
}

} // namespace

std::string encodeHandoffFrame(const HandoffMessage& message)
{
    std::string frame(kMagic, sizeof kMagic);
    appendLittleEndian(frame, message.message);
    appendLittleEndian(frame, message.wParam);
    appendLittleEndian(frame, message.lParam);
    appendLittleEndian(frame, message.dataTag);
    appendLittleEndian(frame, static_cast<std::uint32_t>(message.data.size()));
    frame += message.data;
    return frame;
}

std::optional<HandoffMessage> receiveHandoffFrame(int fd, Clock::time_point deadline, int wake)
{
    FrameReader reader;
    for (;;) {
        switch (reader.readFrom(fd)) {
        case FrameReader::Step::Complete:
            return reader.message();
        case FrameReader::Step::Failed:
            return std::nullopt;
        case FrameReader::Step::Waiting:
            if (!waitReady(fd, POLLIN, deadline, wake))
                return std::nullopt;
            break;
        }
    }
}

std::uint32_t newWindowHandle()
{
    for (;;) {
        std::uint32_t handle = 0;
        const ssize_t n = ::getrandom(&handle, sizeof handle, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n != static_cast<ssize_t>(sizeof handle)) {
            // Without random bytes: the handle only has to differ from other
            // windows' handles, and the process id and the clock see to that.
            const auto ticks = static_cast<std::uint64_t>(Clock::now().time_since_epoch().count());
            handle = static_cast<std::uint32_t>(ticks ^ (ticks >> 32))
                ^ (static_cast<std::uint32_t>(::getpid()) << 20);
        }
        if (handle != 0)
            return handle;
    }
}

bool publishWindowHandle(const std::string& folder, const std::string& name, std::uint32_t handle)
{
    if (!isPlainName(name))
        return false;
    const UniqueFd lock = lockFolder(folder);
    if (!lock)
        return false;
    std::string bytes;
    appendLittleEndian(bytes, handle);
    return static_cast<bool>(replaceFileAtomically(folder + "/" + name, bytes));
}

std::uint32_t findWindowHandle(const std::string& folder, const std::string& name)
{
    if (!isPlainName(name))
        return 0;
    // O_NONBLOCK: a FIFO planted under the name must not hang the new process.
    const UniqueFd fd(::open((folder + "/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 4)
        return 0;
    char bytes[4];
    if (::pread(fd.get(), bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        return 0;
    return loadLittleEndian<std::uint32_t>(bytes);
}

void unpublishWindowHandle(const std::string& folder, const std::string& name, std::uint32_t handle)
{
    if (handle == 0 || !isPlainName(name))
        return;
    const UniqueFd lock = lockFolder(folder);
    if (lock && findWindowHandle(folder, name) == handle)
        ::unlinkat(lock.get(), name.c_str(), 0);
}

std::string windowSocketPath(const std::string& folder, std::uint32_t handle)
{
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(handle));
    return folder + "/" + std::string(kSocketPrefix) + hex + std::string(kSocketSuffix);
}

void removeDeadWindowSockets(const std::string& folder)
{
    const FolderListing listing = listFolder(UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!listing)
        return;
    std::vector<std::string> dead;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        const bool socketName = name.size() == kSocketPrefix.size() + 8 + kSocketSuffix.size()
            && name.starts_with(kSocketPrefix) && name.ends_with(kSocketSuffix);
        const bool leftWhileBinding = name.starts_with(kSocketPrefix) && name.ends_with(kBindingSuffix);
        struct stat st {};
        if ((!socketName && !leftWhileBinding)
            || ::fstatat(::dirfd(listing.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISSOCK(st.st_mode))
            continue;
        // A window binding right now may not listen yet: only a name that has been
        // left this way for a while is one of a process that died there.
        if (leftWhileBinding && std::time(nullptr) - st.st_mtime < 60)
            continue;
        const std::string path = folder + "/" + std::string(name);
        if (leftWhileBinding || refusesConnections(path))
            dead.push_back(path);
    }
    for (const std::string& path : dead)
        ::unlink(path.c_str());
}

bool peerIsSameUser(int connectedFd)
{
    ucred peer {};
    socklen_t size = sizeof peer;
    return ::getsockopt(connectedFd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer
        && peer.uid == ::getuid();
}

HandoffServer::HandoffServer(std::string path, Deliver deliver, HandoffServerOptions options,
                             UniqueFd listener, UniqueFd wake, dev_t device, ino_t inode)
    : m_path(std::move(path))
    , m_deliver(std::move(deliver))
    , m_options(options)
    , m_listener(std::move(listener))
    , m_wake(std::move(wake))
    , m_device(device)
    , m_inode(inode)
{
}

std::unique_ptr<HandoffServer> HandoffServer::start(const std::string& socketPath, Deliver deliver,
                                                    HandoffServerOptions options)
{
    // Bound under a name of its own and moved into place only once it listens, so
    // that a window cleaning up after dead ones never takes it for one of them.
    const std::string bindPath = socketPath + std::string(kBindingSuffix);
    SocketAddress address;
    if (!deliver || !address.assign(bindPath))
        return nullptr;
    // Half of what the process may open stays for the rest of the program: its
    // track files, its store connections and the web engine's.
    if (rlimit files {}; ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
        options.maxSenders = std::min<std::size_t>(options.maxSenders, files.rlim_cur / 2);
    options.maxSenders = std::max<std::size_t>(options.maxSenders, 1);
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!listener || !wake)
        return nullptr;
    // The socket file takes its mode from the socket, so made 0600 before it has a
    // name it is never open to anyone else, not even for a moment.
    ::fchmod(listener.get(), 0600);

    struct stat st {};
    if (::lstat(bindPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
        ::unlink(bindPath.c_str());
    if (::bind(listener.get(), address.get(), address.size()) != 0)
        return nullptr;
    if (::lstat(bindPath.c_str(), &st) != 0
        || ((st.st_mode & 077) != 0 && ::chmod(bindPath.c_str(), 0600) != 0)
        || ::listen(listener.get(), SOMAXCONN) != 0
        || ::rename(bindPath.c_str(), socketPath.c_str()) != 0) {
        // The caller may want to tell why.
        const int error = errno;
        ::unlink(bindPath.c_str());
        errno = error;
        return nullptr;
    }

    std::unique_ptr<HandoffServer> server(new HandoffServer(socketPath, std::move(deliver), options,
                                                            std::move(listener), std::move(wake),
                                                            st.st_dev, st.st_ino));
    try {
        server->m_thread = std::thread(&HandoffServer::run, server.get());
    } catch (const std::system_error&) {
        return nullptr; // the destructor removes the socket file
    }
    return server;
}

HandoffServer::~HandoffServer()
{
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        ssize_t written;
        do
            written = ::write(m_wake.get(), &one, sizeof one);
        while (written < 0 && errno == EINTR);
        m_thread.join();
    }
    m_listener.reset();
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode)
        ::unlink(m_path.c_str());
}

// A connection whose message is still coming in.
struct HandoffServer::Sender {
    UniqueFd connection;
    Clock::time_point deadline;
    FrameReader frame;
};

void HandoffServer::run()
{
    std::vector<Sender> senders; // in the order they connected
    std::vector<pollfd> fds;
    // While the process lacks descriptors or memory, a waiting connection stays
    // queued and would wake the poll again at once: the listener rests till then.
    Clock::time_point acceptAgain {};
    for (;;) {
        const auto now = Clock::now();
        // With every place taken, a new sender waits in the listener's queue until a
        // place frees. Pushing out a held one instead lets senders that connect again
        // at once push each other out for good, and keeps this thread busy.
        const bool listening = acceptAgain <= now && senders.size() < m_options.maxSenders;
        auto next = listening ? Clock::time_point::max() : acceptAgain;
        fds.clear();
        fds.push_back({m_wake.get(), POLLIN, 0});
        fds.push_back({listening ? m_listener.get() : -1, POLLIN, 0});
        for (const Sender& sender : senders) {
            next = std::min(next, sender.deadline);
            fds.push_back({sender.connection.get(), POLLIN, 0});
        }
        int timeout = -1;
        if (next != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
            timeout = static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0)
            return;
        const auto polled = Clock::now();

        // Errors and hang-ups count as readable: the read reports them.
        for (std::size_t i = 0; i < senders.size(); ++i) {
            Sender& sender = senders[i];
            if (fds[i + 2].revents == 0)
                continue;
            const FrameReader::Step step = sender.frame.readFrom(sender.connection.get());
            if (step == FrameReader::Step::Waiting)
                continue;
            // A stop asked for while an earlier message was handled comes first.
            if (step == FrameReader::Step::Complete) {
                if (stopping())
                    return;
                answer(sender.connection.get(), sender.frame.message());
            }
            sender.connection.reset();
        }
        // A message that came whole in time is taken above even when handling
        // another took past its deadline; what is still missing now is too late.
        std::erase_if(senders,
                      [polled](const Sender& sender) { return !sender.connection || sender.deadline <= polled; });
        if (fds[1].revents != 0)
            acceptSenders(senders, acceptAgain);
    }
}

void HandoffServer::acceptSenders(std::vector<Sender>& senders, Clock::time_point& acceptAgain)
{
    while (senders.size() < m_options.maxSenders) {
        UniqueFd connection(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!connection) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                acceptAgain = Clock::now() + std::chrono::milliseconds(100);
            return;
        }
        if (!peerIsSameUser(connection.get()))
            continue;
        senders.push_back({std::move(connection), Clock::now() + m_options.readTimeout, {}});
    }
}

bool HandoffServer::stopping() const
{
    pollfd wake {m_wake.get(), POLLIN, 0};
    return ::poll(&wake, 1, 0) > 0;
}

void HandoffServer::answer(int connection, const HandoffMessage& message)
{
    std::int64_t result;
    try {
        result = m_deliver(message);
    } catch (...) {
        // One message the window could not take must not end the window; the
        // sender sees no answer.
        return;
    }
    std::string bytes;
    appendLittleEndian(bytes, result);
    // Eight bytes into a connection that was never written to fit its buffer at
    // once; a sender that went away just misses its answer.
    static_cast<void>(writeAll(connection, bytes, Clock::now() + m_options.readTimeout));
}

bool IsWindow(const std::string& folder, std::uint32_t handle, std::chrono::milliseconds connect)
{
    return handle != 0 && connectTo(windowSocketPath(folder, handle), connect);
}

std::optional<std::int64_t> sendHandoffMessage(const std::string& folder, std::uint32_t handle,
                                               const HandoffMessage& message, HandoffClientOptions options,
                                               std::string* failure)
{
    const auto failed = [failure](std::string why) {
        if (failure)
            *failure = std::move(why);
        return std::nullopt;
    };
    if (handle == 0)
        return failed("no window is published");
    if (message.data.size() > kHandoffMaxData)
        return failed("the message is too large");
    const std::string path = windowSocketPath(folder, handle);
    const UniqueFd fd = connectTo(path, options.connect);
    if (!fd)
        return failed("connecting to " + path + ": " + errnoText(errno));

    const std::string frame = encodeHandoffFrame(message);
    // The window answers only once it has handled the message, which may take it a
    // while; the whole exchange shares the answer's time limit.
    const auto deadline = Clock::now() + options.answer;
    const auto late = [&] { return Clock::now() >= deadline ? "no answer within " + secondsText(options.answer) : std::string(); };
    if (!writeAll(fd.get(), frame, deadline))
        return failed(late().empty() ? "sending: " + errnoText(errno) : late());
    char answer[kAnswerSize];
    if (!readExact(fd.get(), answer, sizeof answer, deadline))
        return failed(late().empty() ? "the window closed the connection without an answer" : late());
    return loadLittleEndian<std::int64_t>(answer);
}

} // namespace qvr
