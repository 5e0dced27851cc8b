// The start and the end of the window: its order of events on the way up, the
// workers' start, and the teardown that lets them go and keeps what must survive.
#include "ui/main_window.h"

#include "engine/workers.h"
#include "platform/handoff.h"
#include "res/strings.h"
#include "ui/message_pump.h"

#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>

namespace qvr {

CquaveromfcDlg::CquaveromfcDlg(const Configuration& configuration, MainWindowEnvironment environment,
                               QWidget* parent)
    : CDialogSK(parent, Qt::Window),
      m_config(configuration),
      m_environment(std::move(environment)),
      m_waysOut(m_environment.prompts, m_environment.desktop, *this),
      m_arrivals(m_environment.notices ? *m_environment.notices : m_sessionNotices, [this] { onOpenFolder(); }),
      m_pump(std::make_unique<MessagePump>(
          [this](unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
              return windowProc(message, wParam, lParam);
          })),
      m_work(*m_pump, *this, configuration, m_environment),
      m_publication(configuration),
      // The update's environment is the hand-over's from here on: one copy, not two.
      m_handover(configuration, m_publication, std::move(m_environment.selfUpdate), m_environment.handedOverLimit)
{
    // The new version ended, or never said it runs: the previous one is back.
    connect(&m_handover, &UpdateHandover::cameBack, this, [this] {
        tellUndone();
        comeBack();
    });
    // However the window ends (its close button once the workers have ended, Escape,
    // a quit from outside), no notice keeps it: what they tell is already done with.
    connect(this, &QDialog::finished, this, [this] { m_waysOut.notices().end(); });
    m_progressTimer.setSingleShot(true);
    m_progressTimer.setInterval(ProgressMailbox::kProgressIntervalMs);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { showNewerProgress(); });
}

CquaveromfcDlg::~CquaveromfcDlg()
{
    letWorkersGo();
}

int CquaveromfcDlg::doModal()
{
    OnInitDialog();
    int result = exec();
    // Hidden for a newer version that a check found while it ran, the window ended its
    // modal run: unseen, it runs on until the new version takes over or the previous
    // one is started again.
    if (m_handover.state() == UpdateHandover::State::Waiting) {
        QEventLoop hidden;
        connect(this, &QDialog::finished, &hidden, [&](int ended) {
            result = ended;
            hidden.quit();
        });
        hidden.exec();
    }
    endWindow();
    return result;
}

bool CquaveromfcDlg::endWindow()
{
    m_workersEnded = letWorkersGo();
    PostNcDestroy();
    return m_workersEnded;
}

bool CquaveromfcDlg::OnInitDialog()
{
    m_publication.inbox().removeLeftTemporaries();
    m_work.files().removeLeftTemporaries();
    m_publication.publishHandle([this](const HandoffMessage& message) { return deliverFromOutside(message); });
    // A version on trial was watched from the start on (app/main.cpp); one that was
    // undone is told about before anything else.
    if (m_handover.openTrial())
        tellUndone();
    m_startWaits = WaitBudget(m_environment.startWaits);
    m_publication.tellTakenOver();
    switch (RunSelfUpdate()) {
    case UpdateHandover::Next::StayHidden:
        return true;
    case UpdateHandover::Next::RunUndone:
        tellUndone();
        break;
    case UpdateHandover::Next::Run:
        break;
    }
    startNormally();
    return true;
}

void CquaveromfcDlg::startNormally()
{
    // Back from an update that did not take over, another window may own the queue
    // files by now: this one ends without touching them.
    if (!m_publication.takeQueuesBack()) {
        m_work.controller().onSwitchQuit();
        QTimer::singleShot(0, this, [this] { endOnQuit(); });
        return;
    }
    if (!m_config.queueFolderNotice.empty())
        warn(m_config.queueFolderNotice, loadString(IDS_PRODUCT_NAME));
    // The window holds both gates while its workers are idle.
    m_work.workers().takeGates();
    // The proof of a new version: its window has run this long.
    m_handover.startTrialProof();

    setUpLook();
    m_work.controller().LoadDownloadQueue();
    setUpControls();
    // The radio page is on the same host: asked now, it would keep the window from
    // showing as long again. Nor is it asked once the waits before the window have
    // used up their time. Either way it is asked once the window shows, off its thread,
    // as the update is when the store did not answer it in time.
    const bool radioLater =
        m_look.radio && (m_handover.storeWasUnanswered() || !m_look.radio->LoadRadio(&m_startWaits));
    if (radioLater)
        m_look.radio->showPrompt();
    QTimer::singleShot(0, this, [this, radioLater] {
        if (radioLater && m_look.radio)
            m_look.radio->loadInBackground();
        scheduleLaterUpdate();
    });
    if (auto* queue = m_look.controls.control<CDragDropListBox>(IDC_QUEUE_LIST))
        queue->DragAcceptFiles(true);
    RefreshFileList(m_work.controller().downloadFolder());
    startWorkers();
    if (!m_config.settingsNotice.empty())
        warn(m_config.settingsNotice, "Quavero Music Manager");
}

void CquaveromfcDlg::startWorkers()
{
    m_work.workers().start(WorkerSet::Worker::FolderWatcher);
    m_work.workers().start(WorkerSet::Worker::Resolver);
    m_work.controller().LoadRawQueue();
    // What second starts handed over to an instance that was killed, or to this
    // one during its update step, came before this start's own request.
    m_work.controller().takeHandOvers(m_publication.inbox());
    m_publication.watchInbox([this] { m_pump->postMessage(WM_HANDED_OVER, 0, 0); });
    m_work.controller().StartNextResolve();
    // A request that could not be kept has been told about, with the advice to open
    // it again (warnNotWritten); its file is left as it is.
    if (!m_config.strings.m_strRequest.empty() && !m_handover.requestHandedOn())
        static_cast<void>(m_work.controller().AddRawEntry(m_config.strings.m_strRequest));
    m_work.workers().start(WorkerSet::Worker::Downloader);
    m_work.controller().StartNextDownload();
}

bool CquaveromfcDlg::letWorkersGo()
{
    // Closed first: a report or a message from outside that is being delivered
    // then returns, so the workers are cut off from the window at once and the
    // server can end.
    m_pump->close();
    m_publication.closeServer();
    m_work.workers().disconnect();
    m_work.workers().requestStop();
    return m_work.workers().wait(m_environment.workerGrace);
}

void CquaveromfcDlg::PostNcDestroy()
{
    m_work.controller().saveAtEnd();
    m_publication.unpublishHandle();
}

void CquaveromfcDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter ends the window as Escape does: the dialog's own end, which lets the
    // workers go and keeps the pending requests. A focused button takes its Enter
    // for itself (it presses the button), so this is Enter anywhere else.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        accept();
        return;
    }
    // The window's menu on the Menu key, which no control takes for itself. Alt+Space
    // never comes here: its shortcut (setUpLook) answers before any control sees it.
    if (event->key() == Qt::Key_Menu && event->modifiers() == Qt::NoModifier) {
        openSystemMenu(mapToGlobal(QPoint(0, 0)));
        return;
    }
    CDialogSK::keyPressEvent(event);
}

} // namespace qvr
