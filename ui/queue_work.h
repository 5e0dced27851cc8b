#pragma once

#include "engine/configuration.h"
#include "engine/queue_controller.h"
#include "engine/queue_files.h"
#include "engine/worker_set.h"
#include "ui/window_environment.h"

#include <QTimer>

#include <chrono>

namespace qvr {

// The queue's side of the window: the workers with the settings they share, the
// queue files, and the controller that decides about them all and has the window
// show what it decided. Window's thread.
class QueueWork {
public:
    // The workers report to `window`; the controller shows through `view`.
    QueueWork(MessageSink& window, QueueView& view, const Configuration& configuration,
              const MainWindowEnvironment& environment);
    QueueWork(const QueueWork&) = delete;
    QueueWork& operator=(const QueueWork&) = delete;

    WorkerSet& workers() { return m_workers; }
    WorkerShared& shared() { return m_workers.shared(); }
    QueueFiles& files() { return m_files; }
    QueueController& controller() { return m_controller; }
    const QueueController& controller() const { return m_controller; }

    // The saves that failed are tried again after `pause` (QueueView::retrySavesAfter).
    void retrySavesAfter(std::chrono::milliseconds pause) { m_saveRetry.start(pause); }
    // Tracks and requests set aside are handed out again after `pause`
    // (QueueView::retryWaitingAfter).
    void retryWaitingAfter(std::chrono::milliseconds pause) { m_waitRetry.start(pause); }

private:
    WorkerSet m_workers;
    QueueFiles m_files;
    QueueController m_controller;
    QTimer m_saveRetry;
    QTimer m_waitRetry;
};

} // namespace qvr
