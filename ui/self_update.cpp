// The window's side of the self-update: its boxes, what the hand-over asks of it,
// and a window that stays hidden while a newer one takes over (UpdateHandover).
#include "ui/main_window.h"

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

} // namespace

void CquaveromfcDlg::TellUndone()
{
    // This window is not shown yet; the box belongs to whatever is active.
    m_waysOut.prompts().messageBox(QApplication::activeWindow(), kUndoneText, kUpdatedCaption, MB_OK | MB_ICONWARNING);
}

bool CquaveromfcDlg::RunSelfUpdate()
{
    // The boxes run event loops, in which a later start may hand its request over.
    // The raw-queue file keeps it (the raw entries are not loaded yet): this window
    // loads the file right after, or the newer instance does.
    WindowUpdatePrompts prompts(m_waysOut.prompts(), this);
    return m_handover.runUpdateStep([&](SelfUpdateEnvironment environment, const std::function<void()>& keepHidden) {
        environment.updater.prompts = &prompts;
        environment.updater.budget = &m_startWaits;
        // The new version takes the queue files over as it starts.
        return qvr::RunSelfUpdate(environment, m_config.storeHost, [&] {
            keepHidden();
            m_publication.letQueuesGo();
        });
    });
}

void CquaveromfcDlg::PostTakenOver()
{
    m_pump->PostMessage(WM_TAKEN_OVER, 0, 0);
}

void CquaveromfcDlg::PublishAgain()
{
    m_publication.publishAgain();
}

void CquaveromfcDlg::ComeBack()
{
    StartNormally();
    show();
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
