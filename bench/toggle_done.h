#pragma once

#include "task_list_model.h"

// A save follows a change. Ticking a task off or on changes the list's length, so SQLite
// stores the whole list again; saving an unchanged list would let it skip every unchanged page
// and time less than any real save.
inline void toggleDone(TaskListModel& tasks, int row)
{
    TaskRow changed = tasks.at(row);
    QString& done = changed.fields[DoneCol];
    done = done.isEmpty() ? QStringLiteral("Done") : QString();
    tasks.replace(row, changed);
}
