#include "auto_backups.h"

#include "failure.h"
#include "snapshot.h"

#include <QDir>

AutoBackups::AutoBackups(const QString& storePath, QObject* parent)
    : QObject(parent), m_storePath(storePath), m_folder(SnapshotFiles::folderOf(storePath))
{
    m_thread = std::thread([this] { work(); });
}

AutoBackups::~AutoBackups()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void AutoBackups::snapshot(SnapshotReason reason)
{
    enqueue(reason, nullptr);
}

QString AutoBackups::snapshotAndWait(SnapshotReason reason)
{
    auto outcome = std::make_shared<Outcome>();
    if (!enqueue(reason, outcome))
        throw StoreFailure(outcome->failure);
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [&] { return outcome->done; });
    if (outcome->path.isEmpty())
        throw StoreFailure(outcome->failure);
    return outcome->path;
}

bool AutoBackups::enqueue(SnapshotReason reason, std::shared_ptr<Outcome> awaited)
{
    Job job{nullptr, reason, now(), std::move(awaited)};
    // Any snapshot holds the state before the day's changes as well as a daily one would.
    m_lastDay = job.made.toLocalTime().date();
    try {
        job.source = std::make_unique<SnapshotSource>(m_storePath);
    } catch (const Failure& failure) {
        if (job.awaited)
            job.awaited->failure = failure.description();
        else
            emit failed(failure.description());
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_all();
    return true;
}

void AutoBackups::snapshotFirstOfDay()
{
    const QDate today = now().toLocalTime().date();
    if (m_lastDay == today)
        return;
    m_lastDay = today;
    // An earlier run of today may have made one; its file tells.
    for (const SnapshotFile& file : SnapshotFiles::list(m_folder)) {
        if (file.made.toLocalTime().date() == today)
            return;
        if (file.made.toLocalTime().date() < today)
            break;
    }
    snapshot(SnapshotReason::FirstSaveOfDay);
}

void AutoBackups::waitUntilIdle()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_jobs.empty() && !m_busy; });
}

void AutoBackups::work()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_busy = true;
        }
        // Signals cross to the thread this object lives on through its event loop.
        QString path, failure;
        try {
            path = job.source->writeTo(m_folder, job.reason, job.made);
            job.source.reset();
            SnapshotFiles::prune(m_folder, now(), keeping);
            QMetaObject::invokeMethod(
                this, [this, path] { emit made(path); }, Qt::QueuedConnection);
        } catch (const Failure& caught) {
            job.source.reset();
            failure = caught.description();
            if (!job.awaited)
                QMetaObject::invokeMethod(
                    this, [this, failure] { emit failed(failure); }, Qt::QueuedConnection);
        }
        {
            std::lock_guard lock(m_mutex);
            m_busy = false;
            if (job.awaited)
                *job.awaited = {true, path, failure};
        }
        m_idle.notify_all();
    }
}
