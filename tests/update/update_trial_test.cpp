// A new version on trial, without a window: what its end, and its proof, leave beside the executable.
#include "update/update_trial.h"

#include "tests/support/common.h"

#include <csignal>

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
    std::string exe() const { return m_dir.file("quavero"); }
    test::TempDir m_dir;
};

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

TEST_F(UpdateTrialTest, ARecordOfAnotherVersionIsWhatAnExchangeCutShortLeftAndGoes)
{
    install();
    EXPECT_EQ(UpdateTrial(exe(), "2.1.0.0").state(), UpdateTrial::State::None);
    EXPECT_FALSE(fs::exists(m_dir.file("update-trial")));
}

} // namespace
} // namespace qvr
