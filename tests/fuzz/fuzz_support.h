#pragma once

// Shared pieces of the fuzz targets: a property check that stops the run with a
// readable reason, and scratch files for the code under test that reads files.

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

// libFuzzer keeps the input that made the process abort, so a broken property is
// reported like a crash, with the input to reproduce it.
#define QVR_FUZZ_CHECK(condition, what)                                                                  \
    ((condition) ? void() : (std::fprintf(stderr, "property broken: %s\n  (%s, %s:%d)\n", what, #condition, \
                                          __FILE__, __LINE__), std::abort()))

namespace qvr::fuzz {

// A file in a folder of the process's own, removed when the process ends normally.
// In memory where the system has such a folder: the queue files are flushed to disk
// on every save, which on a disk slows fuzzing a hundredfold.
inline std::string scratchFile(const char* name)
{
    static const struct Folder {
        std::string path = "/dev/shm/qvr-fuzz-XXXXXX";
        Folder()
        {
            QVR_FUZZ_CHECK(::mkdtemp(path.data())
                               || ::mkdtemp((path = std::filesystem::temp_directory_path() / "qvr-fuzz-XXXXXX").data()),
                           "a scratch folder can be made");
        }
        ~Folder() { std::error_code ignored; std::filesystem::remove_all(path, ignored); }
    } folder;
    return folder.path + "/" + name;
}

// Replaces the file's contents; aborts when it cannot, as nothing else would be tested then.
inline void writeFile(const std::string& path, std::string_view bytes)
{
    QVR_FUZZ_CHECK(std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size())).flush(),
                   "the scratch file can be written");
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace qvr::fuzz
