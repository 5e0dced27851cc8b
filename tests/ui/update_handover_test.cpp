// The update's road through a start, without a window: version 2.1.0.1 installed
// over the previous program and started, as a stand-in that runs until it is ended.
#include "ui/update_handover.h"

#include "tests/support/common.h"

#include <QTest>

#include <sys/wait.h>

#include <csignal>

namespace qvr::test {
namespace {

class UpdateHandoverTest : public ::testing::Test, public HandoverWindow {
protected:
    UpdateHandoverTest() { ::setenv("QVR_TEST_START", "hang", 1); }
    ~UpdateHandoverTest() override { ::unsetenv("QVR_TEST_START"); }

    void PostTakenOver() override { ++m_postedTakenOver; }
    void PublishAgain() override { ++m_publishedAgain; }
    void TellUndone() override { ++m_toldUndone; }
    void ComeBack() override { ++m_cameBack; }

    // Whether the window waits hidden after an install whose new version started,
    // unless `starts` is false.
    bool installed(std::chrono::milliseconds limit, bool starts = true)
    {
        writeFile(m_dir.file("quavero"), "new");
        writeFile(m_dir.file("OldExecutable.bak"), "previous");
        SelfUpdateEnvironment update;
        update.updater.executable = m_dir.file("quavero");
        update.updater.refusedNote = m_dir.file("refused-version");
        m_handover.emplace(*this, m_config, update, limit);
        using KeepHidden = std::function<void()>;
        EXPECT_TRUE(m_handover->runUpdateStep([&](const SelfUpdateEnvironment&, const KeepHidden& keepHidden) {
            keepHidden();
            SelfUpdateOutcome outcome {.installed = true, .executable = m_dir.file("quavero"), .version = "2.1.0.1"};
            if (starts)
                outcome.newVersion = startWatched(QVR_VERSION_PROBE, {"/switch"});
            m_newVersion = outcome.newVersion ? outcome.newVersion->pid() : 0;
            return outcome;
        }));
        EXPECT_FALSE(m_handover->showAllowed());
        return m_handover->keepHiddenUntilTakenOver();
    }

    TempDir m_dir;
    Configuration m_config;
    std::optional<UpdateHandover> m_handover;
    pid_t m_newVersion = 0;
    int m_postedTakenOver = 0, m_publishedAgain = 0, m_toldUndone = 0, m_cameBack = 0;
};

TEST_F(UpdateHandoverTest, ANewVersionThatSaysItRunsBeforeTheLimitTakesOverOnce)
{
    ASSERT_TRUE(installed(std::chrono::minutes(1)));
    EXPECT_TRUE(m_handover->onTakenOver());
    EXPECT_FALSE(m_handover->onTakenOver());
    EXPECT_EQ(m_postedTakenOver, 1);
    // Its end after it took over brings nothing back.
    ::kill(m_newVersion, SIGKILL);
    ::waitpid(m_newVersion, nullptr, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_cameBack, 0);
    EXPECT_EQ(m_handover->state(), UpdateHandover::State::TakenOver);
    EXPECT_FALSE(m_handover->showAllowed());
}

TEST_F(UpdateHandoverTest, ANewVersionThatEndsFirstIsRolledBack)
{
    ASSERT_TRUE(installed(std::chrono::minutes(1)));
    ::kill(m_newVersion, SIGKILL);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_cameBack == 1; }));
    EXPECT_TRUE(m_handover->showAllowed());
    EXPECT_EQ(readFile(m_dir.file("quavero")), "previous");
    EXPECT_EQ(readFile(m_dir.file("refused-version")), "2.1.0.1\n");
    EXPECT_EQ(m_toldUndone, 1);
    EXPECT_EQ(m_publishedAgain, 1);
}

TEST_F(UpdateHandoverTest, AVersionGivenUpAtTheLimitCanNeitherTakeOverNorQuitTheWindow)
{
    ASSERT_TRUE(installed(std::chrono::milliseconds(1)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_cameBack == 1; }));
    EXPECT_FALSE(m_handover->onTakenOver());
    EXPECT_EQ(m_postedTakenOver, 0);
    EXPECT_TRUE(m_handover->refusesQuitFrom(m_newVersion));
    EXPECT_FALSE(m_handover->refusesQuitFrom(0)) << "a quit from anyone else";
}

TEST_F(UpdateHandoverTest, ANewVersionThatCouldNotStartIsUndoneAtOnce)
{
    EXPECT_FALSE(installed(std::chrono::minutes(1), false));
    EXPECT_EQ(m_handover->state(), UpdateHandover::State::CameBack);
    EXPECT_EQ(readFile(m_dir.file("quavero")), "previous");
    EXPECT_EQ(m_toldUndone, 1);
    EXPECT_EQ(m_cameBack, 0);
}

} // namespace
} // namespace qvr::test
