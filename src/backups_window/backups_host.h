#pragma once

#include "removed_categories.h"

#include <QHash>
#include <QString>
#include <QStringList>

// What the Backups window needs of the window that opens it: today's tree and store, and the
// two ways back to an earlier state, which change the store and the window together.
class BackupsHost
{
public:
    virtual ~BackupsHost() = default;
    // Where the snapshots are.
    virtual QString backupsFolder() const = 0;
    // Every category of today's tree, and every stored value.
    virtual QStringList categoryKeysNow() const = 0;
    virtual QHash<QString, QString> storedValuesNow() const = 0;
    // Each one asks nothing and tells the person of a failure itself; true when it was done.
    virtual bool restoreBackup(const QString& snapshotPath) = 0;
    virtual bool bringBackCategory(const QString& snapshotPath, const QString& categoryKey) = 0;
    virtual bool bringBackRemovedCategory(const RemovedCategory& category) = 0;
};
