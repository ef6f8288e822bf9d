#include "task_list_codec.h"

#include "numbers.h"

namespace TaskListCodec {

QList<QStringList> decode(const QString& value)
{
    // Scanned with indexOf rather than split: split builds a list of views per entry, and
    // showing 32767 tasks is mostly allocation.
    QList<QStringList> tasks;
    const QStringView all(value);
    qsizetype start = 0;
    while (start < all.size()) {
        qsizetype end = all.indexOf(kTaskSeparator, start);
        if (end < 0)
            end = all.size();
        if (end > start) {
            const QStringView entry = all.sliced(start, end - start);
            QStringList fields;
            fields.reserve(kFieldCount);
            for (qsizetype from = 0;;) {
                const qsizetype at = entry.indexOf(kFieldSeparator, from);
                if (at < 0) {
                    fields.append(entry.sliced(from).toString());
                    break;
                }
                fields.append(entry.sliced(from, at - from).toString());
                from = at + kFieldSeparator.size();
            }
            tasks.append(std::move(fields));
        }
        start = end + kTaskSeparator.size();
    }
    return tasks;
}

void appendEntry(QString& out, const Fields& fields)
{
    for (int i = 0; i < kFieldCount; ++i) {
        out += fields[i];
        out += i + 1 < kFieldCount ? kFieldSeparator : kTaskSeparator;
    }
}

bool containsSeparator(const QString& text)
{
    return text.contains(kFieldSeparator) || text.contains(kTaskSeparator);
}

} // namespace TaskListCodec

namespace ColumnWidthsCodec {

QString encode(const QList<double>& twips)
{
    QString out;
    for (double width : twips)
        out += Numbers::shortest(width) + TaskListCodec::kFieldSeparator;
    return out;
}

QStringList split(const QString& value)
{
    return value.split(TaskListCodec::kFieldSeparator);
}

} // namespace ColumnWidthsCodec

namespace TaskTypesCodec {

QStringList decode(const QString& value)
{
    return value.split(u';', Qt::SkipEmptyParts);
}

QString encode(const QStringList& types)
{
    QString out;
    for (const QString& type : types)
        out += type + u';';
    return out;
}

} // namespace TaskTypesCodec
