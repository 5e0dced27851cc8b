// A new version on trial, without a window: what its end, and its proof, leave beside the executable.
#include "platform/update_trial.h"

#include "tests/support/common.h"

#include <csignal>
#include <cstdlib>

namespace qvr {
namespace {

using test::readFile;
using test::writeFile;
namespace fs = std::filesystem;

// How a start of the version on trial ends: as the user asked (the window closed, or
// SIGTERM at a logout), or not.
enum class End { AsAsked, Terminated, ExitStatus1, Killed };

// Version 2.1.0.1 at the executable's name, on trial, and the previous one as its backup.
class UpdateTrialTest : public ::testing::Test {
protected:
    void install()
    {
        writeFile(exe(), "new");
        writeFile(m_dir.file("OldExecutable.bak"), "old");
        ASSERT_TRUE(UpdateTrial::beginTrial(exe(), "2.1.0.1"));
    }
    // The version on trial starts and meets `signal`.
    void startAndEndBy(int signal)
    {
        EXPECT_EXIT(
            {
                const UpdateTrial trial(exe(), "2.1.0.1");
                ::raise(signal);
            },
            testing::KilledBySignal(signal), "");
    }
    // A start of the version on trial, in a process of its own, as main() makes it.
    void startAndEnd(End end)
    {
        const int signal = end == End::Killed ? SIGKILL : SIGTERM;
        const auto start = [&] {
            UpdateTrial trial(exe(), "2.1.0.1");
            if (end == End::AsAsked)
                trial.endAsAsked();
            if (end == End::Terminated || end == End::Killed)
                ::raise(signal);
            std::_Exit(end == End::ExitStatus1 ? 1 : 0);
        };
        if (end == End::Terminated || end == End::Killed)
            EXPECT_EXIT(start(), testing::KilledBySignal(signal), "");
        else
            EXPECT_EXIT(start(), testing::ExitedWithCode(end == End::ExitStatus1 ? 1 : 0), "");
    }
    std::string exe() const { return m_dir.file("quavero"); }
    test::TempDir m_dir;
};

struct FailedEnd {
    const char* name;
    End end;
};

class FailedStartTest : public UpdateTrialTest, public ::testing::WithParamInterface<FailedEnd> {};

// The version fails without a crash at the start that took over and at the next one:
// the one after runs the previous version, which says so.
TEST_P(FailedStartTest, TwoStartsThatEndedWithoutTheProofPutThePreviousVersionBackAtTheThird)
{
    install();
    startAndEnd(GetParam().end);
    startAndEnd(GetParam().end);
    const UpdateTrial third(exe(), "2.1.0.1");
    EXPECT_EQ(third.state(), UpdateTrial::State::PutBack);
    EXPECT_EQ(readFile(exe()), "old");
    EXPECT_FALSE(fs::exists(m_dir.file("OldExecutable.bak")));
    const UpdateTrial previous(exe(), "2.1.0.0");
    EXPECT_EQ(previous.state(), UpdateTrial::State::Undone);
    EXPECT_EQ(previous.version(), "2.1.0.1");
}

INSTANTIATE_TEST_SUITE_P(Ends, FailedStartTest,
                         testing::Values(FailedEnd {.name = "ExitStatus1", .end = End::ExitStatus1},
                                         FailedEnd {.name = "KilledAsAHangTheUserEnded", .end = End::Killed}),
                         [](const auto& instance) { return std::string(instance.param.name); });

TEST_F(UpdateTrialTest, EndsTheUserAskedForSayNothingAgainstTheVersion)
{
    install();
    startAndEnd(End::AsAsked);
    startAndEnd(End::Terminated);
    startAndEnd(End::ExitStatus1);
    EXPECT_EQ(UpdateTrial(exe(), "2.1.0.1").state(), UpdateTrial::State::OnTrial);
    EXPECT_EQ(readFile(exe()), "new");
}

// The window of the version runs while a second start hands its request to it.
TEST_F(UpdateTrialTest, AStartThatStillRunsAndOneThatHandedOverDoNotCountAgainstTheVersion)
{
    install();
    startAndEnd(End::ExitStatus1);
    const UpdateTrial running(exe(), "2.1.0.1");
    startAndEnd(End::AsAsked);
    EXPECT_EQ(UpdateTrial(exe(), "2.1.0.1").state(), UpdateTrial::State::OnTrial);
    EXPECT_EQ(readFile(exe()), "new");
}

TEST_F(UpdateTrialTest, OnlyAFaultOfTheVersionOnTrialPutsThePreviousOneBackAndTheNextStartSaysSoOnce)
{
    const std::pair<int, bool> ends[] = {{SIGSEGV, true}, {SIGABRT, true}, {SIGBUS, true}, {SIGFPE, true},
                                         {SIGILL, true}, {SIGTERM, false}, {SIGKILL, false}};
    for (const auto& [signal, undone] : ends) {
        SCOPED_TRACE(signal);
        install();
        startAndEndBy(signal);
        EXPECT_EQ(readFile(exe()), undone ? "old" : "new");
        EXPECT_EQ(fs::exists(m_dir.file("OldExecutable.bak")), !undone);
        UpdateTrial next(exe(), undone ? "2.1.0.0" : "2.1.0.1");
        EXPECT_EQ(next.state(), undone ? UpdateTrial::State::Undone : UpdateTrial::State::OnTrial);
        EXPECT_EQ(next.version(), "2.1.0.1");
        next.acknowledge();
        EXPECT_NE(UpdateTrial(exe(), "2.1.0.0").state(), UpdateTrial::State::Undone) << "told once";
    }
}

TEST_F(UpdateTrialTest, AfterTheProofTheNewVersionStaysWhateverEndsIt)
{
    install();
    UpdateTrial(exe(), "2.1.0.1").passTrial();
    startAndEndBy(SIGABRT);
    EXPECT_EQ(readFile(exe()), "new");
    EXPECT_TRUE(fs::exists(m_dir.file("OldExecutable.bak")));
}

// What an exchange cut short left, or one under way while a second start hands over.
TEST_F(UpdateTrialTest, ARecordOfAnotherVersionPutsNothingOnTrial)
{
    install();
    EXPECT_EQ(UpdateTrial(exe(), "2.1.0.0").state(), UpdateTrial::State::None);
    EXPECT_EQ(readFile(exe()), "new");
}

} // namespace
} // namespace qvr
