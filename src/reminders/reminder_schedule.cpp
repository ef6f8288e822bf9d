#include "reminder_schedule.h"

namespace ReminderSchedule {

QDateTime nextReminderTime(const QDateTime& now, const QTime& reminderTime)
{
    QDateTime next(now.date(), reminderTime);
    if (next <= now)
        next = QDateTime(now.date().addDays(1), reminderTime);
    return next;
}

Plan plan(const QList<DueTask>& due, const QHash<QUuid, SettingsStore::ReminderMark>& marks,
          const QDateTime& now, const QTime& reminderTime, const QDate& startDay,
          const QSet<QUuid>& atOnce)
{
    Plan plan;
    plan.next = nextReminderTime(now, reminderTime);
    const QDate today = now.date();
    const bool pastReminderTime = now.time() >= reminderTime;
    for (const DueTask& task : due) {
        const SettingsStore::ReminderMark mark = marks.value(task.uid);
        if (mark.reminded == today)
            continue;
        if (mark.quietUntil.isValid() &&
            (today < mark.quietUntil || (today == mark.quietUntil && !pastReminderTime)))
            continue;
        if (atOnce.contains(task.uid) || pastReminderTime ||
            (task.due < today && today == startDay))
            plan.now.append(task);
    }
    return plan;
}

} // namespace ReminderSchedule
