#include "reminder_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// A server that does not answer within this time counts as none.
constexpr int kReplyTimeoutMs = 5000;
// A server could send ids without end; no more notifications than this are remembered.
constexpr qsizetype kMostUp = 64;

const QString kShow = QStringLiteral("show");
const QString kDone = QStringLiteral("done");
const QString kTomorrow = QStringLiteral("tomorrow");
const QString kDefault = QStringLiteral("default");

QDBusMessage call(const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(arguments);
    return message;
}

} // namespace

ReminderNotifier::ReminderNotifier(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        m_server = Server::NoBus;
        return;
    }
    // Another server, or the same one started again, knows nothing of the ids the last one
    // gave: a click on one of its notifications must not be taken for one on ours.
    auto* watcher =
        new QDBusServiceWatcher(kService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] {
        m_up.clear();
        if (m_server != Server::Asking)
            m_server = Server::Unknown;
    });
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(onNotificationClosed(uint, uint)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
}

void ReminderNotifier::show(const ReminderText& text, const QList<QUuid>& tasks, bool markDone)
{
    const Pending notice{text, tasks, markDone};
    switch (m_server) {
    case Server::Present:
        notify(notice);
        return;
    case Server::NoBus:
        fallBack(notice);
        return;
    case Server::Absent:
    case Server::Unknown:
        m_waiting.append(notice);
        ask();
        return;
    case Server::Asking:
        m_waiting.append(notice);
        return;
    }
}

void ReminderNotifier::ask()
{
    // Asked once while it answers; where none did (not yet started, or too slow to answer),
    // asked again at the next reminder.
    m_server = Server::Asking;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(
                                        call(QStringLiteral("GetCapabilities")), kReplyTimeoutMs),
                                    this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &ReminderNotifier::onCapabilities);
}

void ReminderNotifier::onCapabilities(QDBusPendingCallWatcher* watcher)
{
    watcher->deleteLater();
    QDBusPendingReply<QStringList> reply = *watcher;
    m_server = reply.isError() ? Server::Absent : Server::Present;
    if (!reply.isError()) {
        const QStringList capabilities = reply.value();
        m_actions = capabilities.contains(QStringLiteral("actions"));
        m_markup = capabilities.contains(QStringLiteral("body-markup"));
    }
    for (const Pending& notice : std::exchange(m_waiting, {})) {
        if (m_server == Server::Present)
            notify(notice);
        else
            fallBack(notice);
    }
}

void ReminderNotifier::notify(const Pending& notice)
{
    QStringList actions;
    if (m_actions) {
        // "default" is what a click on the notification's body invokes.
        actions << kDefault << QStringLiteral("Show") << kShow << QStringLiteral("Show");
        if (notice.markDone)
            actions << kDone << QStringLiteral("Mark Done");
        actions << kTomorrow << QStringLiteral("Tomorrow");
    }
    // A server that reads markup would take a task's "<" or "&" for some.
    const QString body = m_markup ? notice.text.body.toHtmlEscaped() : notice.text.body;
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    hints.insert(QStringLiteral("category"), QStringLiteral("x-kestrune.reminder"));
    // The icon is the installed one, named as the desktop entry. The notification stays until
    // the user deals with it: a reminder gone after a few seconds unseen is lost.
    const QDBusMessage message =
        call(QStringLiteral("Notify"),
             {QCoreApplication::applicationName(), 0u, QGuiApplication::desktopFileName(),
              notice.text.title, body, actions, hints, 0});
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(message, kReplyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notice](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                QDBusPendingReply<uint> reply = *call;
                if (reply.isError()) {
                    fallBack(notice);
                    return;
                }
                if (m_up.size() >= kMostUp)
                    m_up.erase(m_up.begin());
                m_up.insert(reply.value(), notice.tasks);
                emit shown(notice.tasks, true);
            });
}

void ReminderNotifier::fallBack(const Pending& notice)
{
    const bool reached = m_fallback && m_fallback(notice.text);
    emit shown(notice.tasks, reached);
}

void ReminderNotifier::closeFor(const QUuid& task)
{
    for (auto up = m_up.begin(); up != m_up.end();) {
        if (up->contains(task)) {
            QDBusConnection::sessionBus().asyncCall(
                call(QStringLiteral("CloseNotification"), {up.key()}));
            up = m_up.erase(up);
        } else {
            ++up;
        }
    }
}

void ReminderNotifier::onNotificationClosed(uint id, uint)
{
    m_up.remove(id);
}

void ReminderNotifier::onActionInvoked(uint id, const QString& action)
{
    const auto up = m_up.constFind(id);
    if (up == m_up.cend())
        return;
    const QList<QUuid> tasks = *up;
    if (action == kShow || action == kDefault)
        emit actionInvoked(Action::Show, tasks);
    else if (action == kDone)
        emit actionInvoked(Action::MarkDone, tasks);
    else if (action == kTomorrow)
        emit actionInvoked(Action::Tomorrow, tasks);
}
