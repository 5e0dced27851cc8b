#include "platform/exe_version.h"

#include "platform/exclusive_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qvr {

namespace {

// Far more sections than any real executable has; a damaged count cannot make us
// read for long.
constexpr std::uint64_t kMaxSections = 1 << 16;
// Our note section is 72 bytes; room for a few more notes beside it.
constexpr std::uint64_t kMaxNoteSection = 64 * 1024;
constexpr std::uint16_t kSectionIndexEscape = 0xFFFF; // SHN_XINDEX
constexpr std::uint32_t kNoBits = 8;                   // SHT_NOBITS

// Random access to the bytes of a file or an image; a read gets all it asks for
// or fails.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    virtual bool read(std::uint64_t offset, void* out, std::size_t n) const = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string_view image) : m_image(image) {}
    std::uint64_t size() const override { return m_image.size(); }
    bool read(std::uint64_t offset, void* out, std::size_t n) const override
    {
        if (offset > m_image.size() || n > m_image.size() - offset)
            return false;
        std::memcpy(out, m_image.data() + offset, n);
        return true;
    }

private:
    std::string_view m_image;
};

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, void* out, std::size_t n) const override
    {
        if (offset > m_size || n > m_size - offset)
            return false;
        auto* bytes = static_cast<char*>(out);
        while (n > 0) {
            const ssize_t got = ::pread(m_fd, bytes, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false; // an error, or the file shrank under us
            bytes += got;
            offset += static_cast<std::uint64_t>(got);
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    int m_fd;
    std::uint64_t m_size;
};

std::uint64_t decode(const unsigned char* bytes, std::size_t width, bool bigEndian)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value |= std::uint64_t(bytes[bigEndian ? width - 1 - i : i]) << (8 * i);
    return value;
}

// The layout of one ELF class: where the fields we need sit.
struct ElfLayout {
    std::size_t headerSize;
    std::size_t sectionOffsetAt, sectionOffsetWidth; // e_shoff
    std::size_t sectionEntrySizeAt;                 // e_shentsize; e_shnum and e_shstrndx follow
    std::size_t sectionHeaderSize;
    std::size_t offsetAt, sizeAt, linkAt, alignAt, wordWidth; // in a section header
};
constexpr ElfLayout kElf32 {52, 32, 4, 46, 40, 16, 20, 24, 32, 4};
constexpr ElfLayout kElf64 {64, 40, 8, 58, 64, 24, 32, 40, 48, 8};

struct Section {
    std::uint32_t name = 0;
    std::uint32_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t link = 0;
    std::uint64_t align = 0;
};

class ElfReader {
public:
    explicit ElfReader(const ByteSource& source) : m_source(source) {}

    std::optional<FileVersion> version()
    {
        if (!readHeader())
            return std::nullopt;
        const auto names = section(m_namesIndex);
        if (!names || names->type == kNoBits)
            return std::nullopt;
        for (std::uint64_t i = 1; i < m_sectionCount; ++i) {
            const auto candidate = section(i);
            if (!candidate)
                return std::nullopt;
            if (candidate->type != kNoBits && isNamed(*names, candidate->name, kVersionNoteSection))
                return versionIn(*candidate);
        }
        return std::nullopt;
    }

private:
    bool readHeader()
    {
        unsigned char ident[16];
        if (!m_source.read(0, ident, sizeof ident) || std::memcmp(ident, "\x7f" "ELF", 4) != 0)
            return false;
        if ((ident[4] != 1 && ident[4] != 2) || (ident[5] != 1 && ident[5] != 2))
            return false;
        m_layout = ident[4] == 1 ? &kElf32 : &kElf64;
        m_bigEndian = ident[5] == 2;

        unsigned char header[64];
        if (!m_source.read(0, header, m_layout->headerSize))
            return false;
        m_tableOffset = field(header + m_layout->sectionOffsetAt, m_layout->sectionOffsetWidth);
        m_entrySize = field(header + m_layout->sectionEntrySizeAt, 2);
        m_sectionCount = field(header + m_layout->sectionEntrySizeAt + 2, 2);
        m_namesIndex = field(header + m_layout->sectionEntrySizeAt + 4, 2);
        if (m_tableOffset == 0 || m_entrySize < m_layout->sectionHeaderSize)
            return false;
        // Many sections: the real numbers stand in the first section header.
        if (m_sectionCount == 0 || m_namesIndex == kSectionIndexEscape) {
            const auto first = section(0, true);
            if (!first)
                return false;
            if (m_sectionCount == 0)
                m_sectionCount = first->size;
            if (m_namesIndex == kSectionIndexEscape)
                m_namesIndex = first->link;
        }
        if (m_sectionCount > kMaxSections || m_namesIndex >= m_sectionCount)
            return false;
        // The linker puts the section headers last: a file cut short anywhere loses
        // some of them, and such a file is not taken for a program.
        const std::uint64_t tableEnd = m_tableOffset + m_sectionCount * m_entrySize;
        return tableEnd >= m_tableOffset && tableEnd <= m_source.size();
    }

    std::optional<Section> section(std::uint64_t index, bool anyIndex = false) const
    {
        if (!anyIndex && index >= m_sectionCount)
            return std::nullopt;
        unsigned char raw[64];
        const std::uint64_t at = m_tableOffset + index * m_entrySize;
        if (at < m_tableOffset || !m_source.read(at, raw, m_layout->sectionHeaderSize))
            return std::nullopt;
        Section s;
        s.name = static_cast<std::uint32_t>(field(raw, 4));
        s.type = static_cast<std::uint32_t>(field(raw + 4, 4));
        s.offset = field(raw + m_layout->offsetAt, m_layout->wordWidth);
        s.size = field(raw + m_layout->sizeAt, m_layout->wordWidth);
        s.link = static_cast<std::uint32_t>(field(raw + m_layout->linkAt, 4));
        s.align = field(raw + m_layout->alignAt, m_layout->wordWidth);
        return s;
    }

    bool isNamed(const Section& names, std::uint32_t at, std::string_view wanted) const
    {
        const std::size_t length = wanted.size() + 1; // with its NUL
        if (at > names.size || length > names.size - at)
            return false;
        char text[64];
        if (length > sizeof text || !m_source.read(names.offset + at, text, length))
            return false;
        return std::string_view(text, length - 1) == wanted && text[length - 1] == '\0';
    }

    std::optional<FileVersion> versionIn(const Section& notes) const
    {
        if (notes.size > kMaxNoteSection)
            return std::nullopt;
        std::string bytes(notes.size, '\0');
        if (!m_source.read(notes.offset, bytes.data(), bytes.size()))
            return std::nullopt;
        const std::uint64_t align = notes.align == 8 ? 8 : 4;
        const auto padded = [align](std::uint64_t n) { return (n + align - 1) / align * align; };
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
        std::uint64_t at = 0;
        while (bytes.size() - at >= 12) {
            const std::uint64_t nameSize = field(data + at, 4);
            const std::uint64_t descSize = field(data + at + 4, 4);
            const std::uint64_t type = field(data + at + 8, 4);
            const std::uint64_t nameAt = at + 12;
            const std::uint64_t descAt = nameAt + padded(nameSize);
            if (descAt > bytes.size() || padded(descSize) > bytes.size() - descAt)
                return std::nullopt;
            const std::string_view name(bytes.data() + nameAt, nameSize);
            if (type == kVersionNoteType && descSize == kFixedFileInfoSize
                && name == std::string(kVersionNoteName) + '\0')
                return fixedFileInfo(data + descAt);
            at = descAt + padded(descSize);
        }
        return std::nullopt;
    }

    // The descriptor is little-endian whatever the file's byte order.
    static std::optional<FileVersion> fixedFileInfo(const unsigned char* info)
    {
        if (decode(info, 4, false) != kFixedFileInfoSignature)
            return std::nullopt;
        const auto high = static_cast<std::uint32_t>(decode(info + 8, 4, false));
        const auto low = static_cast<std::uint32_t>(decode(info + 12, 4, false));
        return FileVersion {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
                            static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
    }

    std::uint64_t field(const unsigned char* bytes, std::size_t width) const
    {
        return decode(bytes, width, m_bigEndian);
    }

    const ByteSource& m_source;
    const ElfLayout* m_layout = &kElf64;
    bool m_bigEndian = false;
    std::uint64_t m_tableOffset = 0;
    std::uint64_t m_entrySize = 0;
    std::uint64_t m_sectionCount = 0;
    std::uint64_t m_namesIndex = 0;
};

} // namespace

std::optional<FileVersion> readFileVersion(const std::string& path)
{
    const UniqueFd fd = openRegularFile(path);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || st.st_size < 0)
        return std::nullopt;
    const FileSource source(fd.get(), static_cast<std::uint64_t>(st.st_size));
    return ElfReader(source).version();
}

std::optional<FileVersion> parseFileVersion(std::string_view image)
{
    const MemorySource source(image);
    return ElfReader(source).version();
}

std::string fileVersionText(const FileVersion& version)
{
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." + std::to_string(version[2]) + "."
        + std::to_string(version[3]);
}

} // namespace qvr
