#include "reminder_clock.h"

#include "due_dates.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

constexpr int kFallbackMostMs = 5 * 60 * 1000;

} // namespace

SystemClock::SystemClock(QObject* parent) : ReminderClock(parent)
{
    m_fd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &SystemClock::onReadable);
    }
    m_fallback.setSingleShot(true);
    m_fallback.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_fallback, &QTimer::timeout, this, [this] {
        if (QDateTime::currentDateTime() >= m_when)
            emit woke();
        else
            wakeAt(m_when);
    });
}

SystemClock::~SystemClock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

void SystemClock::wakeAt(const QDateTime& when)
{
    m_when = when;
    if (m_fd >= 0) {
        // To the millisecond: a wake-up a little early would find nothing to do and ask again.
        const qint64 ms = std::max<qint64>(when.toMSecsSinceEpoch(), 1);
        itimerspec deadline{};
        deadline.it_value.tv_sec = time_t(ms / 1000);
        deadline.it_value.tv_nsec = long(ms % 1000) * 1000000;
        if (timerfd_settime(m_fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &deadline,
                            nullptr) == 0)
            return;
    }
    const qint64 ms = QDateTime::currentDateTime().msecsTo(when);
    m_fallback.start(int(std::clamp<qint64>(ms, 0, kFallbackMostMs)));
}

void SystemClock::onReadable()
{
    std::uint64_t expirations = 0;
    // Either the time came, or the read fails with ECANCELED because the clock was set.
    const ssize_t got = ::read(m_fd, &expirations, sizeof expirations);
    if (got < 0 && errno == EAGAIN)
        return;
    emit woke();
}

SettableClock::SettableClock(const QDateTime& now, QObject* parent) : ReminderClock(parent)
{
    set(now);
}

SettableClock::~SettableClock()
{
    Clock::setToday({});
}

void SettableClock::set(const QDateTime& to)
{
    m_now = to;
    Clock::setToday(to.date());
}

void SettableClock::pass(const QDateTime& to)
{
    set(to);
    if (m_when.isValid() && m_when <= to)
        emit woke();
}

void SettableClock::jump(const QDateTime& to)
{
    set(to);
    emit woke();
}
