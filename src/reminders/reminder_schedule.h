#pragma once

#include "due_tasks.h"
#include "settings_store.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QTime>
#include <QUuid>

// When each due task is to be reminded of. A task is reminded at most once a day, never while
// "Tomorrow" keeps it quiet, and otherwise:
// - due today: from the reminder time of the day on;
// - overdue: at once on the day the program starts, else from the reminder time on;
// - made due by a saving command (`atOnce`): at once.
namespace ReminderSchedule {

struct Plan
{
    QList<DueTask> now;
    // When to look again: the next reminder time, when tasks due tomorrow become due and quiet
    // ones speak again.
    QDateTime next;
};

Plan plan(const QList<DueTask>& due, const QHash<QUuid, SettingsStore::ReminderMark>& marks,
          const QDateTime& now, const QTime& reminderTime, const QDate& startDay,
          const QSet<QUuid>& atOnce = {});

// The first reminder time after `now`.
QDateTime nextReminderTime(const QDateTime& now, const QTime& reminderTime);

} // namespace ReminderSchedule
