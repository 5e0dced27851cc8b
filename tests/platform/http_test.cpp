#include "platform/http.h"

#include "platform/unique_fd.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace qvr {
namespace {

using namespace std::chrono_literals;
using httplib::DataSink;
using httplib::Request;
using httplib::Response;

class CurlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { m_global.emplace(); }
    void TearDown() override { m_global.reset(); }

private:
    std::optional<CurlGlobal> m_global;
};
[[maybe_unused]] ::testing::Environment* const curlEnvironment
    = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

constexpr std::size_t kBigBody = 64u << 20;
constexpr std::size_t kPiece = 5000;
constexpr const char* kBinary = "application/octet-stream";

// Not periodic in any read size, so a piece delivered twice or out of place shows.
std::string pattern(std::size_t offset, std::size_t size)
{
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((offset + i) * 7 + (offset + i) / 4099);
    return text;
}

bool writePattern(DataSink& sink, std::size_t offset, std::size_t size)
{
    const std::string piece = pattern(offset, size);
    return sink.write(piece.data(), piece.size());
}

struct Drained {
    std::string body;
    std::vector<std::int64_t> reads; // every read's result, up to the first <= 0
};

Drained drain(HttpResponse& response, std::size_t piece = kPiece)
{
    Drained result;
    std::vector<char> buffer(piece);
    std::int64_t n = 0;
    do {
        n = response.read(buffer.data(), buffer.size());
        result.reads.push_back(n);
        result.body.append(buffer.data(), static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
    } while (n > 0);
    return result;
}

// A local server with well-behaved and misbehaving routes. Routes that hang wait until
// the test ends, then give what a client that waited would get.
class HttpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        addRoutes();
        m_server.set_keep_alive_timeout(1);
        m_server.set_tcp_nodelay(true);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        ASSERT_GT(m_port, 0);
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // stop() only works once the server runs.
        ASSERT_TRUE(httplib::Client("127.0.0.1", m_port).Get("/redirect"));
    }

    void TearDown() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_ended = true;
        }
        m_end.notify_all();
        m_server.stop();
        m_thread.join();
    }

    std::string url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

    std::vector<int> echoPorts()
    {
        std::lock_guard lock(m_mutex);
        return m_echoPorts;
    }

private:
    void addRoutes()
    {
        m_server.Get("/echo", [this](const Request& request, Response& response) {
            std::lock_guard lock(m_mutex);
            m_echoPorts.push_back(request.remote_port);
            if (request.has_param("status"))
                response.status = std::stoi(request.get_param_value("status"));
            response.set_header("X-Twice", "first");
            response.set_header("x-TWICE", "  second ");
            std::string echo = request.get_header_value("User-Agent");
            for (const char* name : {"X-Resume", "Cache-Control"})
                echo += "|" + request.get_header_value(name);
            response.set_content(echo, "text/plain");
        });
        m_server.Get("/redirect", [](const Request&, Response& response) {
            response.set_header("X-Hop", "redirect");
            response.set_redirect("/echo");
        });
        // 12345 bytes in chunks of 1 to 13 bytes.
        m_server.Get("/chunks", [](const Request&, Response& response) {
            response.set_chunked_content_provider(kBinary, [](std::size_t offset, DataSink& sink) {
                constexpr std::size_t total = 12345;
                if (offset < total)
                    return writePattern(sink, offset, std::min(offset % 13 + 1, total - offset));
                sink.done();
                return true;
            });
        });
        m_server.Get("/big", [](const Request&, Response& response) {
            const auto provide = [](std::size_t offset, std::size_t length, DataSink& sink) {
                return writePattern(sink, offset, std::min<std::size_t>(length, 64 << 10));
            };
            response.set_content_provider(kBigBody, kBinary, provide);
        });
        // Content-Length 1000, 400 bytes, then the connection closes.
        m_server.Get("/short", [](const Request&, Response& response) {
            response.set_content_provider(1000, kBinary, [](std::size_t, std::size_t, DataSink& sink) {
                writePattern(sink, 0, 400);
                return false;
            });
        });
        m_server.Get("/stall", [this](const Request&, Response& response) {
            const auto provide = [this](std::size_t, std::size_t, DataSink& sink) {
                writePattern(sink, 0, 10);
                waitForEnd();
                return writePattern(sink, 10, 90);
            };
            response.set_content_provider(100, kBinary, provide);
        });
        m_server.Get("/silent", [this](const Request&, Response&) { waitForEnd(); });
    }

    void waitForEnd()
    {
        std::unique_lock lock(m_mutex);
        m_end.wait_for(lock, 20s, [this] { return m_ended; });
    }

    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_end;
    bool m_ended = false;
    std::vector<int> m_echoPorts;
};

TEST_F(HttpTest, SendsAgentAndHeaderLinesAndReportsTheAnswersHead)
{
    auto client = makeCurlHttpClient("Track Info Session");
    auto response = client->get(url("/echo?status=404"), {"X-Resume: 123-", "Cache-Control: no-cache"});
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusCode(), 404);
    EXPECT_EQ(response->header("x-twice"), "second") << "last occurrence, any case, trimmed";
    EXPECT_EQ(response->header("X-Missing"), std::nullopt);
    EXPECT_EQ(response->header("Content-Length"), "32");
    EXPECT_EQ(drain(*response).body, "Track Info Session|123-|no-cache");
}

TEST_F(HttpTest, ReadsFillTheBufferAndAreShortOnlyAtTheEnd)
{
    auto client = makeCurlHttpClient("Download Session");
    auto chunked = client->get(url("/chunks"), {});
    ASSERT_TRUE(chunked);
    const Drained small = drain(*chunked);
    EXPECT_EQ(small.reads, (std::vector<std::int64_t> {5000, 5000, 2345, 0}));
    EXPECT_EQ(small.body, pattern(0, 12345));
    char more[10];
    EXPECT_EQ(chunked->read(more, sizeof more), 0) << "the end stays the end";

    // 64 MiB pass through a buffer of a few chunks.
    auto big = client->get(url("/big"), {});
    ASSERT_TRUE(big);
    EXPECT_EQ(big->header("Content-Length"), std::to_string(kBigBody));
    std::vector<char> buffer(kPiece);
    std::size_t offset = 0;
    std::int64_t n = 0;
    while ((n = big->read(buffer.data(), buffer.size())) > 0) {
        const auto size = static_cast<std::size_t>(n);
        ASSERT_TRUE(size == kPiece || offset + size == kBigBody) << "short read at " << offset;
        ASSERT_EQ(std::string_view(buffer.data(), size), pattern(offset, size)) << "at " << offset;
        offset += size;
    }
    EXPECT_EQ(n, 0);
    EXPECT_EQ(offset, kBigBody);
    EXPECT_GT(curlBodyBufferPeak(*big), 0u);
    EXPECT_LE(curlBodyBufferPeak(*big), 2 * std::max<std::size_t>(kPiece, CURL_MAX_WRITE_SIZE));
}

TEST_F(HttpTest, FailuresBeforeTheHeadGiveNoResponse)
{
    // A bound socket that does not listen refuses connections, and keeps its port taken.
    UniqueFd refusing(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(refusing.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::getsockname(refusing.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);

    auto client = makeCurlHttpClient("Track Info Session", {.connect = 5000ms, .stall = 300ms});
    EXPECT_FALSE(client->get("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/", {}));
    EXPECT_FALSE(client->get(url("/silent"), {})) << "no head within the stall time";
    EXPECT_FALSE(client->get("file:///etc/hostname", {}));
    EXPECT_FALSE(client->get("ftp" + url("/").substr(4), {}));
    EXPECT_TRUE(client->get(url("/echo"), {})) << "the client stays usable";
}

TEST_F(HttpTest, BrokenBodiesFailAfterTheBytesThatArrived)
{
    auto client = makeCurlHttpClient("Download Session", {.connect = 5000ms, .stall = 300ms});
    for (const auto& [path, arrived] : {std::pair {"/short", 400}, {"/stall", 10}}) {
        SCOPED_TRACE(path);
        auto response = client->get(url(path), {});
        ASSERT_TRUE(response);
        const Drained drained = drain(*response, 1000);
        EXPECT_EQ(drained.reads, (std::vector<std::int64_t> {arrived, -1}));
        EXPECT_EQ(drained.body, pattern(0, arrived));
        char more[10];
        EXPECT_EQ(response->read(more, sizeof more), -1);
    }
}

TEST_F(HttpTest, OneClientRunsRequestsInTurnOnOneConnection)
{
    auto client = makeCurlHttpClient("Download Session");
    for (int i = 0; i < 2; ++i) {
        auto response = client->get(url("/echo"), {});
        ASSERT_TRUE(response);
        EXPECT_EQ(drain(*response).body, "Download Session||");
    }
    const std::vector<int> ports = echoPorts();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0], ports[1]) << "the connection is kept alive between requests";

    // A new request ends the response still being read.
    auto unfinished = client->get(url("/big"), {});
    ASSERT_TRUE(unfinished);
    std::vector<char> buffer(kPiece);
    ASSERT_EQ(unfinished->read(buffer.data(), buffer.size()), static_cast<std::int64_t>(kPiece));
    auto next = client->get(url("/echo?status=201"), {});
    ASSERT_TRUE(next);
    EXPECT_EQ(unfinished->read(buffer.data(), buffer.size()), -1);
    EXPECT_EQ(unfinished->statusCode(), 200);
    EXPECT_EQ(next->statusCode(), 201);
    EXPECT_EQ(drain(*next).body, "Download Session||");
}

TEST_F(HttpTest, RedirectsAreFollowedOnlyWhenAsked)
{
    auto plain = makeCurlHttpClient("Get Radio Status");
    auto redirect = plain->get(url("/redirect"), {});
    ASSERT_TRUE(redirect);
    EXPECT_EQ(redirect->statusCode(), 302);
    EXPECT_EQ(redirect->header("Location"), "/echo");
    EXPECT_TRUE(echoPorts().empty());

    auto following = curlHttpClientFactory({.followRedirects = true})("Get Radio Status");
    auto response = following->get(url("/redirect"), {});
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusCode(), 200);
    EXPECT_EQ(response->header("X-Hop"), std::nullopt) << "only the final response's head counts";
    EXPECT_EQ(drain(*response).body, "Get Radio Status||");
}

} // namespace
} // namespace qvr
