#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// Why a snapshot was made; the file name carries it.
enum class SnapshotReason
{
    FirstSaveOfDay,
    DeleteAll,
    RestoreAll,
    DeleteCategory,
    Import,
    Restore,
};

// One snapshot in the backups folder, known by its file name alone.
struct SnapshotFile
{
    QString path;
    QDateTime made; // UTC, to the millisecond
    SnapshotReason reason = SnapshotReason::FirstSaveOfDay;
    qint64 bytes = 0;
};

namespace SnapshotFiles {

// <the store's folder>/backups
QString folderOf(const QString& storePath);
// "Kestrune-20261208T160609.123Z-import.db": sorts by time, tells the reason.
QString fileName(const QDateTime& madeUtc, SnapshotReason reason);
std::optional<SnapshotFile> parse(const QString& path);
// What the Backups window says the snapshot was made for.
QString describe(SnapshotReason reason);
// Every snapshot in `folder`, newest first; files of other names are not ours and left out.
QList<SnapshotFile> list(const QString& folder);

// How long snapshots are kept: every one of the last two days, then the newest of each day for
// fourteen days, of each week for eight weeks, of each month for twelve months; beyond
// `maxBytes` in all the oldest go first. The newest one is always kept.
struct Keeping
{
    qint64 maxBytes = 200LL * 1024 * 1024;
};
// The snapshots of `newestFirst` the rule lets go at `now`.
QList<SnapshotFile> surplus(const QList<SnapshotFile>& newestFirst, const QDateTime& now,
                            const Keeping& keeping = {});
// Removes the surplus and any snapshot a killed run left half written.
void prune(const QString& folder, const QDateTime& now, const Keeping& keeping = {});

// The prefix of a snapshot still being written: never listed, removed by the next prune.
inline const QString kIncompletePrefix = QStringLiteral(".incomplete-");

} // namespace SnapshotFiles
