// The hand-off between instances. A second start handing over to a real window is the start-up
// tests'.
#include "platform/handoff.h"

#include "tests/support/common.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <csignal>
#include <future>
#include <mutex>
#include <thread>

namespace qvr {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

constexpr std::uint32_t kSysCommand = 0x0112, kCopyData = 0x004A, kHandle = 0x00AB12CD;

std::string fields(const HandoffMessage& m)
{
    return testing::PrintToString(std::make_tuple(m.message, m.wParam, m.lParam, m.dataTag, m.data));
}

// A window that records what reaches it, while its sender waits, and answers with the message number, negated.
struct RecordingWindow {
    explicit RecordingWindow(const std::string& folder, HandoffServerOptions options = {})
        : server(HandoffServer::start(windowSocketPath(folder, kHandle), [this](const HandoffMessage& m) {
              const std::lock_guard lock(mutex);
              received.push_back(fields(m));
              return -static_cast<std::int64_t>(m.message);
          }, options)) {}
    std::vector<std::string> messages() { const std::lock_guard lock(mutex); return received; }

    std::mutex mutex;
    std::vector<std::string> received;
    std::unique_ptr<HandoffServer> server;
};

UniqueFd rawSocket(const std::string& path, bool listening)
{
    sockaddr_un address {.sun_family = AF_UNIX, .sun_path = {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto* at = reinterpret_cast<const sockaddr*>(&address);
    const bool ok = listening ? ::bind(fd.get(), at, sizeof address) == 0 && ::listen(fd.get(), 0) == 0
                              : ::connect(fd.get(), at, sizeof address) == 0;
    return ok ? std::move(fd) : UniqueFd();
}

// The frames come from processes of this user only, and are still read with care.
TEST(Handoff, AFrameIsTakenOnlyWhenTheBytesBeginWithAWholeOneWithinTheLimit)
{
    const HandoffMessage sent {kCopyData, 7, -5, 1125, std::string("a\0b", 3)};
    const std::string frame = encodeHandoffFrame(sent);
    std::string oversized = frame.substr(0, 36);
    oversized.replace(32, 4, std::string("\2\0\1\0", 4)); // kHandoffMaxData + 1, little-endian
    const std::pair<std::string, bool> cases[] = {
        {frame, true}, {frame + "more", true}, {frame.substr(0, frame.size() - 1), false}, {frame.substr(0, 35), false},
        {"QVR2" + frame.substr(4), false}, {oversized + std::string(kHandoffMaxData + 1, 'x'), false}, {"", false},
    };
    for (const auto& [bytes, taken] : cases) {
        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        const UniqueFd sender(ends[0]), receiver(ends[1]);
        // The sender is done at once, so a frame cut short shows as such without a wait.
        std::jthread writer([&, &bytes = bytes] {
            for (std::size_t done = 0; done < bytes.size();) {
                const ssize_t n = ::send(sender.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
                done = n > 0 ? done + std::size_t(n) : bytes.size();
            }
            ::shutdown(sender.get(), SHUT_WR);
        });
        const auto received = receiveHandoffFrame(receiver.get(), std::chrono::steady_clock::now() + 20s);
        ::shutdown(receiver.get(), SHUT_RDWR);
        EXPECT_EQ(received ? fields(*received) : "none", taken ? fields(sent) : "none") << bytes.size();
    }
}

TEST(Handoff, OnlyALiveWindowAtTheNewestHandleAnswers)
{
    TempDir dir;
    EXPECT_EQ(findWindowHandle(dir.path(), "QVRMDL"), 0u);
    ASSERT_TRUE(publishWindowHandle(dir.path(), "QVRMDL", 0x11223344));
    ASSERT_TRUE(publishWindowHandle(dir.path(), "QVRMDL", kHandle));
    unpublishWindowHandle(dir.path(), "QVRMDL", 0x11223344); // the old window ends after the new one published
    EXPECT_EQ(findWindowHandle(dir.path(), "QVRMDL"), kHandle);
    EXPECT_FALSE(publishWindowHandle(dir.path(), "../QVRMDL", 1));

    const std::string path = windowSocketPath(dir.path(), kHandle);
    EXPECT_FALSE(IsWindow(dir.path(), kHandle));
    {
        // Listens but never accepts: the first sender waits unanswered, the queue is then full for the second.
        const UniqueFd hung = rawSocket(path, true);
        ASSERT_TRUE(hung);
        for (const char* sender : {"first", "second"})
            EXPECT_FALSE(sendHandoffMessage(dir.path(), kHandle, {}, {100ms, 100ms})) << sender;
    }
    // Its socket file stays behind, as after a window that died.
    EXPECT_FALSE(IsWindow(dir.path(), kHandle) || sendHandoffMessage(dir.path(), kHandle, {}));
    {
        RecordingWindow window(dir.path());
        ASSERT_TRUE(window.server) << "the stale socket file is replaced";
        EXPECT_EQ(test::modeOf(path), 0600u);
        EXPECT_TRUE(IsWindow(dir.path(), kHandle));
        const HandoffMessage sent {kCopyData, 0, -5, 1125, std::string("abc", 4)}; // the text and its NUL: cbData 4
        EXPECT_EQ(sendHandoffMessage(dir.path(), kHandle, sent), -std::int64_t {kCopyData});
        EXPECT_FALSE(sendHandoffMessage(dir.path(), kHandle, {kCopyData, 0, 0, 1125, std::string(kHandoffMaxData + 1, 'x')}));
        EXPECT_EQ(window.messages(), std::vector {fields(sent)});
    }
    unpublishWindowHandle(dir.path(), "QVRMDL", kHandle);
    EXPECT_EQ(test::countEntries(dir.path()), 0u) << "the window removes its socket, the last owner its handle";
}

TEST(Handoff, FromAFolderOfAnyDepthDeadWindowsAreSweptAndSilentOrDeafSendersHarmNothing)
{
    TempDir dir;
    const std::string deep = dir.file(std::string(120, 'd'));
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
    RecordingWindow deepWindow(deep);
    ASSERT_TRUE(deepWindow.server) << "a socket path longer than an address holds";
    EXPECT_EQ(sendHandoffMessage(deep, kHandle, {kSysCommand, 0xF120, 0, 0, {}}), -std::int64_t {kSysCommand});
    // What killed windows left: sockets nobody listens on. A live window, a file that is no
    // socket and other names stay.
    const std::string dead = windowSocketPath(deep, 0x0000DEAD);
    ASSERT_TRUE(rawSocket(windowSocketPath(dir.path(), 0x0000DEAD), true));
    ASSERT_EQ(::rename(windowSocketPath(dir.path(), 0x0000DEAD).c_str(), dead.c_str()), 0);
    test::writeFile(windowSocketPath(deep, 0x0000F11E), "");
    test::writeFile(deep + "/QVRMDL", "");
    removeDeadWindowSockets(deep);
    EXPECT_FALSE(std::filesystem::exists(dead));
    EXPECT_EQ(test::countEntries(deep), 3u);
    // Only a folder in front can be shortened: a name alone too long for an address is refused, not thrown over.
    EXPECT_FALSE(HandoffServer::start(std::string(120, 's'), [](const HandoffMessage&) { return 0; }));

    // A silent sender is dropped in time; a deaf one's answer must not raise SIGPIPE, whose default ends us.
    ASSERT_NE(std::signal(SIGPIPE, SIG_DFL), SIG_ERR);
    RecordingWindow window(dir.path(), {200ms});
    ASSERT_TRUE(window.server);
    const UniqueFd silent = rawSocket(windowSocketPath(dir.path(), kHandle), false);
    const UniqueFd deaf = rawSocket(windowSocketPath(dir.path(), kHandle), false);
    const std::string frame = encodeHandoffFrame({kCopyData, 0, 0, 1125, "deaf"});
    ASSERT_TRUE(silent && deaf && ::shutdown(deaf.get(), SHUT_RD) == 0);
    ASSERT_EQ(::send(deaf.get(), frame.data(), frame.size(), MSG_NOSIGNAL), ssize_t(frame.size()));
    EXPECT_EQ(sendHandoffMessage(dir.path(), kHandle, {kSysCommand, 0xF060, 0, 0, {}}), -std::int64_t {kSysCommand});
    char answer[8];
    EXPECT_LE(::recv(silent.get(), answer, sizeof answer, 0), 0) << "a dropped sender gets no answer";
    EXPECT_EQ(window.messages().size(), 2u);
}

// Pushing a held sender out for a new one would let senders that connect again at once push each other out for
// good, the window's thread never resting: past the bound a new sender waits for a place.
TEST(Handoff, PastTheBoundOnSendersHeldANewOneWaitsForAPlace)
{
    TempDir dir;
    const std::string path = windowSocketPath(dir.path(), kHandle);
    std::promise<void> delivering, release;
    const auto server = HandoffServer::start(path, [&, released = release.get_future().share()](const HandoffMessage& m) {
        if (m.message == 1) {
            delivering.set_value();
            released.wait();
        }
        return std::int64_t {m.message};
    }, {60s, 1});
    ASSERT_TRUE(server);
    const auto send = [](const UniqueFd& sender, std::uint32_t message) {
        const std::string frame = encodeHandoffFrame({message, 0, 0, 0, {}});
        return ::send(sender.get(), frame.data(), frame.size(), MSG_NOSIGNAL) == ssize_t(frame.size());
    };
    const auto answer = [](const UniqueFd& sender) {
        char bytes[8] = {};
        return ::recv(sender.get(), bytes, sizeof bytes, MSG_WAITALL) == 8 ? int(bytes[0]) : -1;
    };
    // While the one place is busy with a message, two silent senders come.
    const UniqueFd busy = rawSocket(path, false);
    ASSERT_TRUE(busy && send(busy, 1));
    delivering.get_future().wait();
    const UniqueFd first = rawSocket(path, false), second = rawSocket(path, false);
    release.set_value();
    EXPECT_EQ(answer(busy), 1);
    ASSERT_TRUE(send(first, 2) && send(second, 3));
    EXPECT_EQ(answer(first), 2) << "the first was not pushed out by the second";
    EXPECT_EQ(answer(second), 3);
}

// Idle peers are held all at once: a message does not wait in the socket's queue behind them for their read time.
TEST(Handoff, AMessageOfTheLargestSizeIsNotHeldUpBehindHundredsOfIdleConnections)
{
    TempDir dir;
    RecordingWindow window(dir.path(), {60s});
    ASSERT_TRUE(window.server);
    std::vector<UniqueFd> idle(300);
    for (UniqueFd& peer : idle)
        ASSERT_TRUE(peer = rawSocket(windowSocketPath(dir.path(), kHandle), false));
    const HandoffMessage largest {kCopyData, 0, 0, 1125, std::string(kHandoffMaxData, 'x')};
    EXPECT_EQ(sendHandoffMessage(dir.path(), kHandle, largest, {2s, 20s}), -std::int64_t {kCopyData});
    EXPECT_EQ(window.messages(), std::vector<std::string> {fields(largest)});
}

} // namespace
} // namespace qvr
