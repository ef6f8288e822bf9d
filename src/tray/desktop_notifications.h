#pragma once

#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

// Balloons as desktop notifications (org.freedesktop.Notifications on the session bus), for
// desktops whose tray shows the icon as a StatusNotifierItem. Qt's own balloon there neither
// tells when the server closed it nor can be taken down early; this one does both.
class DesktopNotifications : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifications(QObject* parent = nullptr);

    // Whether the session's tray is a StatusNotifierWatcher with a host, the test Qt makes to
    // decide how QSystemTrayIcon shows its icon. Asked once per process, as Qt does.
    static bool statusNotifierTrayInUse();

    // Replaces the notification shown before, if any. `timeoutMs` 0 leaves the time to the
    // server.
    void show(const QString& title, const QString& text, int timeoutMs);
    // Takes the notification down if it is still up.
    void close();

signals:
    // The server closed the notification: expired (`timedOut`), dismissed or closed by us.
    void closed(bool timedOut);
    // The user clicked it.
    void clicked();

private slots:
    // QtDBus connects bus signals to slots by name only.
    void onNotificationClosed(uint id, uint reason);
    void onActionInvoked(uint id, const QString& action);

private:
    void onNotifyReply(QDBusPendingCallWatcher* call);

    uint m_id = 0;          // the server's id of the notification that is up, 0 for none
    bool m_pending = false; // a Notify whose id has not come back yet
    bool m_closeWhenKnown = false;
};
