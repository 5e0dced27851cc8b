#include "platform/hive.h"

#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace qvr {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kHeader = "REGEDIT4";

// The types with a form of their own; every other type is written as hex(N).
constexpr std::uint32_t kTypeSz = 1;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeDword = 4;

// A line's text without the blanks around it; a stray CR before the line end (common
// in files that went through another editor) counts as a blank at its end.
std::string_view lineContent(std::string_view s)
{
    return trimEnd(trimStart(s, kBlanks), " \t\r");
}

bool consumeIgnoringCase(std::string_view& s, std::string_view prefix)
{
    if (!startsWithIgnoringCase(s, prefix))
        return false;
    s.remove_prefix(prefix.size());
    return true;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Exactly `s`, 1 to `maxDigits` hex digits.
std::optional<std::uint32_t> parseHexNumber(std::string_view s, std::size_t maxDigits)
{
    if (s.empty() || s.size() > maxDigits)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : s) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return std::nullopt;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// A quoted string at the start of `s`, which is advanced past the closing quote.
std::optional<std::string> consumeQuoted(std::string_view& s)
{
    if (s.empty() || s.front() != '"')
        return std::nullopt;
    std::string result;
    for (std::size_t i = 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return result;
        }
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"'))
                return std::nullopt;
            ++i;
        }
        result += s[i];
    }
    return std::nullopt;
}

// "61,62, 00": comma-separated bytes of one or two hex digits; blanks around them
// are allowed, empty items are not. An empty list is no bytes.
std::optional<std::vector<std::uint8_t>> parseHexList(std::string_view list)
{
    std::vector<std::uint8_t> bytes;
    if (lineContent(list).empty())
        return bytes;
    while (true) {
        const auto comma = list.find(',');
        const auto byte = parseHexNumber(lineContent(list.substr(0, comma)), 2);
        if (!byte)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(*byte));
        if (comma == std::string_view::npos)
            return bytes;
        list.remove_prefix(comma + 1);
    }
}

std::string quoted(std::string_view s)
{
    std::string result = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            result += '\\';
        result += c;
    }
    result += '"';
    return result;
}

// A REG_SZ can be written as a quoted string only when reading that string back
// gives the very same bytes: one terminating NUL, nothing that would end the line.
bool fitsQuotedForm(const HiveValue& value)
{
    if (value.type != kTypeSz || value.data.empty() || value.data.back() != 0)
        return false;
    for (std::size_t i = 0; i + 1 < value.data.size(); ++i) {
        const std::uint8_t b = value.data[i];
        if (b == 0 || b == '\r' || b == '\n')
            return false;
    }
    return true;
}

std::string formatData(const HiveValue& value)
{
    char buffer[32];
    if (fitsQuotedForm(value))
        return quoted(std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                       value.data.size() - 1));
    if (value.type == kTypeDword && value.data.size() == 4) {
        const std::uint32_t dword = std::uint32_t(value.data[0]) | std::uint32_t(value.data[1]) << 8
            | std::uint32_t(value.data[2]) << 16 | std::uint32_t(value.data[3]) << 24;
        std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(dword));
        return buffer;
    }
    std::string result;
    if (value.type == kTypeBinary) {
        result = "hex:";
    } else {
        std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
        result = buffer;
    }
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : ",%02x", unsigned(value.data[i]));
        result += buffer;
    }
    return result;
}

std::string formatValueLine(std::string_view name, const HiveValue& value)
{
    return (name.empty() ? std::string("@") : quoted(name)) + "=" + formatData(value);
}

struct PhysicalLine {
    std::string_view text;  // without its line end
    std::string_view eol;
};

// The lines of `text`, at most `limit` of them.
std::vector<PhysicalLine> splitPhysicalLines(std::string_view text, std::size_t limit)
{
    std::vector<PhysicalLine> lines;
    std::size_t pos = 0;
    while (pos < text.size() && lines.size() < limit) {
        const auto lf = text.find('\n', pos);
        if (lf == std::string_view::npos) {
            lines.push_back({text.substr(pos), {}});
            break;
        }
        const std::size_t end = lf > pos && text[lf - 1] == '\r' ? lf - 1 : lf;
        lines.push_back({text.substr(pos, end - pos), text.substr(end, lf + 1 - end)});
        pos = lf + 1;
    }
    return lines;
}

bool isHeader(std::string_view line)
{
    if (line.substr(0, kBom.size()) == kBom)
        line.remove_prefix(kBom.size());
    return trimEnd(line, " \t\r") == kHeader;
}

} // namespace

std::optional<HiveDocument> HiveDocument::parse(std::string_view text)
{
    return read(text, false);
}

HiveDocument HiveDocument::salvage(std::string_view text)
{
    // Reading leniently cannot fail.
    return *read(text, true);
}

std::optional<HiveDocument> HiveDocument::read(std::string_view text, bool lenient)
{
    // A hive this big is not a settings file but something gone wrong.
    if (text.size() > kMaxFileSize) {
        if (!lenient)
            return std::nullopt;
        // The line cut at the limit is not whole.
        text = text.substr(0, kMaxFileSize);
        text = text.substr(0, text.rfind('\n') + 1);
    }
    const std::vector<PhysicalLine> physical = splitPhysicalLines(text, kMaxLines + 1);
    if (!lenient && (physical.empty() || physical.size() > kMaxLines || !isHeader(physical[0].text)))
        return std::nullopt;

    HiveDocument doc;
    std::size_t first = 0;
    if (!physical.empty() && isHeader(physical[0].text)) {
        doc.m_newline = physical[0].eol == "\n" ? "\n" : "\r\n";
        doc.m_lines.push_back({Line::Kind::Header, std::string(physical[0].text),
                               std::string(physical[0].eol), {}, {}, {}});
        first = 1;
    }
    const std::size_t count = std::min(physical.size(), kMaxLines);

    std::string currentKey;
    bool inSection = false;
    // The line starting at physical[i] (with its continuation lines, past which `i`
    // is moved), or nothing when it does not parse.
    const auto parseLine = [&](std::size_t& i) -> std::optional<Line> {
        Line line;
        line.text = physical[i].text;
        std::string_view rest = lineContent(physical[i].text);

        if (rest.empty()) {
            line.kind = Line::Kind::Blank;
        } else if (rest.front() == ';') {
            line.kind = Line::Kind::Comment;
        } else if (rest.front() == '[') {
            // A "[-...]" section would ask for a key's deletion, which a settings
            // file has no business doing.
            if (rest.size() < 3 || rest.back() != ']' || rest[1] == '-')
                return std::nullopt;
            line.kind = Line::Kind::Section;
            line.key = rest.substr(1, rest.size() - 2);
            currentKey = line.key;
            inSection = true;
        } else if (rest.front() == '"' || rest.front() == '@') {
            if (!inSection)
                return std::nullopt;
            line.kind = Line::Kind::Value;
            line.key = currentKey;
            if (rest.front() == '@') {
                rest.remove_prefix(1);
            } else {
                auto name = consumeQuoted(rest);
                if (!name)
                    return std::nullopt;
                line.name = std::move(*name);
            }
            rest = trimStart(rest, kBlanks);
            if (rest.empty() || rest.front() != '=')
                return std::nullopt;
            rest.remove_prefix(1);
            rest = trimStart(rest, kBlanks);

            if (!rest.empty() && rest.front() == '"') {
                auto str = consumeQuoted(rest);
                if (!str || !rest.empty())
                    return std::nullopt;
                line.value.type = kTypeSz;
                line.value.data.assign(str->begin(), str->end());
                line.value.data.push_back(0);
            } else if (consumeIgnoringCase(rest, "dword:")) {
                const auto dword = parseHexNumber(rest, 8);
                if (!dword)
                    return std::nullopt;
                line.value.type = kTypeDword;
                line.value.data = {std::uint8_t(*dword), std::uint8_t(*dword >> 8),
                                   std::uint8_t(*dword >> 16), std::uint8_t(*dword >> 24)};
            } else if (consumeIgnoringCase(rest, "hex")) {
                line.value.type = kTypeBinary;
                if (!rest.empty() && rest.front() == '(') {
                    const auto close = rest.find(')');
                    if (close == std::string_view::npos)
                        return std::nullopt;
                    const auto type = parseHexNumber(rest.substr(1, close - 1), 8);
                    if (!type)
                        return std::nullopt;
                    line.value.type = *type;
                    rest.remove_prefix(close + 1);
                }
                if (rest.empty() || rest.front() != ':')
                    return std::nullopt;
                rest.remove_prefix(1);

                std::string list(rest);
                while (!list.empty() && list.back() == '\\') {
                    list.pop_back();
                    if (i + 1 >= count)
                        return std::nullopt;
                    line.text += physical[i].eol;
                    ++i;
                    line.text += physical[i].text;
                    list += lineContent(physical[i].text);
                }
                auto bytes = parseHexList(list);
                if (!bytes)
                    return std::nullopt;
                line.value.data = std::move(*bytes);
            } else {
                return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
        line.eol = physical[i].eol;
        return line;
    };
    for (std::size_t i = first; i < count; ++i) {
        const bool section = lineContent(physical[i].text).starts_with('[');
        std::optional<Line> line = parseLine(i);
        if (line) {
            doc.m_lines.push_back(std::move(*line));
        } else if (!lenient) {
            return std::nullopt;
        } else if (section) {
            // Values below a key's damaged name belong to no key we could tell.
            inSection = false;
        }
    }
    return doc;
}

std::ptrdiff_t HiveDocument::findValueLine(std::string_view keyPath, std::string_view name) const
{
    for (std::size_t i = m_lines.size(); i-- > 0;) {
        const Line& line = m_lines[i];
        if (line.kind == Line::Kind::Value && equalsIgnoringCase(line.key, keyPath)
            && equalsIgnoringCase(line.name, name))
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

bool HiveDocument::hasKey(std::string_view keyPath) const
{
    for (const Line& line : m_lines) {
        if (line.kind == Line::Kind::Section && equalsIgnoringCase(line.key, keyPath))
            return true;
    }
    return false;
}

std::optional<HiveValue> HiveDocument::findValue(std::string_view keyPath,
                                                 std::string_view name) const
{
    const std::ptrdiff_t index = findValueLine(keyPath, name);
    if (index < 0)
        return std::nullopt;
    return m_lines[static_cast<std::size_t>(index)].value;
}

bool HiveDocument::setValue(std::string_view keyPath, std::string_view name, const HiveValue& value)
{
    // A name is always written in quotes on one line; a line end in it cannot be.
    if (name.find_first_of("\r\n") != std::string_view::npos)
        return false;
    if (const std::ptrdiff_t index = findValueLine(keyPath, name); index >= 0) {
        Line& line = m_lines[static_cast<std::size_t>(index)];
        // The name keeps the spelling the file gave it.
        line.text = formatValueLine(line.name, value);
        line.value = value;
        return true;
    }

    std::size_t section = m_lines.size();
    for (std::size_t i = m_lines.size(); i-- > 0;) {
        if (m_lines[i].kind == Line::Kind::Section && equalsIgnoringCase(m_lines[i].key, keyPath)) {
            section = i;
            break;
        }
    }
    if (section == m_lines.size())
        return false;

    // After the key's last value, so that the blank lines separating it from the
    // next key, and the comments that introduce that key, stay where they are.
    std::size_t after = section;
    for (std::size_t i = section + 1;
         i < m_lines.size() && m_lines[i].kind != Line::Kind::Section; ++i) {
        if (m_lines[i].kind == Line::Kind::Value)
            after = i;
    }

    Line added{Line::Kind::Value, formatValueLine(name, value), m_newline, m_lines[section].key,
               std::string(name), value};
    if (m_lines[after].eol.empty()) {
        // The file ended without a line end; it still does, after the new line.
        m_lines[after].eol = m_newline;
        added.eol.clear();
    }
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(after + 1), std::move(added));
    return true;
}

std::string HiveDocument::serialize() const
{
    std::string text;
    for (const Line& line : m_lines) {
        text += line.text;
        text += line.eol;
    }
    return text;
}

} // namespace qvr
