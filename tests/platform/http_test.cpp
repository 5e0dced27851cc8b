// The transport against the store simulator, with the faults it can make.
#include "platform/http.h"
#include "platform/unique_fd.h"
#include "tools/store-sim/store_sim.h"

#include "tests/support/common.h"

#include <httplib.h>
#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace qvr {
namespace {

using namespace std::chrono_literals;
using Reads = std::vector<std::int64_t>;

// As in main(): set up before any thread starts, cleaned up after all have ended.
const CurlGlobal kCurlGlobal;

constexpr std::size_t kBigBody = 64u << 20, kPiece = 5000;
const sim::Track kBig {"big", "Big", kBigBody, 7}, kShort {"short", "Short", 1000, 8};

// Every read's result up to the first <= 0.
Reads reads(HttpResponse& response, std::size_t piece)
{
    std::vector<char> buffer(piece);
    Reads results;
    do
        results.push_back(response.read(buffer.data(), buffer.size()));
    while (results.back() > 0);
    return results;
}

struct HttpTest : ::testing::Test {
    void SetUp() override
    {
        m_store.addTrack(kBig);
        m_store.addTrack(kShort);
        ASSERT_TRUE(m_store.start());
    }
    std::string url(std::string_view path) const { return "http://" + m_store.hostPort() + std::string(path); }
    sim::StoreSimulator m_store;
};

// The agent and the header lines sent, the window's download tests check at the store; that only a
// session asked to follows redirects and gives the final answer's head, the radio page's test and
// the update's redirect case.
TEST_F(HttpTest, ReadsAreShortOnlyAtTheEndOfTheBody)
{
    auto client = makeCurlHttpClient("Download Session");
    auto superseded = client->get(m_store.trackUrl("big"), {});
    ASSERT_TRUE(superseded);
    std::vector<char> buffer(kPiece);
    ASSERT_EQ(superseded->read(buffer.data(), buffer.size()), static_cast<std::int64_t>(kPiece));
    auto big = client->get(m_store.trackUrl("big"), {}); // 64 MiB through a buffer of a few chunks
    ASSERT_TRUE(big);
    EXPECT_EQ(superseded->read(buffer.data(), buffer.size()), -1) << "a new request ends the previous one";
    std::size_t offset = 0;
    std::int64_t n = 0;
    for (; (n = big->read(buffer.data(), buffer.size())) > 0; offset += static_cast<std::size_t>(n)) {
        ASSERT_TRUE(std::size_t(n) == kPiece || offset + n == kBigBody) << "short read at " << offset;
        ASSERT_EQ(std::string_view(buffer.data(), n), sim::trackContent(kBig.pattern, offset, n)) << offset;
    }
    EXPECT_EQ(std::pair(n, offset), std::pair(std::int64_t {0}, kBigBody));
    EXPECT_GT(curlBodyBufferPeak(*big), 0u);
    EXPECT_LE(curlBodyBufferPeak(*big), 2 * std::max<std::size_t>(kPiece, CURL_MAX_WRITE_SIZE));
}

TEST_F(HttpTest, AFailureGivesNoResponseBeforeTheHeadOrAFailedReadAfterIt)
{
    auto client = makeCurlHttpClient("Download Session", {.connect = 5000ms, .stall = 300ms});
    EXPECT_FALSE(client->get("file:///etc/hostname", {}));
    m_store.goDown();
    EXPECT_FALSE(client->get(url("/"), {})) << "refused";
    // The failure log's reason names the system's error.
    EXPECT_NE(client->failure().find(std::strerror(ECONNREFUSED)), std::string::npos) << client->failure();
    ASSERT_TRUE(m_store.comeUp());
    // A read that a stall cuts short fails, so that a caller that reads once does not take the
    // first 400 of 1000 bytes for the whole answer. (An early close, the window's tests show.)
    m_store.setStallAfter(400);
    for (const auto& [piece, expected] : {std::pair<std::size_t, Reads>(1000, {-1}), {400, {400, -1}}}) {
        auto response = client->get(m_store.trackUrl("short"), {});
        EXPECT_EQ(response ? reads(*response, piece) : Reads(), expected);
    }
    EXPECT_EQ(client->failure(), "nothing received for 0.3 s") << "the stall limit, not the connect limit";
    // The total limit ends a body that trickles in, never quiet long enough to stall, and a head
    // that never comes. (That a pause or a close ends a wait, the window's tests show.)
    auto limited = makeCurlHttpClient("Get Radio Status", {.stall = 60s, .total = 300ms});
    m_store.setStallAfter(0, 0);
    m_store.setRate(50);
    auto trickling = limited->get(m_store.trackUrl("short"), {});
    EXPECT_EQ(trickling ? reads(*trickling, 1).back() : 0, -1);
    m_store.setLatency(1h);
    EXPECT_FALSE(client->get(url("/"), {})) << "no head within the stall time";
    EXPECT_FALSE(limited->get(url("/"), {})) << "nor within the total time";
}

// The low-speed limit judges each period of waiting on its own: bytes that came
// fast in one period do not cover a silence in a later one.
TEST_F(HttpTest, ABodyThatFallsSilentAfterAFastStartEndsAtTheLowSpeedLimit)
{
    auto client = makeCurlHttpClient("Download Session", {.stall = 5s, .lowSpeedBytes = 1000, .lowSpeedTime = 300ms});
    m_store.setStallAfter(4 * kPiece, 1);
    auto response = client->get(m_store.trackUrl("big"), {});
    EXPECT_EQ(response ? reads(*response, kPiece) : Reads(), (Reads {kPiece, kPiece, kPiece, kPiece, -1}));
    EXPECT_THAT(client->failure(), ::testing::StartsWith("the body brought fewer than 1000 bytes"));
}

// Five times the limit in every period, in pieces smaller than the limit: never too slow.
// Nor is the connect limit one for the whole body.
TEST_F(HttpTest, ABodySteadilyAboveTheLowSpeedLimitIsReadWhole)
{
    m_store.addTrack({"steady", "Steady", 20000, 9});
    m_store.setRate(10000);  // 500 bytes each 50 ms
    auto client = makeCurlHttpClient("Download Session",
                                     {.connect = 200ms, .stall = 5s, .lowSpeedBytes = 1000, .lowSpeedTime = 500ms});
    auto response = client->get(m_store.trackUrl("steady"), {});
    EXPECT_EQ(response ? reads(*response, 20000) : Reads(), (Reads {20000, 0}));
}

// The connect limit ends a connection a peer never takes, however long the stall limit.
TEST_F(HttpTest, TheConnectLimitEndsAConnectionNeverTaken)
{
    auto client = makeCurlHttpClient("Download Session", {.connect = 200ms, .stall = 5s});
    ASSERT_TRUE(m_store.goDeaf());
    EXPECT_FALSE(client->get(url("/"), {}));
    EXPECT_TRUE(client->failure().starts_with("libcurl error 28")) << "its connect timeout, not " << client->failure();
}

// A peer that sends interim heads for ever, each in time for the stall limit: the
// request ends at the head limit all the same.
TEST(HttpHeadLimit, InterimHeadsWithoutEndFailTheRequest)
{
    const test::LoopbackListener listener = test::listenOnLoopback();
    std::thread peer([&] {
        const UniqueFd connection(::accept4(listener.socket.get(), nullptr, nullptr, SOCK_CLOEXEC));
        constexpr std::string_view kHints = "HTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\n";
        // Ten seconds at most: a client without the limit then fails at the end.
        for (int i = 0; i < 200 && ::send(connection.get(), kHints.data(), kHints.size(), MSG_NOSIGNAL) > 0; ++i)
            std::this_thread::sleep_for(50ms);
    });
    auto client = makeCurlHttpClient("Download Session", {.stall = 5s, .head = 500ms});
    EXPECT_FALSE(client->get("http://127.0.0.1:" + std::to_string(listener.port) + "/t", {}));
    EXPECT_NE(client->failure().find("no whole head"), std::string::npos) << client->failure();
    client.reset();
    peer.join();
}

TEST(HttpHead, AHeaderIsTheLastLineOfItsNameInAnyCaseTrimmed)
{
    httplib::Server server;
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("X-Twice", "first");
        response.set_header("x-TWICE", "  second ");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::jthread listening([&] { server.listen_after_bind(); });
    const auto response = makeCurlHttpClient("Get Radio Status")->get("http://127.0.0.1:" + std::to_string(port), {});
    server.stop();
    EXPECT_EQ(response ? response->header("x-twice") : "no response", "second");
}

TEST(HttpUrl, OnlyAddressesLibcurlWouldFetchOverHttpPass)
{
    for (const char* url : {"http://store.example/t?x=1", "https://127.0.0.1:8080/a"})
        EXPECT_TRUE(isFetchableUrl(url)) << url;
    for (const std::string& url : std::vector<std::string> {"http://store.example/a b", "http://h:99999/", "ftp://h/t",
                                                             "file:///etc/passwd", "", "h/x", {"http://h/a\0b", 12}})
        EXPECT_FALSE(isFetchableUrl(url)) << url;
}

TEST(RetryAfter, ADateInAnyOfItsThreeFormsAsksForTheTimeUntilIt)
{
    const auto now = std::chrono::system_clock::from_time_t(784111777);  // Sun, 06 Nov 1994 08:49:37 GMT
    for (const char* date : {"Sun, 06 Nov 1994 08:51:37 GMT", "Sunday, 06-Nov-94 08:51:37 GMT", "Sun Nov  6 08:51:37 1994"})
        EXPECT_EQ(retryAfterWait(date, now), 120s) << date;
    EXPECT_EQ(retryAfterWait("Sun, 06 Nov 1994 08:48:37 GMT", now), 0s);
}

} // namespace
} // namespace qvr
