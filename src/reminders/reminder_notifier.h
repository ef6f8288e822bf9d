#pragma once

#include "reminder_texts.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUuid>
#include <functional>

class QDBusPendingCallWatcher;

// Reminders as desktop notifications (org.freedesktop.Notifications on the session bus), with
// the actions "Show", "Mark Done" and "Tomorrow" where the server offers actions. Without a
// server, the fallback (the tray's balloon) shows them, when there is one.
class ReminderNotifier : public QObject
{
    Q_OBJECT

public:
    enum class Action
    {
        Show,
        MarkDone,
        Tomorrow,
    };

    explicit ReminderNotifier(QObject* parent = nullptr);

    // Shows the text for `tasks`; false when nothing can show it.
    using Fallback = std::function<bool(const ReminderText&)>;
    void setFallback(Fallback fallback) { m_fallback = std::move(fallback); }

    // `markDone`: whether the notification offers "Mark Done" (one task's own does).
    void show(const ReminderText& text, const QList<QUuid>& tasks, bool markDone);
    // Takes down the notification that names the task, if one is up.
    void closeFor(const QUuid& task);

signals:
    // Whether the reminder of `tasks` reached the user (the server took it, or the fallback
    // showed it).
    void shown(const QList<QUuid>& tasks, bool reached);
    void actionInvoked(ReminderNotifier::Action action, const QList<QUuid>& tasks);

private slots:
    // QtDBus connects bus signals to slots by name only.
    void onNotificationClosed(uint id, uint reason);
    void onActionInvoked(uint id, const QString& action);

private:
    struct Pending
    {
        ReminderText text;
        QList<QUuid> tasks;
        bool markDone = false;
    };
    void ask();
    void onCapabilities(QDBusPendingCallWatcher* call);
    void notify(const Pending& notice);
    void fallBack(const Pending& notice);

    enum class Server
    {
        Unknown,
        Asking,
        Present,
        Absent, // asked again at the next reminder: a server may start after the program
        NoBus,
    };
    Server m_server = Server::Unknown;
    bool m_actions = false;
    bool m_markup = false;
    QList<Pending> m_waiting;
    // The notifications that are up, by the server's id.
    QHash<uint, QList<QUuid>> m_up;
    Fallback m_fallback;
};
