#include "tests/support/common.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qvr::test {

namespace fs = std::filesystem;

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    m_path = std::string(base && *base ? base : "/tmp") + "/qvr-test-XXXXXX";
    if (!::mkdtemp(m_path.data()))
        ADD_FAILURE() << "cannot create a temporary folder from " << m_path;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    // Tests may leave read-only folders behind; make them removable first.
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(m_path, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (it->is_directory(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(m_path, ignored);
}

std::string TempDir::file(std::string_view name) const
{
    return m_path + "/" + std::string(name);
}

void writeFile(const std::string& path, std::string_view contents)
{
    if (!std::ofstream(path, std::ios::binary | std::ios::trunc).write(contents.data(), std::streamsize(contents.size())))
        ADD_FAILURE() << "cannot write " << path;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        ADD_FAILURE() << "cannot read " << path;
    std::ostringstream contents;  // a buffer at a time: tests read programs of 50 MB
    contents << in.rdbuf();
    return std::move(contents).str();
}

std::size_t countEntries(const std::string& folder)
{
    std::error_code error;
    const auto entries = fs::directory_iterator(folder, error);
    return error ? 0 : static_cast<std::size_t>(std::distance(fs::begin(entries), fs::end(entries)));
}

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

LoopbackListener listenOnLoopback()
{
    LoopbackListener listener {UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))};
    sockaddr_in address {.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(listener.socket.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(::getsockname(listener.socket.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    EXPECT_EQ(::listen(listener.socket.get(), 8), 0);
    listener.port = ntohs(address.sin_port);
    return listener;
}

} // namespace qvr::test
