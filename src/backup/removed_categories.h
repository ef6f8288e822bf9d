#pragma once

#include "snapshot_files.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// A pair of stored task lists whose category is no longer in the tree: what "Delete Selected
// Category (or Sub)" of an earlier run left in the store.
struct RemovedCategory
{
    QString key;
    // From the newest snapshot whose tree still has the key; else the key itself.
    QString name;
    // Its parent there; empty for a top-level category or when no snapshot knows it.
    QString parentKey;
    int activeTasks = 0;
    int deletedTasks = 0;
};

namespace RemovedCategories {

// Whether a stored key is the active list of a category (the deleted list adds "Del").
bool isListKey(const QString& key);
// Every removed category with a task in one of its lists, in key order. `section`: the store's
// values; `treeKeys`: every category of today's tree; `snapshotsNewestFirst` give the names.
QList<RemovedCategory> find(const QHash<QString, QString>& section, const QStringList& treeKeys,
                            const QList<SnapshotFile>& snapshotsNewestFirst);

} // namespace RemovedCategories
