#pragma once

// Shared pieces of the fuzz targets: a property check that stops the run with a
// readable reason, and a scratch file for the code under test that reads files.

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

// libFuzzer keeps the input that made the process abort, so a broken property is
// reported like a crash, with the input to reproduce it.
#define QVR_FUZZ_CHECK(condition, what)                                                   \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "property broken: %s\n  (%s, %s:%d)\n", what, #condition, \
                         __FILE__, __LINE__);                                             \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace qvr::fuzz {

// A folder of the fuzzing process's own, removed with what is in it when the
// process ends normally.
class ScratchFolder {
public:
    ScratchFolder()
    {
        // In memory where the system has such a folder: the queue files are flushed
        // to disk on every save, which on a disk slows fuzzing a hundredfold.
        const char* tmp = std::getenv("TMPDIR");
        for (std::string base : {std::string("/dev/shm"), std::string(tmp && *tmp ? tmp : "/tmp")}) {
            std::string pattern = base + "/qvr-fuzz-XXXXXX";
            if (::mkdtemp(pattern.data())) {
                m_path = pattern;
                return;
            }
        }
        std::perror("mkdtemp");
        std::abort();
    }
    ~ScratchFolder()
    {
        for (const char* name : {"a", "b"})
            ::unlink(file(name).c_str());
        ::rmdir(m_path.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Only the names "a" and "b" are cleaned up.
    std::string file(const char* name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline const ScratchFolder& scratch()
{
    static const ScratchFolder folder;
    return folder;
}

// Replaces the file's contents; aborts when it cannot, as nothing else would be
// tested then.
inline void writeFile(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    QVR_FUZZ_CHECK(out.flush(), "the scratch file can be written");
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace qvr::fuzz
