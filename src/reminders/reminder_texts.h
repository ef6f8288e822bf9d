#pragma once

#include "due_tasks.h"

#include <QList>
#include <QString>

// What one notification says.
struct ReminderText
{
    QString title;
    QString body; // lines separated by a line feed
};

namespace ReminderTexts {

// At most this many tasks get a notification each; more at once share one.
constexpr int kSingleMost = 3;

// "Due today" or "Overdue", the task's text, its category and its due date.
ReminderText forTask(const DueTask& task, const QDate& today);
// "N tasks are due", naming the first three.
ReminderText forMany(const QList<DueTask>& tasks);

} // namespace ReminderTexts
