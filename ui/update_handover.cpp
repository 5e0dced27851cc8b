#include "ui/update_handover.h"

#include "engine/queue_files.h"
#include "engine/retry_pause.h"
#include "platform/failure_log.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

namespace qvr {

UpdateHandover::UpdateHandover(const Configuration& configuration, WindowPublication& publication,
                               std::optional<SelfUpdateEnvironment> selfUpdate,
                               std::chrono::milliseconds handedOverLimit)
    : m_config(configuration),
      m_publication(publication),
      m_selfUpdate(std::move(selfUpdate)),
      m_handedOverLimit(handedOverLimit)
{
}

bool UpdateHandover::openTrial()
{
    if (!m_selfUpdate || !m_config.trial)
        return false;
    m_trial = m_config.trial;
    if (m_trial->state() != UpdateTrial::State::Undone)
        return false;
    // As after a rollback of a version that never took over: not offered again while
    // the store names it.
    logFailure("version " + m_trial->version() + " at " + m_trial->executable(),
               "it failed before its trial was over",
               "the previous version is back; version " + m_trial->version() + " is not asked for again");
    CAutoUpdater(m_selfUpdate->updater).noteRefused(m_trial->version());
    m_trial->acknowledge();
    return true;
}

void UpdateHandover::startTrialProof()
{
    if (m_trial && m_trial->state() == UpdateTrial::State::OnTrial)
        QTimer::singleShot(m_selfUpdate->trialProof, this, [this] { m_trial->passTrial(); });
}

UpdateHandover::Next UpdateHandover::runUpdateStep(UpdatePrompts& prompts, WaitBudget& startWaits)
{
    // A start that takes over was made by an update, which has just asked. A version
    // on trial asks for no newer one: an install would replace the backup that its
    // own crash needs.
    if (!m_selfUpdate || m_config.switchStart || (m_trial && m_trial->state() == UpdateTrial::State::OnTrial))
        return Next::Run;
    // The boxes run event loops, in which a later start may hand its request over.
    // The raw-queue file keeps it (the raw entries are not loaded yet): the window
    // loads the file right after, or the newer instance does.
    SelfUpdateEnvironment environment = *m_selfUpdate;
    environment.updater.prompts = &prompts;
    environment.updater.budget = &startWaits;
    m_update = RunSelfUpdate(environment, m_config.storeHost, [this] {
        // Before the new version starts: it may say it runs at once.
        m_state = State::Waiting;
        // The newer instance finds the request of this start in the raw-queue file.
        const ApplicationStrings& strings = m_config.strings;
        if (!strings.m_strRequest.empty())
            m_requestHandedOn = static_cast<bool>(appendRawQueue(strings.m_strRequest, strings.m_strRawQueuePath));
        // It takes the queue files over as it starts.
        m_publication.letQueuesGo();
    });
    if (m_update.newVersion)
        m_newVersionPid = static_cast<std::intptr_t>(m_update.newVersion->pid());
    return m_update.installed ? keepHiddenUntilTakenOver() : Next::Run;
}

UpdateHandover::Next UpdateHandover::keepHiddenUntilTakenOver()
{
    if (!m_update.newVersion) {
        restoreOldVersion();
        return Next::RunUndone;
    }
    // Readable once the new version's process has ended, whatever ended it.
    m_newVersionEnded = new QSocketNotifier(m_update.newVersion->endedFd(), QSocketNotifier::Read, this);
    connect(m_newVersionEnded, &QSocketNotifier::activated, this, [this] { comeBackFromUpdate(); });
    // One that never says it runs would leave this invisible instance holding the
    // instance name for good, and every later start would hand its request to it.
    QTimer::singleShot(m_handedOverLimit, this, [this] { comeBackFromUpdate(); });
    return Next::StayHidden;
}

bool UpdateHandover::onTakenOver()
{
    State waiting = State::Waiting;
    return m_state.compare_exchange_strong(waiting, State::TakenOver);
}

bool UpdateHandover::refusesQuitFrom(std::intptr_t pid) const
{
    return state() == State::Waiting || (pid != 0 && pid == m_newVersionPid);
}

std::optional<std::chrono::milliseconds> UpdateHandover::askAgainAfter(int laterChecks) const
{
    using namespace std::chrono_literals;
    constexpr std::chrono::milliseconds kFirstPause = 30s;
    // A store's ask, or an absurd one, never holds the check longer than the workers'.
    constexpr std::chrono::milliseconds kLongestWait = RetryPause::kLongestAsked;
    if (!m_selfUpdate || m_state != State::NotWaiting)
        return std::nullopt;
    const std::chrono::milliseconds pause =
        laterChecks == 0 ? 0ms : std::min(kFirstPause * (1 << std::min(laterChecks - 1, 4)), kLongestWait);
    if (m_update.retryAfter)
        return std::min(std::max<std::chrono::milliseconds>(*m_update.retryAfter, pause), kLongestWait);
    // Once: a store that does not answer while the window runs either waits for the next start.
    if (m_update.storeUnanswered && laterChecks == 0)
        return pause;
    return std::nullopt;
}

UpdaterEnvironment UpdateHandover::laterCheckEnvironment(UpdatePrompts& prompts, std::function<bool()> stopped) const
{
    using namespace std::chrono_literals;
    UpdaterEnvironment environment = m_selfUpdate->updater;
    // Its limits: the connect and stall limits of the new program's download.
    if (environment.download)
        environment.http = environment.download;
    environment.budget = nullptr;
    environment.waitLimit = 30s;
    environment.prompts = &prompts;
    environment.stopped = std::move(stopped);
    return environment;
}

void UpdateHandover::laterCheckEnded(SelfUpdateOutcome outcome)
{
    m_update = std::move(outcome);
    if (!m_update.installed)
        return;
    m_laterInstalled = m_update.executable;
    m_state = State::Waiting;
}

UpdateHandover::Next UpdateHandover::startInstalled(UpdatePrompts& prompts)
{
    SelfUpdateEnvironment environment = *m_selfUpdate;
    environment.updater.prompts = &prompts;
    // The new version takes the queue files over as it starts.
    startNewVersion(environment, m_update, [this] { m_publication.letQueuesGo(); });
    if (m_update.newVersion)
        m_newVersionPid = static_cast<std::intptr_t>(m_update.newVersion->pid());
    return keepHiddenUntilTakenOver();
}

bool UpdateHandover::startPrevious()
{
    const std::vector<std::string> args {kTakeOverSwitch};
    return m_selfUpdate->launch ? m_selfUpdate->launch(m_laterInstalled, args).has_value()
                                : startDetached(m_laterInstalled, args);
}

void UpdateHandover::comeBackFromUpdate()
{
    State waiting = State::Waiting;
    // Taken over meanwhile: the message on its way ends this window.
    if (!m_state.compare_exchange_strong(waiting, State::CameBack))
        return;
    restoreOldVersion();
    emit cameBack();
}

void UpdateHandover::restoreOldVersion()
{
    m_state = State::CameBack;
    if (m_newVersionEnded) {
        m_newVersionEnded->setEnabled(false);
        m_newVersionEnded->deleteLater();
        m_newVersionEnded = nullptr;
    }
    // Ended first, so that nothing runs the new file while the old one takes its name back.
    // Without a backup that can go back, either the new version's crash has put it
    // back already, or the name keeps the new program, which passed its probe before
    // it got it: a whole program either way.
    logFailure("version " + m_update.version + " at " + m_update.executable,
               m_update.newVersion ? "it did not say in time that it runs" : "it could not be started",
               "putting the previous version back; version " + m_update.version + " is not asked for again");
    static_cast<void>(rollBackUpdate(m_selfUpdate->updater, m_update));
    // An install had the store's answer: the outcome that goes says nothing the
    // window still needs.
    m_update = {};
    // The new version may have published its window over this one's.
    m_publication.publishAgain();
}

} // namespace qvr
