#pragma once

#include <QString>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct sqlite3;

// Copies what the store's write-ahead log holds back into the store's file, on a thread and a
// connection of its own, once the saving commands have paused. A saving command then waits for
// its own write to reach the disk and nothing more. Nothing here is needed for durability: a
// commit is whole once it is in the log, and a kill in the middle of a copy leaves the log to
// be copied again by the next connection.
class WalCheckpointer
{
public:
    explicit WalCheckpointer(const QString& path);
    // Waits for a copy under way, never for one that is only due.
    ~WalCheckpointer();
    WalCheckpointer(const WalCheckpointer&) = delete;
    WalCheckpointer& operator=(const WalCheckpointer&) = delete;

    // After each commit: the log now holds `frames` pages.
    void committed(int frames);

    // A log this long is copied as soon as the thread can, without waiting for a pause.
    static constexpr int kBusyFrames = 4096;

private:
    void run();

    const QString m_path;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_due = false;
    bool m_stopping = false;
    std::chrono::steady_clock::time_point m_at;
    sqlite3* m_db = nullptr;
    std::thread m_thread;
};
