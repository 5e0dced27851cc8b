#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

// One registry value as the hive file holds it: a type number and exact bytes.
struct HiveValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;

    bool operator==(const HiveValue&) const = default;
};

// A settings hive in REGEDIT4 text form, kept line by line so that a write changes
// only the line of the value it sets and leaves every other byte of the file as it
// was. Key paths are full ("HKEY_LOCAL_MACHINE\SOFTWARE\QVR"); key and value names
// compare without regard to case. The default value of a key is the name "".
class HiveDocument {
public:
    // A larger file, or one of more lines, is refused as malformed. A settings file
    // holds a dozen lines; these bound what a damaged one costs to read (each line
    // kept takes about 200 bytes).
    static constexpr std::size_t kMaxFileSize = std::size_t(1) << 20;
    static constexpr std::size_t kMaxLines = 16384;

    // Nothing when the text is not a well-formed REGEDIT4 file.
    [[nodiscard]] static std::optional<HiveDocument> parse(std::string_view text);

    // What can still be read of a damaged file: every line that parses, in a key
    // whose section line parses; the rest, and whatever lies beyond the limits
    // above, is left out. For reading only: writing it back would drop those lines.
    [[nodiscard]] static HiveDocument salvage(std::string_view text);

    [[nodiscard]] bool hasKey(std::string_view keyPath) const;

    // The value in effect (the last one of that name when a file repeats it), or
    // nothing.
    [[nodiscard]] std::optional<HiveValue> findValue(std::string_view keyPath, std::string_view name) const;

    // Sets a value of an existing key: rewrites the value's line in place, or adds
    // a line at the end of the key's section. Never creates a key: false when the
    // key is absent, or when the name holds a line end (it could not be written).
    [[nodiscard]] bool setValue(std::string_view keyPath, std::string_view name, const HiveValue& value);

    // The file's text: the parsed text itself, with only what setValue changed.
    std::string serialize() const;

private:
    // One logical line of the file (a hex list's continuation lines included), kept
    // verbatim together with what it means.
    struct Line {
        enum class Kind { Header, Blank, Comment, Section, Value };

        Kind kind = Kind::Blank;
        std::string text;  // the bytes of the line, inner line ends included, own line end excluded
        std::string eol;   // "\n", "\r\n", or "" for a last line without one
        std::string key;   // Section and Value: the key path as the section line writes it
        std::string name;  // Value: the name as written, unescaped
        HiveValue value;   // Value: what it holds
    };

    HiveDocument() = default;

    // parse() when `lenient` is false; salvage() when true, which never fails.
    [[nodiscard]] static std::optional<HiveDocument> read(std::string_view text, bool lenient);

    // Index of the line holding the value in effect, or -1.
    [[nodiscard]] std::ptrdiff_t findValueLine(std::string_view keyPath, std::string_view name) const;

    std::vector<Line> m_lines;
    std::string m_newline = "\r\n";  // for lines we add; CR LF unless the file uses LF
};

} // namespace qvr
