#include "platform/handoff.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <mutex>
#include <vector>

namespace qvr {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

constexpr std::uint32_t kSysCommand = 0x0112;
constexpr std::uint32_t kCopyData = 0x004A;
constexpr std::uint32_t kSwitchQuit = 1130;
constexpr std::uint32_t kHandle = 0x00AB12CD;

// A window that records what reaches it and answers with the message number, negated.
struct RecordingWindow {
    explicit RecordingWindow(const std::string& folder, HandoffServer::Options options = {})
        : server(HandoffServer::start(WindowSocketPath(folder, kHandle), [this](const HandoffMessage& m) {
              const std::lock_guard lock(mutex);
              received.push_back(m);
              return -static_cast<std::int64_t>(m.message);
          }, options)) {}

    std::vector<HandoffMessage> messages()
    {
        const std::lock_guard lock(mutex);
        return received;
    }

    std::mutex mutex;
    std::vector<HandoffMessage> received;
    std::unique_ptr<HandoffServer> server;
};

UniqueFd rawSocket(const std::string& path, bool listening)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto* at = reinterpret_cast<const sockaddr*>(&address);
    const bool ok = listening ? ::bind(fd.get(), at, sizeof address) == 0 && ::listen(fd.get(), 0) == 0
                              : ::connect(fd.get(), at, sizeof address) == 0;
    return ok ? std::move(fd) : UniqueFd();
}

std::string fields(const HandoffMessage& m)
{
    return std::to_string(m.message) + ' ' + std::to_string(m.wParam) + ' ' + std::to_string(m.lParam)
        + ' ' + std::to_string(m.dataTag) + " [" + m.data + ']';
}

std::string frameHeader(std::string_view magic, std::uint32_t dataLength)
{
    std::string header(magic);
    header += std::string("\x01\0\0\0", 4) + std::string(24, '\0');
    for (int i = 0; i < 4; ++i)
        header.push_back(static_cast<char>(dataLength >> (8 * i)));
    return header;
}

TEST(HandoffMapping, NewestHandleWinsAndOnlyItsOwnerRemovesIt)
{
    TempDir dir;
    EXPECT_EQ(FindWindowHandle(dir.path(), "QVRMDL"), 0u);
    ASSERT_TRUE(PublishWindowHandle(dir.path(), "QVRMDL", 0x11223344));
    EXPECT_EQ(test::readFile(dir.file("QVRMDL")), std::string("\x44\x33\x22\x11", 4));
    ASSERT_TRUE(PublishWindowHandle(dir.path(), "QVRMDL", 0xA0B0C0D0));
    EXPECT_EQ(FindWindowHandle(dir.path(), "QVRMDL"), 0xA0B0C0D0u);

    // The old window ends after the new one has published.
    UnpublishWindowHandle(dir.path(), "QVRMDL", 0x11223344);
    EXPECT_EQ(FindWindowHandle(dir.path(), "QVRMDL"), 0xA0B0C0D0u);
    UnpublishWindowHandle(dir.path(), "QVRMDL", 0xA0B0C0D0);
    EXPECT_EQ(test::countEntries(dir.path()), 0u);

    for (const std::string& bad : {std::string("\x01\x02\x03"), std::string("\x01\x02\x03\x04\x05")}) {
        test::writeFile(dir.file("QVRMDL"), bad);
        EXPECT_EQ(FindWindowHandle(dir.path(), "QVRMDL"), 0u) << bad.size() << " bytes";
    }
    EXPECT_FALSE(PublishWindowHandle(dir.path(), "../QVRMDL", 1));
    EXPECT_EQ(WindowSocketPath("/run/q", kHandle), "/run/q/window-00AB12CD.sock");
}

TEST(Handoff, HandsOverTheThreeMessagesInOrderWithTheirAnswers)
{
    TempDir dir;
    RecordingWindow window(dir.path());
    ASSERT_TRUE(window.server);
    struct stat st {};
    ASSERT_EQ(::stat(WindowSocketPath(dir.path(), kHandle).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(IsWindow(dir.path(), kHandle));

    const std::vector<HandoffMessage> sent = {
        {kSysCommand, 0xF120, 0, 0, {}},
        {kCopyData, 0, -5, 1125, std::string("abc", 4)}, // the text and its NUL: cbData 4
        {kSwitchQuit, 0, 0, 0, {}},
        {kCopyData, 0, 0, 1125, std::string(kHandoffMaxData, 'x')},
    };
    for (const HandoffMessage& message : sent) {
        EXPECT_EQ(SendHandoffMessage(dir.path(), kHandle, message),
                  -static_cast<std::int64_t>(message.message));
    }
    const std::string tooLong(kHandoffMaxData + 1, 'x');
    EXPECT_FALSE(SendHandoffMessage(dir.path(), kHandle, {kCopyData, 0, 0, 1125, tooLong}));

    const auto got = window.messages();
    ASSERT_EQ(got.size(), sent.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(fields(got[i]), fields(sent[i])) << "message " << i;
}

TEST(Handoff, FramesAreLittleEndianBehindTheMagic)
{
    TempDir dir;
    const UniqueFd listener = rawSocket(WindowSocketPath(dir.path(), kHandle), true);
    ASSERT_TRUE(listener);
    const std::string expected = std::string("QVR1\x12\x01\0\0" "\x20\xF1\0\0\0\0\0\0", 16)
        + std::string("\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF" "\x65\x04\0\0\0\0\0\0" "\x03\0\0\0" "ab\0", 23);
    auto fakeWindow = std::async(std::launch::async, [&] {
        const UniqueFd connection(::accept(listener.get(), nullptr, nullptr));
        std::string frame(expected.size(), '\0');
        const ssize_t n = ::recv(connection.get(), frame.data(), frame.size(), MSG_WAITALL);
        ::send(connection.get(), "\xFD\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8, MSG_NOSIGNAL);
        return n == ssize_t(frame.size()) ? frame : std::string();
    });
    const HandoffMessage message {kSysCommand, 0xF120, -2, 1125, std::string("ab", 3)};
    EXPECT_EQ(SendHandoffMessage(dir.path(), kHandle, message), -3);
    EXPECT_EQ(fakeWindow.get(), expected);
}

TEST(Handoff, NoWindowBehindAMissingOrStaleSocket)
{
    TempDir dir;
    const std::string path = WindowSocketPath(dir.path(), kHandle);
    EXPECT_FALSE(IsWindow(dir.path(), kHandle));
    {
        RecordingWindow window(dir.path());
        ASSERT_TRUE(window.server);
    }
    EXPECT_EQ(test::countEntries(dir.path()), 0u) << "the window removes its socket";

    // A window that died leaves its socket file behind.
    ASSERT_TRUE(rawSocket(path, true));
    ASSERT_EQ(test::countEntries(dir.path()), 1u);
    EXPECT_FALSE(IsWindow(dir.path(), kHandle));
    EXPECT_FALSE(SendHandoffMessage(dir.path(), kHandle, {kSysCommand, 0xF120, 0, 0, {}}));

    RecordingWindow next(dir.path());
    ASSERT_TRUE(next.server) << "the stale socket file is replaced";
    EXPECT_TRUE(IsWindow(dir.path(), kHandle));
}

TEST(Handoff, DropsBadSendersWithoutDeliveringOrHoldingUpTheNext)
{
    TempDir dir;
    RecordingWindow window(dir.path(), {200ms});
    ASSERT_TRUE(window.server);
    const std::string path = WindowSocketPath(dir.path(), kHandle);
    const std::string bad[] = {
        "",                                                        // says nothing
        frameHeader("QVR1", 0).substr(0, 10),                      // a short frame
        frameHeader("QVR1", 8) + "abc",                            // data cut short
        frameHeader("QVR0", 0),                                    // bad magic
        frameHeader("QVR1", kHandoffMaxData + 1) + std::string(100, 'x'), // too much data
    };
    std::vector<UniqueFd> senders;
    for (const std::string& bytes : bad) {
        senders.push_back(rawSocket(path, false));
        ASSERT_TRUE(senders.back());
        const ssize_t sentBytes = ::send(senders.back().get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        ASSERT_EQ(sentBytes, ssize_t(bytes.size()));
    }
    EXPECT_EQ(SendHandoffMessage(dir.path(), kHandle, {kSwitchQuit, 0, 0, 0, {}}), -1130);
    ASSERT_EQ(window.messages().size(), 1u);
    for (const UniqueFd& sender : senders) {
        char answer[8];
        EXPECT_LE(::recv(sender.get(), answer, sizeof answer, 0), 0) << "a dropped sender gets no answer";
    }
}

TEST(Handoff, DestroyingWaitsForTheRunningDeliveryAndSendsItsAnswer)
{
    TempDir dir;
    std::promise<void> delivering, destroying;
    auto destroyingNow = destroying.get_future();
    std::atomic<bool> finished {false};
    auto server = HandoffServer::start(WindowSocketPath(dir.path(), kHandle), [&](const HandoffMessage&) {
        delivering.set_value();
        destroyingNow.wait();
        finished = true;
        return std::int64_t {5};
    }, {1h});
    ASSERT_TRUE(server);
    auto sender = std::async(std::launch::async, [&] { return SendHandoffMessage(dir.path(), kHandle, {}); });
    delivering.get_future().wait();
    // Waits behind the running message; with its hour to send, it must not hold up the end.
    const UniqueFd silent = rawSocket(WindowSocketPath(dir.path(), kHandle), false);
    destroying.set_value();
    server.reset();
    EXPECT_TRUE(finished);
    EXPECT_EQ(sender.get(), 5);
}

TEST(Handoff, SenderGivesUpOnAWindowThatNeverAnswers)
{
    TempDir dir;
    // Listens but never accepts: the first sender's connection waits in the queue
    // unanswered, and the queue is then full for the second.
    const UniqueFd listener = rawSocket(WindowSocketPath(dir.path(), kHandle), true);
    ASSERT_TRUE(listener);
    const HandoffClientOptions shortWait {100ms, 100ms};
    EXPECT_FALSE(SendHandoffMessage(dir.path(), kHandle, {}, shortWait));
    EXPECT_FALSE(SendHandoffMessage(dir.path(), kHandle, {}, shortWait));
}

TEST(Handoff, RefusesSendersOfOtherUsers)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const UniqueFd one(pair[0]), two(pair[1]);
    EXPECT_TRUE(PeerIsSameUser(one.get()));

    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to send as another user";
    // Open the way for the other user, so that only the server's own check stops it.
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    RecordingWindow window(dir.path());
    ASSERT_TRUE(window.server);
    ASSERT_EQ(::chmod(WindowSocketPath(dir.path(), kHandle).c_str(), 0666), 0);

    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        if (!IsWindow(dir.path(), kHandle))
            ::_exit(3);
        ::_exit(SendHandoffMessage(dir.path(), kHandle, {kSwitchQuit, 0, 0, 0, {}}) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 3) << "the other user cannot reach " << dir.path();
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: answered, 2: could not change user";
    EXPECT_TRUE(window.messages().empty());
}

} // namespace
} // namespace qvr
