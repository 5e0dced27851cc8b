#include "ui/message_pump.h"

#include <QMetaObject>
#include <QThread>

namespace qvr {

MessagePump::MessagePump(Handler handler)
    : m_handler(std::move(handler)), m_receiver(std::make_unique<QObject>())
{
}

MessagePump::~MessagePump()
{
    close();
}

std::intptr_t MessagePump::SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (QThread::currentThread() == m_receiver->thread()) {
        {
            std::lock_guard lock(m_mutex);
            if (m_closed)
                return 0;
        }
        return m_handler(message, wParam, lParam);
    }
    auto pending = std::make_shared<Pending>(Pending {message, wParam, lParam});
    std::unique_lock lock(m_mutex);
    if (m_closed)
        return 0;
    m_queue.push_back(pending);
    QMetaObject::invokeMethod(m_receiver.get(), [this] { deliverOne(); }, Qt::QueuedConnection);
    m_delivered.wait(lock, [&] { return pending->done; });
    return pending->result;
}

void MessagePump::postMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return;
    QMetaObject::invokeMethod(
        m_receiver.get(),
        [this, message, wParam, lParam] {
            {
                std::lock_guard deliveryLock(m_mutex);
                if (m_closed)
                    return;
            }
            m_handler(message, wParam, lParam);
        },
        Qt::QueuedConnection);
}

void MessagePump::deliverOne()
{
    std::shared_ptr<Pending> pending;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed || m_queue.empty())
            return;
        pending = m_queue.front();
        m_queue.pop_front();
    }
    // A handler may run a modal loop (a message box); messages of other workers
    // are delivered inside it, as a window would handle them.
    const std::intptr_t result = m_handler(pending->message, pending->wParam, pending->lParam);
    std::lock_guard lock(m_mutex);
    pending->result = result;
    pending->done = true;
    m_delivered.notify_all();
}

void MessagePump::close()
{
    std::lock_guard lock(m_mutex);
    m_closed = true;
    for (auto& pending : m_queue)
        pending->done = true;
    m_queue.clear();
    m_delivered.notify_all();
}

} // namespace qvr
