#include "tools/store-sim/store_sim.h"

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <ranges>
#include <string>
#include <thread>
#include <tuple>

namespace qvr::sim {
namespace {

// Larger than the server's chunks, so that bodies cross chunk borders.
constexpr std::uint64_t kSize = 200'000;
const Track kTrack {"a1", "First & Last", kSize, 7};
const std::string kTrackTarget = "/tracks/a1.mp3?dl=a1&guid=G";

// What a test of the program could not tell from a fault of the program: the
// simulator's resume answers, its pace and what it records. What else it serves and
// the faults it makes, every test that uses them checks.
class StoreSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.addTrack(kTrack);
        ASSERT_TRUE(sim.start());
    }

    StoreSimulator sim;
    const std::string whole = trackContent(kTrack);
};

TEST_F(StoreSim, AnswersResumeRequestsAsItsResumeModeSaysAndRecordsThemAsSent)
{
    const std::string rest = "bytes 123457-199999/200000";
    const std::tuple<ResumeMode, httplib::Headers, int, std::uint64_t, std::string> cases[] = {
        {ResumeMode::Ignore, {{"RANGE", "123457-"}}, 200, 0, ""},
        {ResumeMode::Honour, {{"RANGE", "123457-"}}, 200, 123'457, rest},
        {ResumeMode::Honour, {{"Range", "bytes=123457-"}}, 200, 123'457, rest},
        {ResumeMode::PartialContent, {{"RANGE", "5-"}}, 206, 5, "bytes 5-199999/200000"},
    };
    // One kept-alive connection: each request's head must be read afresh.
    httplib::Client client("127.0.0.1", sim.port());
    client.set_keep_alive(true);
    for (const auto& [mode, headers, status, from, range] : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(mode) << testing::PrintToString(headers));
        sim.setResumeMode(mode);
        const auto res = client.Get(kTrackTarget, headers);
        ASSERT_TRUE(res);
        EXPECT_EQ(std::tuple(res->status, res->get_header_value_count("Content-Length"),
                             res->get_header_value("Content-Length"), res->get_header_value("Content-Range")),
                  std::tuple(status, 1u, std::to_string(kSize - from), range));
        EXPECT_EQ(res->body, whole.substr(from));
    }
    const auto beyond = client.Get(kTrackTarget, {{"RANGE", std::to_string(kSize) + "-"}});
    EXPECT_EQ(beyond ? beyond->status : 0, 416);

    ASSERT_TRUE(client.Get("/downloader/downloader_dlm.html?track=a1&guid=G"));
    ASSERT_TRUE(sim.waitForRequests("/", 6));
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[0].path + "?" + requests[0].query, kTrackTarget);
    EXPECT_EQ(std::pair(requests[2].header("RANGE"), requests[3].header("range")),
              std::pair(std::optional<std::string>("bytes=123457-"), std::optional<std::string>("5-")));
    EXPECT_EQ(std::ranges::count(requests[3].headers | std::views::keys, "RANGE"), 1) << "the name as sent, once";
    EXPECT_EQ(requests[5].path + "?" + requests[5].query, "/downloader/downloader_dlm.html?track=a1&guid=G");
    EXPECT_FALSE(requests[5].header("Range"));
    EXPECT_FALSE(requests[5].header("REMOTE_ADDR")) << "only what the client sent";
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
    EXPECT_TRUE(!received.empty() && received.size() < kSize && received == whole.substr(0, received.size()));

    ASSERT_TRUE(sim.start());
    sim.setLatency(std::chrono::hours(1));
    int held = -1;
    std::thread waiting([&] {
        const auto res = httplib::Client("127.0.0.1", sim.port()).Get("/");
        held = res ? res->status : 0;
    });
    EXPECT_TRUE(sim.waitForRequests("/", 2)) << "the paced one and this";
    sim.stop();
    waiting.join();
    EXPECT_NE(held, 200) << "answered before the latency was over";
}

// What its rate and latency options do, the crash test's runs of it show.
TEST(StoreSimProgram, ServesItsTracksAndUpdateFilesWritesRequestFilesAndStopsCleanlyOnSigterm)
{
    test::TempDir dir;
    test::writeFile(dir.file("program"), "new build");
    test::writeFile(dir.file("program.sig"), "its signature");
    test::ChildProcess program({QVR_STORE_SIM_PROGRAM, "--port", "0", "--track", "x-1:Title: with colon:1K", "--requests-dir",
                                dir.file("requests"), "--version-file", "quavero=" + dir.file("program")});
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
    EXPECT_EQ(body("/downloader/app_versions/QVR_DLM/quavero") + body("/downloader/app_versions/QVR_DLM/quavero.sig"),
              "new buildits signature");
    program.kill(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
}

} // namespace
} // namespace qvr::sim
