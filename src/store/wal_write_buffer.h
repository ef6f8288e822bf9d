#pragma once

struct sqlite3;

// SQLite writes each page of its write-ahead log as two writes, the frame's header and the
// page: a list of several megabytes takes thousands of system calls, which cost more than the
// bytes. Opened through this VFS, the store's log gathers consecutive writes in memory and
// hands them to the system in large pieces; whatever is gathered reaches the file before any
// sync, read, size query or truncation of the log, so SQLite sees the file as it wrote it
// whenever it looks, and a commit is on the disk when its sync returns, as before.
namespace WalWriteBuffer {

// The name to open the store with; the VFS is registered on the first call.
const char* vfsName();

// Gathers the writes to the log of `db` from now on. Only for a connection whose every commit
// is synced (synchronous=FULL): the gathered writes are handed over at the sync, and another
// connection must never find a commit whose frames are still here.
void enable(sqlite3* db);

// The system's reason (errno) for the last write to the log of `db` that failed since the last
// call, or 0. SQLite keeps none for a write that fails within a commit.
int takeWriteErrno(sqlite3* db);

} // namespace WalWriteBuffer
