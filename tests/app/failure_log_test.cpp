// The failure log as a user who asks for it reads it, and as every other user does
// not see it.
#include "tests/support/program_fixture.h"

#include "platform/failure_log.h"

#include <sstream>

namespace qvr::test {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kInstallationId = "0123456789ABCDEF0123456789ABCDEF";

// The program against a store that fails both of its requests: the track info of
// the request it is started with answers 503, and the track waiting in its queue 404.
class FailureLog : public ProgramFolder {
protected:
    FailureLog() : ProgramFolder(kInstallationId)
    {
        writeFile(m_dir.file("queues/download.txt"), "Lost Song|" + m_store.trackUrl("lost") + "\r\n");
        m_store.setTrackInfoAnswer(503, "");
        m_store.setTrackFileStatus(404);
    }

    // Starts the program with `log` added to its environment; its stderr goes to a file.
    std::unique_ptr<ChildProcess> start(const std::string& log)
    {
        std::vector<std::string> env = environment();
        env.push_back(log);
        writeFile(stderrPath(), "");
        return std::make_unique<ChildProcess>(
            std::vector<std::string> {"/bin/sh", "-c", "exec \"$0\" \"$1\" 2>\"$2\"", QVR_EXECUTABLE,
                                      request("a.qvr", "track=t\r\n"), stderrPath()},
            env);
    }
    std::string stderrPath() const { return m_dir.file("stderr.txt"); }
    // The first line that holds `part`; empty when none does yet.
    std::string lineWith(const std::string& part) const
    {
        std::istringstream lines(readFile(stderrPath()));
        for (std::string line; std::getline(lines, line);)
            if (line.find(part) != std::string::npos)
                return line;
        return {};
    }
};

TEST_F(FailureLog, ALineTellsOfEachFailedRequest)
{
    const auto program = start("QVR_LOG=1");
    std::string trackInfo, track;
    EXPECT_TRUE(waitForFiles(m_dir.path(), [&] {
        trackInfo = lineWith("track info http://" + m_store.hostPort() + "/downloader/downloader_dlm.html?track=t&guid=0123...");
        track = lineWith("track \"Lost Song\" at " + m_store.trackUrl("lost"));
        return !trackInfo.empty() && !track.empty();
    })) << readFile(stderrPath());
    EXPECT_TRUE(trackInfo.starts_with("quavero: ")) << trackInfo;
    EXPECT_NE(trackInfo.find(": HTTP 503; asking again in "), std::string::npos) << trackInfo;
    EXPECT_NE(track.find(": HTTP 404; trying it again after a pause of its own"), std::string::npos) << track;
    EXPECT_EQ(readFile(stderrPath()).find("456789ABCDEF"), std::string::npos) << "the id's last 28 characters";
}

// How often a repeated failure is written is the next test's.
TEST_F(FailureLog, BeginsWithTheVersionsOfWhatItRunsOn)
{
    const auto program = start("QVR_LOG=1");
    ASSERT_TRUE(m_store.waitForRequests("/downloader/downloader_dlm.html", 1));
    program->kill(SIGKILL);
    program->wait();
    std::istringstream lines(readFile(stderrPath()));
    std::string first;
    ASSERT_TRUE(std::getline(lines, first));
    EXPECT_THAT(first, AllOf(HasSubstr("Quavero Music Manager " QVR_FILE_VERSION ", "), HasSubstr(", built with Qt 6."),
                             HasSubstr(", libcurl ")));
}

// The rule of the repeats, on a clock of the test's.
class RepeatedFailure : public ::testing::Test {
protected:
    std::chrono::steady_clock::time_point m_now {};
    FailureLines m_lines {[this] { return m_now; }};
};

TEST_F(RepeatedFailure, IsWrittenOnceAMinuteWithACountOfTheRepeats)
{
    std::vector<std::string> written;
    for (int second = 0; second < 150; ++second, m_now += std::chrono::seconds(1))
        std::ranges::move(m_lines.failed("track", "no folder", "trying again in 1.0 s"), std::back_inserter(written));
    std::ranges::move(m_lines.succeeded("track"), std::back_inserter(written));
    EXPECT_THAT(written, ElementsAre("track: no folder; trying again in 1.0 s",
                                     "track: no folder; trying again in 1.0 s (60 more times since the line before)",
                                     "track: no folder; trying again in 1.0 s (60 more times since the line before)",
                                     "track: no folder; over, it works again (29 more times since the line before)"));
}

struct LogSetting { const char* name; const char* variable; };
class FailureLogOff : public FailureLog, public testing::WithParamInterface<LogSetting> {};

// Each request failed and was asked again: each failure has passed.
TEST_P(FailureLogOff, IsSilent)
{
    const auto program = start(GetParam().variable);
    EXPECT_TRUE(m_store.waitForRequests("/downloader/downloader_dlm.html", 2));
    EXPECT_TRUE(m_store.waitForRequests("/tracks/", 2));
    program->kill(SIGKILL);
    program->wait();
    EXPECT_EQ(readFile(stderrPath()), "");
}

INSTANTIATE_TEST_SUITE_P(FailureLog, FailureLogOff, testing::Values(
    LogSetting {.name = "Empty", .variable = "QVR_LOG="}, LogSetting {.name = "Zero", .variable = "QVR_LOG=0"},
    LogSetting {.name = "Yes", .variable = "QVR_LOG=yes"}), kByName);

} // namespace
} // namespace qvr::test
