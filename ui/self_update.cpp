// The window's side of the self-update: its boxes, and the hidden instance that
// waits for the newer one to take over.
#include "ui/main_window.h"

#include "engine/queue_files.h"

#include <QApplication>
#include <QTimer>

namespace qvr {

namespace {

// The updater's two boxes as the window's message boxes.
class WindowUpdatePrompts final : public UpdatePrompts {
public:
    WindowUpdatePrompts(Prompts& prompts, QWidget* window) : m_prompts(prompts), m_window(window) {}

    bool askToInstall(const std::string& question) override
    {
        // This window is not shown yet; the box belongs to whatever is active.
        return m_prompts.messageBox(QApplication::activeWindow(), question, "", MB_YESNO | MB_ICONQUESTION)
            != IDNO;
    }
    void announceInstalled(const std::string& text, const std::string& caption) override
    {
        m_prompts.messageBox(m_window, text, caption, MB_OK | MB_ICONINFORMATION);
    }

private:
    Prompts& m_prompts;
    QWidget* m_window;
};

} // namespace

bool CquaveromfcDlg::RunSelfUpdate()
{
    if (!m_environment.selfUpdate)
        return false;
    // The boxes run event loops, in which a later start may hand its request over.
    // The raw-queue file keeps it (the raw entries are not loaded yet): this window
    // loads the file right after, or the newer instance does.
    WindowUpdatePrompts prompts(*m_prompts, this);
    SelfUpdateEnvironment environment = *m_environment.selfUpdate;
    environment.updater.prompts = &prompts;
    const bool installed = qvr::RunSelfUpdate(environment, m_config.storeHost, [this] {
        m_bShowAllowed = false;
        // The newer instance finds the request of this start in the raw-queue file.
        if (!m_app.m_strRequest.empty())
            AppendRawQueue(m_app.m_strRequest, m_app.m_strRawQueuePath);
    });
    return installed;
}

bool CquaveromfcDlg::KeepHiddenUntilTakenOver()
{
    // A newer instance that never starts, or never tells us to go, would leave this
    // invisible one holding the instance name for good, and every later start would
    // hand its request to it. The file holds every request, so going loses nothing.
    QTimer::singleShot(m_environment.handedOverLimit, this, [this] {
        m_queueController.OnSwitchQuit();
        done(0);
    });
    return true;
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
