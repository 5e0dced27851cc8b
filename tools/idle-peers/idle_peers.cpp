// Holds connections open to a window's hand-off socket and never sends on them, as
// hung or idle peers would, so that second starts can be timed against them. The
// window drops a peer that sends nothing after its read time: each one dropped is
// opened again at once, so that COUNT stay open.
//
//   qvr-idle-peers SOCKET COUNT SECONDS
//
// Prints "open COUNT" once all are connected, then holds them until SECONDS have
// passed or it gets SIGTERM or SIGINT, and prints "reopened N": how many the window
// dropped meanwhile. Fails when the socket refuses a connection.
#include "platform/unique_fd.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

qvr::UniqueFd connectTo(const std::string& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return {};
    path.copy(address.sun_path, path.size());
    qvr::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return {};
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    const long count = argc == 4 ? std::strtol(argv[2], nullptr, 10) : 0;
    const long seconds = argc == 4 ? std::strtol(argv[3], nullptr, 10) : 0;
    if (count <= 0 || count > 1000 || seconds <= 0) {
        std::fprintf(stderr, "usage: qvr-idle-peers SOCKET COUNT SECONDS (COUNT at most 1000)\n");
        return 2;
    }
    const std::string path = argv[1];

    // The stop signals are read from a descriptor, so that one poll waits for them too.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    const qvr::UniqueFd stopped(::sigprocmask(SIG_BLOCK, &stop, nullptr) == 0
                                    ? ::signalfd(-1, &stop, SFD_CLOEXEC)
                                    : -1);
    if (!stopped) {
        std::perror("qvr-idle-peers: signalfd");
        return 1;
    }
    std::vector<qvr::UniqueFd> peers(static_cast<std::size_t>(count));
    for (qvr::UniqueFd& peer : peers) {
        if (!(peer = connectTo(path))) {
            std::perror(("qvr-idle-peers: " + path).c_str());
            return 1;
        }
    }
    std::printf("open %ld\n", count);
    std::fflush(stdout);

    long reopened = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::vector<pollfd> fds;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        fds.assign(1, {stopped.get(), POLLIN, 0});
        for (const qvr::UniqueFd& peer : peers)
            fds.push_back({peer.get(), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), static_cast<int>(std::min<decltype(left)>(left, INT_MAX))) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("qvr-idle-peers: poll");
            return 1;
        }
        if (fds[0].revents != 0)
            break;
        // The window never writes to a peer: readable is its end closed.
        for (std::size_t i = 0; i < peers.size(); ++i) {
            if (fds[i + 1].revents == 0)
                continue;
            if (!(peers[i] = connectTo(path))) {
                std::perror(("qvr-idle-peers: " + path).c_str());
                return 1;
            }
            ++reopened;
        }
    }
    std::printf("reopened %ld\n", reopened);
    return 0;
}
