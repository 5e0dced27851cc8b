// The window's side of the self-update: its boxes, what it does as the hand-over
// tells it, and a window that stays hidden while a newer one takes over
// (UpdateHandover).
#include "ui/main_window.h"

#include "platform/failure_log.h"
#include "ui/background_work.h"
#include "ui/message_pump.h"
#include "res/strings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>

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
            openProgress();
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
    void openProgress()
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

// The window's boxes for an updater on another thread: each runs on the window's
// thread. The question waits for its answer; the progress box is brought up to date
// without the download waiting for it.
class ThreadUpdatePrompts final : public UpdatePrompts {
public:
    ThreadUpdatePrompts(BackgroundWork& work, UpdatePrompts& window) : m_work(work), m_window(window) {}

    bool askToInstall(const std::string& question) override
    {
        // A window that ends meanwhile is no Yes.
        return m_work.ask<bool>([this, question] { return m_window.askToInstall(question); }).value_or(false);
    }
    bool downloadProgress(std::uint64_t received, std::uint64_t announced) override
    {
        if (!m_shown.exchange(false))
            return !m_cancelled;
        m_work.post([this, received, announced] {
            m_cancelled = !m_window.downloadProgress(received, announced);
            m_shown = true;
        });
        return !m_cancelled;
    }
    void downloadEnded() override
    {
        m_work.post([this] { m_window.downloadEnded(); });
    }
    // The window's own, once its work has ended (UpdateHandover::startInstalled).
    void announceInstalled(const std::string&, const std::string&) override {}

private:
    BackgroundWork& m_work;
    UpdatePrompts& m_window;
    std::atomic<bool> m_shown {true};  // the last progress posted has been shown
    std::atomic<bool> m_cancelled {false};
};

} // namespace

// The update asked again while the window runs: its boxes, and the thread it runs on,
// which ends first.
struct CquaveromfcDlg::LaterUpdate {
    LaterUpdate(Prompts& prompts, QWidget* window)
        : windowPrompts(prompts, window), threadPrompts(work, windowPrompts)
    {
    }

    WindowUpdatePrompts windowPrompts;
    ThreadUpdatePrompts threadPrompts;
    QTimer next;
    int checks = 0;
    BackgroundWork work;
};

void CquaveromfcDlg::LaterUpdateDeleter::operator()(LaterUpdate* later) const
{
    delete later;
}

void CquaveromfcDlg::scheduleLaterUpdate()
{
    const int checks = m_laterUpdate ? m_laterUpdate->checks : 0;
    const std::optional<std::chrono::milliseconds> after = m_handover.askAgainAfter(checks);
    if (!after)
        return;
    if (!m_laterUpdate) {
        m_laterUpdate.reset(new LaterUpdate(m_waysOut.prompts(), this));
        m_laterUpdate->next.setSingleShot(true);
        // A store's Retry-After is a floor, and a coarse timer may fire 5 % early.
        m_laterUpdate->next.setTimerType(Qt::PreciseTimer);
        connect(&m_laterUpdate->next, &QTimer::timeout, this, [this] { runLaterUpdate(); });
    }
    m_laterUpdate->next.start(*after);
}

void CquaveromfcDlg::runLaterUpdate()
{
    LaterUpdate* later = m_laterUpdate.get();
    UpdaterEnvironment environment = m_handover.laterCheckEnvironment(later->threadPrompts, later->work.stopping());
    later->work.start([this, later, environment = std::move(environment), host = m_config.storeHost] {
        auto outcome = std::make_shared<SelfUpdateOutcome>(checkAndInstall(environment, host));
        later->work.post([this, outcome] { laterUpdateEnded(std::move(*outcome)); });
    });
}

void CquaveromfcDlg::laterUpdateEnded(SelfUpdateOutcome outcome)
{
    ++m_laterUpdate->checks;
    // Closed meanwhile: the new version, in place and on trial, runs at the next start.
    if (outcome.installed && m_work.shared().m_bStopThreads)
        return;
    const bool installed = outcome.installed;
    m_handover.laterCheckEnded(std::move(outcome));
    if (!installed) {
        scheduleLaterUpdate();
        return;
    }
    // The road of an update at the start, but from a running window: hidden, it lets
    // its workers end, and once they all have (WM_THREAD_EXITED) the new version starts
    // on what they left on disk.
    hide();
    m_work.workers().requestStop();
}

void CquaveromfcDlg::startInstalledVersion()
{
    // Everything of this window's for the new version: no later save comes.
    m_work.controller().saveAtEnd();
    m_workEndedForUpdate = true;
    if (m_handover.startInstalled(m_laterUpdate->windowPrompts) == UpdateHandover::Next::StayHidden)
        return;
    tellUndone();
    comeBack();
}

void CquaveromfcDlg::tellUndone()
{
    // This window is not shown yet; the box belongs to whatever is active.
    m_waysOut.prompts().messageBox(QApplication::activeWindow(), kUndoneText, kUpdatedCaption, MB_OK | MB_ICONWARNING);
}

UpdateHandover::Next CquaveromfcDlg::RunSelfUpdate()
{
    WindowUpdatePrompts prompts(m_waysOut.prompts(), this);
    return m_handover.runUpdateStep(prompts, m_startWaits);
}

void CquaveromfcDlg::comeBack()
{
    if (!m_workEndedForUpdate) {
        startNormally();
        show();
        return;
    }
    // This window's workers have ended and do not start again: the previous version,
    // back under the program's name, starts anew and takes over, and this window ends
    // without writing anything more.
    m_work.controller().onSwitchQuit();
    if (!m_handover.startPrevious())
        logFailure("starting the previous version again", errnoText(errno), "it runs at the next start");
    endOnQuit();
}

void CquaveromfcDlg::setVisible(bool visible)
{
    if (visible && !m_handover.showAllowed())
        return;
    CDialogSK::setVisible(visible);
}

void CquaveromfcDlg::done(int result)
{
    CDialogSK::done(result);
    // Hiding is what ends the modal run, and closing hides only a window that was
    // shown; one kept hidden from the start would otherwise run on for good.
    if (!m_handover.showAllowed())
        CDialogSK::setVisible(false);
}

} // namespace qvr
