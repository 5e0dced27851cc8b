#include "ui/window_publication.h"

#include "engine/window_messages.h"
#include "platform/atomic_file.h"
#include "platform/failure_log.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "res/strings.h"

#include <QFileSystemWatcher>

#include <cerrno>

namespace qvr {

WindowPublication::WindowPublication(const Configuration& configuration)
    : m_config(configuration),
      m_inbox(RequestInbox::folderBeside(configuration.strings.m_strRawQueuePath))
{
}

WindowPublication::~WindowPublication() = default;

void WindowPublication::publishHandle(HandoffServer::Deliver deliver)
{
    if (!m_config.runtimeDir)
        return;
    const std::string& folder = *m_config.runtimeDir;
    removeDeadWindowSockets(folder);
    m_windowHandle = newWindowHandle();
    m_handoffServer = HandoffServer::start(windowSocketPath(folder, m_windowHandle), std::move(deliver));
    // A window that is not published is not found: a second start then keeps its
    // request in the inbox, which the next start takes.
    const bool published = m_handoffServer && publishWindowHandle(folder, loadString(IDS_HANDOFF_MAPPING), m_windowHandle);
    if (!published)
        logFailure(m_handoffServer ? "publishing this window in " + folder
                                   : "listening for second starts at " + windowSocketPath(folder, m_windowHandle),
                   errnoText(errno), "second starts keep their requests for the next start");
}

void WindowPublication::publishAgain()
{
    if (!m_handoffServer || !m_config.runtimeDir)
        return;
    removeDeadWindowSockets(*m_config.runtimeDir);
    // As in publishHandle(): a second start that does not find this window keeps its
    // request in the inbox.
    static_cast<void>(publishWindowHandle(*m_config.runtimeDir, loadString(IDS_HANDOFF_MAPPING), m_windowHandle));
}

void WindowPublication::tellTakenOver() const
{
    // An old window that is not told comes back by itself once its wait runs out and
    // kills this process: what this one keeps is on disk, made to survive a kill.
    std::string failure;
    if (m_config.takesOverFrom != 0 && m_handoffServer
        && !sendHandoffMessage(*m_config.runtimeDir, m_config.takesOverFrom, {WM_TAKEN_OVER, 0, 0, 0, {}}, {}, &failure))
        logFailure("telling the version before that this one took over", failure, "it ends by itself once its wait runs out");
}

void WindowPublication::closeServer()
{
    m_handoffServer.reset();
}

void WindowPublication::unpublishHandle()
{
    if (m_windowHandle != 0 && m_config.runtimeDir)
        unpublishWindowHandle(*m_config.runtimeDir, loadString(IDS_HANDOFF_MAPPING), m_windowHandle);
}

void WindowPublication::watchInbox(std::function<void()> lettersCame)
{
    const std::string& inbox = m_inbox.folder();
    if (inbox.empty())
        return;
    // Made now, so that there is a folder to watch; a deposit would make it anyway.
    static_cast<void>(makeFolders(inbox, 0700));
    m_inboxWatch = std::make_unique<QFileSystemWatcher>();
    const QString queueFolder = QString::fromStdString(parentFolder(inbox));
    const QString inboxFolder = QString::fromStdString(inbox);
    // The queue folder too: an inbox removed and made again is watched again, with
    // whatever letters came into it meanwhile.
    // A folder that cannot be watched (it is gone, or the system has no watches left)
    // is tried again at the next change of the other.
    const auto look = [this, queueFolder, inboxFolder, lettersCame = std::move(lettersCame)] {
        for (const QString& folder : {inboxFolder, queueFolder})
            if (!m_inboxWatch->directories().contains(folder))
                static_cast<void>(m_inboxWatch->addPath(folder));
        if (m_inbox.hasLetters())
            lettersCame();
    };
    QObject::connect(m_inboxWatch.get(), &QFileSystemWatcher::directoryChanged, m_inboxWatch.get(), look);
    // Letters that came since the window last took them.
    look();
    if (!m_inboxWatch->directories().contains(inboxFolder))
        logFailure("watching the inbox " + inbox, "it cannot be watched",
                   "requests left there are taken at the next change of the queue folder, or the next start");
}

void WindowPublication::letQueuesGo()
{
    if (m_config.queueOwner)
        m_config.queueOwner->release();
}

bool WindowPublication::takeQueuesBack()
{
    // The new version that had them has ended, or is being ended: the kernel lets
    // its lock go with the process.
    if (!m_config.queueOwner || m_config.queueOwner->owned()
        || m_config.queueOwner->takeWithin(std::chrono::seconds(3)))
        return true;
    logFailure("taking the queue files in " + parentFolder(m_config.queueOwner->path()) + " back",
               "another Quavero window runs on them now", "this window ends");
    return false;
}

} // namespace qvr
