#include "ui/queue_work.h"

namespace qvr {

QueueWork::QueueWork(MessageSink& window, QueueView& view, const Configuration& configuration,
                     const MainWindowEnvironment& environment)
    : m_workers(window, configuration, environment.workers),
      m_files(configuration.strings.m_strDownloadQueuePath, configuration.strings.m_strRawQueuePath),
      m_controller(view, m_workers, m_workers.shared(), m_files, environment.writeDownloadFolder)
{
    m_saveRetry.setSingleShot(true);
    QObject::connect(&m_saveRetry, &QTimer::timeout, [this] { m_controller.retrySaves(); });
    m_waitRetry.setSingleShot(true);
    QObject::connect(&m_waitRetry, &QTimer::timeout, [this] { m_controller.retryWaiting(); });
}

} // namespace qvr
