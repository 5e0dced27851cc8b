// The file version note of executables: the one our build stamps, and ELF files whole or damaged.
#include "platform/exe_version.h"

#include "tests/support/common.h"

namespace qvr {
namespace {

constexpr FileVersion kVersion {2, 1, 3, 4};
constexpr std::size_t kNotesAt = 0x100, kNamesAt = 0x200, kTableAt = 0x300;

void put(std::string& out, std::size_t at, std::initializer_list<std::uint64_t> values, std::size_t width = 8)
{
    for (std::size_t i = 0; i < width * values.size(); ++i)
        out[at + i] = static_cast<char>(values.begin()[i / width] >> (8 * (i % width)));
}

// A small 64-bit little-endian ELF file with three sections at fixed offsets: the null one, the
// section names and a note section holding our note. Tests damage its bytes.
std::string elfImage()
{
    std::string notes(12, '\0');
    put(notes, 0, {8, 52, 1}, 4);
    // Signature, structure version, then the version's high and low words.
    notes += std::string("Quavero\0\xBD\x04\xEF\xFE\0\0\1\0\1\0\2\0\4\0\3\0", 24) + std::string(36, '\0');
    const std::string names = std::string("\0.shstrtab\0.note.quavero.version", 32) + '\0';
    std::string out(kTableAt + 3 * 64, '\0');
    out.replace(0, 7, "\x7f" "ELF\2\1\1");
    put(out, 40, {kTableAt});
    put(out, 58, {64, 3, 1}, 2); // 3 sections, names in 1
    out.replace(kNotesAt, notes.size(), notes);
    out.replace(kNamesAt, names.size(), names);
    // Name, type (SHT_STRTAB, SHT_NOTE), offset, size, link, info and alignment of sections 1 and 2.
    for (const auto& [at, name, type, offset, size] :
         {std::tuple(kTableAt + 64, 1u, 3u, kNamesAt, names.size()), {kTableAt + 128, 11, 7, kNotesAt, notes.size()}}) {
        put(out, at, {name, type}, 4);
        put(out, at + 24, {offset, size, 0, 4});
    }
    return out;
}

TEST(VersionNote, OnlyAWholeProgramOfOurBuildCarriesTheConfiguredVersion)
{
    const auto version = readFileVersion(QVR_VERSION_PROBE);
    ASSERT_TRUE(version);
    std::string text;
    for (const auto part : *version)
        text += std::to_string(part) + ".";
    EXPECT_EQ(text, QVR_FILE_VERSION + std::string("."));
    EXPECT_FALSE(readFileVersion("/proc/self/exe")) << "a program built without the note";
    EXPECT_FALSE(readFileVersion("/no/such/file"));
    const std::string whole = test::readFile(QVR_VERSION_PROBE);
    // Each cut of the first 4 KiB (the headers and the note) and one in 61 bytes of the
    // last 8 KiB (the section table); between them one a kibibyte, since each cut copies
    // the whole program and one every 61 bytes took minutes under the sanitizers.
    const auto nextCut = [&](std::size_t cut) -> std::size_t { return cut < 4096 ? 1 : whole.size() - cut < 8192 ? 61 : 1021; };
    for (std::size_t size = 0; size < whole.size(); size += nextCut(size))
        EXPECT_FALSE(parseFileVersion(whole.substr(0, size))) << size; // a copy: a read past its end is caught

    test::TempDir dir;
    // Sparse: costs nothing on disk, but no reader may try to hold it.
    for (const bool program : {true, false}) {
        const std::string huge = dir.file(program ? "huge" : "huge-text");
        test::writeFile(huge, program ? elfImage() : "not a program");
        ASSERT_EQ(::truncate(huge.c_str(), off_t(64) << 30), 0);
        EXPECT_EQ(readFileVersion(huge), program ? std::optional(kVersion) : std::nullopt);
    }
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(readFileVersion(dir.file("fifo"))) << "and it does not hang";
}

// Damage to the file: where it goes, how many bytes it writes and what.
struct Damage { const char* name; std::size_t at; std::size_t width = 1; std::uint64_t value; };
class DamagedNote : public ::testing::TestWithParam<Damage> {};

// Where damage would make a reader look outside the file, the reads fail on their own: the
// cut-short copies show it.
TEST_P(DamagedNote, GivesNoVersion)
{
    std::string bytes = elfImage();
    put(bytes, GetParam().at, {GetParam().value}, GetParam().width);
    EXPECT_EQ(parseFileVersion(bytes), std::nullopt);
}

constexpr std::size_t kNote = kNotesAt, kNoteSection = kTableAt + 128;
INSTANTIATE_TEST_SUITE_P(Damages, DamagedNote, ::testing::Values(
    Damage {.name = "ALongerSectionName", .at = kNamesAt + 32, .value = 'x'},
    Damage {.name = "AnotherNoteName", .at = kNote + 12 + 6, .value = 'a'},
    Damage {.name = "AnotherNoteType", .at = kNote + 8, .width = 4, .value = 2},
    Damage {.name = "AShortDescriptor", .at = kNote + 4, .width = 4, .value = 48},
    Damage {.name = "AWrongSignature", .at = kNote + 20, .value = 0xBC},
    Damage {.name = "NoElfMagic", .at = 1, .value = 'e'},
    Damage {.name = "AnUnknownClass", .at = 4, .value = 3},
    Damage {.name = "AnUnknownByteOrder", .at = 5, .value = 0},
    Damage {.name = "ANoteSectionOfHugeSize", .at = kNoteSection + 32, .width = 8, .value = ~0ULL},
    Damage {.name = "ANoteWhoseNameRunsPastTheSection", .at = kNote, .width = 4, .value = 0xFFFFFFF0u},
    Damage {.name = "ANoteWhoseDescriptorRunsPastTheSection", .at = kNote + 4, .width = 4, .value = 0xFFFFFFFFu},
    Damage {.name = "ANoteSectionWithoutContents", .at = kNoteSection + 4, .width = 4, .value = 8}), test::kByName);

} // namespace
} // namespace qvr
