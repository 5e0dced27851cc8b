// The file version note of executables: the one our build stamps, and ELF files
// of every class and byte order, whole or damaged.
#include "platform/exe_version.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace qvr {
namespace {

constexpr FileVersion kVersion {2, 1, 3, 4};

// A small ELF file with three sections at fixed offsets: the null one, the section
// names and a note section, with other notes ahead of ours. Tests damage its bytes.
struct ElfImage {
    static constexpr std::size_t kNotesAt = 0x100, kNamesAt = 0x200, kTableAt = 0x300;

    bool is64 = true, bigEndian = false;
    std::string notesBefore;

    std::size_t sectionAt(std::size_t index) const { return kTableAt + index * (is64 ? 64 : 40); }
    // At `at` in a header or section header: the 64-bit offset, else the 32-bit one.
    std::size_t at(std::size_t at64, std::size_t at32) const { return is64 ? at64 : at32; }
    void put(std::string& out, std::size_t at, std::uint64_t value, std::size_t width) const
    {
        for (std::size_t i = 0; i < width; ++i)
            out[at + (bigEndian ? width - 1 - i : i)] = static_cast<char>(value >> (8 * i));
    }
    void putWord(std::string& out, std::size_t at, std::uint64_t value) const { put(out, at, value, is64 ? 8 : 4); }
    // A note's head in the file's byte order, then its name and descriptor, each padded to 4 bytes.
    std::string note(const std::string& name, std::uint32_t type, const std::string& descriptor) const
    {
        std::string out(12, '\0');
        put(out, 0, name.size(), 4), put(out, 4, descriptor.size(), 4), put(out, 8, type, 4);
        for (const std::string* part : {&name, &descriptor})
            (out += *part).resize((out.size() + 3) / 4 * 4, '\0');
        return out;
    }

    std::string bytes() const
    {
        // Signature, structure version, then the version's high and low words: little-endian in any file.
        std::string descriptor("\xBD\x04\xEF\xFE\0\0\1\0\1\0\2\0\4\0\3\0", 16);
        descriptor.resize(52, '\0');
        const std::string notes = notesBefore + note(std::string("Quavero", 8), 1, descriptor);
        const std::string names = std::string("\0.shstrtab\0.note.quavero.version", 32) + '\0';

        std::string out(sectionAt(3), '\0');
        out.replace(0, 7, std::string("\x7f" "ELF") + char(is64 ? 2 : 1) + char(bigEndian ? 2 : 1) + '\1');
        putWord(out, at(40, 32), kTableAt);
        put(out, at(58, 46), sectionAt(1) - sectionAt(0), 2);
        put(out, at(60, 48), 3, 2); // three sections
        put(out, at(62, 50), 1, 2); // names in section 1
        out.replace(kNotesAt, notes.size(), notes);
        out.replace(kNamesAt, names.size(), names);
        const auto section = [&](std::size_t index, int name, int type, std::size_t offset, std::size_t size) {
            put(out, sectionAt(index), name, 4);
            put(out, sectionAt(index) + 4, type, 4);
            putWord(out, sectionAt(index) + at(24, 16), offset);
            putWord(out, sectionAt(index) + at(32, 20), size);
            putWord(out, sectionAt(index) + at(48, 32), 4); // alignment
        };
        section(1, 1, 3, kNamesAt, names.size()); // SHT_STRTAB
        section(2, 11, 7, kNotesAt, notes.size()); // SHT_NOTE
        return out;
    }
};

TEST(VersionNote, OurBuildCarriesTheConfiguredVersionAndACutShortCopyNone)
{
    const auto version = ReadFileVersion(QVR_VERSION_PROBE);
    ASSERT_TRUE(version);
    std::string text;
    for (const auto part : *version)
        text += std::to_string(part) + ".";
    EXPECT_EQ(text, QVR_FILE_VERSION + std::string("."));
    EXPECT_FALSE(ReadFileVersion("/proc/self/exe")) << "a program built without the note";
    EXPECT_FALSE(ReadFileVersion("/no/such/file"));

    const std::string whole = test::readFile(QVR_VERSION_PROBE);
    for (std::size_t size = 0; size < whole.size(); size += size < 4096 ? 1 : 61)
        EXPECT_FALSE(ParseFileVersion(whole.substr(0, size))) << size; // a copy: a read past its end is caught
}

TEST(VersionNote, ReadsEveryClassAndByteOrder)
{
    for (const bool is64 : {false, true}) {
        for (const bool bigEndian : {false, true}) {
            SCOPED_TRACE(std::string(is64 ? "64" : "32") + (bigEndian ? " big-endian" : " little-endian"));
            ElfImage image;
            image.is64 = is64, image.bigEndian = bigEndian;
            EXPECT_EQ(ParseFileVersion(image.bytes()), kVersion);
            // Many sections: the count and the names' index are in section 0.
            std::string bytes = image.bytes();
            image.put(bytes, image.at(60, 48), 0, 2);
            image.put(bytes, image.at(62, 50), 0xFFFF, 2);
            image.putWord(bytes, image.sectionAt(0) + image.at(32, 20), 3);
            image.put(bytes, image.sectionAt(0) + image.at(40, 24), 1, 4);
            EXPECT_EQ(ParseFileVersion(bytes), kVersion) << "many sections";
            // Another note first, with an odd name length that needs padding.
            image.notesBefore = image.note(std::string("GN\0", 3), 0, "abcd");
            EXPECT_EQ(ParseFileVersion(image.bytes()), kVersion) << "a note before";
        }
    }
}

// Where a damaged table or note would make a reader look outside the file, the reads
// fail on their own: the cut-short copies above show it.
TEST(VersionNote, DamagedOrForeignFilesHaveNoVersion)
{
    const ElfImage image;
    const std::size_t note = ElfImage::kNotesAt, notes = image.sectionAt(2);
    // Where the damage goes, how wide it is and what it writes; width 0: one byte.
    const std::tuple<const char*, std::size_t, std::size_t, std::uint64_t> cases[] = {
        {"a longer section name", ElfImage::kNamesAt + 32, 0, 'x'},
        {"another note name", note + 12 + 6, 0, 'a'},
        {"another note type", note + 8, 4, 2},
        {"a short descriptor", note + 4, 4, 48},
        {"a wrong signature", note + 20, 0, 0xBC},
        {"no ELF magic", 1, 0, 'e'},
        {"an unknown class", 4, 0, 3},
        {"an unknown byte order", 5, 0, 0},
        {"a note section of huge size", notes + 32, 8, ~0ULL},
        {"a note whose name runs past the section", note, 4, 0xFFFFFFF0u},
        {"a note whose descriptor runs past the section", note + 4, 4, 0xFFFFFFFFu},
        {"a note section without contents", notes + 4, 4, 8},
    };
    for (const auto& [what, at, width, value] : cases) {
        SCOPED_TRACE(what);
        std::string bytes = image.bytes();
        width == 0 ? void(bytes[at] = static_cast<char>(value)) : image.put(bytes, at, value, width);
        EXPECT_FALSE(ParseFileVersion(bytes));
    }
}

TEST(VersionNote, FilesOnDiskOfAnySizeAndKind)
{
    test::TempDir dir;
    // Sparse: costs nothing on disk, but no reader may try to hold it.
    for (const bool program : {true, false}) {
        const std::string huge = dir.file(program ? "huge" : "huge-text");
        test::writeFile(huge, program ? ElfImage().bytes() : "not a program");
        ASSERT_EQ(::truncate(huge.c_str(), off_t(64) << 30), 0);
        EXPECT_EQ(ReadFileVersion(huge), program ? std::optional(kVersion) : std::nullopt);
    }
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(ReadFileVersion(dir.file("fifo"))) << "and it does not hang";
    EXPECT_FALSE(ReadFileVersion(dir.path()));
}

} // namespace
} // namespace qvr
