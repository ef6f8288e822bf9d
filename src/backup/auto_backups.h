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
    struct Job
    {
        std::unique_ptr<SnapshotSource> source;
        SnapshotReason reason;
        QDateTime made;
    };
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
