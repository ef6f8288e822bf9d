#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

// The wall clock the reminders go by: what time it is, and a wake-up at a time of the wall
// clock that also comes when the clock is set or the machine resumes from sleep, so that the
// reminders look again then.
class ReminderClock : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    virtual QDateTime now() const = 0;
    // Replaces the wake-up asked for before.
    virtual void wakeAt(const QDateTime& when) = 0;

signals:
    // The time asked for has come, or the clock jumped.
    void woke();
};

// The system's clock. Its wake-up is a timer on the wall clock that the kernel cancels when
// the clock is set; after a sleep it fires at once if its time passed meanwhile.
class SystemClock final : public ReminderClock
{
    Q_OBJECT

public:
    explicit SystemClock(QObject* parent = nullptr);
    ~SystemClock() override;
    QDateTime now() const override;
    void wakeAt(const QDateTime& when) override;

private:
    void onReadable();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    // Where the wall-clock timer is not to be had: a monotonic timer, which sleeps stretch, so
    // it also comes back every few minutes.
    QTimer m_fallback;
    QDateTime m_when;
};

// A clock for tests: it stands still until told otherwise, and sets the day the overdue
// colours are computed against with it.
class SettableClock final : public ReminderClock
{
    Q_OBJECT

public:
    explicit SettableClock(const QDateTime& now, QObject* parent = nullptr);
    ~SettableClock() override;
    QDateTime now() const override { return m_now; }
    void wakeAt(const QDateTime& when) override { m_when = when; }
    QDateTime wakeTime() const { return m_when; }

    // Time passing: wakes when the time asked for has come.
    void pass(const QDateTime& to);
    // The clock set or a resume: wakes at once, wherever it went.
    void jump(const QDateTime& to);

private:
    void set(const QDateTime& to);
    QDateTime m_now;
    QDateTime m_when;
};
