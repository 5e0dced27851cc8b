#pragma once

#include "engine/configuration.h"
#include "update/self_update.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

class QSocketNotifier;

namespace qvr {

// What the hand-over needs of the window it belongs to.
class HandoverWindow {
public:
    virtual ~HandoverWindow() = default;
    // Has the window's thread end the window, the new version running (WM_TAKEN_OVER).
    // Called on the hand-off thread.
    virtual void PostTakenOver() = 0;
    // The new version may have published its window over this one's: this one is
    // published again, so that later starts find it.
    virtual void PublishAgain() = 0;
    // The box that says the update was undone.
    virtual void TellUndone() = 0;
    // The window's whole start, and the window shown, as if no update had come.
    virtual void ComeBack() = 0;
};

// The update's road through one start: the update step, the hidden wait for the new
// version to take over, the rollback when it does not, and the trial of a version
// that an update started. "Taken over" is one thing only: the new version has
// published its window and told this one so. Until then this window stays hidden;
// when the new version ends first, or the limit passes, or it could not start, the
// previous version is put back and this window comes back. Window's thread, but for
// onTakenOver().
class UpdateHandover final : public QObject {
public:
    enum class State {
        NotWaiting,  // no new version was started: the window runs as it is
        Waiting,     // one was installed and starts: the window stays hidden
        TakenOver,   // it said it runs: the window ends
        CameBack,    // it did not: the previous version is back, and the window runs
    };

    // Runs the update (RunSelfUpdate) with the window's boxes, calling `keepHidden`
    // right before the new version starts.
    using UpdateStep =
        std::function<SelfUpdateOutcome(const SelfUpdateEnvironment&, const std::function<void()>& keepHidden)>;

    // Without `selfUpdate` no update is looked for and no trial watched. A window
    // handed over waits `handedOverLimit` to be told to go before it comes back.
    UpdateHandover(HandoverWindow& window, const Configuration& configuration,
                   std::optional<SelfUpdateEnvironment> selfUpdate, std::chrono::milliseconds handedOverLimit);

    // What the last update left for this start (Configuration::trial); one that was
    // undone is told about here.
    void openTrial();
    // The proof of a version on trial: it passes once the window has run this long.
    void startTrialProof();
    // The update step, unless this start takes over or is on trial; true when a
    // newer executable was installed.
    bool runUpdateStep(const UpdateStep& step);
    // After an install: false when the new version could not start, which is undone
    // at once; otherwise its end, or the limit, brings this window back.
    bool keepHiddenUntilTakenOver();
    // The hand-off thread's; false when it came too late, or nothing waited for it.
    bool onTakenOver();

    State state() const { return m_state.load(); }
    bool showAllowed() const { return state() != State::Waiting && state() != State::TakenOver; }
    // A quit from the new version comes before it says it runs, and may come in after
    // this window has given it up.
    bool refusesQuitFrom(std::intptr_t pid) const;
    // The store gave this start's version list no answer in time.
    bool storeWasUnanswered() const { return m_update.storeUnanswered; }

    // The check once more while the window runs, after `laterChecks` such checks:
    // when the last check got no answer in time, at once (the window shows), but only
    // after the start's; when the store asked to be left alone (Retry-After), after that
    // long or the pause, whichever is longer (the pause is none the first time, then 30 s
    // doubling with each check), and never after more than 5 minutes. Nothing: the next
    // start asks.
    [[nodiscard]] std::optional<std::chrono::milliseconds> askAgainAfter(int laterChecks) const;
    // The updater's environment for such a check, off the window's thread: no budget
    // (the window does not wait), the download's session limits, `prompts`, and
    // `stopped` to end it.
    [[nodiscard]] UpdaterEnvironment laterCheckEnvironment(UpdatePrompts& prompts, std::function<bool()> stopped) const;
    // What such a check came to. After an install the window stays hidden from now on,
    // while its work ends; startInstalled() follows.
    void laterCheckEnded(SelfUpdateOutcome outcome);
    // Once the window's work has ended and its queues are on disk: the notice, the new
    // version started, and the wait as after keepHiddenUntilTakenOver().
    bool startInstalled(UpdatePrompts& prompts, const std::function<void()>& keepHidden);
    // The previous version, put back after such an install did not take over, started
    // with "/switch": it takes over from this window, whose work has ended.
    [[nodiscard]] bool startPrevious();
    // This start's request went into the raw-queue file for the new version.
    bool requestHandedOn() const { return m_bRequestHandedOn; }

private:
    void comeBackFromUpdate();
    void restoreOldVersion();

    HandoverWindow& m_window;
    const Configuration& m_config;
    std::optional<SelfUpdateEnvironment> m_selfUpdate;
    std::chrono::milliseconds m_handedOverLimit;
    std::atomic<State> m_state {State::NotWaiting};
    SelfUpdateOutcome m_update;
    std::intptr_t m_newVersionPid = 0;  // the process an update started
    QSocketNotifier* m_newVersionEnded = nullptr;  // a child, while the new version is watched
    UpdateTrial* m_trial = nullptr;  // the start's (Configuration::trial), with a self-update
    bool m_bRequestHandedOn = false;
    std::string m_laterInstalled;  // the executable a check while the window ran installed
};

} // namespace qvr
