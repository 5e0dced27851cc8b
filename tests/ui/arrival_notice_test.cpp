#include "tests/ui/window_fixture.h"

#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QScopeGuard>

#include <csignal>
#include <sstream>

namespace qvr::test {
namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");

// The desktop's notification service: answers each Notify with the id 7, keeps its summary.
struct FakeNotificationService final : QDBusVirtualObject {
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != u"Notify")
            return false;
        summaries.push_back(message.arguments().value(3).toString().toStdString());
        return connection.send(message.createReply(QVariant::fromValue(7u)));
    }
    QString introspect(const QString&) const override { return {}; }
    std::vector<std::string> summaries;
};

TEST_F(WindowTest, ADownloadedTrackIsAnnouncedByANoticeThatOpensTheFolder)
{
    std::istringstream printed(
        ChildProcess({"/usr/bin/dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"}).readAll());
    std::string address;
    pid_t daemon = 0;
    printed >> address >> daemon;
    const QString bus = QString::fromStdString(address);
    FakeNotificationService service;
    QDBusConnection serviceBus = QDBusConnection::connectToBus(bus, QStringLiteral("service"));
    EXPECT_TRUE(serviceBus.registerVirtualObject(kNotificationsPath, &service) && serviceBus.registerService(kNotifications));
    FreedesktopNotices notices([bus] { return QDBusConnection::connectToBus(bus, QStringLiteral("window")); });
    const auto stop = qScopeGuard([&] {
        closeWindow();
        QDBusConnection::disconnectFromBus(QStringLiteral("window"));
        QDBusConnection::disconnectFromBus(QStringLiteral("service"));
        ::kill(daemon, SIGTERM);
    });
    m_adjustEnvironment = [&](MainWindowEnvironment& environment) { environment.notices = &notices; };
    queueOnDisk({{"a", "Track a", 20000}});
    openWindow();
    ASSERT_TRUE(waitFor([&] { return !service.summaries.empty(); }));
    EXPECT_THAT(service.summaries, ::testing::ElementsAre("Downloaded: Track a"));
    QDBusMessage clicked = QDBusMessage::createSignal(kNotificationsPath, kNotifications, QStringLiteral("ActionInvoked"));
    clicked << 7u << QStringLiteral("default");
    ASSERT_TRUE(serviceBus.send(clicked));
    EXPECT_TRUE(waitFor([&] { return m_desktop.opened == std::vector {m_config.strings.m_strDownloadFolder}; }));
}

} // namespace
} // namespace qvr::test
