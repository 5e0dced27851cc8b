#pragma once

#include "engine/messages.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace qvr {

// Delivers messages to the window's thread synchronously, from any thread: the
// sender waits until the handler has run there (a send from the window's own
// thread calls it directly). Once closed, sends return 0 at once and senders still
// waiting are let go, so that workers can end after the window has.
class MessagePump : public MessageSink {
public:
    using Handler = std::function<std::intptr_t(unsigned, std::uintptr_t, std::intptr_t)>;

    // Must be made on the window's thread.
    explicit MessagePump(Handler handler);
    ~MessagePump() override;

    std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    // Queues the message for the window's thread and returns at once, also on that
    // thread; its result goes nowhere. Dropped once closed.
    void postMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void close();

private:
    struct Pending {
        unsigned message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
        std::intptr_t result = 0;
        bool done = false;
    };
    void deliverOne();

    Handler m_handler;
    // Receives the queued calls on the window's thread; deleting it drops the
    // ones still queued.
    std::unique_ptr<QObject> m_receiver;
    std::mutex m_mutex;
    std::condition_variable m_delivered;
    std::deque<std::shared_ptr<Pending>> m_queue;
    bool m_closed = false;
};

} // namespace qvr
