#include "ui/window_publication.h"

#include "engine/window_messages.h"
#include "platform/failure_log.h"
#include "res/strings.h"

#include <cerrno>

namespace qvr {

WindowPublication::WindowPublication(const Configuration& configuration)
    : m_config(configuration),
      m_inbox(RequestInbox::FolderBeside(configuration.strings.m_strRawQueuePath))
{
}

WindowPublication::~WindowPublication() = default;

void WindowPublication::Publish(HandoffServer::Deliver deliver)
{
    if (!m_config.runtimeDir)
        return;
    const std::string& folder = *m_config.runtimeDir;
    RemoveDeadWindowSockets(folder);
    m_windowHandle = NewWindowHandle();
    m_handoffServer = HandoffServer::start(WindowSocketPath(folder, m_windowHandle), std::move(deliver));
    // A window that is not published is not found: a second start then keeps its
    // request in the inbox, which the next start takes.
    const bool published = m_handoffServer && PublishWindowHandle(folder, loadString(IDS_HANDOFF_MAPPING), m_windowHandle);
    if (!published)
        LogFailure(m_handoffServer ? "publishing this window in " + folder
                                   : "listening for second starts at " + WindowSocketPath(folder, m_windowHandle),
                   ErrnoText(errno), "second starts keep their requests for the next start");
}

void WindowPublication::PublishAgain()
{
    if (!m_handoffServer || !m_config.runtimeDir)
        return;
    RemoveDeadWindowSockets(*m_config.runtimeDir);
    // As in Publish(): a second start that does not find this window keeps its
    // request in the inbox.
    static_cast<void>(PublishWindowHandle(*m_config.runtimeDir, loadString(IDS_HANDOFF_MAPPING), m_windowHandle));
}

void WindowPublication::TellTakenOver() const
{
    // An old window that is not told comes back by itself once its wait runs out and
    // kills this process: what this one keeps is on disk, made to survive a kill.
    std::string failure;
    if (m_config.takesOverFrom != 0 && m_handoffServer
        && !SendHandoffMessage(*m_config.runtimeDir, m_config.takesOverFrom, {WM_TAKEN_OVER, 0, 0, 0, {}}, {}, &failure))
        LogFailure("telling the version before that this one took over", failure, "it ends by itself once its wait runs out");
}

void WindowPublication::CloseServer()
{
    m_handoffServer.reset();
}

void WindowPublication::Unpublish()
{
    if (m_windowHandle != 0 && m_config.runtimeDir)
        UnpublishWindowHandle(*m_config.runtimeDir, loadString(IDS_HANDOFF_MAPPING), m_windowHandle);
}

} // namespace qvr
