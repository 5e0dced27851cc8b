// The download address splitter: the pieces put together give the address back,
// the scheme is http:// or https://, the host is non-empty and holds no "/", and
// the rest starts at the first "/" after the host; an address is refused only when
// it has no such form.

#include "engine/store_request.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    const std::size_t schemeEnd = url.starts_with("http://") ? 7 : url.starts_with("https://") ? 8 : 0;
    const auto slash = url.find('/', schemeEnd);
    const bool splittable = schemeEnd > 0 && slash != std::string_view::npos && slash > schemeEnd;
    const std::optional<qvr::TrackAddress> address = qvr::splitTrackUrl(url);
    QVR_FUZZ_CHECK(address.has_value() == splittable, "an address is split exactly when it has a scheme, a host and a path");
    if (!address)
        return 0;
    QVR_FUZZ_CHECK(address->scheme + address->host + address->object == url, "the pieces give the address back");
    QVR_FUZZ_CHECK(address->scheme == "http://" || address->scheme == "https://", "the scheme is http or https");
    QVR_FUZZ_CHECK(!address->host.empty() && address->host.find('/') == std::string::npos,
                   "the host is non-empty and has no slash");
    QVR_FUZZ_CHECK(address->object.starts_with('/'), "the rest starts with a slash");
    return 0;
}
