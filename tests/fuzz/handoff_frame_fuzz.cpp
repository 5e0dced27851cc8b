// Hand-off frames over a real socket pair. Any bytes: a frame is received exactly
// when they start with a well-formed frame within the size limit, and encoding what
// was received gives those bytes back. Any message: it arrives unchanged when its
// data is within the limit, and is refused otherwise.

#include "platform/handoff.h"
#include "tests/fuzz/fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

namespace {

using qvr::HandoffMessage;

constexpr std::size_t kHeaderSize = 36;

// Little-endian, as the frame has it.
std::uint32_t dataLengthOf(std::string_view frame)
{
    std::uint32_t length = 0;
    for (std::size_t i = 4; i-- > 0;)
        length = (length << 8) | static_cast<unsigned char>(frame[32 + i]);
    return length;
}

bool startsWithFrame(std::string_view bytes)
{
    return bytes.size() >= kHeaderSize && bytes.starts_with("QVR1") && dataLengthOf(bytes) <= qvr::kHandoffMaxData
        && bytes.size() - kHeaderSize >= dataLengthOf(bytes);
}

// Sends `bytes` from one end of a fresh socket pair and receives on the other. The
// sender closes its end when done, so an incomplete frame is seen as such at once.
std::optional<HandoffMessage> sendAndReceive(const std::string& bytes, bool nonBlocking)
{
    int ends[2];
    QVR_FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0, "a socket pair can be made");
    const qvr::UniqueFd sender(ends[0]);
    const qvr::UniqueFd receiver(ends[1]);
    if (nonBlocking)
        ::fcntl(receiver.get(), F_SETFL, ::fcntl(receiver.get(), F_GETFL) | O_NONBLOCK);

    // Most frames fit the socket's buffer at once; only the rest needs a thread.
    std::size_t sentAtOnce = 0;
    if (const ssize_t n = ::send(sender.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT); n > 0)
        sentAtOnce = static_cast<std::size_t>(n);
    auto sendRest = [&, done = sentAtOnce]() mutable {
        while (done < bytes.size()) {
            const ssize_t n = ::send(sender.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                break; // the receiver stopped reading and closed its end
            done += static_cast<std::size_t>(n);
        }
        ::shutdown(sender.get(), SHUT_WR);
    };
    std::optional<std::thread> writer;
    if (sentAtOnce == bytes.size())
        sendRest();
    else
        writer.emplace(sendRest);
    // Generous: it only matters when the receiver would wait for a sender that is done.
    auto message = qvr::ReceiveHandoffFrame(receiver.get(), std::chrono::steady_clock::now() + std::chrono::seconds(20));
    ::shutdown(receiver.get(), SHUT_RDWR);
    if (writer)
        writer->join();
    return message;
}

auto fieldsOf(const HandoffMessage& m)
{
    return std::tie(m.message, m.wParam, m.lParam, m.dataTag, m.data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const bool nonBlocking = in.ConsumeBool();
    if (in.ConsumeBool()) {
        const std::string bytes = in.ConsumeRemainingBytesAsString();
        const auto message = sendAndReceive(bytes, nonBlocking);
        QVR_FUZZ_CHECK(message.has_value() == startsWithFrame(bytes),
                       "a frame is received exactly when the bytes start with a well-formed one");
        if (message) {
            QVR_FUZZ_CHECK(message->data.size() <= qvr::kHandoffMaxData, "received data is within the limit");
            const std::string frame = qvr::EncodeHandoffFrame(*message);
            QVR_FUZZ_CHECK(std::string_view(bytes).starts_with(frame), "encoding what was received gives the bytes back");
        }
        return 0;
    }

    HandoffMessage sent;
    sent.message = in.ConsumeIntegral<std::uint32_t>();
    sent.wParam = in.ConsumeIntegral<std::uint64_t>();
    sent.lParam = in.ConsumeIntegral<std::int64_t>();
    sent.dataTag = in.ConsumeIntegral<std::uint64_t>();
    // Lengths around the limit come up often; the data repeats what the fuzzer gave.
    static constexpr std::size_t kLengths[] = {0, 1, qvr::kHandoffMaxData - 1, qvr::kHandoffMaxData,
                                               qvr::kHandoffMaxData + 1};
    const std::size_t length = in.ConsumeBool() ? in.PickValueInArray(kLengths)
                                                : in.ConsumeIntegralInRange<std::size_t>(0, qvr::kHandoffMaxData + 64);
    std::string pattern = in.ConsumeRemainingBytesAsString();
    if (pattern.empty())
        pattern = "x";
    while (sent.data.size() < length)
        sent.data += pattern;
    sent.data.resize(length);

    const std::string frame = qvr::EncodeHandoffFrame(sent);
    QVR_FUZZ_CHECK(frame.size() == kHeaderSize + length, "a frame is its header and its data");
    const auto received = sendAndReceive(frame, nonBlocking);
    QVR_FUZZ_CHECK(length > qvr::kHandoffMaxData || (received && fieldsOf(*received) == fieldsOf(sent)),
                   "a message within the limit arrives unchanged");
    QVR_FUZZ_CHECK(length <= qvr::kHandoffMaxData || !received, "a message over the limit is refused");
    return 0;
}
