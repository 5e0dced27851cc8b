#include "ui/arrival_notice.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <utility>

namespace qvr {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kOpenFolder = QStringLiteral("Open Folder");

} // namespace

FreedesktopNotices::FreedesktopNotices(BusSource bus, QObject* parent) : QObject(parent), m_busSource(std::move(bus)) {}

FreedesktopNotices::~FreedesktopNotices()
{
    // Qt's D-Bus thread would otherwise undo the signal's connection itself once this
    // object goes, looking at it from that thread while it is being destroyed here.
    if (m_bus)
        static_cast<void>(m_bus->disconnect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                                            SLOT(onActionInvoked(uint, QString))));
}

void FreedesktopNotices::notify(const QString& summary, std::function<void()> openFolder)
{
    if (!m_bus) {
        m_bus = m_busSource();
        // The service tells every client of every action; ours are told apart by id.
        static_cast<void>(m_bus->connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                                         SLOT(onActionInvoked(uint, QString))));
    }
    if (!m_bus->isConnected())
        return;
    m_openFolder = std::move(openFolder);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    // "default" is a click on the notice itself; servers that show buttons show the other.
    const QStringList actions {QStringLiteral("default"), kOpenFolder, QStringLiteral("open-folder"), kOpenFolder};
    const QVariantMap hints {{QStringLiteral("desktop-entry"), QStringLiteral("quavero")},
                             {QStringLiteral("category"), QStringLiteral("transfer.complete")}};
    // Plain text: a body may be read as markup, which a title must never be.
    call << QStringLiteral("Quavero Music Manager") << m_shownId << QStringLiteral("quavero") << summary << QString()
         << actions << hints << -1;
    auto* answer = new QDBusPendingCallWatcher(m_bus->asyncCall(call), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* watcher) {
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isValid())
            m_shownId = reply.value();
        watcher->deleteLater();
    });
}

void FreedesktopNotices::onActionInvoked(uint id, const QString& action)
{
    if (id != 0 && id == m_shownId && m_openFolder
        && (action == QLatin1String("default") || action == QLatin1String("open-folder")))
        m_openFolder();
}

ArrivalNotice::ArrivalNotice(DesktopNotices& notices, std::function<void()> openFolder, Clock clock)
    : m_notices(notices), m_openFolder(std::move(openFolder)), m_clock(std::move(clock))
{
}

void ArrivalNotice::arrived(const std::string& title)
{
    if (m_arrived.empty())
        m_firstArrival = m_clock();
    m_arrived.push_back(title);
}

void ArrivalNotice::settled(bool downloading)
{
    if (m_arrived.empty() || (downloading && m_clock() - m_firstArrival < kDrainInterval))
        return;
    const QString summary = m_arrived.size() == 1
        ? QStringLiteral("Downloaded: %1").arg(QString::fromStdString(m_arrived.front()))
        : QStringLiteral("%1 tracks downloaded").arg(m_arrived.size());
    m_arrived.clear();
    m_notices.notify(summary, m_openFolder);
}

} // namespace qvr
