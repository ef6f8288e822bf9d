#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QTimer>

// A call to another program on the bus that serves this thread's events while it waits, as the
// panel may call back into the program under test before it answers. QDBus::BlockWithGui loses
// the wake-up when the answer comes between its check and its wait, and then waits for ever:
// a watcher hears of the answer whenever it comes.
inline QDBusMessage callServingEvents(const QDBusConnection& bus, const QDBusMessage& message,
                                      int timeoutMs)
{
    QDBusPendingCallWatcher watcher(bus.asyncCall(message, timeoutMs));
    if (!watcher.isFinished()) {
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs + 1000, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return watcher.reply();
}
