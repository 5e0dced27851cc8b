#include "tools/store-sim/store_sim.h"

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>

namespace qvr::sim {
namespace {

using namespace std::chrono_literals;

// Larger than the server's chunks, so that bodies and faults cross chunk borders.
constexpr std::uint64_t kSize = 200'000;
const Track kTrack {"a1", "First & Last", kSize, 7};
const std::string kTrackTarget = "/tracks/a1.mp3?dl=a1&guid=G";

struct Received {
    httplib::Error error = httplib::Error::Unknown;
    std::string body;
};

// Sends `request` on a fresh connection and collects the answer until the server
// closes the connection; `closed` tells whether it did within a generous time.
struct RawAnswer {
    bool closed = false;
    std::string bytes;
};

RawAnswer exchangeRaw(int port, const std::string& request)
{
    RawAnswer answer;
    const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::send(sock, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        pollfd readable {sock, POLLIN, 0};
        char buffer[65536];
        while (::poll(&readable, 1, 30'000) == 1) {
            const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
            if (n <= 0) {
                answer.closed = true;
                break;
            }
            answer.bytes.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(sock);
    return answer;
}

class StoreSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.addTrack(kTrack);
        ASSERT_TRUE(sim.start());
    }

    httplib::Result get(const std::string& target, const httplib::Headers& headers = {}) const
    {
        httplib::Client client("127.0.0.1", sim.port());
        return client.Get(target, headers);
    }

    // Collects the body as it arrives, so that a cut-off body is still seen.
    Received receive(const std::string& target) const
    {
        httplib::Client client("127.0.0.1", sim.port());
        Received received;
        received.error = client
                             .Get(target,
                                  [&](const char* data, size_t n) {
                                      received.body.append(data, n);
                                      return true;
                                  })
                             .error();
        return received;
    }

    StoreSimulator sim;
    const std::string whole = trackContent(kTrack);
};

TEST(TrackContent, DependsOnlyOnSeedAndOffset)
{
    const std::string whole = trackContent(kTrack);
    ASSERT_EQ(whole.size(), kSize);
    EXPECT_GT(std::set<char>(whole.begin(), whole.end()).size(), 200u);
    for (const std::uint64_t offset : {1u, 7u, 8u, 9u, 65'535u, 65'536u, 123'457u})
        EXPECT_EQ(trackContent(kTrack.pattern, offset, 1000), whole.substr(offset, 1000)) << offset;
    char piece[13];
    trackBytes(kTrack.pattern, 3, piece, sizeof piece);
    EXPECT_EQ(std::string(piece, sizeof piece), whole.substr(3, sizeof piece));

    EXPECT_NE(trackContent(kTrack.pattern + 1, 0, 1000), whole.substr(0, 1000));
    EXPECT_EQ(patternFromId("a1"), patternFromId("a1"));
    EXPECT_NE(patternFromId("a1"), patternFromId("a2"));
}

TEST_F(StoreSim, SendsTheWholeTrackWithoutAResumeHeader)
{
    const auto res = get(kTrackTarget);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, whole);
    EXPECT_EQ(res->get_header_value_count("Content-Length"), 1u);
    EXPECT_EQ(res->get_header_value("Content-Length"), std::to_string(kSize));
    EXPECT_FALSE(res->has_header("Content-Range"));

    const auto unknown = get("/tracks/nope.mp3?dl=nope&guid=G");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
}

TEST_F(StoreSim, ResumesFromTheOffsetInEitherHeaderForm)
{
    for (const auto& header : {httplib::Headers {{"RANGE", "123457-"}},
                               httplib::Headers {{"Range", "bytes=123457-"}}}) {
        const auto res = get(kTrackTarget, header);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        EXPECT_EQ(res->body, whole.substr(123'457));
        EXPECT_EQ(res->get_header_value("Content-Length"), std::to_string(kSize - 123'457));
        EXPECT_EQ(res->get_header_value("Content-Range"), "bytes 123457-199999/200000");
    }

    sim.setResumeMode(ResumeMode::PartialContent);
    const auto partial = get(kTrackTarget, {{"RANGE", "5-"}});
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->status, 206);
    EXPECT_EQ(partial->body, whole.substr(5));
    EXPECT_EQ(partial->get_header_value("Content-Range"), "bytes 5-199999/200000");

    const auto beyond = get(kTrackTarget, {{"RANGE", std::to_string(kSize) + "-"}});
    ASSERT_TRUE(beyond);
    EXPECT_EQ(beyond->status, 416);
}

TEST_F(StoreSim, IgnoringTheResumeHeaderSendsTheWholeTrack)
{
    sim.setResumeMode(ResumeMode::Ignore);
    const auto res = get(kTrackTarget, {{"RANGE", "123457-"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, whole);
    EXPECT_FALSE(res->has_header("Content-Range"));
}

TEST_F(StoreSim, TrackInfoGivesTheTitleAndAnAddressThatServesTheTrack)
{
    const auto res = get("/downloader/downloader_dlm.html?from=list&track=a1&guid=G");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->body.find("<title>First & Last</title>"), std::string::npos) << res->body;
    const std::string url = sim.trackUrl("a1");
    EXPECT_NE(res->body.find("<url>" + url + "</url>"), std::string::npos) << res->body;

    // The client appends "&guid=..." to the address, so it must carry a query.
    const std::string prefix = "http://" + sim.hostPort();
    ASSERT_EQ(url.rfind(prefix, 0), 0u);
    ASSERT_NE(url.find('?'), std::string::npos);
    const auto track = get(url.substr(prefix.size()) + "&guid=G");
    ASSERT_TRUE(track);
    EXPECT_EQ(track->body, whole);

    const auto unknown = get("/downloader/downloader_dlm.html?track=zz&guid=G");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);

    sim.setTrackInfoAnswer(500, "<title>x</title>");
    const auto overridden = get("/downloader/downloader_dlm.html?track=a1&guid=G");
    ASSERT_TRUE(overridden);
    EXPECT_EQ(overridden->status, 500);
    EXPECT_EQ(overridden->body, "<title>x</title>");
}

TEST_F(StoreSim, DropCutsTheBodyAfterTheGivenBytesForTheGivenAnswers)
{
    sim.setDropAfter(70'000, 1);
    // Kept alive on purpose: the cut must close the connection, not just go quiet.
    const RawAnswer cut = exchangeRaw(sim.port(), "GET " + kTrackTarget + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(cut.closed);
    const auto headEnd = cut.bytes.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    EXPECT_NE(cut.bytes.find("Content-Length: 200000\r\n"), std::string::npos);
    EXPECT_EQ(cut.bytes.substr(headEnd + 4), whole.substr(0, 70'000));

    const Received next = receive(kTrackTarget);
    EXPECT_EQ(next.error, httplib::Error::Success);
    EXPECT_EQ(next.body, whole);
}

TEST_F(StoreSim, StalledAnswerGoesOnWhenReleased)
{
    sim.setStallAfter(70'000);
    Received received;
    std::thread client([&] { received = receive(kTrackTarget); });
    const bool stalled = sim.waitForStalls(1);
    sim.releaseStalls();
    client.join();
    ASSERT_TRUE(stalled);
    EXPECT_EQ(received.error, httplib::Error::Success);
    EXPECT_EQ(received.body, whole);
}

TEST_F(StoreSim, StopEndsAnAnswerStalledAfterItsHeaders)
{
    sim.setStallAfter(0);
    RawAnswer answer;
    std::thread client([&] {
        answer = exchangeRaw(sim.port(), "GET " + kTrackTarget + " HTTP/1.1\r\nHost: x\r\n\r\n");
    });
    const bool stalled = sim.waitForStalls(1);
    sim.stop();
    client.join();
    ASSERT_TRUE(stalled);
    EXPECT_TRUE(answer.closed);
    EXPECT_EQ(answer.bytes.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer.bytes;
    EXPECT_TRUE(answer.bytes.ends_with("\r\n\r\n")) << "the whole head and nothing of the body";
}

TEST_F(StoreSim, RecordsEveryRequestAsSent)
{
    // One kept-alive connection: the second request's head must be read afresh.
    httplib::Client client("127.0.0.1", sim.port());
    client.set_keep_alive(true);
    ASSERT_TRUE(client.Get("/downloader/downloader_dlm.html?track=a1&guid=G",
                           {{"User-Agent", "Track Info Session"}}));
    const auto resumed = client.Get(kTrackTarget, {{"User-Agent", "Download Session"}, {"RANGE", "5-"}});
    ASSERT_TRUE(resumed);
    EXPECT_EQ(resumed->get_header_value("Content-Range"), "bytes 5-199999/200000");

    ASSERT_TRUE(sim.waitForRequests("/tracks/", 1));
    ASSERT_TRUE(sim.waitForRequests("/", 2));
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/downloader/downloader_dlm.html");
    EXPECT_EQ(requests[0].query, "track=a1&guid=G");
    EXPECT_EQ(requests[0].header("user-agent"), "Track Info Session");
    EXPECT_FALSE(requests[0].header("range"));

    const auto& track = requests[1];
    EXPECT_EQ(track.method, "GET");
    EXPECT_EQ(track.path, "/tracks/a1.mp3");
    EXPECT_EQ(track.query, "dl=a1&guid=G");
    EXPECT_EQ(track.header("Range"), "5-");
    EXPECT_EQ(std::count_if(track.headers.begin(), track.headers.end(),
                            [](const auto& h) { return h.first == "RANGE"; }),
              1);
    EXPECT_FALSE(track.header("REMOTE_ADDR")) << "only what the client sent";

    sim.clearRequests();
    EXPECT_TRUE(sim.requests().empty());
    EXPECT_FALSE(sim.waitForRequests("/tracks/", 1, 1ms));
}

TEST_F(StoreSim, RefusesConnectionsWhileDownAndComesBackOnTheSamePort)
{
    const int port = sim.port();
    sim.goDown();
    EXPECT_FALSE(sim.running());
    const auto refused = get(kTrackTarget);
    EXPECT_EQ(refused.error(), httplib::Error::Connection);

    ASSERT_TRUE(sim.comeUp());
    EXPECT_EQ(sim.port(), port);
    const auto res = get(kTrackTarget);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, whole);
    EXPECT_EQ(sim.requests().size(), 1u);
}

TEST_F(StoreSim, ServesVersionsRadioAndHomePage)
{
    // Answers go out as they are, even to a client that would take them compressed.
    const auto list = get("/downloader/app_versions/QVR_DLM/index.html", {{"Accept-Encoding", "gzip"}});
    ASSERT_TRUE(list);
    EXPECT_EQ(list->body, "2.1.0.0");
    EXPECT_FALSE(list->has_header("Content-Encoding"));

    sim.setVersionText("2.2.0.0");
    sim.setVersionFile("quavero", std::string("\x7f" "ELF\0\1", 6));
    EXPECT_EQ(get("/downloader/app_versions/QVR_DLM/index.html")->body, "2.2.0.0");
    EXPECT_EQ(get("/downloader/app_versions/QVR_DLM/quavero")->body, std::string("\x7f" "ELF\0\1", 6));
    EXPECT_EQ(get("/downloader/app_versions/QVR_DLM/other")->status, 404);

    EXPECT_EQ(get("/radio_2/radio_dlm2.html")->status, 200);
    sim.setRadioStatus(503);
    EXPECT_EQ(get("/radio_2/radio_dlm2.html")->status, 503);
    EXPECT_EQ(get("/")->status, 200);
    EXPECT_EQ(get("/elsewhere")->status, 404);
}

TEST(StoreSimProgram, ServesItsTracksAndStopsCleanlyOnSigterm)
{
    test::TempDir dir;
    test::ChildProcess program({QVR_STORE_SIM_PROGRAM, "--port", "0", "--track", "x-1:Title: with colon:1K",
                                "--requests-dir", dir.file("requests")});
    ASSERT_TRUE(program.started());
    const std::string line = program.readLine();
    const std::string prefix = "listening 127.0.0.1:";
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    EXPECT_EQ(test::readFile(dir.file("requests/x-1.qvr")), "track=x-1\r\n");

    httplib::Client client("127.0.0.1", std::stoi(line.substr(prefix.size())));
    const auto info = client.Get("/downloader/downloader_dlm.html?track=x-1&guid=G");
    ASSERT_TRUE(info);
    EXPECT_NE(info->body.find("<title>Title: with colon</title>"), std::string::npos) << info->body;
    const auto track = client.Get("/tracks/x-1.mp3?dl=x-1&guid=G");
    ASSERT_TRUE(track);
    EXPECT_EQ(track->body, trackContent(patternFromId("x-1"), 0, 1024));

    program.kill(SIGTERM);
    EXPECT_EQ(program.wait(), 0);

    EXPECT_EQ(test::runProcess({QVR_STORE_SIM_PROGRAM, "--track", "no-size"}), 2);
}

} // namespace
} // namespace qvr::sim
