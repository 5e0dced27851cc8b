#include "platform/http.h"

#include "platform/unique_fd.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <future>
#include <thread>

namespace qvr {
namespace {

using namespace std::chrono_literals;
using namespace httplib;

// As in main(): set up before any thread starts, cleaned up after all have ended.
const CurlGlobal curlGlobal;

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

// The body, and every read's result up to the first <= 0.
struct Drained { std::string body; std::vector<std::int64_t> reads; };

Drained drain(HttpResponse& response, std::size_t piece = kPiece)
{
    Drained result;
    std::vector<char> buffer(piece);
    for (std::int64_t n = 1; n > 0;) {
        n = response.read(buffer.data(), buffer.size());
        result.reads.push_back(n);
        result.body.append(buffer.data(), static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
    }
    return result;
}

// A local server with well-behaved and misbehaving routes. Routes that hang wait until
// the test ends, then give what a client that waited would get.
class HttpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_server.Get("/echo", [](const Request& request, Response& response) {
            response.set_content(request.get_header_value("User-Agent") + "|" + request.get_header_value("X-Resume"),
                                 "text/plain");
        });
        m_server.Get("/redirect", [](const Request&, Response& response) {
            response.set_header("X-Twice", "first");
            response.set_header("x-TWICE", "  second ");
            response.set_redirect("/echo");
        });
        // 12345 bytes in chunks of 1 to 13 bytes.
        m_server.Get("/chunks", [](const Request&, Response& response) {
            response.set_chunked_content_provider(kBinary, [](std::size_t offset, DataSink& sink) {
                if (offset >= 12345)
                    sink.done();
                return offset >= 12345 || writePattern(sink, offset, std::min(offset % 13 + 1, 12345 - offset));
            });
        });
        m_server.Get("/big", [](const Request&, Response& response) {
            response.set_content_provider(kBigBody, kBinary, [](std::size_t at, std::size_t length, DataSink& sink) {
                return writePattern(sink, at, std::min<std::size_t>(length, 64 << 10));
            });
        });
        // Content-Length 1000 and 400 bytes, then the connection closes or, with "stall", stalls.
        m_server.Get("/broken", [this](const Request& request, Response& response) {
            const bool stall = request.has_param("stall");
            response.set_content_provider(1000, kBinary, [this, stall](std::size_t, std::size_t, DataSink& sink) {
                writePattern(sink, 0, 400);
                return stall && m_ended.wait_for(20s) == std::future_status::ready && writePattern(sink, 400, 600);
            });
        });
        m_server.Get("/silent", [this](const Request&, Response&) { m_ended.wait_for(20s); });
        // A byte every 20 ms for 20 s: never quiet long enough to stall.
        m_server.Get("/trickle", [this](const Request&, Response& response) {
            response.set_chunked_content_provider(kBinary, [this](std::size_t offset, DataSink& sink) {
                if (offset < 1000 && m_ended.wait_for(20ms) == std::future_status::timeout)
                    return sink.write("x", 1);
                sink.done();
                return true;
            });
        });
        m_server.set_keep_alive_timeout(1);
        m_server.set_tcp_nodelay(true);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        ASSERT_GT(m_port, 0);
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // stop() only works once the server runs.
        ASSERT_TRUE(httplib::Client("127.0.0.1", m_port).Get("/echo"));
    }

    void TearDown() override
    {
        m_end.set_value();
        m_server.stop();
        m_thread.join();
    }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    std::promise<void> m_end;
    std::shared_future<void> m_ended = m_end.get_future().share();
};

TEST_F(HttpTest, SendsAgentAndHeaderLinesAndReportsTheFinalAnswersHead)
{
    auto redirect = makeCurlHttpClient("Get Radio Status")->get(url("/redirect"), {});
    ASSERT_TRUE(redirect);
    EXPECT_EQ(redirect->statusCode(), 302) << "not followed unless asked";
    EXPECT_EQ(redirect->header("x-twice"), "second") << "last occurrence, any case, trimmed";
    EXPECT_EQ(redirect->header("X-Missing"), std::nullopt);

    auto followed = curlHttpClientFactory({.followRedirects = true})("Track Info Session")->get(url("/redirect"),
                                                                                                {"X-Resume: 123-\r\n"});
    ASSERT_TRUE(followed);
    EXPECT_EQ(followed->statusCode(), 200);
    EXPECT_EQ(followed->header("X-Twice"), std::nullopt) << "only the final response's head counts";
    EXPECT_EQ(drain(*followed).body, "Track Info Session|123-");
}

TEST_F(HttpTest, ReadsFillTheBufferAndAreShortOnlyAtTheEndThroughABoundedBuffer)
{
    auto client = makeCurlHttpClient("Download Session");
    auto unfinished = client->get(url("/big"), {});
    ASSERT_TRUE(unfinished);
    std::vector<char> buffer(kPiece);
    ASSERT_EQ(unfinished->read(buffer.data(), buffer.size()), static_cast<std::int64_t>(kPiece));
    auto chunked = client->get(url("/chunks"), {});
    ASSERT_TRUE(chunked);
    EXPECT_EQ(unfinished->read(buffer.data(), buffer.size()), -1) << "a new request ends the previous one";
    const Drained small = drain(*chunked);
    EXPECT_EQ(small.reads, (std::vector<std::int64_t> {5000, 5000, 2345, 0}));
    EXPECT_EQ(small.body, pattern(0, 12345));

    // 64 MiB pass through a buffer of a few chunks.
    auto big = client->get(url("/big"), {});
    ASSERT_TRUE(big);
    std::size_t offset = 0;
    std::int64_t n = 0;
    while ((n = big->read(buffer.data(), buffer.size())) > 0) {
        const auto size = static_cast<std::size_t>(n);
        ASSERT_TRUE(size == kPiece || offset + size == kBigBody) << "short read at " << offset;
        ASSERT_EQ(std::string_view(buffer.data(), size), pattern(offset, size)) << "at " << offset;
        offset += size;
    }
    EXPECT_EQ(std::pair(n, offset), std::pair(std::int64_t {0}, kBigBody));
    EXPECT_GT(curlBodyBufferPeak(*big), 0u);
    EXPECT_LE(curlBodyBufferPeak(*big), 2 * std::max<std::size_t>(kPiece, CURL_MAX_WRITE_SIZE));
}

TEST_F(HttpTest, FailuresGiveNoResponseBeforeTheHeadAndMinusOneAfterIt)
{
    // A bound socket that does not listen refuses connections, and keeps its port taken.
    UniqueFd refusing(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address {AF_INET, 0, {}, {}};
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(refusing.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::getsockname(refusing.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);

    auto client = makeCurlHttpClient("Download Session", {.connect = 5000ms, .stall = 300ms});
    EXPECT_FALSE(client->get("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/", {}));
    EXPECT_FALSE(client->get(url("/silent"), {})) << "no head within the stall time";
    EXPECT_FALSE(client->get("file:///etc/hostname", {}));

    // A read that a failure cuts short is a failed read, not a short body: a caller
    // that reads once must not take the first 400 bytes for the whole answer.
    for (const char* path : {"/broken", "/broken?stall"}) {
        using Reads = std::vector<std::int64_t>;
        for (const auto& [piece, reads] : {std::pair<std::size_t, Reads>(1000, {-1}), {400, {400, -1}}}) {
            auto response = client->get(url(path), {});
            ASSERT_TRUE(response) << path;
            EXPECT_EQ(drain(*response, piece).reads, reads) << path;
        }
    }
}

TEST_F(HttpTest, AnInterruptOrTheTotalLimitEndsAWaitLongBeforeTheStallLimit)
{
    std::atomic<bool> stop {false};
    auto client = makeCurlHttpClient("Download Session", {.connect = 30000ms, .stall = 30000ms});
    client->setInterrupt([&] { return stop.load(); });
    auto response = client->get(url("/broken?stall"), {});
    ASSERT_TRUE(response);
    std::vector<char> buffer(1000);
    auto read = std::async(std::launch::async, [&] { return response->read(buffer.data(), buffer.size()); });
    stop = true;
    // Without the interrupt the read would wait for the 30 s stall limit, and the
    // test for the server's 20 s; the result is what shows which ended it.
    EXPECT_EQ(read.get(), -1);
    EXPECT_FALSE(client->get(url("/echo"), {})) << "an interrupted client starts nothing";

    // The head of /silent never comes, the body of /trickle goes on: the stall limit
    // would let either keep the caller for 20 s, and the test would fail after that.
    auto limited = makeCurlHttpClient("Get Radio Status", {.stall = 60s, .total = 300ms});
    EXPECT_FALSE(limited->get(url("/silent"), {}));
    auto trickling = limited->get(url("/trickle"), {});
    ASSERT_TRUE(trickling);
    EXPECT_EQ(drain(*trickling, 1).reads.back(), -1);
}

TEST(HttpUrl, OnlyAddressesLibcurlWouldFetchOverHttpPass)
{
    for (const char* url : {"http://store.example/t?x=1", "https://127.0.0.1:8080/a"})
        EXPECT_TRUE(IsFetchableUrl(url)) << url;
    for (const char* url : {"http://store.example/a b", "http://h:99999/", "file:///etc/passwd", "", "store.example/x"})
        EXPECT_FALSE(IsFetchableUrl(url)) << url;
    EXPECT_FALSE(IsFetchableUrl(std::string("http://h/a\0b", 12)));
}

} // namespace
} // namespace qvr
