#pragma once

#include "dav_client.h"
#include "settings_store.h"
#include "sync_tasks_host.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// What the GUI thread gathers before a sync: the tree, the lists that changed here since the
// last sync, and the sync state.
struct SyncInput
{
    QString home; // the calendar home found before, or empty
    QList<SyncCategory> tree;
    QHash<QString, quint64> localDigests; // by category key, as the store holds the lists
    // Both lists of every category whose digest differs from the one synced last.
    QHash<QString, SyncLists> lists;
    // Categories left out of this sync: the one on screen while it holds an unsaved change.
    QSet<QString> leftOut;
    QList<SettingsStore::SyncCalendar> calendars;
    QStringList calendarsToDelete; // hrefs of categories removed here, to delete there
    QStringList calendarsIgnored;  // hrefs of calendars unlinked here, left alone
    QSet<QString> localOnly;       // category keys kept off the server
    // Category key -> the key its calendar carried, for a calendar removed or lost here that is
    // made again (or found made again by another home).
    QHash<QString, QString> remoteKeys;
    bool treeChanged = true; // names, nesting or order changed here since the last sync
    // Set off by saving commands: no calendar is asked for its tag, and a calendar linked before
    // whose category is unchanged here is left for the next whole sync.
    bool changedOnly = false;
};

// What a sync did on the server and brings back.
struct SyncOutcome
{
    SyncBatch batch;
    QString home;
    QStringList problems; // one sentence per task or calendar that could not be synced
    int uploaded = 0;
    int downloaded = 0;
    int removedThere = 0;
    int conflicts = 0;
    bool retrySoon = false; // the server changed under the sync: another one is due
};

namespace SyncRun {

// The whole run, on the worker thread. `store` is only read (the synced tasks of the
// categories that need them). Throws DavFailure when the account or the server fails as a
// whole; a single task's failure is in `problems`.
SyncOutcome run(Dav::Client& client, const SyncInput& input, const SettingsStore& store);

// A task's resource as uploaded: one VCALENDAR around its VTODO.
QByteArray resourceBody(const QByteArray& vtodo);

// The placeholders of categories the server brought, replaced by the keys given here.
void renameCategories(SyncBatch& batch, const QHash<QString, QString>& keys);
// Takes a category's changes and state out of the batch: the next sync does its work again.
void holdCategory(SyncBatch& batch, const QString& categoryKey);
// The same for one task changed here while the sync ran.
void holdTask(SyncBatch& batch, const SyncBatch::TaskChange& change);
// A category some of whose changes wait: it is not settled, and its calendar keeps no sync token,
// so that the next sync brings what waits again.
void unsettleCategory(SyncBatch& batch, const QString& categoryKey);

} // namespace SyncRun
