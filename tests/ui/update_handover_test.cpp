// The update's road through a start, without a window: version 2.1.0.1 installed
// over the previous program and started, as a stand-in that runs until it is ended.
#include "ui/update_handover.h"

#include "tests/support/common.h"

#include <QTest>

#include <sys/wait.h>

#include <csignal>

namespace qvr::test {
namespace {

class UpdateHandoverTest : public ::testing::Test, public UpdatePrompts {
protected:
    UpdateHandoverTest() { ::setenv("QVR_TEST_START", "hang", 1); }
    ~UpdateHandoverTest() override { ::unsetenv("QVR_TEST_START"); }

    bool askToInstall(const std::string&) override { return true; }
    void announceInstalled(const std::string&, const std::string&) override {}

    // What the window is told after an install whose new version started, unless
    // `starts` is false.
    UpdateHandover::Next installed(std::chrono::milliseconds limit, bool starts = true)
    {
        writeFile(m_dir.file("quavero"), "new");
        writeFile(m_dir.file("OldExecutable.bak"), "previous");
        SelfUpdateEnvironment update;
        update.updater.executable = m_dir.file("quavero");
        update.updater.refusedNote = m_dir.file("refused-version");
        update.launch = [this, starts](const std::string&, const std::vector<std::string>& args) {
            auto started = starts ? startWatched(QVR_VERSION_PROBE, args) : std::nullopt;
            m_newVersion = started ? started->pid() : 0;
            return started;
        };
        m_handover.emplace(m_config, m_publication, update, limit);
        QObject::connect(&*m_handover, &UpdateHandover::cameBack, [this] { ++m_cameBack; });
        m_handover->laterCheckEnded({.installed = true, .executable = m_dir.file("quavero"), .version = "2.1.0.1"});
        EXPECT_FALSE(m_handover->showAllowed());
        return m_handover->startInstalled(*this);
    }

    TempDir m_dir;
    Configuration m_config;
    WindowPublication m_publication {m_config};
    std::optional<UpdateHandover> m_handover;
    pid_t m_newVersion = 0;
    int m_cameBack = 0;
};

TEST_F(UpdateHandoverTest, ANewVersionThatSaysItRunsBeforeTheLimitTakesOverOnce)
{
    ASSERT_EQ(installed(std::chrono::minutes(1)), UpdateHandover::Next::StayHidden);
    EXPECT_TRUE(m_handover->onTakenOver());
    EXPECT_FALSE(m_handover->onTakenOver());
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
    ASSERT_EQ(installed(std::chrono::minutes(1)), UpdateHandover::Next::StayHidden);
    ::kill(m_newVersion, SIGKILL);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_cameBack == 1; }));
    EXPECT_TRUE(m_handover->showAllowed());
    EXPECT_EQ(readFile(m_dir.file("quavero")), "previous");
    EXPECT_EQ(readFile(m_dir.file("refused-version")), "2.1.0.1\n");
}

TEST_F(UpdateHandoverTest, AVersionGivenUpAtTheLimitCanNeitherTakeOverNorQuitTheWindow)
{
    ASSERT_EQ(installed(std::chrono::milliseconds(1)), UpdateHandover::Next::StayHidden);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_cameBack == 1; }));
    EXPECT_FALSE(m_handover->onTakenOver());
    EXPECT_TRUE(m_handover->refusesQuitFrom(m_newVersion));
    EXPECT_FALSE(m_handover->refusesQuitFrom(0)) << "a quit from anyone else";
}

TEST_F(UpdateHandoverTest, ANewVersionThatCouldNotStartIsUndoneAtOnce)
{
    EXPECT_EQ(installed(std::chrono::minutes(1), false), UpdateHandover::Next::RunUndone);
    EXPECT_EQ(m_handover->state(), UpdateHandover::State::CameBack);
    EXPECT_EQ(readFile(m_dir.file("quavero")), "previous");
    EXPECT_EQ(m_cameBack, 0);
}

} // namespace
} // namespace qvr::test
