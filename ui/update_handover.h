#pragma once

#include "engine/configuration.h"
#include "platform/wait_budget.h"
#include "ui/window_publication.h"
#include "update/self_update.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

class QSocketNotifier;

namespace qvr {

// The update's road through one start: the update step, the hidden wait for the new
// version to take over, the rollback when it does not, and the trial of a version
// that an update started. "Taken over" is one thing only: the new version has
// published its window and told this one so. Until then this window stays hidden;
// when the new version ends first, or the limit passes, or it could not start, the
// previous version is put back and this window comes back. The hand-over tells the
// window what to do next, by what its steps return and by cameBack(); it knows the
// window only by its publication, which it hands to the new version and takes back.
// Window's thread, but for onTakenOver().
class UpdateHandover final : public QObject {
    Q_OBJECT

public:
    enum class State {
        NotWaiting,  // no new version was started: the window runs as it is
        Waiting,     // one was installed and starts: the window stays hidden
        TakenOver,   // it said it runs: the window ends
        CameBack,    // it did not: the previous version is back, and the window runs
    };

    // What the window does once a step of the hand-over has run.
    enum class Next {
        Run,         // no new version runs: the window starts, or goes on, as it is
        StayHidden,  // a new version starts: the window stays hidden until it is told
                     // it was taken over (onTakenOver) or comes back (cameBack)
        RunUndone,   // the new version could not start and the previous one is back:
                     // the window says so, then runs as it is
    };

    // Without `selfUpdate` no update is looked for and no trial watched. A window
    // handed over waits `handedOverLimit` to be told to go before it comes back.
    UpdateHandover(const Configuration& configuration, WindowPublication& publication,
                   std::optional<SelfUpdateEnvironment> selfUpdate, std::chrono::milliseconds handedOverLimit);

    // What the last update left for this start (Configuration::trial): true when the
    // version it tried was undone, which the window tells the user.
    [[nodiscard]] bool openTrial();
    // The proof of a version on trial: it passes once the window has run this long.
    void startTrialProof();
    // The update step of the start (RunSelfUpdate), unless this start takes over or is
    // on trial, with the window's boxes and the waits before the window shows.
    [[nodiscard]] Next runUpdateStep(UpdatePrompts& prompts, WaitBudget& startWaits);
    // The hand-off thread's: true when the new version took over and the window ends
    // now (WM_TAKEN_OVER); false when it came too late, or nothing waited for it.
    [[nodiscard]] bool onTakenOver();

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
    // version started, and the wait as after the update step.
    [[nodiscard]] Next startInstalled(UpdatePrompts& prompts);
    // The previous version, put back after such an install did not take over, started
    // with "/switch": it takes over from this window, whose work has ended.
    [[nodiscard]] bool startPrevious();
    // This start's request went into the raw-queue file for the new version.
    bool requestHandedOn() const { return m_requestHandedOn; }

signals:
    // The new version ended, or did not say in time that it runs: the previous version
    // is back and the window published again. The window says so and comes back.
    void cameBack();

private:
    // After an install: RunUndone when the new version could not start, which is
    // undone at once; otherwise its end, or the limit, brings this window back.
    Next keepHiddenUntilTakenOver();
    void comeBackFromUpdate();
    void restoreOldVersion();

    const Configuration& m_config;
    WindowPublication& m_publication;
    std::optional<SelfUpdateEnvironment> m_selfUpdate;
    std::chrono::milliseconds m_handedOverLimit;
    std::atomic<State> m_state {State::NotWaiting};
    SelfUpdateOutcome m_update;
    std::intptr_t m_newVersionPid = 0;  // the process an update started
    QSocketNotifier* m_newVersionEnded = nullptr;  // a child, while the new version is watched
    UpdateTrial* m_trial = nullptr;  // the start's (Configuration::trial), with a self-update
    bool m_requestHandedOn = false;
    std::string m_laterInstalled;  // the executable a check while the window ran installed
};

} // namespace qvr
