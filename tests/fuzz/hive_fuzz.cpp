// The settings hive: a file that parses is written back byte for byte; after any value writes the
// text parses again and holds exactly the values written, each on one line, every other as it was.

#include "platform/hive.h"
#include "platform/text.h"
#include "tests/fuzz/fuzz_support.h"

#include <map>
#include <utility>
#include <vector>

namespace {

using qvr::HiveValue;
using Place = std::pair<std::string, std::string>; // a key and a value name

// Used when the fuzzer's text does not parse, so that writes are tried every time.
constexpr std::string_view kFallback =
    "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]\r\n\"Directory\"=\"/opt/q\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Client]\r\n\"GUID\"=\"0123\"\r\n@=dword:00000010\r\n";

Place folded(Place place)
{
    for (std::string* text : {&place.first, &place.second})
        std::ranges::transform(*text, text->begin(), qvr::asciiLower);
    return place;
}

// Keys and values as they appear in the text, roughly: they only serve as places to
// look, so a wrong guess costs nothing.
std::vector<Place> placesIn(std::string_view text, std::vector<std::string>& keys)
{
    std::vector<Place> places;
    std::string key;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = qvr::trim(text.substr(0, end), " \t\r");
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']')
            keys.push_back(key = std::string(line.substr(1, line.size() - 2)));
        std::string name;
        for (std::size_t i = 1; line.starts_with('"') && i < line.size() && line[i] != '"'; ++i)
            name += line[line[i] == '\\' && i + 1 < line.size() ? ++i : i];
        if (line.starts_with('@') || line.starts_with('"'))
            places.emplace_back(key, name);
    }
    return places;
}

HiveValue consumeValue(FuzzedDataProvider& in)
{
    // The types with a form of their own come up often; any other goes as hex(N).
    static constexpr std::uint32_t kTypes[] = {1, 1, 3, 4, 4, 2, 7, 0, 11};
    HiveValue value {in.ConsumeBool() ? in.PickValueInArray(kTypes) : in.ConsumeIntegral<std::uint32_t>(), {}};
    const std::string bytes = in.ConsumeRandomLengthString(80);
    value.data.assign(bytes.begin(), bytes.end());
    if (value.type == 1 && in.ConsumeBool())
        value.data.push_back(0);
    return value;
}

std::string pick(FuzzedDataProvider& in, const std::vector<std::string>& known, std::size_t maxLength)
{
    if (known.empty() || in.ConsumeBool())
        return in.ConsumeRandomLengthString(maxLength);
    std::string chosen = known[in.ConsumeIntegralInRange<std::size_t>(0, known.size() - 1)];
    // Names compare without regard to case; the written name keeps the file's spelling.
    if (!chosen.empty() && in.ConsumeBool())
        chosen[0] = static_cast<char>(chosen[0] ^ 0x20);
    return chosen;
}

} // namespace

QVR_FUZZ_TARGET(in)
{
    const std::string text = in.ConsumeRandomLengthString(8192);
    auto doc = qvr::HiveDocument::parse(text);
    QVR_FUZZ_CHECK(!doc || doc->serialize() == text, "a parsed file is written back byte for byte");
    const std::string_view source = doc ? std::string_view(text) : kFallback;
    if (!doc)
        doc = qvr::HiveDocument::parse(kFallback);
    QVR_FUZZ_CHECK(doc, "the fallback hive parses");

    std::vector<std::string> keys, names;
    std::vector<std::pair<Place, std::optional<HiveValue>>> before;
    for (const Place& place : placesIn(source, keys)) {
        names.push_back(place.second);
        before.emplace_back(place, doc->findValue(place.first, place.second));
    }
    std::map<Place, HiveValue> written;
    std::ptrdiff_t changed = 0;
    for (int writes = in.ConsumeIntegralInRange(0, 6); writes > 0; --writes) {
        const Place place {pick(in, keys, 40), pick(in, names, 24)};
        const HiveValue value = consumeValue(in);
        const bool writable = doc->hasKey(place.first) && place.second.find_first_of("\r\n") == std::string::npos;
        QVR_FUZZ_CHECK(doc->setValue(place.first, place.second, value) == writable,
                       "a value is set exactly when its key exists and its name fits on a line");
        changed += writable;
        if (writable)
            written[folded(place)] = value;
    }

    const std::string out = doc->serialize();
    const auto reread = qvr::HiveDocument::parse(out);
    QVR_FUZZ_CHECK(reread, "what the writer writes parses");
    QVR_FUZZ_CHECK(reread->serialize() == out, "the written file is read back byte for byte");
    // A line end of the data's own would be one another editor could mangle.
    for (const char end : {'\n', '\r'})
        QVR_FUZZ_CHECK(std::ranges::count(out, end) <= std::ranges::count(source, end) + changed,
                       "each value written takes one line");
    const auto expect = [&](const Place& place, const std::optional<HiveValue>& value) {
        QVR_FUZZ_CHECK(doc->findValue(place.first, place.second) == value, "a value reads as last written, or as it was");
        QVR_FUZZ_CHECK(reread->findValue(place.first, place.second) == value, "a value survives writing and reading the file");
    };
    for (const auto& [place, value] : written)
        expect(place, value);
    for (const auto& [place, value] : before)
        expect(place, written.contains(folded(place)) ? written.at(folded(place)) : value);
}
