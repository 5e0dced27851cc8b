// The Content-Length and Content-Range readers agree with digit-by-digit readings on any text and
// read back every number written in their forms up to 2^64-1; a number too large is never another.

#include "engine/store_request.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Number = std::optional<std::uint64_t>;

// After `skip` and `prefix`, the decimal digits, consumed; nothing when `prefix` or
// the digits are missing, or when the number does not fit 64 bits.
Number digitsAfter(std::string_view& s, std::string_view skip, std::string_view prefix)
{
    s.remove_prefix(std::min(s.find_first_not_of(skip), s.size()));
    if (!s.starts_with(prefix) || s.size() == prefix.size() || s[prefix.size()] < '0' || s[prefix.size()] > '9')
        return std::nullopt;
    s.remove_prefix(prefix.size());
    std::uint64_t value = 0;
    bool overflow = false;
    for (; !s.empty() && s.front() >= '0' && s.front() <= '9'; s.remove_prefix(1)) {
        const auto digit = static_cast<std::uint64_t>(s.front() - '0');
        overflow = overflow || value > (UINT64_MAX - digit) / 10;
        value = value * 10 + digit;
    }
    return overflow ? std::nullopt : Number(value);
}

} // namespace

QVR_FUZZ_TARGET(in)
{
    using namespace qvr;
    if (in.ConsumeBool()) {
        const std::string value = in.ConsumeRemainingBytesAsString();
        // Content-Length: blanks, an optional "+" (a "-" gives 0), the digits; 0 without any.
        std::string_view s = value;
        s.remove_prefix(std::min(s.find_first_not_of(" \t"), s.size()));
        s.remove_prefix(s.starts_with('+'));
        QVR_FUZZ_CHECK(ParseContentLength(value) == digitsAfter(s, "", "").value_or(0), "Content-Length reads as its digits");
        s = value;
        const Number start = digitsAfter(s, " ", "bytes ");
        QVR_FUZZ_CHECK(ContentRangeStart(value) == (s.starts_with('-') ? start : std::nullopt),
                       "Content-Range start reads as its digits");
        s = value;
        const Number unsatisfied = digitsAfter(s, " ", "bytes */");
        QVR_FUZZ_CHECK(UnsatisfiedRangeSize(value) == (s.empty() ? unsatisfied : std::nullopt),
                       "an unsatisfied range's size reads as its digits");
        return;
    }

    const auto number = [&] {
        static constexpr std::uint64_t kEdges[] = {0, 1, 9, 10, 4294967295u, 4294967296u, UINT64_MAX / 10,
                                                   UINT64_MAX - 1, UINT64_MAX};
        return in.ConsumeBool() ? in.PickValueInArray(kEdges) : in.ConsumeIntegral<std::uint64_t>();
    };
    const std::uint64_t first = number(), last = number(), total = number();
    const std::string blanks(in.ConsumeIntegralInRange(0, 3), ' '), zeros(in.ConsumeIntegralInRange(0, 3), '0');
    QVR_FUZZ_CHECK(ParseContentLength(blanks + (in.ConsumeBool() ? "+" : "") + zeros + std::to_string(total)) == total,
                   "every 64-bit Content-Length reads back");
    const std::string range = blanks + "bytes " + zeros + std::to_string(first) + "-" + std::to_string(last) + "/"
        + std::to_string(total);
    QVR_FUZZ_CHECK(ContentRangeStart(range) == first, "every 64-bit range start reads back");
    QVR_FUZZ_CHECK(!UnsatisfiedRangeSize(range), "a satisfied range has no unsatisfied size");
    const std::string unsatisfied = blanks + "bytes */" + zeros + std::to_string(total);
    QVR_FUZZ_CHECK(UnsatisfiedRangeSize(unsatisfied) == total, "every 64-bit unsatisfied size reads back");
    QVR_FUZZ_CHECK(!ContentRangeStart(unsatisfied), "an unsatisfied range has no start");

    // One digit more than fits: refused, never read as some smaller number.
    if (total > UINT64_MAX / 10) {
        const std::string tooLarge = std::to_string(total) + std::to_string(in.ConsumeIntegralInRange(0, 9));
        QVR_FUZZ_CHECK(!ContentRangeStart("bytes " + tooLarge + "-1/2"), "a range start past 64 bits is refused");
        QVR_FUZZ_CHECK(!UnsatisfiedRangeSize("bytes */" + tooLarge), "a size past 64 bits is refused");
        QVR_FUZZ_CHECK(ParseContentLength(tooLarge) == 0, "a length past 64 bits reads as none");
    }
}
