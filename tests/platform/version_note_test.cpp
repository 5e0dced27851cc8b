// The file version note of executables: the one our build stamps, and ELF files
// of every class and byte order, whole or damaged.
#include "platform/exe_version.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

namespace qvr {
namespace {

using test::readFile;
using test::writeFile;

constexpr FileVersion kVersion {2, 1, 3, 4};

// A small ELF file with three sections at fixed offsets: the null one, the section
// names and a note section. Tests damage the fields or the bytes afterwards.
struct ElfImage {
    static constexpr std::size_t kNotesAt = 0x100, kNamesAt = 0x200, kTableAt = 0x300;

    bool is64 = true, bigEndian = false;
    std::string sectionName = ".note.quavero.version", noteName = std::string("Quavero", 8);
    std::uint32_t noteType = 1, signature = 0xFEEF04BD;
    std::size_t descriptorSize = 52;
    std::string notesBefore; // other notes ahead of ours

    std::size_t sectionAt(std::size_t index) const { return kTableAt + index * (is64 ? 64 : 40); }
    // At `at` in a header or section header: the 64-bit offset, else the 32-bit one.
    std::size_t at(std::size_t at64, std::size_t at32) const { return is64 ? at64 : at32; }
    void put(std::string& out, std::size_t at, std::uint64_t value, std::size_t width, bool little = false) const
    {
        for (std::size_t i = 0; i < width; ++i)
            out[at + (bigEndian && !little ? width - 1 - i : i)] = static_cast<char>(value >> (8 * i));
    }
    void putWord(std::string& out, std::size_t at, std::uint64_t value) const { put(out, at, value, is64 ? 8 : 4); }

    std::string bytes() const
    {
        std::string note(12, '\0');
        put(note, 0, noteName.size(), 4);
        put(note, 4, descriptorSize, 4);
        put(note, 8, noteType, 4);
        note += noteName;
        note.resize((note.size() + 3) / 4 * 4 + descriptorSize, '\0');
        // The descriptor is little-endian whatever the file's byte order.
        const std::size_t descriptor = note.size() - descriptorSize;
        for (std::size_t i = 0; const std::uint32_t word : {signature, 0x10000u, 0x00020001u, 0x00030004u})
            if (4 * ++i <= descriptorSize)
                put(note, descriptor + 4 * i - 4, word, 4, true);
        const std::string notes = notesBefore + note;
        const std::string names = std::string("\0.shstrtab\0", 11) + sectionName + '\0';

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
    EXPECT_EQ(std::to_string((*version)[0]) + "." + std::to_string((*version)[1]) + "." + std::to_string((*version)[2])
                  + "." + std::to_string((*version)[3]),
              QVR_FILE_VERSION);
    EXPECT_FALSE(ReadFileVersion("/proc/self/exe")) << "a program built without the note";
    EXPECT_FALSE(ReadFileVersion("/no/such/file"));

    const std::string whole = readFile(QVR_VERSION_PROBE);
    for (std::size_t size = 0; size < whole.size(); size += size < 4096 ? 1 : 61)
        EXPECT_FALSE(ParseFileVersion(std::string_view(whole).substr(0, size))) << size;
}

TEST(VersionNote, ReadsEveryClassAndByteOrder)
{
    for (const bool is64 : {false, true}) {
        for (const bool bigEndian : {false, true}) {
            SCOPED_TRACE(std::string(is64 ? "64" : "32") + (bigEndian ? " big-endian" : " little-endian"));
            ElfImage image;
            image.is64 = is64;
            image.bigEndian = bigEndian;
            EXPECT_EQ(ParseFileVersion(image.bytes()), kVersion);
            // Many sections: the count and the names' index are in section 0.
            std::string bytes = image.bytes();
            image.put(bytes, image.at(60, 48), 0, 2);
            image.put(bytes, image.at(62, 50), 0xFFFF, 2);
            image.putWord(bytes, image.sectionAt(0) + image.at(32, 20), 3);
            image.put(bytes, image.sectionAt(0) + image.at(40, 24), 1, 4);
            EXPECT_EQ(ParseFileVersion(bytes), kVersion) << "many sections";
            // Another note first, with an odd name length that needs padding.
            image.notesBefore = std::string(12, '\0') + std::string("GN\0\0" "abcd", 8);
            image.put(image.notesBefore, 0, 3, 4);
            image.put(image.notesBefore, 4, 4, 4);
            EXPECT_EQ(ParseFileVersion(image.bytes()), kVersion) << "a note before";
        }
    }
}

TEST(VersionNote, DamagedOrForeignFilesHaveNoVersion)
{
    using Image = ElfImage;
    // Each case changes the image or its bytes.
    const std::pair<const char*, std::function<void(ElfImage&, std::string&)>> cases[] = {
        {"another section name", [](Image& i, std::string& b) { i.sectionName = ".note.quavero.versio", b = i.bytes(); }},
        {"another note name", [](Image& i, std::string& b) { i.noteName = std::string("Quaver\0", 7), b = i.bytes(); }},
        {"another note type", [](Image& i, std::string& b) { i.noteType = 2, b = i.bytes(); }},
        {"a short descriptor", [](Image& i, std::string& b) { i.descriptorSize = 48, b = i.bytes(); }},
        {"a wrong signature", [](Image& i, std::string& b) { i.signature = 0xFEEF04BC, b = i.bytes(); }},
        {"no ELF magic", [](Image&, std::string& b) { b[1] = 'e'; }},
        {"an unknown class", [](Image&, std::string& b) { b[4] = 3; }},
        {"an unknown byte order", [](Image&, std::string& b) { b[5] = 0; }},
        {"section headers past the end", [](Image& i, std::string& b) { i.putWord(b, 40, b.size()); }},
        {"section headers at an offset that wraps", [](Image& i, std::string& b) { i.putWord(b, 40, ~0ULL - 8); }},
        {"a section header size too small", [](Image& i, std::string& b) { i.put(b, 58, 16, 2); }},
        {"section names beyond the count", [](Image& i, std::string& b) { i.put(b, 62, 7, 2); }},
        {"a note section past the end", [](Image& i, std::string& b) { i.putWord(b, i.sectionAt(2) + 24, 1ULL << 40); }},
        {"a note section of huge size", [](Image& i, std::string& b) { i.putWord(b, i.sectionAt(2) + 32, ~0ULL); }},
        {"a note whose name runs past the section", [](Image& i, std::string& b) { i.put(b, Image::kNotesAt, 0xFFFFFFF0u, 4); }},
        {"a note whose descriptor runs past the section",
         [](Image& i, std::string& b) { i.put(b, Image::kNotesAt + 4, 0xFFFFFFFFu, 4); }},
        {"a section name offset past the names", [](Image& i, std::string& b) { i.put(b, i.sectionAt(2), ~0u, 4); }},
        {"a note section without contents", [](Image& i, std::string& b) { i.put(b, i.sectionAt(2) + 4, 8, 4); }},
        {"a huge section count with the escape", [](Image& i, std::string& b) {
             i.put(b, 60, 0, 2);
             i.putWord(b, i.sectionAt(0) + 32, 1ULL << 33);
         }},
    };
    for (const auto& [what, change] : cases) {
        SCOPED_TRACE(what);
        ElfImage image;
        std::string bytes = image.bytes();
        change(image, bytes);
        EXPECT_FALSE(ParseFileVersion(bytes));
    }
}

TEST(VersionNote, FilesOnDiskOfAnySizeAndKind)
{
    test::TempDir dir;
    // Sparse: costs nothing on disk, but no reader may try to hold it.
    for (const bool program : {true, false}) {
        const std::string huge = dir.file(program ? "huge" : "huge-text");
        writeFile(huge, program ? ElfImage().bytes() : "not a program");
        ASSERT_EQ(::truncate(huge.c_str(), off_t(64) << 30), 0);
        EXPECT_EQ(ReadFileVersion(huge), program ? std::optional(kVersion) : std::nullopt);
    }
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(ReadFileVersion(dir.file("fifo"))) << "and it does not hang";
    EXPECT_FALSE(ReadFileVersion(dir.path()));
}

} // namespace
} // namespace qvr
