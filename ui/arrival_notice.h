#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

// The desktop's notifications, passed in so that tests can see what was shown.
class DesktopNotices {
public:
    virtual ~DesktopNotices() = default;
    // Shows `summary`, with an action that calls `openFolder`; a later notice
    // takes the place of this one where the desktop still shows it. Never waits.
    virtual void notify(const QString& summary, std::function<void()> openFolder) = 0;
};

// The freedesktop notification service (org.freedesktop.Notifications) on `bus`.
// Every call is asynchronous: without a bus or a service nothing shows and nothing
// waits. The bus is asked for only at the first notice.
class FreedesktopNotices final : public QObject, public DesktopNotices {
    Q_OBJECT
public:
    using BusSource = std::function<QDBusConnection()>;
    explicit FreedesktopNotices(BusSource bus = &QDBusConnection::sessionBus, QObject* parent = nullptr);
    ~FreedesktopNotices() override;
    FreedesktopNotices(const FreedesktopNotices&) = delete;
    FreedesktopNotices& operator=(const FreedesktopNotices&) = delete;

    void notify(const QString& summary, std::function<void()> openFolder) override;

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& action);

private:
    BusSource m_busSource;
    std::optional<QDBusConnection> m_bus;
    uint m_shownId = 0;  // the service's id of the notice shown last, 0 before its answer
    std::function<void()> m_openFolder;
};

// When the desktop hears that tracks arrived: once the queue has downloaded tracks
// and goes quiet (nothing downloads: the queue is empty, paused or waiting), and
// during a long drain every kDrainInterval, naming the track, or how many arrived.
class ArrivalNotice {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::minutes kDrainInterval {5};

    ArrivalNotice(DesktopNotices& notices, std::function<void()> openFolder,
                  Clock clock = std::chrono::steady_clock::now);

    // A track is whole in the download folder.
    void arrived(const std::string& title);
    // After each download's end: whether another one runs now.
    void settled(bool downloading);

private:
    DesktopNotices& m_notices;
    std::function<void()> m_openFolder;
    Clock m_clock;
    std::vector<std::string> m_arrived;  // since the last notice
    std::chrono::steady_clock::time_point m_firstArrival {};
};

} // namespace qvr
