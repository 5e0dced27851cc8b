#pragma once

#include "platform/unique_fd.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qvr {

// How a second start of the program reaches the running window. The window
// publishes a handle under a name in the private runtime folder and listens on a
// socket named after that handle; the new process reads the handle, connects and
// sends window messages, one per connection, each waiting for the window's answer.
//
// A frame on the socket, all numbers little-endian: "QVR1", uint32 message,
// uint64 wParam, int64 lParam, uint64 dataTag, uint32 dataLength, then dataLength
// bytes of data. The answer is the int64 result.
struct HandoffMessage {
    std::uint32_t message = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
    std::uint64_t dataTag = 0;
    std::string data; // raw bytes as received (bounded), may be empty
};

// The most data one message may carry: a request text of 64 KiB and its NUL.
constexpr std::size_t kHandoffMaxData = 64 * 1024 + 1;

// The frame that carries `message` (data longer than kHandoffMaxData is sent as it
// is, and refused by the receiver).
std::string encodeHandoffFrame(const HandoffMessage& message);

// Reads one frame from the connected socket `fd` (which may be non-blocking) until
// `deadline`. Nothing when the frame is malformed, oversized, incomplete by then, or
// when `wake` (ignored when -1) becomes readable first.
[[nodiscard]] std::optional<HandoffMessage> receiveHandoffFrame(int fd, std::chrono::steady_clock::time_point deadline,
                                                                int wake = -1);

// A random, non-zero handle for a new window.
std::uint32_t newWindowHandle();

// Stores `handle` in the file `name` of `folder` (exactly 4 bytes, little-endian),
// replacing whatever an older window stored there. Readers see the old handle or
// the new one, never a mix. False when the name is not a plain file name or the
// file cannot be written.
[[nodiscard]] bool publishWindowHandle(const std::string& folder, const std::string& name, std::uint32_t handle);

// The handle stored under `name`, or 0 when there is none or the file is not a
// regular file of exactly 4 bytes.
[[nodiscard]] std::uint32_t findWindowHandle(const std::string& folder, const std::string& name);

// Removes the published handle, but only while it is still `handle`: a newer window
// may have published over it and must stay findable.
void unpublishWindowHandle(const std::string& folder, const std::string& name, std::uint32_t handle);

// folder + "/window-XXXXXXXX.sock", the handle in 8 upper-case hex digits.
std::string windowSocketPath(const std::string& folder, std::uint32_t handle);

// Removes the window sockets in `folder` that refuse a connection: each is what a
// window that was killed left behind.
void removeDeadWindowSockets(const std::string& folder);

// True when the process at the other end of a connected Unix socket runs as our
// user.
[[nodiscard]] bool peerIsSameUser(int connectedFd);

struct HandoffServerOptions {
    // How long one sender may take, from its connection on, to send its whole
    // message. A sender that is slower, sends too little or sends nothing is
    // dropped. Senders are read side by side, so a slow one holds up no other.
    std::chrono::milliseconds readTimeout {2000};
    // How many senders are held at once while their messages come in (at least
    // one, and never more than half the descriptors the process may have), so that
    // a flood of connections cannot use up the process's descriptors. Those past it
    // wait in the socket's queue, in the order they came, until one held is done or
    // dropped: enough places that hundreds of idle peers keep no second start
    // waiting for their read time to pass.
    std::size_t maxSenders = 1024;
};

// The window's end: a thread that waits on all its connections at once, reads one
// message from each as its bytes arrive, hands each whole message to `deliver` and
// writes back what that returns. Messages are handled one at a time, each as soon
// as it is whole and no other is being handled (those whole at the same moment in
// the order their senders connected); while `deliver` runs, the others wait.
// Connections from other users, malformed or oversized frames and connections that
// close without a message are dropped without an answer and without calling
// `deliver`.
class HandoffServer {
public:
    using Deliver = std::function<std::int64_t(const HandoffMessage&)>;

    // Listens on `socketPath` (an old socket file there is replaced; the new one
    // gets mode 0600). Null when it cannot listen, errno saying why. `deliver` runs on the server's
    // own thread; it should pass the message to the window's thread and wait for
    // the result there.
    [[nodiscard]] static std::unique_ptr<HandoffServer> start(const std::string& socketPath, Deliver deliver,
                                                              HandoffServerOptions options = {});

    // Stops accepting, ends the thread and removes the socket file. A sender that is
    // still sending is dropped at once, but a `deliver` call that is running is
    // waited for, and its answer still goes out. So the server must not be destroyed
    // on a thread that a running `deliver` waits for: with a blocking hand-over to
    // the window's thread, the window destroys its server only outside its message
    // handlers, and must keep handling messages until the destructor has returned,
    // or destroy the server from another thread.
    ~HandoffServer();

    HandoffServer(const HandoffServer&) = delete;
    HandoffServer& operator=(const HandoffServer&) = delete;

    const std::string& socketPath() const noexcept { return m_path; }

private:
    HandoffServer(std::string path, Deliver deliver, HandoffServerOptions options, UniqueFd listener,
                  UniqueFd wake, dev_t device, ino_t inode);

    struct Sender;

    void run();
    void acceptSenders(std::vector<Sender>& senders, std::chrono::steady_clock::time_point& acceptAgain);
    [[nodiscard]] bool stopping() const;
    void answer(int connection, const HandoffMessage& message);

    std::string m_path;
    Deliver m_deliver;
    HandoffServerOptions m_options;
    UniqueFd m_listener;
    UniqueFd m_wake;
    // The socket file we made, so that we never remove one that replaced it.
    dev_t m_device;
    ino_t m_inode;
    std::thread m_thread;
};

struct HandoffClientOptions {
    std::chrono::milliseconds connect {2000};
    // Long: the window may be busy, and the sender is meant to wait for it.
    std::chrono::milliseconds answer {30000};
};

// True when a connection to the window's socket succeeds. The connection is closed
// at once; the window takes it for nothing. A socket file left behind by a window
// that died refuses the connection, so it counts as no window.
[[nodiscard]] bool IsWindow(const std::string& folder, std::uint32_t handle,
                            std::chrono::milliseconds connect = HandoffClientOptions {}.connect);

// Sends one message to the window and waits for its answer. Nothing when the window
// cannot be reached in `options.connect`, drops the message, or does not answer in
// `options.answer`, or when the data is larger than kHandoffMaxData; `failure`, when
// given, then says which, for the failure log.
[[nodiscard]] std::optional<std::int64_t> sendHandoffMessage(const std::string& folder, std::uint32_t handle,
                                                             const HandoffMessage& message,
                                                             HandoffClientOptions options = {},
                                                             std::string* failure = nullptr);

} // namespace qvr
