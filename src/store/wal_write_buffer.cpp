#include "wal_write_buffer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sqlite3.h>
#include <utility>

namespace WalWriteBuffer {

namespace {

// The system VFS takes no single write of 128 KiB or more.
constexpr int kCapacity = 64 * 1024;

sqlite3_vfs* g_system = nullptr;
sqlite3_vfs g_vfs;

struct LogFile
{
    sqlite3_file file; // first: SQLite sees a LogFile as its sqlite3_file
    sqlite3_file* system;
    bool gathering;
    char* buffer;
    sqlite3_int64 start;
    int length;
    int writeErrno; // the system's reason for the last write that failed
};

LogFile* logOf(sqlite3_file* file)
{
    return reinterpret_cast<LogFile*>(file);
}

int write(LogFile* log, const void* data, int amount, sqlite3_int64 offset)
{
    errno = 0;
    const int rc = log->system->pMethods->xWrite(log->system, data, amount, offset);
    if (rc != SQLITE_OK && errno != 0)
        log->writeErrno = errno;
    return rc;
}

int flush(LogFile* log)
{
    if (log->length == 0)
        return SQLITE_OK;
    const int length = log->length;
    log->length = 0;
    return write(log, log->buffer, length, log->start);
}

int logClose(sqlite3_file* file)
{
    LogFile* log = logOf(file);
    const int flushed = flush(log);
    std::free(log->buffer);
    log->buffer = nullptr;
    const int closed = log->system->pMethods->xClose(log->system);
    return flushed != SQLITE_OK ? flushed : closed;
}

int logRead(sqlite3_file* file, void* out, int amount, sqlite3_int64 offset)
{
    LogFile* log = logOf(file);
    if (const int rc = flush(log))
        return rc;
    return log->system->pMethods->xRead(log->system, out, amount, offset);
}

int logWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset)
{
    LogFile* log = logOf(file);
    if (log->gathering && log->length > 0 && offset == log->start + log->length &&
        amount <= kCapacity - log->length) {
        std::memcpy(log->buffer + log->length, data, size_t(amount));
        log->length += amount;
        return SQLITE_OK;
    }
    // Anything but the next bytes goes after what is gathered, which goes first.
    if (const int rc = flush(log))
        return rc;
    if (!log->gathering || amount > kCapacity / 2)
        return write(log, data, amount, offset);
    if (!log->buffer && !(log->buffer = static_cast<char*>(std::malloc(kCapacity))))
        return write(log, data, amount, offset);
    std::memcpy(log->buffer, data, size_t(amount));
    log->start = offset;
    log->length = amount;
    return SQLITE_OK;
}

int logTruncate(sqlite3_file* file, sqlite3_int64 size)
{
    LogFile* log = logOf(file);
    if (const int rc = flush(log))
        return rc;
    return log->system->pMethods->xTruncate(log->system, size);
}

int logSync(sqlite3_file* file, int flags)
{
    LogFile* log = logOf(file);
    if (const int rc = flush(log))
        return rc;
    return log->system->pMethods->xSync(log->system, flags);
}

int logFileSize(sqlite3_file* file, sqlite3_int64* size)
{
    LogFile* log = logOf(file);
    if (const int rc = flush(log))
        return rc;
    return log->system->pMethods->xFileSize(log->system, size);
}

int logLock(sqlite3_file* file, int level)
{
    return logOf(file)->system->pMethods->xLock(logOf(file)->system, level);
}

int logUnlock(sqlite3_file* file, int level)
{
    return logOf(file)->system->pMethods->xUnlock(logOf(file)->system, level);
}

int logCheckReservedLock(sqlite3_file* file, int* out)
{
    return logOf(file)->system->pMethods->xCheckReservedLock(logOf(file)->system, out);
}

int logFileControl(sqlite3_file* file, int op, void* arg)
{
    LogFile* log = logOf(file);
    if (const int rc = flush(log))
        return rc;
    return log->system->pMethods->xFileControl(log->system, op, arg);
}

int logSectorSize(sqlite3_file* file)
{
    return logOf(file)->system->pMethods->xSectorSize(logOf(file)->system);
}

int logDeviceCharacteristics(sqlite3_file* file)
{
    return logOf(file)->system->pMethods->xDeviceCharacteristics(logOf(file)->system);
}

// Version 1: a log file is never shared memory nor mapped.
const sqlite3_io_methods g_logMethods = {1,
                                         logClose,
                                         logRead,
                                         logWrite,
                                         logTruncate,
                                         logSync,
                                         logFileSize,
                                         logLock,
                                         logUnlock,
                                         logCheckReservedLock,
                                         logFileControl,
                                         logSectorSize,
                                         logDeviceCharacteristics,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr};

int open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags)
{
    // Every other file is the system VFS's own, in the room this VFS was given for it.
    if (!(flags & SQLITE_OPEN_WAL))
        return g_system->xOpen(g_system, name, file, flags, outFlags);
    LogFile* log = logOf(file);
    log->system = reinterpret_cast<sqlite3_file*>(log + 1);
    log->gathering = false;
    log->buffer = nullptr;
    log->start = 0;
    log->length = 0;
    log->writeErrno = 0;
    const int rc = g_system->xOpen(g_system, name, log->system, flags, outFlags);
    if (rc != SQLITE_OK) {
        if (log->system->pMethods)
            log->system->pMethods->xClose(log->system);
        file->pMethods = nullptr;
        return rc;
    }
    file->pMethods = &g_logMethods;
    return SQLITE_OK;
}

} // namespace

const char* vfsName()
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        g_system = sqlite3_vfs_find(nullptr);
        g_vfs = *g_system;
        g_vfs.zName = "kestrune-wal-buffer";
        g_vfs.pNext = nullptr;
        g_vfs.szOsFile = int(sizeof(LogFile)) + g_system->szOsFile;
        g_vfs.xOpen = open;
        sqlite3_vfs_register(&g_vfs, 0);
    });
    return g_vfs.zName;
}

static LogFile* logOf(sqlite3* db)
{
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &file) == SQLITE_OK &&
        file && file->pMethods == &g_logMethods)
        return logOf(file);
    return nullptr;
}

void enable(sqlite3* db)
{
    if (LogFile* log = logOf(db))
        log->gathering = true;
}

int takeWriteErrno(sqlite3* db)
{
    LogFile* log = logOf(db);
    return log ? std::exchange(log->writeErrno, 0) : 0;
}

} // namespace WalWriteBuffer
