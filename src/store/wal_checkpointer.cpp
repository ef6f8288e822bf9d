#include "wal_checkpointer.h"

#include <QFile>
#include <sqlite3.h>

namespace {

// Saving commands come in bursts (a sort, then a few edits); one copy after the burst is enough.
constexpr std::chrono::milliseconds kPause(400);

} // namespace

WalCheckpointer::WalCheckpointer(const QString& path) : m_path(path)
{
    m_thread = std::thread([this] { run(); });
}

WalCheckpointer::~WalCheckpointer()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
    sqlite3_close_v2(m_db);
}

void WalCheckpointer::committed(int frames)
{
    {
        const std::lock_guard lock(m_mutex);
        m_due = true;
        m_at = std::chrono::steady_clock::now() +
               (frames >= kBusyFrames ? std::chrono::milliseconds(0) : kPause);
    }
    m_wake.notify_one();
}

void WalCheckpointer::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_due || m_stopping; });
        if (m_stopping)
            return;
        if (std::chrono::steady_clock::now() < m_at) {
            m_wake.wait_until(lock, m_at);
            continue; // a later commit may have moved the time
        }
        m_due = false;
        lock.unlock();
        // Only what no reader needs is copied, and nothing waits for a lock: a copy that
        // cannot finish now finishes after the next commit. Closing the store's last connection
        // copies the rest.
        // A connection that has read nothing yet does not know the store keeps a log, and its
        // checkpoint would copy nothing: it reads the header first.
        if (!m_db &&
            (sqlite3_open_v2(QFile::encodeName(m_path).constData(), &m_db, SQLITE_OPEN_READWRITE,
                             nullptr) != SQLITE_OK ||
             sqlite3_exec(m_db, "PRAGMA schema_version", nullptr, nullptr, nullptr) != SQLITE_OK)) {
            sqlite3_close_v2(m_db);
            m_db = nullptr;
        }
        if (m_db)
            sqlite3_wal_checkpoint_v2(m_db, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        lock.lock();
    }
}
