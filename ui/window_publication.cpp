#include "ui/window_publication.h"

#include "engine/window_messages.h"
#include "platform/failure_log.h"
#include "res/strings.h"

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

} // namespace qvr
