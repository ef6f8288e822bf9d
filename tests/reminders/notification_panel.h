#pragma once

// The test panel's notification server (tests/tray/sni_panel.py), driven as the desktop would
// drive it: what it was sent, and actions invoked on it.
#include "bus_call.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QList>
#include <QStringList>

class NotificationPanel
{
public:
    struct Notification
    {
        uint id = 0;
        QString summary, body;
        QStringList actions; // keys and labels, in turn
    };

    ~NotificationPanel() { QDBusConnection::disconnectFromBus(m_bus.name()); }

    bool present() const
    {
        return m_bus.isConnected() &&
               m_bus.interface()->isServiceRegistered(QStringLiteral("org.kestrune.TestPanel"));
    }
    QList<Notification> notifications()
    {
        QList<Notification> list;
        const QDBusArgument arg =
            call(QStringLiteral("Notifications")).value(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            Notification n;
            QString app;
            int timeout = 0;
            arg.beginStructure();
            arg >> n.id >> app >> n.summary >> n.body >> timeout;
            arg.endStructure();
            list.append(n);
        }
        arg.endArray();
        for (Notification& n : list)
            n.actions = call(QStringLiteral("Actions"), {n.id}).value(0).toStringList();
        return list;
    }
    QStringList summaries()
    {
        QStringList out;
        for (const Notification& n : notifications())
            out.append(n.summary);
        return out;
    }
    QList<uint> closedByClient()
    {
        QList<uint> out;
        const QDBusArgument arg =
            call(QStringLiteral("ClosedByClient")).value(0).value<QDBusArgument>();
        arg >> out;
        return out;
    }
    // As the server does when the user clicks one of the notification's buttons.
    void invoke(uint id, const QString& action) { call(QStringLiteral("Invoke"), {id, action}); }
    // Every notification closed and nothing remembered: a fresh desktop for the next test.
    void forget() { call(QStringLiteral("Forget")); }

private:
    QVariantList call(const QString& method, const QVariantList& arguments = {})
    {
        const QString panel = QStringLiteral("org.kestrune.TestPanel");
        QDBusMessage m =
            QDBusMessage::createMethodCall(panel, QStringLiteral("/TestPanel"), panel, method);
        m.setArguments(arguments);
        const QDBusMessage reply = callServingEvents(m_bus, m, 10000);
        if (reply.type() == QDBusMessage::ErrorMessage)
            qWarning("test panel: %s: %s", qPrintable(method), qPrintable(reply.errorMessage()));
        return reply.arguments();
    }

    // A connection of its own, as the panel is another program.
    QDBusConnection m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                          QStringLiteral("notification-driver"));
};
