// The window's side of the self-update: its boxes, and the hidden instance that
// waits for the newer one to take over.
#include "ui/main_window.h"

#include "engine/queue_files.h"
#include "platform/failure_log.h"
#include "platform/handoff.h"
#include "platform/paths.h"
#include "ui/message_pump.h"
#include "res/strings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace qvr {

namespace {

// How often the progress box is brought up to date and its clicks are taken.
constexpr qint64 kProgressPeriodMs = 50;

// The updater's boxes as the window's: its message boxes, and while the new
// program downloads a box with the bytes received and a Cancel button.
class WindowUpdatePrompts final : public UpdatePrompts {
public:
    WindowUpdatePrompts(Prompts& prompts, QWidget* window) : m_prompts(prompts), m_window(window) {}

    bool askToInstall(const std::string& question) override
    {
        // This window is not shown yet; the box belongs to whatever is active.
        return m_prompts.messageBox(QApplication::activeWindow(), question, "", MB_YESNO | MB_ICONQUESTION)
            != IDNO;
    }
    bool downloadProgress(std::uint64_t received, std::uint64_t announced) override
    {
        if (!m_progress)
            OpenProgress();
        else if (m_sinceShown.elapsed() < kProgressPeriodMs)
            return !m_cancelled;
        m_sinceShown.restart();
        const QLocale locale;
        QString text = QStringLiteral("Downloading the new version: ") + locale.toString(qulonglong(received));
        if (announced > 0)
            text += QStringLiteral(" of ") + locale.toString(qulonglong(announced));
        m_progress->setLabelText(text + QStringLiteral(" bytes"));
        const auto bounded = [](std::uint64_t bytes) { return int(std::min<std::uint64_t>(bytes, INT_MAX)); };
        // Without a size the bar only shows that something goes on.
        m_progress->setMaximum(bounded(announced));
        m_progress->setValue(bounded(std::min(received, announced)));
        // The download runs on this thread: the box draws itself and takes its
        // clicks here.
        QCoreApplication::processEvents();
        return !m_cancelled;
    }
    void downloadEnded() override { m_progress.reset(); }
    void announceInstalled(const std::string& text, const std::string& caption) override
    {
        m_prompts.messageBox(m_window, text, caption, MB_OK | MB_ICONINFORMATION);
    }

private:
    void OpenProgress()
    {
        // A box of its own, as the question was: this window is not shown yet.
        m_progress = std::make_unique<QProgressDialog>();
        m_progress->setWindowTitle(QString::fromStdString(loadString(IDS_PRODUCT_NAME)));
        m_progress->setCancelButtonText(QStringLiteral("Cancel"));
        // Only a click or Escape cancels: an Enter meant for the question before must not.
        if (auto* cancel = m_progress->findChild<QPushButton*>())
            cancel->setAutoDefault(false);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        // Cancel, Escape and the window's close button alike.
        QObject::connect(m_progress.get(), &QProgressDialog::canceled, [this] { m_cancelled = true; });
        m_progress->show();
        // Without a window manager nothing gives a new window the keyboard, and
        // Escape would go nowhere.
        m_progress->activateWindow();
        m_sinceShown.start();
    }

    Prompts& m_prompts;
    QWidget* m_window;
    std::unique_ptr<QProgressDialog> m_progress;
    QElapsedTimer m_sinceShown;
    bool m_cancelled = false;
};

} // namespace

void CquaveromfcDlg::OpenTrial()
{
    if (!m_environment.selfUpdate)
        return;
    const UpdaterEnvironment& updater = m_environment.selfUpdate->updater;
    const std::string executable = updater.executable.empty() ? modulePath() : updater.executable;
    m_trial.emplace(executable, CAutoUpdater::GetFileVersion(executable));
    if (m_trial->state() != UpdateTrial::State::Undone)
        return;
    // As after a rollback of a version that never took over: not offered again while
    // the store names it.
    LogFailure("version " + m_trial->version() + " at " + executable, "it ended abnormally before its trial was over",
               "the previous version is back; version " + m_trial->version() + " is not asked for again");
    CAutoUpdater(updater).NoteRefused(m_trial->version());
    m_trial->Acknowledge();
    TellUndone();
}

void CquaveromfcDlg::TellUndone()
{
    // This window is not shown yet; the box belongs to whatever is active.
    m_prompts->messageBox(QApplication::activeWindow(), kUndoneText, kUpdatedCaption, MB_OK | MB_ICONWARNING);
}

bool CquaveromfcDlg::RunSelfUpdate()
{
    // A start that takes over was made by an update, which has just asked. A version
    // on trial asks for no newer one: an install would replace the backup that its
    // own crash needs.
    if (!m_environment.selfUpdate || m_config.switchStart
        || (m_trial && m_trial->state() == UpdateTrial::State::OnTrial))
        return false;
    // The boxes run event loops, in which a later start may hand its request over.
    // The raw-queue file keeps it (the raw entries are not loaded yet): this window
    // loads the file right after, or the newer instance does.
    WindowUpdatePrompts prompts(*m_prompts, this);
    SelfUpdateEnvironment environment = *m_environment.selfUpdate;
    environment.updater.prompts = &prompts;
    environment.updater.budget = &m_startWaits;
    m_update = qvr::RunSelfUpdate(environment, m_config.storeHost, [this] {
        m_bShowAllowed = false;
        // Before the new version starts: it may say it runs at once.
        m_takeOver = kWaiting;
        // The newer instance finds the request of this start in the raw-queue file.
        if (!m_app.m_strRequest.empty())
            m_bRequestHandedOn = static_cast<bool>(AppendRawQueue(m_app.m_strRequest, m_app.m_strRawQueuePath));
    });
    m_bStoreUnanswered = m_update.storeUnanswered;
    if (m_update.newVersion)
        m_newVersionPid = static_cast<std::intptr_t>(m_update.newVersion->pid());
    return m_update.installed;
}

bool CquaveromfcDlg::KeepHiddenUntilTakenOver()
{
    if (!m_update.newVersion) {
        RestoreOldVersion();
        TellUndone();
        return false;
    }
    // Readable once the new version's process has ended, whatever ended it.
    m_newVersionEnded = new QSocketNotifier(m_update.newVersion->endedFd(), QSocketNotifier::Read, this);
    connect(m_newVersionEnded, &QSocketNotifier::activated, this, [this] { ComeBackFromUpdate(); });
    // One that never says it runs would leave this invisible instance holding the
    // instance name for good, and every later start would hand its request to it.
    QTimer::singleShot(m_environment.handedOverLimit, this, [this] { ComeBackFromUpdate(); });
    return true;
}

bool CquaveromfcDlg::OnTakenOver()
{
    int waiting = kWaiting;
    if (!m_takeOver.compare_exchange_strong(waiting, kTakenOver))
        return false;
    m_pump->PostMessage(WM_TAKEN_OVER, 0, 0);
    return true;
}

void CquaveromfcDlg::ComeBackFromUpdate()
{
    int waiting = kWaiting;
    // Taken over meanwhile: the message on its way ends this window.
    if (!m_takeOver.compare_exchange_strong(waiting, kCameBack))
        return;
    RestoreOldVersion();
    TellUndone();
    StartNormally();
    show();
}

void CquaveromfcDlg::RestoreOldVersion()
{
    m_takeOver = kCameBack;
    if (m_newVersionEnded) {
        m_newVersionEnded->setEnabled(false);
        m_newVersionEnded->deleteLater();
        m_newVersionEnded = nullptr;
    }
    // Ended first, so that nothing runs the new file while the old one takes its name back.
    // Without a backup that can go back, either the new version's crash has put it
    // back already, or the name keeps the new program, which passed its probe before
    // it got it: a whole program either way.
    LogFailure("version " + m_update.version + " at " + m_update.executable,
               m_update.newVersion ? "it did not say in time that it runs" : "it could not be started",
               "putting the previous version back; version " + m_update.version + " is not asked for again");
    static_cast<void>(RollBackUpdate(m_environment.selfUpdate->updater, m_update));
    m_update = {};
    m_bShowAllowed = true;
    // The new version may have published its window over this one's.
    if (m_handoffServer && m_config.runtimeDir) {
        RemoveDeadWindowSockets(*m_config.runtimeDir);
        // As in Publish(): a second start that does not find this window keeps its
        // request in the inbox.
        static_cast<void>(PublishWindowHandle(*m_config.runtimeDir, loadString(IDS_HANDOFF_MAPPING), m_windowHandle));
    }
}

void CquaveromfcDlg::setVisible(bool visible)
{
    if (visible && !m_bShowAllowed)
        return;
    CDialogSK::setVisible(visible);
}

void CquaveromfcDlg::done(int result)
{
    CDialogSK::done(result);
    // Hiding is what ends the modal run, and closing hides only a window that was
    // shown; one kept hidden from the start would otherwise run on for good.
    if (!m_bShowAllowed)
        CDialogSK::setVisible(false);
}

} // namespace qvr
