#pragma once

// What the fuzz targets share: a property check, and scratch files for code that reads files.

#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

// libFuzzer keeps the input that made the process abort: a broken property is reported like a crash.
#define QVR_FUZZ_CHECK(condition, what)                                                                  \
    ((condition) ? void() : (std::fprintf(stderr, "property broken: %s\n  (%s, %s:%d)\n", what, #condition, \
                                          __FILE__, __LINE__), std::abort()))

// A target's body, run on each input with the fuzzer's bytes in `in`.
#define QVR_FUZZ_TARGET(in)                                                                 \
    static void fuzzOne(FuzzedDataProvider& in);                                            \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)       \
    {                                                                                       \
        FuzzedDataProvider in(data, size);                                                  \
        return fuzzOne(in), 0;                                                              \
    }                                                                                       \
    static void fuzzOne(FuzzedDataProvider& in)

namespace qvr::fuzz {

// In a folder of the process's own, in memory where possible: the queue files are flushed on
// every save, which on a disk slows fuzzing a hundredfold.
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
