#include "ui/queue_work.h"

namespace qvr {

QueueWork::QueueWork(MessageSink& window, QueueView& view, const Configuration& configuration,
                     const MainWindowEnvironment& environment)
    : m_workers(window, configuration),
      m_files(configuration.strings.m_strDownloadQueuePath, configuration.strings.m_strRawQueuePath),
      m_controller(view, m_workers, m_workers.shared(), m_files, environment.writeDownloadFolder)
{
    WorkerShared& shared = m_workers.shared();
    shared.m_gateFolder = environment.gateFolder;
    shared.m_http = environment.http;
    shared.m_retryPause = environment.retryPause;
    shared.m_largestTrack = environment.largestTrack;
    shared.m_diskReserve = environment.diskReserve;
    m_saveRetry.setSingleShot(true);
    QObject::connect(&m_saveRetry, &QTimer::timeout, [this] { m_controller.RetrySaves(); });
}

} // namespace qvr
