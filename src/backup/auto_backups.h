#pragma once

#include "snapshot_files.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class SnapshotSource;

// The snapshots a running program makes of its store. A snapshot fixes the store's state at
// once, on the caller's thread (a read transaction, well under a millisecond), and is written
// out and the folder pruned on a thread of its own, so the command that asked goes on at once.
class AutoBackups : public QObject
{
    Q_OBJECT

public:
    explicit AutoBackups(const QString& storePath, QObject* parent = nullptr);
    // Waits for the snapshots asked for: each one holds a state the person may need.
    ~AutoBackups() override;

    const QString& folder() const { return m_folder; }

    // A snapshot of the store as it is now. A failure is reported through failed().
    void snapshot(SnapshotReason reason);
    // The same, written (after those asked for before it) by the time this returns: its path.
    // For a change that is safe only once the state it replaces is kept. Throws StoreFailure
    // when the snapshot cannot be made; failed() is not emitted then, the caller tells.
    QString snapshotAndWait(SnapshotReason reason);
    // The first change of a day: a snapshot unless one was made today already, in any run.
    void snapshotFirstOfDay();
    // Until every snapshot asked for is written and the folder pruned.
    void waitUntilIdle();

    // Replaceable by tests: the time snapshots are stamped and pruned with.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
    SnapshotFiles::Keeping keeping;

signals:
    void made(const QString& path);
    void failed(const QString& description);

private:
    // Where a caller waits for its snapshot: the file's path or why there is none.
    struct Outcome
    {
        bool done = false;
        QString path;
        QString failure;
    };
    struct Job
    {
        std::unique_ptr<SnapshotSource> source;
        SnapshotReason reason;
        QDateTime made;
        std::shared_ptr<Outcome> awaited = {};
    };
    // Queues the job; false, and nothing queued, when the store cannot be read.
    bool enqueue(SnapshotReason reason, std::shared_ptr<Outcome> awaited);
    void work();

    QString m_storePath;
    QString m_folder;
    QDate m_lastDay;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_jobs;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_thread;
};
