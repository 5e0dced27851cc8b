#include "tools/store-sim/store_sim.h"

#include "platform/unique_fd.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ranges>
#include <string>
#include <thread>
#include <tuple>

namespace qvr::sim {
namespace {

// Larger than the server's chunks, so that bodies and faults cross chunk borders.
constexpr std::uint64_t kSize = 200'000;
const Track kTrack {"a1", "First & Last", kSize, 7};
const std::string kTrackTarget = "/tracks/a1.mp3?dl=a1&guid=G";
const std::string kUpdate = "/downloader/app_versions/QVR_DLM/";

// What a test of the program could not tell from a fault of the program: the
// simulator's resume answers, the faults it makes and what it records. What else it
// serves, every test that uses it checks.
class StoreSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.addTrack(kTrack);
        ASSERT_TRUE(sim.start());
    }
    httplib::Result get(const std::string& target, const httplib::Headers& headers = {}) const
    {
        return httplib::Client("127.0.0.1", sim.port()).Get(target, headers);
    }
    // Status and body; status 0 when no answer came.
    std::pair<int, std::string> fetch(const std::string& target) const
    {
        const auto res = get(target);
        return res ? std::pair(res->status, res->body) : std::pair(0, std::string());
    }

    StoreSimulator sim;
    const std::string whole = trackContent(kTrack);
};

TEST_F(StoreSim, AnswersResumeRequestsAsItsResumeModeSays)
{
    const std::string rest = "bytes 123457-199999/200000";
    const std::tuple<ResumeMode, httplib::Headers, int, std::uint64_t, std::string> cases[] = {
        {ResumeMode::Ignore, {{"RANGE", "123457-"}}, 200, 0, ""},
        {ResumeMode::Honour, {{"RANGE", "123457-"}}, 200, 123'457, rest},
        {ResumeMode::Honour, {{"Range", "bytes=123457-"}}, 200, 123'457, rest},
        {ResumeMode::PartialContent, {{"RANGE", "5-"}}, 206, 5, "bytes 5-199999/200000"},
    };
    for (const auto& [mode, headers, status, from, range] : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(mode) << testing::PrintToString(headers));
        sim.setResumeMode(mode);
        const auto res = get(kTrackTarget, headers);
        ASSERT_TRUE(res);
        EXPECT_EQ(std::tuple(res->status, res->get_header_value_count("Content-Length"),
                             res->get_header_value("Content-Length"), res->get_header_value("Content-Range")),
                  std::tuple(status, 1u, std::to_string(kSize - from), range));
        EXPECT_EQ(res->body, whole.substr(from));
    }
    const auto beyond = get(kTrackTarget, {{"RANGE", std::to_string(kSize) + "-"}});
    EXPECT_EQ(beyond ? beyond->status : 0, 416);
}

TEST_F(StoreSim, ADropClosesTheConnectionAndAStallHoldsTheRestUntilReleased)
{
    // On a connection kept open: the cut must close it, not just go quiet.
    sim.setDropAfter(70'000, 1);
    const std::string request = "GET " + kTrackTarget + " HTTP/1.1\r\nHost: x\r\n\r\n";
    const UniqueFd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address {AF_INET, htons(static_cast<std::uint16_t>(sim.port())), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::connect(sock.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::send(sock.get(), request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    std::string bytes;
    char buffer[65536];
    ssize_t n = 1;
    for (pollfd readable {sock.get(), POLLIN, 0}; ::poll(&readable, 1, 30'000) == 1
         && (n = ::recv(sock.get(), buffer, sizeof buffer, 0)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(n));
    EXPECT_LE(n, 0) << "closed";
    const auto headEnd = bytes.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    EXPECT_NE(bytes.find("Content-Length: 200000\r\n"), std::string::npos);
    EXPECT_EQ(bytes.substr(headEnd + 4), whole.substr(0, 70'000));

    sim.setStallAfter(70'000);
    std::string received;
    std::thread client([&] { received = fetch(kTrackTarget).second; });
    EXPECT_TRUE(sim.waitForStalls(1));
    sim.releaseStalls();
    client.join();
    EXPECT_EQ(received, whole) << "whole again after the one drop";
}

// Paced by the rate or held back by the latency, an answer is still under way when
// the test acts: a stop then ends it, with at most a true beginning of the track.
TEST_F(StoreSim, RateAndLatencyHoldAnswersBackUntilAStopEndsThem)
{
    sim.setRate(2'000); // the whole track would take 100 s; a stop comes at its first bytes
    std::string received;
    std::atomic<bool> begun = false;
    std::thread paced([&] {
        httplib::Client("127.0.0.1", sim.port()).Get(kTrackTarget, [&](const char* data, std::size_t n) {
            received.append(data, n);
            begun = true;
            begun.notify_one();
            return true;
        });
        begun = true;
        begun.notify_one();
    });
    begun.wait(false);
    sim.stop();
    paced.join();
    EXPECT_FALSE(received.empty());
    EXPECT_LT(received.size(), kSize);
    EXPECT_EQ(received, whole.substr(0, received.size()));

    // Held back by the latency: a whole answer of a store without one comes meanwhile.
    ASSERT_TRUE(sim.start());
    sim.setLatency(std::chrono::hours(1));
    int held = -1;
    std::thread waiting([&] { held = fetch("/").first; });
    EXPECT_TRUE(sim.waitForRequests("/", 2));
    StoreSimulator other;
    other.addTrack(kTrack);
    EXPECT_TRUE(other.start());
    const auto meanwhile = httplib::Client("127.0.0.1", other.port()).Get(kTrackTarget);
    EXPECT_TRUE(meanwhile && meanwhile->body == whole);
    sim.stop();
    waiting.join();
    EXPECT_NE(held, 200) << "answered before the latency was over";
}

// Going down and coming back on the same port, the window's network-error tests show.
TEST_F(StoreSim, RecordsEveryRequestAsSent)
{
    // One kept-alive connection: the second request's head must be read afresh.
    httplib::Client client("127.0.0.1", sim.port());
    client.set_keep_alive(true);
    ASSERT_TRUE(client.Get("/downloader/downloader_dlm.html?track=a1&guid=G"));
    ASSERT_TRUE(client.Get(kTrackTarget, {{"RANGE", "5-"}}));
    ASSERT_TRUE(sim.waitForRequests("/", 2));
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path + "?" + requests[0].query, "/downloader/downloader_dlm.html?track=a1&guid=G");
    EXPECT_FALSE(requests[0].header("range"));
    const auto& track = requests[1];
    EXPECT_EQ(track.path + "?" + track.query, kTrackTarget);
    EXPECT_EQ(track.header("Range"), "5-");
    EXPECT_EQ(std::ranges::count(track.headers | std::views::keys, "RANGE"), 1) << "the name as sent, once";
    EXPECT_FALSE(track.header("REMOTE_ADDR")) << "only what the client sent";
}

TEST(StoreSimProgram, ServesItsTracksWritesRequestFilesAndStopsCleanlyOnSigterm)
{
    test::TempDir dir;
    test::writeFile(dir.file("program"), "new build");
    test::writeFile(dir.file("program.sig"), "its signature");
    test::ChildProcess program({QVR_STORE_SIM_PROGRAM, "--port", "0", "--track", "x-1:Title: with colon:1K",
                                "--requests-dir", dir.file("requests"), "--version-text", "2.3.0.0",
                                "--version-file", "quavero=" + dir.file("program"), "--rate", "64K", "--latency", "5"});
    const std::string line = program.readLine();
    const std::string prefix = "listening 127.0.0.1:";
    ASSERT_TRUE(line.starts_with(prefix)) << line;
    EXPECT_EQ(test::readFile(dir.file("requests/x-1.qvr")), "track=x-1\r\n");
    httplib::Client client("127.0.0.1", std::stoi(line.substr(prefix.size())));
    const auto body = [&](const std::string& target) {
        const auto res = client.Get(target);
        return res ? res->body : "(no answer)";
    };
    EXPECT_NE(body("/downloader/downloader_dlm.html?track=x-1&guid=G").find("<title>Title: with colon</title>"),
              std::string::npos);
    EXPECT_EQ(body("/tracks/x-1.mp3?dl=x-1&guid=G"), trackContent(patternFromId("x-1"), 0, 1024));
    EXPECT_EQ(body(kUpdate + "index.html"), "2.3.0.0");
    EXPECT_EQ(body(kUpdate + "quavero"), "new build");
    EXPECT_EQ(body(kUpdate + "quavero.sig"), "its signature");
    program.kill(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>> {{"--track", "no-size"},
             {"--rate", "no-size"}, {"--latency", "no-size"}, {"--version-file", "quavero=" + dir.file("missing")}}) {
        SCOPED_TRACE(bad[0]);
        EXPECT_EQ(test::runProcess({QVR_STORE_SIM_PROGRAM, bad[0], bad[1]}), 2);
    }
}

} // namespace
} // namespace qvr::sim
