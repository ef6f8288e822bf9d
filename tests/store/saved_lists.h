#pragma once

// The task lists the writer helper saves, as a pure function of the key and the save's number,
// so that the checker can rebuild every complete value the helper could have written.
#include "task_list_codec.h"

#include <QString>
#include <optional>

namespace SavedLists {

inline const QString kActiveKey = QStringLiteral("1_Root_7");
inline const QString kDeletedKey = TaskListCodec::deletedKey(kActiveKey);

inline quint64 mix(quint64 x)
{
    // splitmix64: sizes that jump about without any state to keep between processes.
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Never zero: an empty value can only mean a lost one. Mostly small lists, as people keep them,
// but often large and now and then the largest, so that kills land inside long writes too.
inline int taskCount(const QString& key, qint64 save)
{
    const quint64 r = mix(quint64(save) * 2 + (key == kDeletedKey ? 1 : 0));
    const int band = int(r % 100);
    const quint64 pick = r >> 8;
    if (band < 50)
        return 1 + int(pick % 100);
    if (band < 80)
        return 100 + int(pick % 3900);
    if (band < 95)
        return 4000 + int(pick % (TaskListCodec::kMaxTasks - 4000));
    return TaskListCodec::kMaxTasks;
}

// About 120 bytes a task, separators included; every task names its list and its save.
inline QString value(const QString& key, qint64 save)
{
    const int count = taskCount(key, save);
    const QString tag = QStringLiteral(" of %1 in save %2").arg(key).arg(save);
    QString out;
    out.reserve(count * 130);
    for (int i = 0; i < count; ++i)
        TaskListCodec::appendEntry(out, {QStringLiteral("Task %1").arg(i) + tag,
                                         QStringLiteral("High"), QStringLiteral("Work"),
                                         (i % 3) ? QString() : QStringLiteral("12/7/2026"),
                                         (i % 5) ? QString() : QStringLiteral("line\nbreak"),
                                         (i % 2) ? QStringLiteral("Done") : QString()});
    return out;
}

// The save a stored value claims to come from, read from its first task.
inline std::optional<qint64> saveOf(const QString& stored)
{
    const qsizetype at = stored.indexOf(QStringLiteral(" in save "));
    if (at < 0)
        return std::nullopt;
    const qsizetype from = at + 9;
    const qsizetype end = stored.indexOf(TaskListCodec::kFieldSeparator, from);
    bool ok = false;
    const qint64 save = QStringView(stored).sliced(from, end < 0 ? 0 : end - from).toLongLong(&ok);
    return ok ? std::optional(save) : std::nullopt;
}

} // namespace SavedLists
