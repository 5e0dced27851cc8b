#include "tools/store-sim/store_sim.h"

#include "tests/support/common.h"

#include <httplib.h>

#include <ranges>

namespace qvr::sim {
namespace {

// Larger than the server's chunks, so that bodies cross chunk borders.
constexpr std::uint64_t kSize = 200'000;
const Track kTrack {"a1", "First & Last", kSize, 7};
const std::string kTrackTarget = "/tracks/a1.mp3?dl=a1&guid=G";

// What a test of the program could not tell from a fault of the program: the resume answers and
// the records. What else it serves, and its faults, every test that uses them checks.
TEST(StoreSim, AnswersResumeRequestsAsItsResumeModeSaysAndRecordsThemAsSent)
{
    StoreSimulator sim;
    sim.addTrack(kTrack);
    ASSERT_TRUE(sim.start());
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
        EXPECT_EQ(res->body, trackContent(kTrack).substr(from));
    }
    const auto beyond = client.Get(kTrackTarget, {{"RANGE", std::to_string(kSize) + "-"}});
    EXPECT_EQ(beyond ? beyond->status : 0, 416);

    ASSERT_TRUE(client.Get("/downloader/downloader_dlm.html?track=a1&guid=G"));
    ASSERT_TRUE(sim.waitForRequests("/", 6));
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(std::pair(requests[2].header("RANGE"), requests[3].header("range")),
              std::pair(std::optional<std::string>("bytes=123457-"), std::optional<std::string>("5-")));
    EXPECT_EQ(std::ranges::count(requests[3].headers | std::views::keys, "RANGE"), 1) << "the name as sent, once";
    EXPECT_EQ(requests[5].path + "?" + requests[5].query, "/downloader/downloader_dlm.html?track=a1&guid=G");
    EXPECT_FALSE(requests[5].header("Range")) << "read afresh";
    EXPECT_FALSE(requests[5].header("REMOTE_ADDR")) << "only what the client sent";
}

} // namespace
} // namespace qvr::sim
