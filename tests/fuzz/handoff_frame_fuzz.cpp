// Hand-off frames over a real socket pair. Any bytes: a frame is received exactly when they start
// with a well-formed one within the size limit, and encodes back to them. Any message: it arrives
// unchanged when its data is within the limit, and is refused otherwise.

#include "platform/handoff.h"
#include "tests/fuzz/fuzz_support.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <thread>
#include <tuple>

namespace {

using qvr::HandoffMessage;
using qvr::kHandoffMaxData;

constexpr std::size_t kHeaderSize = 36;

// The sender closes its end when done, so an incomplete frame is seen as such at once.
std::optional<HandoffMessage> sendAndReceive(const std::string& bytes, bool nonBlocking)
{
    int ends[2];
    QVR_FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0, "a socket pair can be made");
    const qvr::UniqueFd sender(ends[0]), receiver(ends[1]);
    if (nonBlocking)
        ::fcntl(receiver.get(), F_SETFL, ::fcntl(receiver.get(), F_GETFL) | O_NONBLOCK);
    // Most frames fit the socket's buffer at once; only the rest needs a thread.
    const ssize_t atOnce = std::max<ssize_t>(::send(sender.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT), 0);
    const auto sendRest = [&] {
        for (ssize_t done = atOnce, n = 1; done < ssize_t(bytes.size()) && n > 0; done += std::max<ssize_t>(n, 0))
            n = ::send(sender.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL); // <= 0: receiver gone
        ::shutdown(sender.get(), SHUT_WR);
    };
    std::optional<std::jthread> writer;
    atOnce == ssize_t(bytes.size()) ? sendRest() : void(writer.emplace(sendRest));
    // Generous: it only matters when the receiver would wait for a sender that is done.
    auto message = qvr::ReceiveHandoffFrame(receiver.get(), std::chrono::steady_clock::now() + std::chrono::seconds(20));
    ::shutdown(receiver.get(), SHUT_RDWR);
    return message;
}

} // namespace

QVR_FUZZ_TARGET(in)
{
    const bool nonBlocking = in.ConsumeBool();
    if (in.ConsumeBool()) {
        const std::string bytes = in.ConsumeRemainingBytesAsString();
        const auto message = sendAndReceive(bytes, nonBlocking);
        std::uint32_t length = 0; // little-endian, as the frame has it
        for (std::size_t i = 4; bytes.size() >= kHeaderSize && i-- > 0;)
            length = (length << 8) | static_cast<unsigned char>(bytes[32 + i]);
        const bool frame = bytes.size() >= kHeaderSize && bytes.starts_with("QVR1") && length <= kHandoffMaxData
            && bytes.size() - kHeaderSize >= length;
        QVR_FUZZ_CHECK(message.has_value() == frame, "a frame is received exactly when the bytes start with a well-formed one");
        QVR_FUZZ_CHECK(!message || message->data.size() <= kHandoffMaxData, "received data is within the limit");
        QVR_FUZZ_CHECK(!message || bytes.starts_with(qvr::EncodeHandoffFrame(*message)),
                       "encoding what was received gives the bytes back");
        return;
    }

    HandoffMessage sent {in.ConsumeIntegral<std::uint32_t>(), in.ConsumeIntegral<std::uint64_t>(),
                         in.ConsumeIntegral<std::int64_t>(), in.ConsumeIntegral<std::uint64_t>(), {}};
    // Lengths around the limit come up often; the data repeats what the fuzzer gave.
    static constexpr std::size_t kLengths[] = {0, 1, kHandoffMaxData - 1, kHandoffMaxData, kHandoffMaxData + 1};
    const std::size_t length = in.ConsumeBool() ? in.PickValueInArray(kLengths)
                                                : in.ConsumeIntegralInRange<std::size_t>(0, kHandoffMaxData + 64);
    const std::string pattern = in.ConsumeRemainingBytesAsString() + "x";
    while (sent.data.size() < length)
        sent.data += pattern;
    sent.data.resize(length);

    const std::string frame = qvr::EncodeHandoffFrame(sent);
    QVR_FUZZ_CHECK(frame.size() == kHeaderSize + length, "a frame is its header and its data");
    const auto received = sendAndReceive(frame, nonBlocking);
    const auto fields = [](const HandoffMessage& m) { return std::tie(m.message, m.wParam, m.lParam, m.dataTag, m.data); };
    QVR_FUZZ_CHECK(length > kHandoffMaxData || (received && fields(*received) == fields(sent)),
                   "a message within the limit arrives unchanged");
    QVR_FUZZ_CHECK(length <= kHandoffMaxData || !received, "a message over the limit is refused");
}
