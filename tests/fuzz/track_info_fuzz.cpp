// The store's track-info answer. What the parser returns is always a title and an
// address the queue file can keep, each exactly the text between the first opening
// and the first closing tag; and from an answer built the way the store builds it,
// the parser returns exactly what was put in.

#include "engine/store_request.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool keepable(std::string_view text)
{
    return !text.empty() && text.find_first_of(std::string_view("|\r\n\0", 4)) == std::string_view::npos;
}

// The text stands right after the first `open` and right before the first `close`.
bool standsBetween(std::string_view answer, std::string_view text, std::string_view open, std::string_view close)
{
    const auto start = answer.find(open);
    return start != std::string_view::npos && answer.substr(start + open.size(), text.size()) == text
        && answer.find(close) == start + open.size() + text.size();
}

} // namespace

QVR_FUZZ_TARGET(in)
{
    if (in.ConsumeBool()) {
        const std::string answer = in.ConsumeRemainingBytesAsString();
        const std::optional<qvr::TrackInfo> info = qvr::parseTrackInfo(answer);
        QVR_FUZZ_CHECK(!info || (keepable(info->title) && keepable(info->url)),
                       "title and address are non-empty and free of | CR LF NUL");
        QVR_FUZZ_CHECK(!info || standsBetween(answer, info->title, "<title>", "</title>"),
                       "the title is what the tags enclose");
        QVR_FUZZ_CHECK(!info || standsBetween(answer, info->url, "<url>", "</url>"), "the address is what the tags enclose");
        return;
    }

    const std::string head = in.ConsumeRandomLengthString(40);
    const std::string title = in.ConsumeRandomLengthString(60);
    const std::string url = in.ConsumeRemainingBytesAsString();
    for (const std::string* text : {&head, &title, &url})
        for (const char* tag : {"<title>", "</title>", "<url>", "</url>"})
            if (text->find(tag) != std::string::npos)
                return;
    const auto info = qvr::parseTrackInfo("<html><head>" + head + "<title>" + title + "</title></head><body>\n<url>"
                                          + url + "</url>\n</body></html>\n");
    const bool keep = keepable(title) && keepable(url);
    QVR_FUZZ_CHECK(!keep || (info && info->title == title && info->url == url), "a store answer gives its title and address");
    QVR_FUZZ_CHECK(keep || !info, "a title or address the queue cannot keep is refused");
}
