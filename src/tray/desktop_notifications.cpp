#include "desktop_notifications.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
// The server's reasons in NotificationClosed.
constexpr uint kReasonExpired = 1;

QDBusMessage call(const QString& method, const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(arguments);
    return message;
}

} // namespace

DesktopNotifications::DesktopNotifications(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(onNotificationClosed(uint, uint)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
}

bool DesktopNotifications::statusNotifierTrayInUse()
{
    static const bool inUse = [] {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kWatcher))
            return false;
        QDBusInterface watcher(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher, bus);
        return watcher.property("IsStatusNotifierHostRegistered").toBool();
    }();
    return inUse;
}

void DesktopNotifications::show(const QString& title, const QString& text, int timeoutMs)
{
    // The protocol breaks lines with a line feed alone; a carriage return would show as a box.
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    // "default" is the action a click on the notification's body invokes.
    const QStringList actions{QStringLiteral("default"), QStringLiteral("OK")};
    const QDBusMessage notify =
        call(QStringLiteral("Notify"),
             {QCoreApplication::applicationName(), m_pending ? 0u : m_id, QString(), title, body,
              actions, hints, timeoutMs > 0 ? timeoutMs : -1});
    m_id = 0;
    m_pending = true;
    m_closeWhenKnown = false;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            &DesktopNotifications::onNotifyReply);
}

void DesktopNotifications::onNotifyReply(QDBusPendingCallWatcher* watcher)
{
    watcher->deleteLater();
    QDBusPendingReply<uint> reply = *watcher;
    m_pending = false;
    // No server, or one that refused: like a balloon on an icon that is not there, nothing
    // shows, and the wait runs its full time.
    if (reply.isError())
        return;
    m_id = reply.value();
    if (m_closeWhenKnown)
        close();
}

void DesktopNotifications::close()
{
    if (m_pending) {
        m_closeWhenKnown = true;
        return;
    }
    if (m_id == 0)
        return;
    QDBusConnection::sessionBus().asyncCall(call(QStringLiteral("CloseNotification"), {m_id}));
    m_id = 0;
}

void DesktopNotifications::onNotificationClosed(uint id, uint reason)
{
    if (id == 0 || id != m_id)
        return;
    m_id = 0;
    emit closed(reason == kReasonExpired);
}

void DesktopNotifications::onActionInvoked(uint id, const QString&)
{
    if (id != 0 && id == m_id)
        emit clicked();
}
