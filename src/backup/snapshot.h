#pragma once

#include "category_tree_codec.h"
#include "settings_store.h"
#include "snapshot_files.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <atomic>
#include <optional>

struct sqlite3;

// What the Backups window lists of a snapshot without reading its task lists.
struct SnapshotSummary
{
    int categories = 0;
    int activeTasks = 0;
    int deletedTasks = 0;
};

// The store's state at one instant, held by a read transaction of a connection of its own: the
// program goes on writing (the store is in WAL mode) while this state is written out, on any
// thread, as a snapshot.
class SnapshotSource
{
public:
    // Throws StoreFailure when the store cannot be read.
    explicit SnapshotSource(const QString& storePath);
    ~SnapshotSource();
    SnapshotSource(const SnapshotSource&) = delete;
    SnapshotSource& operator=(const SnapshotSource&) = delete;

    // Writes the state into `folder` (made 0700 if need be) as a file of its own, readable by
    // its owner only, under a name that tells `madeUtc` and `reason`. The file appears whole or
    // not at all: it is written under another name, synced, then renamed. Returns its path;
    // throws StoreFailure (nothing is left behind then). Once only.
    QString writeTo(const QString& folder, SnapshotReason reason, const QDateTime& madeUtc);

private:
    QString m_storePath;
    sqlite3* m_db = nullptr;
};

// A snapshot opened read-only; nothing of it is ever changed.
class SnapshotReader
{
public:
    // Throws StoreFailure when the file is no readable database.
    explicit SnapshotReader(const QString& path);
    ~SnapshotReader();
    SnapshotReader(const SnapshotReader&) = delete;
    SnapshotReader& operator=(const SnapshotReader&) = delete;

    // The summary written with the snapshot, or counted from its lists for a file without one.
    SnapshotSummary summary() const;
    // SQLite's quick check, given up (false) when `stop` is set meanwhile.
    bool isSound(const std::atomic_bool* stop = nullptr) const;

    QString value(const QString& key, const QString& defaultValue) const;
    QByteArray listUids(const QString& key) const;
    QHash<QString, QString> section() const;
    // The whole store as it was, as SettingsStore::replaceAll takes it.
    SettingsStore::Changes contents() const;

private:
    [[noreturn]] void fail(const QString& what) const;
    QString m_path;
    sqlite3* m_db = nullptr;
};

// The summary of what a store holds: its tree's categories and their tasks.
SnapshotSummary summarise(const QHash<QString, QString>& section);
// The category tree a stored "Tree Nodes" value stands for, the three default ones included.
QList<CategoryTreeCodec::Node> treeOf(const QString& treeValue);
