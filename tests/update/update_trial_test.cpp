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

// Version 2.1.0.1 at the executable's name, on trial, and the previous one as its backup.
class UpdateTrialTest : public ::testing::Test {
protected:
    void install()
    {
        writeFile(exe(), "new");
        writeFile(m_dir.file("OldExecutable.bak"), "old");
        ASSERT_TRUE(UpdateTrial::beginTrial(exe(), "2.1.0.1"));
    }
    // A start of the version on trial, in a process of its own as main() makes it,
    // that ends by `signal`, or else with `status` (0: as the user asked).
    void startAndEnd(int signal, int status = 0)
    {
        const auto start = [&] {
            UpdateTrial trial(exe(), "2.1.0.1");
            if (signal == 0 && status == 0)
                trial.endAsAsked();
            if (signal != 0)
                ::raise(signal);
            std::_Exit(status);
        };
        if (signal != 0)
            EXPECT_EXIT(start(), testing::KilledBySignal(signal), "");
        else
            EXPECT_EXIT(start(), testing::ExitedWithCode(status), "");
    }
    std::string exe() const { return m_dir.file("quavero"); }
    test::TempDir m_dir;
};

struct FailedEnd { const char* name; int signal; int status; };
class FailedStartTest : public UpdateTrialTest, public ::testing::WithParamInterface<FailedEnd> {};

// The version fails without a crash at the start that took over and at the next one:
// the one after runs the previous version, which says so.
TEST_P(FailedStartTest, TwoStartsThatEndedWithoutTheProofPutThePreviousVersionBackAtTheThird)
{
    install();
    startAndEnd(GetParam().signal, GetParam().status);
    startAndEnd(GetParam().signal, GetParam().status);
    const UpdateTrial third(exe(), "2.1.0.1");
    EXPECT_EQ(third.state(), UpdateTrial::State::PutBack);
    EXPECT_EQ(readFile(exe()), "old");
    EXPECT_FALSE(fs::exists(m_dir.file("OldExecutable.bak")));
    const UpdateTrial previous(exe(), "2.1.0.0");
    EXPECT_EQ(previous.state(), UpdateTrial::State::Undone);
    EXPECT_EQ(previous.version(), "2.1.0.1");
}

INSTANTIATE_TEST_SUITE_P(Ends, FailedStartTest, testing::Values(
    FailedEnd {.name = "ExitStatus1", .signal = 0, .status = 1},
    FailedEnd {.name = "KilledAsAHangTheUserEnded", .signal = SIGKILL, .status = 0}), test::kByName);

// One failed start; then, while the window of the version runs, a second start hands
// its request to it, and another is ended at a logout: neither counts.
TEST_F(UpdateTrialTest, NeitherAnEndTheUserAskedForNorAStartStillRunningCountsAgainstTheVersion)
{
    install();
    startAndEnd(0, 1);
    const UpdateTrial running(exe(), "2.1.0.1");
    startAndEnd(0);
    startAndEnd(SIGTERM);
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
        startAndEnd(signal);
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
    startAndEnd(SIGABRT);
    EXPECT_EQ(readFile(exe()), "new");
    EXPECT_TRUE(fs::exists(m_dir.file("OldExecutable.bak")));
}

} // namespace
} // namespace qvr
