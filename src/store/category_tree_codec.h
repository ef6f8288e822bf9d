#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// "Tree Nodes": one entry per category in node order. A top-level entry is
// text;key;^ and a subcategory entry text;key;parentKey^. Nothing is escaped.
namespace CategoryTreeCodec {

inline const QString kKey = QStringLiteral("Tree Nodes");
// Stands for the three default categories; it is never parsed as entries.
inline const QString kDefaultText = QStringLiteral("Work;Home;Other");
inline const QStringList kDefaultNames = {QStringLiteral("Work"), QStringLiteral("Home"),
                                          QStringLiteral("Other")};

struct Node
{
    QString text;
    QString key;
    QString parentKey; // empty for a top-level category
};

// The non-empty "^" pieces of a stored tree, each split at ";" (fields may be missing).
QList<QStringList> splitEntries(const QString& value);
QString encode(const QList<Node>& nodesInOrder);

QString rootKey(int number);
QString subKey(int depth, int number);
// The first piece of a key: its level counted from 1. Throws Failure when it is not a number.
int depthOf(const QString& key);
// The third piece of a key: its category number. Throws Failure when missing or not a number.
int numberOf(const QString& key);

// A name the encoding cannot hold, or an empty text when the name is fine.
QString unstorableNameReason(const QString& name);

struct ExportCategory
{
    QString text;
    QString key;
};
// The categories in stored order as the export reads them, with the same default.
// Throws Failure for an entry without a key.
QList<ExportCategory> categoriesForExport(const QString& value);

} // namespace CategoryTreeCodec
