#include "settings_store.h"

#include "failure.h"
#include "wal_checkpointer.h"
#include "wal_write_buffer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstring>
#include <sqlite3.h>

namespace {

// Waits this long for another program's transaction before a read or write gives up.
constexpr int kBusyTimeoutMs = 3000;
// Past this many pages the log is copied back within the saving command that made it so long:
// the log stays bounded however fast commands follow one another.
constexpr int kLongestLogFrames = 4 * WalCheckpointer::kBusyFrames;

class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
    {
        m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return m_rc == SQLITE_OK; }
    int prepareResult() const { return m_rc; }
    void bind(int index, const QByteArray& text)
    {
        sqlite3_bind_text(m_stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
    // Without a copy: `text` must outlive the next step() or reset().
    void bindKept(int index, const QByteArray& text)
    {
        sqlite3_bind_text(m_stmt, index, text.constData(), int(text.size()), SQLITE_STATIC);
    }
    void bindBlob(int index, const QByteArray& bytes)
    {
        sqlite3_bind_blob(m_stmt, index, bytes.constData(), int(bytes.size()), SQLITE_STATIC);
    }
    int step() { return sqlite3_step(m_stmt); }
    sqlite3_stmt* get() const { return m_stmt; }
    void reset() { sqlite3_reset(m_stmt); }
    QByteArray blob(int column) const
    {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
        return QByteArray(data, sqlite3_column_bytes(m_stmt, column));
    }
    QByteArrayView bytes(int column) const
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return QByteArrayView(data, sqlite3_column_bytes(m_stmt, column));
    }
    QString text(int column) const
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc;
};

QString describe(int rc, sqlite3* db)
{
    switch (rc & 0xff) {
    case SQLITE_FULL:
        return QStringLiteral("the disk is full or the file has reached its size limit");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("another program holds the store locked");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
        return QStringLiteral("the store cannot be written (%1)")
            .arg(QString::fromUtf8(sqlite3_errmsg(db)));
    case SQLITE_IOERR: {
        // SQLite says only "disk I/O error"; the system's reason (a file-size limit, a failing
        // disk) is what tells the user what to do.
        // A write to the log that fails within a commit leaves SQLite without the reason; the
        // log keeps it.
        const int logged = db ? WalWriteBuffer::takeWriteErrno(db) : 0;
        if (const int err = logged ? logged : db ? sqlite3_system_errno(db) : 0)
            return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(sqlite3_errmsg(db)),
                                                 QString::fromLocal8Bit(std::strerror(err)));
        // SQLite does not always keep the system's reason for a failed write.
        if (rc == SQLITE_IOERR_WRITE)
            return QStringLiteral("%1 (the disk may be full, or the file may have reached its "
                                  "size limit)")
                .arg(QString::fromUtf8(sqlite3_errmsg(db)));
        return QString::fromUtf8(sqlite3_errmsg(db));
    }
    default:
        return QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    }
}

} // namespace

SettingsStore::SettingsStore(const QString& path) : m_path(path)
{
    try {
        open();
    } catch (...) {
        // No destructor runs for a constructor that throws: without this the connection, its
        // file and its lock would stay open until the program ends.
        sqlite3_close_v2(m_db);
        throw;
    }
}

SettingsStore::~SettingsStore()
{
    // Its connection goes first: closing the last one copies the log back and removes it.
    m_checkpointer.reset();
    sqlite3_close_v2(m_db);
}

QString SettingsStore::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Kestrune/Kestrune.db");
}

void SettingsStore::open()
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        throw StoreFailure(
            QStringLiteral("Cannot create the folder %1 for the store.").arg(folder));

    if (QFileInfo::exists(m_path)) {
        int rc = sqlite3_open_v2(QFile::encodeName(m_path).constData(), &m_db,
                                 SQLITE_OPEN_READWRITE, WalWriteBuffer::vfsName());
        if (rc != SQLITE_OK)
            fail(QStringLiteral("Cannot open the store"));
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        useReadingCache();
        if (!isSound()) {
            sqlite3_close_v2(m_db);
            m_db = nullptr;
            moveAside();
        }
    }
    const bool created = !m_db;
    if (!m_db) {
        int rc =
            sqlite3_open_v2(QFile::encodeName(m_path).constData(), &m_db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, WalWriteBuffer::vfsName());
        if (rc != SQLITE_OK)
            fail(QStringLiteral("Cannot create the store"));
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        useReadingCache();
    }

    // A new store holds nothing to keep yet: it is laid out without the seven syncs that
    // would cost, and its file is synced once before the first commit (a lost header would
    // make SQLite drop the journal holding that commit). A disk too full for it still fails
    // here, at the writes.
    if (created)
        exec("PRAGMA synchronous=OFF");
    // WAL with synchronous FULL: a commit has reached the disk before write() returns, and a
    // crash mid-write leaves the previous value intact.
    {
        Statement wal(m_db, "PRAGMA journal_mode=WAL");
        if (!wal.prepared() || wal.step() != SQLITE_ROW)
            fail(QStringLiteral("Cannot prepare the store"));
    }
    exec("PRAGMA synchronous=FULL");
    // A saving command writes the list it saves and waits for that alone. The log is copied
    // back into the file later, off its path (WalCheckpointer), and freed pages are not
    // written over with zeros where that would cost a write of their own.
    exec("PRAGMA secure_delete=FAST");
    exec("PRAGMA journal_size_limit=16777216");
    sqlite3_wal_hook(m_db, &SettingsStore::walCommitted, this);
    // The tables in one transaction: a new store's layout is then one commit, synced once,
    // instead of one synced commit for each table.
    exec("BEGIN");
    exec("CREATE TABLE IF NOT EXISTS settings(app TEXT NOT NULL, section TEXT NOT NULL, "
         "key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (app, section, key))");
    exec("CREATE TABLE IF NOT EXISTS task_uids(key TEXT PRIMARY KEY, uids BLOB NOT NULL)");
    exec("CREATE TABLE IF NOT EXISTS kept_vtodos(uid TEXT PRIMARY KEY, vtodo BLOB NOT NULL)");
    exec("CREATE TABLE IF NOT EXISTS sync_account(name TEXT PRIMARY KEY, value TEXT NOT NULL)");
    exec("CREATE TABLE IF NOT EXISTS sync_calendars(category_key TEXT PRIMARY KEY, "
         "href TEXT NOT NULL, remote_key TEXT NOT NULL, sync_token TEXT NOT NULL, "
         "ctag TEXT NOT NULL, local_digest INTEGER NOT NULL)");
    exec("CREATE TABLE IF NOT EXISTS sync_tasks(uid TEXT PRIMARY KEY, category_key TEXT NOT NULL, "
         "href TEXT NOT NULL, etag BLOB NOT NULL, vtodo BLOB NOT NULL, digest INTEGER NOT NULL, "
         "sort_order INTEGER NOT NULL, on_server INTEGER NOT NULL)");
    exec("CREATE INDEX IF NOT EXISTS sync_tasks_by_category ON sync_tasks(category_key)");
    exec("CREATE TABLE IF NOT EXISTS reminders(uid TEXT PRIMARY KEY, reminded TEXT NOT NULL, "
         "quiet_until TEXT NOT NULL)");
    exec("COMMIT");
    // Every commit from here on is synced (see above), which the gathering needs.
    WalWriteBuffer::enable(m_db);
    m_unsyncedLayout = created;
}

int SettingsStore::walCommitted(void* store, sqlite3* db, const char*, int frames)
{
    if (frames >= kLongestLogFrames) {
        sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return SQLITE_OK;
    }
    auto* self = static_cast<SettingsStore*>(store);
    if (!self->m_checkpointer)
        self->m_checkpointer = std::make_unique<WalCheckpointer>(self->m_path);
    self->m_checkpointer->committed(frames);
    return SQLITE_OK;
}

void SettingsStore::syncLayout(const QString& what)
{
    // Through SQLite's own handle: closing any other descriptor of the file would drop the
    // locks SQLite holds on it.
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
        !file || !file->pMethods || file->pMethods->xSync(file, SQLITE_SYNC_FULL) != SQLITE_OK)
        fail(what);
    m_unsyncedLayout = false;
}

void SettingsStore::useReadingCache()
{
    // Reading, as the check and the start do, needs few pages at a time; the cache for saving
    // big lists is made at the first save (store), so the start touches that much less fresh
    // memory. A file that is no database refuses it; the check says so next.
    sqlite3_exec(m_db, "PRAGMA cache_size=-256", nullptr, nullptr, nullptr);
}

bool SettingsStore::isSound()
{
    Statement check(m_db, "PRAGMA quick_check");
    const int rc = check.prepared() ? check.step() : check.prepareResult();
    if (rc == SQLITE_ROW)
        return check.text(0) == QLatin1String("ok");
    // Only a file that is plainly no database, or a damaged one, is moved aside. Anything
    // else (locked, out of memory, unreadable) says nothing about the file: it is left alone.
    if ((rc & 0xff) == SQLITE_NOTADB || (rc & 0xff) == SQLITE_CORRUPT)
        return false;
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
        fail(QStringLiteral("Cannot open the store"));
    fail(QStringLiteral("Cannot read the store"));
}

void SettingsStore::moveAside()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = m_path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = m_path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    if (!QFile::rename(m_path, target))
        throw StoreFailure(
            QStringLiteral("The store %1 is damaged and could not be moved aside.").arg(m_path));
    // A journal belongs to the damaged file; it goes with it so it is not applied to the new one.
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        if (QFileInfo::exists(m_path + QLatin1String(suffix)))
            QFile::rename(m_path + QLatin1String(suffix), target + QLatin1String(suffix));
    }
    m_movedAside = target;
}

void SettingsStore::exec(const char* sql)
{
    char* message = nullptr;
    int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    sqlite3_free(message);
    if (rc != SQLITE_OK)
        fail(QStringLiteral("Cannot use the store"));
}

void SettingsStore::fail(const QString& what) const
{
    int rc = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
    throw StoreFailure(QStringLiteral("%1 %2: %3.").arg(what, m_path, describe(rc, m_db)));
}

bool SettingsStore::readsFromAnyThread()
{
    // In SQLite's serialized mode one connection may be used from several threads.
    return sqlite3_threadsafe() == 1;
}

QString SettingsStore::read(const QString& key, const QString& defaultValue) const
{
    QString value = defaultValue;
    readUtf8(key, [&value](QByteArrayView utf8) { value = QString::fromUtf8(utf8); });
    return value;
}

bool SettingsStore::readUtf8(const QString& key,
                             const std::function<void(QByteArrayView)>& use) const
{
    Statement select(m_db, "SELECT value FROM settings WHERE app=?1 AND section=?2 AND key=?3");
    if (!select.prepared())
        fail(QStringLiteral("Cannot read \"%1\" from the store").arg(key));
    select.bind(1, kApp);
    select.bind(2, kSection);
    select.bind(3, key.toUtf8());
    switch (select.step()) {
    case SQLITE_ROW:
        use(select.bytes(0));
        return true;
    case SQLITE_DONE:
        return false;
    default:
        fail(QStringLiteral("Cannot read \"%1\" from the store").arg(key));
    }
}

bool SettingsStore::readInPlace(const char* select, const char* table, const char* column,
                                const QList<QByteArray>& keys, const QString& what,
                                const std::function<bool(sqlite3_blob*)>& read) const
{
    // The statement stays on its row while the value is read: its read transaction keeps the
    // value as it was when found, whatever this connection writes meanwhile.
    Statement found(m_db, select);
    if (!found.prepared())
        fail(what);
    for (int i = 0; i < keys.size(); ++i)
        found.bind(i + 1, keys[i]);
    switch (found.step()) {
    case SQLITE_ROW:
        break;
    case SQLITE_DONE:
        return false;
    default:
        fail(what);
    }
    sqlite3_blob* blob = nullptr;
    if (sqlite3_blob_open(m_db, "main", table, column, sqlite3_column_int64(found.get(), 0), 0,
                          &blob) != SQLITE_OK) {
        sqlite3_blob_close(blob);
        fail(what);
    }
    const std::unique_ptr<sqlite3_blob, int (*)(sqlite3_blob*)> closing(blob, sqlite3_blob_close);
    return read(blob);
}

bool SettingsStore::readUtf8InPieces(
    const QString& key, const std::function<bool(QByteArrayView, qsizetype)>& use) const
{
    constexpr int kPiece = 256 * 1024;
    const QString what = QStringLiteral("Cannot read \"%1\" from the store").arg(key);
    return readInPlace("SELECT rowid FROM settings WHERE app=?1 AND section=?2 AND key=?3",
                       "settings", "value", {kApp, kSection, key.toUtf8()}, what,
                       [&](sqlite3_blob* blob) {
                           const int size = sqlite3_blob_bytes(blob);
                           QByteArray buffer(std::min(size, kPiece), Qt::Uninitialized);
                           for (int at = 0; at < size; at += kPiece) {
                               const int length = std::min(kPiece, size - at);
                               if (sqlite3_blob_read(blob, buffer.data(), length, at) != SQLITE_OK)
                                   fail(what);
                               if (!use(QByteArrayView(buffer.constData(), length), size))
                                   return false;
                           }
                           return true;
                       });
}

QHash<QString, QString> SettingsStore::readSection() const
{
    Statement select(m_db, "SELECT key, value FROM settings WHERE app=?1 AND section=?2");
    if (!select.prepared())
        fail(QStringLiteral("Cannot read the store"));
    select.bind(1, kApp);
    select.bind(2, kSection);
    QHash<QString, QString> values;
    for (;;) {
        switch (select.step()) {
        case SQLITE_ROW:
            values.insert(select.text(0), select.text(1));
            break;
        case SQLITE_DONE:
            return values;
        default:
            fail(QStringLiteral("Cannot read the store"));
        }
    }
}

void SettingsStore::write(const QString& key, const QString& value)
{
    writeAll({{key, value}});
}

void SettingsStore::writeAll(const std::vector<std::pair<QString, QString>>& values)
{
    apply({values, {}, {}, {}});
}

void SettingsStore::apply(const Changes& changes)
{
    store(changes, false);
}

void SettingsStore::replaceAll(const Changes& contents)
{
    store(contents, true);
}

void SettingsStore::store(const Changes& changes, bool replacing)
{
    const auto& values = changes.values;
    const QString what =
        replacing ? QStringLiteral("Cannot replace the contents of the store")
        : values.size() == 1 && changes.utf8Values.empty() && changes.listUids.empty() &&
                changes.keptVTodos.empty()
            ? QStringLiteral("Cannot save \"%1\" in the store").arg(values[0].first)
            : QStringLiteral("Cannot save the changes in the store");
    if (m_unsyncedLayout)
        syncLayout(what);
    WalWriteBuffer::takeWriteErrno(m_db); // only this transaction's failures are reported
    if (!m_savingCache) {
        // Room for a big list's old pages and its new ones: without it SQLite reads the old
        // ones back from the file and writes the new ones out before the commit. Start-up, which
        // only reads, does with the default and touches less fresh memory.
        exec("PRAGMA cache_size=-16384");
        m_savingCache = true;
    }
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(what);
    try {
        if (replacing) {
            // Rows of other applications or sections are not ours to take away.
            Statement clear(m_db, "DELETE FROM settings WHERE app=?1 AND section=?2");
            if (!clear.prepared())
                fail(what);
            clear.bind(1, kApp);
            clear.bind(2, kSection);
            if (clear.step() != SQLITE_DONE ||
                sqlite3_exec(m_db, "DELETE FROM task_uids; DELETE FROM kept_vtodos", nullptr,
                             nullptr, nullptr) != SQLITE_OK)
                fail(what);
        }
        Statement upsert(m_db, "INSERT INTO settings(app, section, key, value) VALUES(?1,?2,?3,?4) "
                               "ON CONFLICT(app, section, key) DO UPDATE SET value=excluded.value");
        if (!upsert.prepared())
            fail(what);
        upsert.bind(1, kApp);
        upsert.bind(2, kSection);
        for (const auto& [key, value] : values) {
            const QByteArray text = value.toUtf8();
            upsert.bind(3, key.toUtf8());
            upsert.bindKept(4, text);
            if (upsert.step() != SQLITE_DONE)
                fail(what);
            upsert.reset();
        }
        for (const auto& [key, text] : changes.utf8Values) {
            upsert.bind(3, key.toUtf8());
            upsert.bindKept(4, text);
            if (upsert.step() != SQLITE_DONE)
                fail(what);
            upsert.reset();
        }
        const auto putBlobs = [&](const char* sql, const auto& pairs) {
            if (pairs.empty())
                return;
            Statement put(m_db, sql);
            if (!put.prepared())
                fail(what);
            for (const auto& [key, bytes] : pairs) {
                put.bind(1, key.toUtf8());
                put.bindBlob(2, bytes);
                if (put.step() != SQLITE_DONE)
                    fail(what);
                put.reset();
            }
        };
        // Upserts, not replacements: a blob of the same size is then written over in place,
        // where a replacement would free, clear and write again every page of it.
        putBlobs("INSERT INTO task_uids(key, uids) VALUES(?1, ?2) "
                 "ON CONFLICT(key) DO UPDATE SET uids=excluded.uids",
                 changes.listUids);
        putBlobs("INSERT INTO kept_vtodos(uid, vtodo) VALUES(?1, ?2) "
                 "ON CONFLICT(uid) DO UPDATE SET vtodo=excluded.vtodo",
                 changes.keptVTodos);
        storeSync(changes, what);
        if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(what);
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    ++m_commits;
    if (m_commitListener)
        m_commitListener(changes);
}

namespace {

template <typename Use>
void selectRows(sqlite3* db, const char* sql, const QString& key, const Use& use,
                const std::function<void()>& fail)
{
    Statement select(db, sql);
    if (!select.prepared())
        fail();
    if (!key.isNull())
        select.bind(1, key.toUtf8());
    for (;;) {
        switch (select.step()) {
        case SQLITE_ROW:
            use(select);
            break;
        case SQLITE_DONE:
            return;
        default:
            fail();
            return;
        }
    }
}

} // namespace

QByteArray SettingsStore::readListUids(const QString& key) const
{
    // Read straight into the array handed back: a list of 32767 tasks has 768 KiB of UIDs,
    // which a row's value would hold once more.
    const QString what =
        QStringLiteral("Cannot read the task identities of \"%1\" from the store").arg(key);
    QByteArray uids;
    readInPlace("SELECT rowid FROM task_uids WHERE key=?1", "task_uids", "uids", {key.toUtf8()},
                what, [&](sqlite3_blob* blob) {
                    uids.resize(sqlite3_blob_bytes(blob));
                    if (sqlite3_blob_read(blob, uids.data(), int(uids.size()), 0) != SQLITE_OK)
                        fail(what);
                    return true;
                });
    return uids;
}

QHash<QString, QByteArray> SettingsStore::readAllListUids() const
{
    QHash<QString, QByteArray> all;
    selectRows(
        m_db, "SELECT key, uids FROM task_uids", QString(),
        [&](const Statement& row) { all.insert(row.text(0), row.blob(1)); },
        [&] { fail(QStringLiteral("Cannot read the task identities from the store")); });
    return all;
}

void SettingsStore::storeSync(const Changes& changes, const QString& what)
{
    if (changes.syncForgetAll &&
        sqlite3_exec(m_db, "DELETE FROM sync_calendars; DELETE FROM sync_tasks", nullptr, nullptr,
                     nullptr) != SQLITE_OK)
        fail(what);
    const auto run = [&](const char* sql, const auto& rows, const auto& bindRow) {
        if (rows.empty())
            return;
        Statement statement(m_db, sql);
        if (!statement.prepared())
            fail(what);
        for (const auto& row : rows) {
            bindRow(statement, row);
            if (statement.step() != SQLITE_DONE)
                fail(what);
            statement.reset();
        }
    };
    run("INSERT INTO sync_account(name, value) VALUES(?1, ?2) "
        "ON CONFLICT(name) DO UPDATE SET value=excluded.value",
        changes.syncAccount, [](Statement& s, const std::pair<QString, QString>& row) {
            s.bind(1, row.first.toUtf8());
            s.bind(2, row.second.toUtf8());
        });
    run("DELETE FROM sync_calendars WHERE category_key=?1", changes.syncCalendarsGone,
        [](Statement& s, const QString& key) { s.bind(1, key.toUtf8()); });
    run("INSERT OR REPLACE INTO sync_calendars(category_key, href, remote_key, sync_token, ctag, "
        "local_digest) VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
        changes.syncCalendars, [](Statement& s, const SyncCalendar& row) {
            s.bind(1, row.categoryKey.toUtf8());
            s.bind(2, row.href.toUtf8());
            s.bind(3, row.remoteKey.toUtf8());
            s.bind(4, row.syncToken.toUtf8());
            s.bind(5, row.ctag.toUtf8());
            sqlite3_bind_int64(s.get(), 6, sqlite3_int64(row.localDigest));
        });
    run("DELETE FROM sync_tasks WHERE uid=?1", changes.syncTasksGone,
        [](Statement& s, const QString& uid) { s.bind(1, uid.toUtf8()); });
    run("INSERT OR REPLACE INTO sync_tasks(uid, category_key, href, etag, vtodo, digest, "
        "sort_order, on_server) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
        changes.syncTasks, [](Statement& s, const SyncTask& row) {
            s.bind(1, row.uid.toUtf8());
            s.bind(2, row.categoryKey.toUtf8());
            s.bind(3, row.href.toUtf8());
            s.bindBlob(4, row.etag);
            s.bindBlob(5, row.vtodo);
            sqlite3_bind_int64(s.get(), 6, sqlite3_int64(row.digest));
            sqlite3_bind_int64(s.get(), 7, row.sortOrder);
            sqlite3_bind_int(s.get(), 8, row.onServer ? 1 : 0);
        });
}

QHash<QString, QString> SettingsStore::readSyncAccount() const
{
    QHash<QString, QString> account;
    selectRows(
        m_db, "SELECT name, value FROM sync_account", QString(),
        [&](const Statement& row) { account.insert(row.text(0), row.text(1)); },
        [&] { fail(QStringLiteral("Cannot read the sync account from the store")); });
    return account;
}

QList<SettingsStore::SyncCalendar> SettingsStore::readSyncCalendars() const
{
    QList<SyncCalendar> calendars;
    selectRows(
        m_db,
        "SELECT category_key, href, remote_key, sync_token, ctag, local_digest FROM "
        "sync_calendars",
        QString(),
        [&](const Statement& row) {
            calendars.append({row.text(0), row.text(1), row.text(2), row.text(3), row.text(4),
                              quint64(sqlite3_column_int64(row.get(), 5))});
        },
        [&] { fail(QStringLiteral("Cannot read the synced calendars from the store")); });
    return calendars;
}

QList<SettingsStore::SyncTask> SettingsStore::readSyncTasks(const QString& categoryKey) const
{
    QList<SyncTask> tasks;
    selectRows(
        m_db,
        categoryKey.isNull()
            ? "SELECT uid, category_key, href, etag, vtodo, digest, sort_order, on_server FROM "
              "sync_tasks"
            : "SELECT uid, category_key, href, etag, vtodo, digest, sort_order, on_server FROM "
              "sync_tasks WHERE category_key=?1",
        categoryKey,
        [&](const Statement& row) {
            SyncTask task;
            task.uid = row.text(0);
            task.categoryKey = row.text(1);
            task.href = row.text(2);
            task.etag = row.blob(3);
            task.vtodo = row.blob(4);
            task.digest = quint64(sqlite3_column_int64(row.get(), 5));
            task.sortOrder = sqlite3_column_int64(row.get(), 6);
            task.onServer = sqlite3_column_int(row.get(), 7) != 0;
            tasks.append(std::move(task));
        },
        [&] { fail(QStringLiteral("Cannot read the synced tasks from the store")); });
    return tasks;
}

QHash<QString, QByteArray> SettingsStore::readKeptVTodos() const
{
    QHash<QString, QByteArray> all;
    selectRows(
        m_db, "SELECT uid, vtodo FROM kept_vtodos", QString(),
        [&](const Statement& row) { all.insert(row.text(0), row.blob(1)); },
        [&] { fail(QStringLiteral("Cannot read the calendar copies of tasks from the store")); });
    return all;
}

namespace {

QByteArray isoDay(const QDate& day)
{
    return day.isValid() ? day.toString(Qt::ISODate).toLatin1() : QByteArray();
}

} // namespace

QHash<QUuid, SettingsStore::ReminderMark> SettingsStore::readReminderMarks() const
{
    QHash<QUuid, ReminderMark> marks;
    selectRows(
        m_db, "SELECT uid, reminded, quiet_until FROM reminders", QString(),
        [&](const Statement& row) {
            const QUuid uid(row.text(0));
            if (!uid.isNull())
                marks.insert(uid, {QDate::fromString(row.text(1), Qt::ISODate),
                                   QDate::fromString(row.text(2), Qt::ISODate)});
        },
        [&] { fail(QStringLiteral("Cannot read the reminders from the store")); });
    return marks;
}

void SettingsStore::writeReminderMarks(const QHash<QUuid, ReminderMark>& marks,
                                       const QDate& forgetBefore)
{
    const QString what = QStringLiteral("Cannot save the reminders in the store");
    if (m_unsyncedLayout)
        syncLayout(what);
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(what);
    try {
        Statement put(m_db, "INSERT INTO reminders(uid, reminded, quiet_until) VALUES(?1,?2,?3) "
                            "ON CONFLICT(uid) DO UPDATE SET reminded=excluded.reminded, "
                            "quiet_until=excluded.quiet_until");
        if (!put.prepared())
            fail(what);
        for (auto mark = marks.cbegin(); mark != marks.cend(); ++mark) {
            put.bind(1, mark.key().toString(QUuid::WithoutBraces).toLatin1());
            put.bind(2, isoDay(mark->reminded));
            put.bind(3, isoDay(mark->quietUntil));
            if (put.step() != SQLITE_DONE)
                fail(what);
            put.reset();
        }
        // ISO days compare as text; an empty one is before every day.
        Statement forget(m_db, "DELETE FROM reminders WHERE reminded < ?1 AND quiet_until < ?1");
        if (!forget.prepared())
            fail(what);
        forget.bind(1, isoDay(forgetBefore));
        if (forgetBefore.isValid() && forget.step() != SQLITE_DONE)
            fail(what);
        if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(what);
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}
