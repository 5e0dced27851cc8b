// The request file's first line: never longer than the limit, never holding its
// line end, and exactly the text before the first LF (less a CR right before it);
// a first line over the limit gives nothing, whatever the file's size.

#include "platform/exclusive_file.h"
#include "tests/fuzz/fuzz_support.h"

QVR_FUZZ_TARGET(in)
{
    // Limits near the line's length matter most, and files past the reader's
    // buffer size, which a repeated text reaches.
    const std::size_t limit = in.ConsumeIntegralInRange<std::size_t>(0, in.ConsumeBool() ? 300 : 70'000);
    const int copies = in.ConsumeBool() ? 1 : in.ConsumeIntegralInRange(1, 2000);
    const std::string piece = in.ConsumeRemainingBytesAsString();
    std::string contents;
    for (int i = 0; i < copies && contents.size() < 200'000; ++i)
        contents += piece;
    const std::string path = qvr::fuzz::scratchFile("a");
    qvr::fuzz::writeFile(path, contents);
    const std::optional<std::string> line = qvr::readFirstLineExclusive(path, limit);

    const auto lf = contents.find('\n');
    std::string expected = contents.substr(0, lf);
    if (lf != std::string::npos && expected.ends_with('\r'))
        expected.pop_back();
    QVR_FUZZ_CHECK(expected.size() <= limit || !line, "a first line over the limit gives nothing");
    QVR_FUZZ_CHECK(expected.size() > limit || line, "a regular file's first line within the limit is read");
    QVR_FUZZ_CHECK(!line || line->size() <= limit, "the line is never longer than the limit");
    QVR_FUZZ_CHECK(!line || line->find('\n') == std::string::npos, "the line holds no LF");
    QVR_FUZZ_CHECK(!line || *line == expected, "the line is the text before the first line end");
}
