// The Content-Length and Content-Range readers agree with plain digit-by-digit
// readings of their header forms, on any text, and read back every number written
// in those forms, up to the largest 64-bit one; a number too large to hold is never
// taken for another.

#include "engine/store_request.h"
#include "tests/fuzz/fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The decimal digits at the start of `s`, consumed; nothing when there are none
// or when the number does not fit 64 bits.
std::optional<std::uint64_t> digits(std::string_view& s)
{
    if (s.empty() || !isDigit(s.front()))
        return std::nullopt;
    std::uint64_t value = 0;
    bool overflow = false;
    while (!s.empty() && isDigit(s.front())) {
        const auto digit = static_cast<std::uint64_t>(s.front() - '0');
        if (value > (UINT64_MAX - digit) / 10)
            overflow = true;
        value = value * 10 + digit;
        s.remove_prefix(1);
    }
    return overflow ? std::nullopt : std::optional(value);
}

// Blanks, an optional "+" (a "-" gives 0), then the digits; 0 when there are none.
std::uint64_t contentLength(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    return digits(s).value_or(0);
}

// Spaces, `prefix`, the digits; nothing when any of them is missing.
std::optional<std::uint64_t> numberAfter(std::string_view& s, std::string_view prefix)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    if (!s.starts_with(prefix))
        return std::nullopt;
    s.remove_prefix(prefix.size());
    return digits(s);
}

std::optional<std::uint64_t> rangeStart(std::string_view s)
{
    const auto first = numberAfter(s, "bytes ");
    return first && s.starts_with('-') ? first : std::nullopt;
}

std::optional<std::uint64_t> unsatisfiedSize(std::string_view s)
{
    const auto size = numberAfter(s, "bytes */");
    return size && s.empty() ? size : std::nullopt;
}

std::uint64_t consumeNumber(FuzzedDataProvider& in)
{
    static constexpr std::uint64_t kEdges[] = {0, 1, 9, 10, 4294967295u, 4294967296u, UINT64_MAX / 10,
                                               UINT64_MAX - 1, UINT64_MAX};
    return in.ConsumeBool() ? in.PickValueInArray(kEdges) : in.ConsumeIntegral<std::uint64_t>();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        const std::string value = in.ConsumeRemainingBytesAsString();
        QVR_FUZZ_CHECK(qvr::ParseContentLength(value) == contentLength(value), "Content-Length reads as its digits");
        QVR_FUZZ_CHECK(qvr::ContentRangeStart(value) == rangeStart(value), "Content-Range start reads as its digits");
        QVR_FUZZ_CHECK(qvr::UnsatisfiedRangeSize(value) == unsatisfiedSize(value),
                       "an unsatisfied range's size reads as its digits");
        return 0;
    }

    const std::uint64_t first = consumeNumber(in);
    const std::uint64_t last = consumeNumber(in);
    const std::uint64_t total = consumeNumber(in);
    const std::string blanks(in.ConsumeIntegralInRange(0, 3), ' ');
    const std::string zeros(in.ConsumeIntegralInRange(0, 3), '0');
    const std::string plus = in.ConsumeBool() ? "+" : "";
    QVR_FUZZ_CHECK(qvr::ParseContentLength(blanks + plus + zeros + std::to_string(total)) == total,
                   "every 64-bit Content-Length reads back");
    const std::string range = blanks + "bytes " + zeros + std::to_string(first) + "-" + std::to_string(last) + "/"
        + std::to_string(total);
    QVR_FUZZ_CHECK(qvr::ContentRangeStart(range) == first, "every 64-bit range start reads back");
    QVR_FUZZ_CHECK(!qvr::UnsatisfiedRangeSize(range), "a satisfied range has no unsatisfied size");
    const std::string unsatisfied = blanks + "bytes */" + zeros + std::to_string(total);
    QVR_FUZZ_CHECK(qvr::UnsatisfiedRangeSize(unsatisfied) == total, "every 64-bit unsatisfied size reads back");
    QVR_FUZZ_CHECK(!qvr::ContentRangeStart(unsatisfied), "an unsatisfied range has no start");

    // One digit more than fits: refused, never read as some smaller number.
    if (total > UINT64_MAX / 10) {
        const std::string tooLarge = std::to_string(total) + std::to_string(in.ConsumeIntegralInRange(0, 9));
        QVR_FUZZ_CHECK(!qvr::ContentRangeStart("bytes " + tooLarge + "-1/2"), "a range start past 64 bits is refused");
        QVR_FUZZ_CHECK(!qvr::UnsatisfiedRangeSize("bytes */" + tooLarge), "a size past 64 bits is refused");
        QVR_FUZZ_CHECK(qvr::ParseContentLength(tooLarge) == 0, "a length past 64 bits reads as none");
    }
    return 0;
}
