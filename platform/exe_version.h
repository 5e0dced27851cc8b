#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvr {

// The version stamped into an executable: the ELF note section
// ".note.quavero.version" holds one note named "Quavero" whose descriptor is a
// 52-byte little-endian VS_FIXEDFILEINFO (signature 0xFEEF04BD). The four fields
// are major, minor, release and build of its file version.
using FileVersion = std::array<std::uint16_t, 4>;

constexpr std::string_view kVersionNoteSection = ".note.quavero.version";
constexpr std::string_view kVersionNoteName = "Quavero";
constexpr std::uint32_t kVersionNoteType = 1;
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr std::size_t kFixedFileInfoSize = 52;

// The file version of the ELF file at `path` (32- or 64-bit, either byte order);
// nothing when it is not such a file, has no such note, or is damaged. Reads only
// the headers and the note, in small bounded pieces, whatever the file's size.
[[nodiscard]] std::optional<FileVersion> readFileVersion(const std::string& path);

// The same for an ELF image held in memory.
[[nodiscard]] std::optional<FileVersion> parseFileVersion(std::string_view image);

// "2.1.0.1": the four fields with dots between.
std::string fileVersionText(const FileVersion& version);

} // namespace qvr
