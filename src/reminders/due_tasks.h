#pragma once

#include "reminder_host.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QUuid>

class SettingsStore;

// A task to be reminded of: in an active list, not finished, due today or earlier.
struct DueTask
{
    QUuid uid;
    QString categoryKey;
    QString path;
    QString text;
    QString dueText; // as the user wrote it
    QDate due;

    bool operator==(const DueTask&) const = default;
};

// The due tasks of every category, the longest overdue first, and in tree and list order
// among those due the same day. A due date is what the overdue colour takes for one.
QList<DueTask> findDueTasks(SettingsStore& store, const QList<ReminderCategory>& categories,
                            const QDate& today);
