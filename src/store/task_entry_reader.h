#pragma once

#include "task_list_codec.h"

#include <QVarLengthArray>

// Walks a stored task list entry by entry in one pass over the text. Both separators start with
// the same thirteen characters and hold an "M" only at their start, so no two of them can
// overlap: one search finds every boundary, the fields' and the entries' alike. Texts that repeat
// in a column (priorities, types, "Done") share one copy instead of one allocation per task.
class TaskEntryReader
{
public:
    explicit TaskEntryReader(QStringView stored);

    // Moves to the next non-empty entry; false when there is none left.
    bool next();
    // The current entry as stored, without its closing separator.
    QStringView stored() const { return m_entry; }
    qsizetype fieldCount() const { return m_fields.size(); }
    QString field(qsizetype i);

private:
    struct Column
    {
        QVarLengthArray<QString, 8> seen;
        int hits = 0;
        int misses = 0;
        bool stopped = false;
    };

    qsizetype findSeparator(qsizetype from) const;

    QStringView m_all;
    qsizetype m_pos = 0;
    QStringView m_entry;
    QVarLengthArray<QStringView, TaskListCodec::kFieldCount> m_fields;
    std::array<Column, TaskListCodec::kFieldCount> m_columns;
};
