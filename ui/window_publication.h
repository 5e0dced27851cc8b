#pragma once

#include "engine/configuration.h"
#include "engine/request_inbox.h"
#include "platform/handoff.h"

#include <cstdint>
#include <functional>
#include <memory>

class QFileSystemWatcher;

namespace qvr {

// How later starts find the window: its hand-off server, the handle it is published
// under in the configuration's runtime folder, and the inbox where the requests they
// hand over wait for the window's thread. Without a runtime folder the window cannot
// be reached from outside, and its requests come only through the inbox.
class WindowPublication {
public:
    explicit WindowPublication(const Configuration& configuration);
    ~WindowPublication();
    WindowPublication(const WindowPublication&) = delete;
    WindowPublication& operator=(const WindowPublication&) = delete;

    // Safe from any thread (RequestInbox::depositRequest).
    RequestInbox& inbox() { return m_inbox; }

    // Listens for later starts, whose messages `deliver` gets on the server's thread,
    // and publishes the window.
    void publishHandle(HandoffServer::Deliver deliver);
    // Once more, over what a newer version published meanwhile.
    void publishAgain();
    // Tells the window that this start takes over from that it runs now.
    void tellTakenOver() const;
    // No message from outside is delivered once this returns; the window's thread
    // must not be one that a running delivery waits for (see ~HandoffServer).
    void closeServer();
    // The handle goes, unless a newer window has published over it.
    void unpublishHandle();

    // Calls `lettersCame` on the window's thread whenever letters wait in the inbox,
    // also those that came by another way than this window's server (a start that
    // found the window busy or unreachable put them there).
    void watchInbox(std::function<void()> lettersCame);

    // The queue files' lock goes to the new version of the program that is about to
    // start, and comes back to a window that runs on after all. False when another
    // window took the queue files meanwhile: this one must not touch them.
    void letQueuesGo();
    [[nodiscard]] bool takeQueuesBack();

private:
    const Configuration& m_config;
    RequestInbox m_inbox;
    std::uint32_t m_windowHandle = 0;
    std::unique_ptr<HandoffServer> m_handoffServer;
    std::unique_ptr<QFileSystemWatcher> m_inboxWatch;
};

} // namespace qvr
