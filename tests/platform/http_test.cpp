// The transport against the store simulator, with the faults it can make.
#include "platform/http.h"

#include "tools/store-sim/store_sim.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <curl/curl.h>

#include <thread>

namespace qvr {
namespace {

using namespace std::chrono_literals;

// As in main(): set up before any thread starts, cleaned up after all have ended.
const CurlGlobal curlGlobal;

constexpr std::size_t kBigBody = 64u << 20;
constexpr std::size_t kPiece = 5000;
const sim::Track kBig {"big", "Big", kBigBody, 7}, kShort {"short", "Short", 1000, 8};

// Every read's result up to the first <= 0.
std::vector<std::int64_t> reads(HttpResponse& response, std::size_t piece)
{
    std::vector<char> buffer(piece);
    std::vector<std::int64_t> results;
    do
        results.push_back(response.read(buffer.data(), buffer.size()));
    while (results.back() > 0);
    return results;
}

class HttpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_store.addTrack(kBig);
        m_store.addTrack(kShort);
        ASSERT_TRUE(m_store.start());
    }

    std::string url(std::string_view path) const { return "http://" + m_store.hostPort() + std::string(path); }

    sim::StoreSimulator m_store;
};

TEST_F(HttpTest, SendsAgentAndHeaderLinesAndReportsTheFinalAnswersHead)
{
    m_store.setRadioRedirect(302);
    auto redirect = makeCurlHttpClient("Get Radio Status")->get(url("/radio_2/radio_dlm2.html"), {});
    ASSERT_TRUE(redirect);
    EXPECT_EQ(redirect->statusCode(), 302) << "not followed unless asked";
    EXPECT_EQ(redirect->header("Location"), "/radio_2/on_air.html");

    auto followed = curlHttpClientFactory({.followRedirects = true})("Track Info Session")
                        ->get(url("/radio_2/radio_dlm2.html"), {"X-Resume: 123-\r\n"});
    ASSERT_TRUE(followed);
    EXPECT_EQ(followed->statusCode(), 200);
    EXPECT_EQ(followed->header("Location"), std::nullopt) << "only the final response's head counts";
    const auto request = m_store.requests().back();
    EXPECT_EQ(std::pair(request.header("User-Agent"), request.header("X-Resume")),
              std::pair(std::optional<std::string>("Track Info Session"), std::optional<std::string>("123-")));
}

TEST_F(HttpTest, ReadsFillTheBufferAndAreShortOnlyAtTheEndThroughABoundedBuffer)
{
    auto client = makeCurlHttpClient("Download Session");
    auto superseded = client->get(m_store.trackUrl("big"), {});
    ASSERT_TRUE(superseded);
    std::vector<char> buffer(kPiece);
    ASSERT_EQ(superseded->read(buffer.data(), buffer.size()), static_cast<std::int64_t>(kPiece));
    // 64 MiB pass through a buffer of a few chunks.
    auto big = client->get(m_store.trackUrl("big"), {});
    ASSERT_TRUE(big);
    EXPECT_EQ(superseded->read(buffer.data(), buffer.size()), -1) << "a new request ends the previous one";
    std::size_t offset = 0;
    std::int64_t n = 0;
    while ((n = big->read(buffer.data(), buffer.size())) > 0) {
        const auto size = static_cast<std::size_t>(n);
        ASSERT_TRUE(size == kPiece || offset + size == kBigBody) << "short read at " << offset;
        ASSERT_EQ(std::string_view(buffer.data(), size), sim::trackContent(kBig.pattern, offset, size)) << offset;
        offset += size;
    }
    EXPECT_EQ(std::pair(n, offset), std::pair(std::int64_t {0}, kBigBody));
    EXPECT_GT(curlBodyBufferPeak(*big), 0u);
    EXPECT_LE(curlBodyBufferPeak(*big), 2 * std::max<std::size_t>(kPiece, CURL_MAX_WRITE_SIZE));
}

TEST_F(HttpTest, FailuresAndLimitsGiveNoResponseBeforeTheHeadAndMinusOneAfterIt)
{
    auto client = makeCurlHttpClient("Download Session", {.connect = 5000ms, .stall = 300ms});
    EXPECT_FALSE(client->get("file:///etc/hostname", {}));
    m_store.goDown();
    EXPECT_FALSE(client->get(url("/"), {})) << "refused";
    ASSERT_TRUE(m_store.comeUp());
    // A read that a failure cuts short is a failed read, not a short body: a caller
    // that reads once must not take the first 400 of 1000 bytes for the whole answer.
    // (A connection that closes early, the window's tests show.)
    m_store.setStallAfter(400);
    using Reads = std::vector<std::int64_t>;
    for (const auto& [piece, expected] : {std::pair<std::size_t, Reads>(1000, {-1}), {400, {400, -1}}}) {
        auto response = client->get(m_store.trackUrl("short"), {});
        ASSERT_TRUE(response);
        EXPECT_EQ(reads(*response, piece), expected);
    }
    // The total limit ends a body that trickles in, never quiet long enough to stall,
    // and a head that never comes, which would keep its caller for the whole stall limit.
    // (That a pause or a close ends a wait, the window's tests show.)
    auto limited = makeCurlHttpClient("Get Radio Status", {.stall = 60s, .total = 300ms});
    m_store.setStallAfter(0, 0);
    m_store.setRate(50);
    auto trickling = limited->get(m_store.trackUrl("short"), {});
    ASSERT_TRUE(trickling);
    EXPECT_EQ(reads(*trickling, 1).back(), -1);
    m_store.setLatency(1h);
    EXPECT_FALSE(client->get(url("/"), {})) << "no head within the stall time";
    EXPECT_FALSE(limited->get(url("/"), {})) << "nor within the total time";
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
    ASSERT_TRUE(response);
    EXPECT_EQ(std::pair(response->header("x-twice"), response->header("X-Missing")),
              std::pair(std::optional<std::string>("second"), std::optional<std::string>()));
}

TEST(HttpUrl, OnlyAddressesLibcurlWouldFetchOverHttpPass)
{
    for (const char* url : {"http://store.example/t?x=1", "https://127.0.0.1:8080/a"})
        EXPECT_TRUE(IsFetchableUrl(url)) << url;
    for (const char* url : {"http://store.example/a b", "http://h:99999/", "ftp://h/t", "file:///etc/passwd", "", "h/x"})
        EXPECT_FALSE(IsFetchableUrl(url)) << url;
    EXPECT_FALSE(IsFetchableUrl(std::string("http://h/a\0b", 12)));
}

} // namespace
} // namespace qvr
