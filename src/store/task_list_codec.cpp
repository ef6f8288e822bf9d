#include "task_list_codec.h"

#include "numbers.h"

namespace TaskListCodec {

QList<QStringList> decode(const QString& value)
{
    QList<QStringList> tasks;
    const QList<QStringView> entries = QStringView(value).split(kTaskSeparator, Qt::SkipEmptyParts);
    tasks.reserve(entries.size());
    for (QStringView entry : entries) {
        QStringList fields;
        fields.reserve(kFieldCount);
        for (QStringView field : entry.split(kFieldSeparator))
            fields.append(field.toString());
        tasks.append(std::move(fields));
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
