#pragma once

#include "due_dates.h"

#include <QStringList>
#include <functional>
#include <vector>

class SettingsStore;

// Every active task of every category as the export lays it out: one row per task, the
// category's own display text first, then the task's stored fields as they are.
struct ExportTable
{
    struct Row
    {
        QStringList cells;
        // The due date's colour, decided once here so that both writers apply the same rule.
        DueDates::Colour dueColour = DueDates::Colour::Untouched;
    };

    // The due date sits in the fifth column (field 3 of the task).
    static constexpr int kDueDateColumn = 4;

    QStringList header;
    std::vector<Row> rows;

    // The widest row decides: a task may hold more or fewer fields than six.
    int columnCount() const;

    // Reads "Tree Nodes" and the active list of each category straight from the store.
    // Throws Failure when the stored tree has an entry without a key.
    static ExportTable fromStore(const SettingsStore& store);
    // The same from any source of stored values (key, default) -> value, so that the reading
    // can be fuzzed without a database.
    using StoredValue = std::function<QString(const QString& key, const QString& defaultValue)>;
    static ExportTable fromStoredValues(const StoredValue& read);
};

// What both writers share: every cell at 11 points, no column wider than a workbook allows
// (255 digits), and progress reported every few hundred rows.
namespace ExportLayout {
constexpr double kFontSize = 11;
constexpr double kMaxColumnDigits = 255;
constexpr qsizetype kProgressStep = 512;
} // namespace ExportLayout

// Reports how many of the table's rows are written; the writers call it every few hundred rows.
using ExportProgress = std::function<void(qsizetype done, qsizetype total)>;
