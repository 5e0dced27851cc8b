#pragma once

// What test files share: GoogleTest and GoogleMock, the everyday standard headers,
// a temporary folder and small file helpers.
#include "platform/unique_fd.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace qvr::test {

// Names each case of a table by its `name`.
inline constexpr auto kByName = [](const auto& instance) { return std::string(instance.param.name); };

// A fresh folder under $TMPDIR for one test, removed with everything in it at the
// end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(std::string_view name) const;

private:
    std::string m_path;
};

// Small file helpers for tests; they fail the test (ADD_FAILURE) on I/O errors.
void writeFile(const std::string& path, std::string_view contents);
std::string readFile(const std::string& path);
// How many entries a folder holds (to see that no temporary file stayed behind).
std::size_t countEntries(const std::string& folder);
// The permission bits of the file at `path`; 0 when there is none.
mode_t modeOf(const std::string& path);
// The entries of a list (the downloaded files', say), in its order.
template <class List>
std::vector<std::string> rowsOf(const List& list)
{
    return {list.begin(), list.end()};
}

// A TCP socket listening on 127.0.0.1, at a port the kernel chose; its connections
// wait in the backlog until the test accepts them.
struct LoopbackListener {
    UniqueFd socket;
    int port = 0;
};
LoopbackListener listenOnLoopback();

} // namespace qvr::test
