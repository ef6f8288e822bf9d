#pragma once

// The largest store worth planning for, shaped like a busy user's: 32767 tasks over 20
// categories (every fourth a subcategory of the one before), each category a share of the
// tasks, a third of them with due dates (some overdue), some with notes.
#include "category_tree_codec.h"
#include "due_dates.h"
#include "settings_store.h"
#include "task_list_codec.h"

#include <QList>
#include <utility>
#include <vector>

namespace BusyStore {

constexpr int kCategories = 20;
constexpr int kTasks = 32767;

// Writes the tree and every category's active list in one transaction, and with `deletedToo`
// a deleted list of the same size beside each. Returns the tree's nodes in node order.
inline QList<CategoryTreeCodec::Node> fill(SettingsStore& store, bool deletedToo,
                                           int tasks = kTasks)
{
    const QStringList priorities = {"Highest", "High", "Medium", "Low", "Lowest"};
    const QDate today = Clock::today();
    QList<CategoryTreeCodec::Node> nodes;
    std::vector<std::pair<QString, QString>> values;
    int task = 0;
    for (int c = 0; c < kCategories; ++c) {
        const bool sub = c % 4 == 3;
        const QString key =
            sub ? CategoryTreeCodec::subKey(2, c + 1) : CategoryTreeCodec::rootKey(c + 1);
        nodes.append({QStringLiteral("Category %1").arg(c + 1), key,
                      sub ? CategoryTreeCodec::rootKey(c) : QString()});
        QString active, deleted;
        const int count = tasks / kCategories + (c < tasks % kCategories ? 1 : 0);
        for (int i = 0; i < count; ++i, ++task) {
            const QString due =
                task % 3 == 0 ? DueDates::format(today.addDays(task % 60 - 30)) : QString();
            const QString notes = task % 5 == 0
                                      ? QStringLiteral("Ask about item %1 before Friday").arg(task)
                                      : QString();
            TaskListCodec::appendEntry(
                active, {QStringLiteral("Task number %1 of the export benchmark").arg(task),
                         priorities[task % 5], QStringLiteral("General"), due, notes,
                         task % 7 == 0 ? QStringLiteral("Done") : QString()});
            if (deletedToo)
                TaskListCodec::appendEntry(
                    deleted, {QStringLiteral("Deleted task %1 of the find benchmark").arg(task),
                              priorities[task % 5], QStringLiteral("Idea"), due,
                              task % 5 == 1 ? notes + QStringLiteral("Done before Friday") : notes,
                              QString()});
        }
        values.emplace_back(key, active);
        if (deletedToo)
            values.emplace_back(TaskListCodec::deletedKey(key), deleted);
    }
    values.emplace_back(CategoryTreeCodec::kKey, CategoryTreeCodec::encode(nodes));
    store.writeAll(values);
    return nodes;
}

} // namespace BusyStore
