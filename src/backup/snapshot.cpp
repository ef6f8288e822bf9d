#include "snapshot.h"

#include "failure.h"
#include "task_list_codec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace {

// Waits this long for the program's own write to finish before the snapshot's read gives up.
constexpr int kBusyTimeoutMs = 3000;

const char* const kSummaryTable = "kestrune_snapshot";

QString sqliteReason(sqlite3* db, int rc)
{
    QString reason = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    if (const int err = db ? sqlite3_system_errno(db) : 0)
        reason += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(err)));
    else if ((rc & 0xff) == SQLITE_FULL || rc == SQLITE_IOERR_WRITE)
        reason += QStringLiteral(" (the disk may be full)");
    return reason;
}

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Steps a statement to its end; false when it fails on the way.
bool run(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool syncPath(const QString& path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

int countEntries(const QString& value)
{
    return int(TaskListCodec::decodeEntries(value).size());
}

} // namespace

QList<CategoryTreeCodec::Node> treeOf(const QString& treeValue)
{
    using namespace CategoryTreeCodec;
    QList<Node> nodes;
    if (treeValue == kDefaultText) {
        for (int i = 0; i < kDefaultNames.size(); ++i)
            nodes.append({kDefaultNames[i], rootKey(i + 1), {}});
        return nodes;
    }
    for (const QStringList& fields : splitEntries(treeValue))
        if (fields.size() >= 2 && !fields[1].isEmpty())
            nodes.append({fields[0], fields[1], fields.value(2)});
    return nodes;
}

SnapshotSummary summarise(const QHash<QString, QString>& section)
{
    SnapshotSummary summary;
    const auto tree =
        treeOf(section.value(CategoryTreeCodec::kKey, CategoryTreeCodec::kDefaultText));
    summary.categories = int(tree.size());
    for (const CategoryTreeCodec::Node& node : tree) {
        summary.activeTasks += countEntries(section.value(node.key));
        summary.deletedTasks += countEntries(section.value(TaskListCodec::deletedKey(node.key)));
    }
    return summary;
}

// --- SnapshotSource ---

SnapshotSource::SnapshotSource(const QString& storePath) : m_storePath(storePath)
{
    const auto fail = [this](int rc) {
        const QString reason = sqliteReason(m_db, rc);
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw StoreFailure(
            QStringLiteral("Cannot read the store %1 for a backup: %2.").arg(m_storePath, reason));
    };
    int rc = sqlite3_open_v2(QFile::encodeName(storePath).constData(), &m_db, SQLITE_OPEN_READONLY,
                             nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    // The read transaction begins at the first read, not at BEGIN: the state is fixed here.
    if (!run(m_db, "BEGIN") || !run(m_db, "SELECT count(*) FROM sqlite_schema"))
        fail(sqlite3_extended_errcode(m_db));
}

SnapshotSource::~SnapshotSource()
{
    sqlite3_close_v2(m_db);
}

QString SnapshotSource::writeTo(const QString& folder, SnapshotReason reason,
                                const QDateTime& madeUtc)
{
    if (!m_db)
        throw StoreFailure(QStringLiteral("A backup of the store was written twice."));
    const auto failure = [&](const QString& reason) {
        return StoreFailure(QStringLiteral("Cannot make a backup of the store in %1: %2.")
                                .arg(QDir::toNativeSeparators(folder), reason));
    };
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        throw failure(QStringLiteral("the folder cannot be made"));
    // Snapshots hold every task: for their owner's eyes only. What the owner allowed himself
    // is left as it is; a folder he made read-only stays so.
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    if (const QFile::Permissions now = QFileInfo(folder).permissions(); now & others)
        QFile::setPermissions(folder, now & ~others);

    QDateTime made = madeUtc.toUTC();
    QString target = folder + u'/' + SnapshotFiles::fileName(made, reason);
    while (QFileInfo::exists(target)) {
        made = made.addMSecs(1);
        target = folder + u'/' + SnapshotFiles::fileName(made, reason);
    }
    const QString partial =
        folder + u'/' + SnapshotFiles::kIncompletePrefix + QFileInfo(target).fileName();
    const QByteArray partialName = QFile::encodeName(partial);
    const int fd = ::open(partialName.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        throw failure(systemReason());
    ::close(fd);

    sqlite3* out = nullptr;
    const auto abandon = [&](const QString& reason) {
        sqlite3_close_v2(out);
        QFile::remove(partial);
        QFile::remove(partial + QStringLiteral("-journal"));
        return failure(reason);
    };
    int rc = sqlite3_open_v2(partialName.constData(), &out, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK)
        throw abandon(sqliteReason(out, rc));
    sqlite3_backup* backup = sqlite3_backup_init(out, "main", m_db, "main");
    if (!backup)
        throw abandon(sqliteReason(out, sqlite3_extended_errcode(out)));
    // All pages in one step, within the read transaction that fixed the state.
    rc = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE)
        throw abandon(sqliteReason(out, sqlite3_extended_errcode(out)));
    // The store may go on; nothing more is read from it.
    sqlite3_close_v2(m_db);
    m_db = nullptr;

    // A snapshot is one file: it can be copied, or put back by hand, with nothing beside it.
    if (!run(out, "PRAGMA journal_mode=DELETE"))
        throw abandon(sqliteReason(out, sqlite3_extended_errcode(out)));
    SnapshotSummary summary;
    try {
        summary = summarise(SnapshotReader(partial).section());
    } catch (const Failure& failed) {
        throw abandon(failed.description());
    }
    const QByteArray record = QStringLiteral("CREATE TABLE %1(categories INTEGER, active INTEGER, "
                                             "deleted INTEGER); INSERT INTO %1 VALUES(%2, %3, %4)")
                                  .arg(QLatin1String(kSummaryTable))
                                  .arg(summary.categories)
                                  .arg(summary.activeTasks)
                                  .arg(summary.deletedTasks)
                                  .toUtf8();
    if (!run(out, record.constData()))
        throw abandon(sqliteReason(out, sqlite3_extended_errcode(out)));
    rc = sqlite3_close(out);
    out = nullptr;
    if (rc != SQLITE_OK)
        throw abandon(sqlite3_errstr(rc));
    if (!syncPath(partial, O_RDONLY))
        throw abandon(systemReason());
    if (::rename(partialName.constData(), QFile::encodeName(target).constData()) != 0)
        throw abandon(systemReason());
    // The rename itself reaches the disk with the folder.
    syncPath(folder, O_RDONLY | O_DIRECTORY);
    return target;
}

// --- SnapshotReader ---

SnapshotReader::SnapshotReader(const QString& path) : m_path(path)
{
    // Immutable: no lock, no journal, nothing written beside it, even in a read-only folder.
    const QByteArray uri =
        QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded() + "?immutable=1";
    const int rc =
        sqlite3_open_v2(uri.constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    if (rc != SQLITE_OK || !run(m_db, "SELECT count(*) FROM sqlite_schema")) {
        const QString reason = sqliteReason(m_db, rc != SQLITE_OK ? rc : sqlite3_errcode(m_db));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw StoreFailure(QStringLiteral("Cannot read the backup %1: %2.").arg(path, reason));
    }
}

SnapshotReader::~SnapshotReader()
{
    sqlite3_close_v2(m_db);
}

void SnapshotReader::fail(const QString& what) const
{
    throw StoreFailure(QStringLiteral("Cannot read %1 from the backup %2: %3.")
                           .arg(what, m_path, sqliteReason(m_db, sqlite3_extended_errcode(m_db))));
}

namespace {

class Query
{
public:
    Query(sqlite3* db, const char* sql)
    {
        m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
    }
    ~Query() { sqlite3_finalize(m_stmt); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    bool prepared() const { return m_rc == SQLITE_OK; }
    void bind(int index, const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    int step() { return sqlite3_step(m_stmt); }
    QString text(int column) const
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
    }
    QByteArray blob(int column) const
    {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
        return QByteArray(data, sqlite3_column_bytes(m_stmt, column));
    }
    int number(int column) const { return sqlite3_column_int(m_stmt, column); }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc;
};

bool hasTable(sqlite3* db, const char* name)
{
    Query q(db, "SELECT 1 FROM sqlite_schema WHERE type='table' AND name=?1");
    q.bind(1, QString::fromLatin1(name));
    return q.prepared() && q.step() == SQLITE_ROW;
}

} // namespace

SnapshotSummary SnapshotReader::summary() const
{
    if (hasTable(m_db, kSummaryTable)) {
        Query q(m_db, "SELECT categories, active, deleted FROM kestrune_snapshot");
        if (q.prepared() && q.step() == SQLITE_ROW)
            return {q.number(0), q.number(1), q.number(2)};
        fail(QStringLiteral("the summary"));
    }
    return summarise(section());
}

QHash<QString, QString> SnapshotReader::section() const
{
    QHash<QString, QString> values;
    for (auto& [key, value] : contents().values)
        values.insert(key, value);
    return values;
}

bool SnapshotReader::isSound(const std::atomic_bool* stop) const
{
    if (stop)
        sqlite3_progress_handler(
            m_db, 1000,
            [](void* flag) { return static_cast<std::atomic_bool*>(flag)->load() ? 1 : 0; },
            const_cast<std::atomic_bool*>(stop));
    Query check(m_db, "PRAGMA quick_check");
    const bool sound =
        check.prepared() && check.step() == SQLITE_ROW && check.text(0) == QLatin1String("ok");
    sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
    return sound;
}

QString SnapshotReader::value(const QString& key, const QString& defaultValue) const
{
    Query q(m_db, "SELECT value FROM settings WHERE app=?1 AND section=?2 AND key=?3");
    if (!q.prepared())
        fail(QStringLiteral("\"%1\"").arg(key));
    q.bind(1, QString::fromLatin1(SettingsStore::kApp));
    q.bind(2, QString::fromLatin1(SettingsStore::kSection));
    q.bind(3, key);
    switch (q.step()) {
    case SQLITE_ROW:
        return q.text(0);
    case SQLITE_DONE:
        return defaultValue;
    default:
        fail(QStringLiteral("\"%1\"").arg(key));
    }
}

QByteArray SnapshotReader::listUids(const QString& key) const
{
    if (!hasTable(m_db, "task_uids"))
        return {};
    Query q(m_db, "SELECT uids FROM task_uids WHERE key=?1");
    if (!q.prepared())
        fail(QStringLiteral("the task identities of \"%1\"").arg(key));
    q.bind(1, key);
    const int rc = q.step();
    if (rc == SQLITE_ROW)
        return q.blob(0);
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("the task identities of \"%1\"").arg(key));
    return {};
}

SettingsStore::Changes SnapshotReader::contents() const
{
    SettingsStore::Changes all;
    const auto readAll = [&](const char* sql, const QString& what, const auto& take) {
        Query q(m_db, sql);
        if (!q.prepared())
            fail(what);
        for (;;) {
            const int rc = q.step();
            if (rc == SQLITE_DONE)
                return;
            if (rc != SQLITE_ROW)
                fail(what);
            take(q);
        }
    };
    {
        Query q(m_db, "SELECT key, value FROM settings WHERE app=?1 AND section=?2");
        if (!q.prepared())
            fail(QStringLiteral("the settings"));
        q.bind(1, QString::fromLatin1(SettingsStore::kApp));
        q.bind(2, QString::fromLatin1(SettingsStore::kSection));
        for (int rc; (rc = q.step()) != SQLITE_DONE;) {
            if (rc != SQLITE_ROW)
                fail(QStringLiteral("the settings"));
            all.values.emplace_back(q.text(0), q.text(1));
        }
    }
    // A store from before task identities and calendar copies has neither table.
    if (hasTable(m_db, "task_uids"))
        readAll("SELECT key, uids FROM task_uids", QStringLiteral("the task identities"),
                [&](const Query& q) { all.listUids.emplace_back(q.text(0), q.blob(1)); });
    if (hasTable(m_db, "kept_vtodos"))
        readAll("SELECT uid, vtodo FROM kept_vtodos", QStringLiteral("the calendar copies"),
                [&](const Query& q) { all.keptVTodos.emplace_back(q.text(0), q.blob(1)); });
    return all;
}
