#include "category_tree_codec.h"

#include "failure.h"
#include "numbers.h"

namespace CategoryTreeCodec {

QList<QStringList> splitEntries(const QString& value)
{
    QList<QStringList> entries;
    for (QStringView piece : QStringView(value).split(u'^', Qt::SkipEmptyParts)) {
        QStringList fields;
        for (QStringView field : piece.split(u';'))
            fields.append(field.toString());
        entries.append(fields);
    }
    return entries;
}

QString encode(const QList<Node>& nodesInOrder)
{
    QString out;
    for (const Node& node : nodesInOrder) {
        out += node.text + u';' + node.key + u';';
        if (node.parentKey.isEmpty())
            out += u'^';
        else
            out += node.parentKey + u'^';
    }
    return out;
}

QString rootKey(int number)
{
    return QStringLiteral("1_Root_%1").arg(number);
}

QString subKey(int depth, int number)
{
    return QStringLiteral("%1_Sublist_%2").arg(depth).arg(number);
}

int depthOf(const QString& key)
{
    return Numbers::toInt16(key.section(u'_', 0, 0),
                            QStringLiteral("the level of key \"%1\"").arg(key));
}

int numberOf(const QString& key)
{
    const QStringList pieces = key.split(u'_');
    if (pieces.size() < 3)
        throw Failure(QStringLiteral("The category key \"%1\" has no number.").arg(key));
    return Numbers::toInt16(pieces[2], QStringLiteral("the number of key \"%1\"").arg(key));
}

QString unstorableNameReason(const QString& name)
{
    if (name.contains(u';') || name.contains(u'^'))
        return QStringLiteral("A category name cannot contain \";\" or \"^\".");
    return {};
}

QList<ExportCategory> categoriesForExport(const QString& value)
{
    QList<ExportCategory> categories;
    if (value == kDefaultText) {
        for (int i = 0; i < kDefaultNames.size(); ++i)
            categories.append({kDefaultNames[i], rootKey(i + 1)});
        return categories;
    }
    for (const QStringList& fields : splitEntries(value)) {
        if (fields.size() < 2)
            throw Failure(QStringLiteral("The stored category \"%1\" has no key.").arg(fields[0]));
        categories.append({fields[0], fields[1]});
    }
    return categories;
}

} // namespace CategoryTreeCodec
