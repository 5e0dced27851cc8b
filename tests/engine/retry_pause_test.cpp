#include "engine/retry_pause.h"

#include <gtest/gtest.h>

namespace qvr {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kFirst {1000};
constexpr milliseconds kLongest = kFirst * 300;

// `pause` is `base` drawn up to a quarter longer, never beyond the longest pause.
void expectDrawnFrom(milliseconds pause, milliseconds base)
{
    EXPECT_GE(pause, std::min(base, kLongest));
    EXPECT_LE(pause, std::min(base + base / 4, kLongest));
}

TEST(RetryPause, DoublesWithEachFailureInARowUpToThreeHundredTimesTheFirst)
{
    RetryPause pauses(kFirst);
    for (int failure = 0; failure < 12; ++failure) {
        SCOPED_TRACE(failure);
        expectDrawnFrom(pauses.after("a track"), kFirst * (1 << failure));
    }
}

TEST(RetryPause, ANewJobStartsFromTheFirstPause)
{
    RetryPause pauses(kFirst);
    for (int failure = 0; failure < 5; ++failure)
        static_cast<void>(pauses.after("a track"));
    expectDrawnFrom(pauses.after("another track"), kFirst);
}

TEST(RetryPause, AJobTheStoreAnsweredStartsFromTheFirstPause)
{
    RetryPause pauses(kFirst);
    for (int failure = 0; failure < 5; ++failure)
        static_cast<void>(pauses.after("a track"));
    pauses.succeeded();
    expectDrawnFrom(pauses.after("a track"), kFirst);
}

} // namespace
} // namespace qvr
