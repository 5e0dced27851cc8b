#include "ui/background_work.h"

#include <QMetaObject>

namespace qvr {

BackgroundWork::BackgroundWork() : m_shared(std::make_shared<Shared>()), m_receiver(std::make_unique<QObject>()) {}

BackgroundWork::~BackgroundWork()
{
    m_stop = true;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stop = true;
    }
    m_shared->answered.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    // Drops what is still queued for the window's thread.
    m_receiver.reset();
}

void BackgroundWork::start(std::function<void()> job)
{
    if (m_thread.joinable())
        m_thread.join();
    m_thread = std::thread(std::move(job));
}

std::function<bool()> BackgroundWork::stopping() const
{
    return [this] { return m_stop.load(); };
}

void BackgroundWork::post(std::function<void()> call)
{
    // Posted under the lock that the window's thread takes before it runs the call, so
    // that what the job made for it is seen there: Qt's own queue lock synchronises
    // too, but unseen by ThreadSanitizer.
    std::lock_guard lock(m_shared->mutex);
    QMetaObject::invokeMethod(
        m_receiver.get(),
        [shared = m_shared, call = std::move(call)] {
            {
                std::lock_guard delivery(shared->mutex);
                if (shared->stop)
                    return;
            }
            call();
        },
        Qt::QueuedConnection);
}

bool BackgroundWork::runAndWait(std::function<void()> call)
{
    auto done = std::make_shared<bool>(false);
    post([shared = m_shared, done, call = std::move(call)] {
        call();
        {
            std::lock_guard lock(shared->mutex);
            *done = true;
        }
        shared->answered.notify_all();
    });
    std::unique_lock lock(m_shared->mutex);
    m_shared->answered.wait(lock, [&] { return *done || m_shared->stop; });
    return *done;
}

} // namespace qvr
