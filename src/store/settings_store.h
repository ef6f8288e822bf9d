#pragma once

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_blob;
class WalCheckpointer;

// The per-user settings store: text values under application "Kestrune", section
// "Tolvendra Software". Absent keys read as the caller's default; an empty text is a value.
// Nothing is ever deleted. Every write is one durable transaction: a crash at any instant
// leaves either the old or the new value. Only this and the snapshots of the store (backup)
// know SQLite.
class SettingsStore
{
public:
    static constexpr const char* kApp = "Kestrune";
    static constexpr const char* kSection = "Tolvendra Software";

    // Opens (creating if needed) the file at `path`. A file that is not a sound database is
    // moved aside, never written over; movedAsidePath() then tells where it went.
    // Throws StoreFailure when the store cannot be opened at all.
    explicit SettingsStore(const QString& path);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // $XDG_DATA_HOME/Kestrune/Kestrune.db, or ~/.local/share/Kestrune/Kestrune.db.
    static QString defaultPath();

    QString read(const QString& key, const QString& defaultValue) const;
    // The value's UTF-8 bytes, handed to `use` while they are still the store's own: a list of
    // several megabytes is read without a copy. False, and `use` is not called, when there is
    // no value under the key.
    bool readUtf8(const QString& key, const std::function<void(QByteArrayView)>& use) const;
    // The same bytes handed to `use` in pieces of a fixed size, read one after another into
    // one buffer, with the value's whole size: a list of megabytes is never in memory whole.
    // `use` may end the reading by returning false. False when there is no value under the
    // key or the reading was ended.
    bool
    readUtf8InPieces(const QString& key,
                     const std::function<bool(QByteArrayView piece, qsizetype size)>& use) const;
    // Every key of the section with its value, in one query: for a reader that needs them all.
    QHash<QString, QString> readSection() const;
    void write(const QString& key, const QString& value);
    // All pairs in one transaction: either every value is stored or none is.
    void writeAll(const std::vector<std::pair<QString, QString>>& values);

    // What the store knows of a CalDAV account, in tables of their own (never among the
    // settings): which calendar each category is, and each task as last synced.
    struct SyncCalendar
    {
        QString categoryKey;
        QString href;      // the calendar collection on the server
        QString remoteKey; // the category's key in the placement the calendar carries
        QString syncToken; // as of the last sync; empty when the server offers none
        QString ctag;
        // A digest of the category's two lists as they stood after the last sync: while it
        // and the server's token are unchanged, there is nothing to do for the category.
        quint64 localDigest = 0;
        bool operator==(const SyncCalendar&) const = default;
    };
    struct SyncTask
    {
        QString uid; // as TaskUids gives it, without braces
        QString categoryKey;
        QString href;         // the task's resource; kept while it is off the server
        QByteArray etag;      // empty while it is not on the server
        QByteArray vtodo;     // the VTODO as last synced: the base of a three-way merge
        quint64 digest = 0;   // of the six fields as last synced
        qint64 sortOrder = 0; // X-APPLE-SORT-ORDER as last synced
        bool onServer = false;
        bool operator==(const SyncTask&) const = default;
    };

    // What one transaction stores: settings values, the UIDs of task lists (beside the lists,
    // never inside their values) and the VTODOs tasks came from, by UID.
    struct Changes
    {
        std::vector<std::pair<QString, QString>> values;
        std::vector<std::pair<QString, QByteArray>> listUids;
        std::vector<std::pair<QString, QByteArray>> keptVTodos;
        // Values already in the store's UTF-8, as a big list is best encoded.
        std::vector<std::pair<QString, QByteArray>> utf8Values;
        // Sync state, stored with the task changes a sync applies. `syncForgetAll` first forgets
        // every calendar and task (another account); the rows below are stored after it.
        bool syncForgetAll = false;
        std::vector<std::pair<QString, QString>> syncAccount = {}; // name -> value
        std::vector<SyncCalendar> syncCalendars = {};
        std::vector<QString> syncCalendarsGone = {}; // category keys
        std::vector<SyncTask> syncTasks = {};
        std::vector<QString> syncTasksGone = {}; // UIDs
    };
    void apply(const Changes& changes);
    // The store's whole contents become `contents`, in one transaction: every value, UID set and
    // VTODO not in it is gone afterwards. For bringing back an earlier state of the store.
    void replaceAll(const Changes& contents);
    // The UIDs stored for the list under `key` (see TaskUids); empty when there are none.
    QByteArray readListUids(const QString& key) const;
    QHash<QString, QByteArray> readAllListUids() const;
    // The VTODOs tasks came from, by UID, for the tasks another program made.
    QHash<QString, QByteArray> readKeptVTodos() const;

    QHash<QString, QString> readSyncAccount() const;
    QList<SyncCalendar> readSyncCalendars() const;
    // The synced tasks of one category; of every category when `categoryKey` is null.
    QList<SyncTask> readSyncTasks(const QString& categoryKey = QString()) const;

    // Called after every change apply() committed, with what it stored; one listener at most.
    using CommitListener = std::function<void(const Changes&)>;
    void setCommitListener(CommitListener listener) { m_commitListener = std::move(listener); }
    // How many changes apply() and replaceAll() committed so far: the same number, nothing stored
    // in between through them.
    quint64 commits() const { return m_commits; }

    // Which day each task (by UID) was last reminded of as due, and the day before whose
    // reminder time it stays quiet; in a table of their own, never among the settings.
    struct ReminderMark
    {
        QDate reminded;
        QDate quietUntil;
        bool operator==(const ReminderMark&) const = default;
    };
    QHash<QUuid, ReminderMark> readReminderMarks() const;
    // Stores `marks` over those stored, and forgets every mark whose days are both before
    // `forgetBefore`, in one transaction.
    void writeReminderMarks(const QHash<QUuid, ReminderMark>& marks, const QDate& forgetBefore);

    // Whether read() may be called from another thread while this one uses the store too.
    static bool readsFromAnyThread();

    const QString& path() const { return m_path; }
    const QString& movedAsidePath() const { return m_movedAside; }

private:
    void open();
    bool isSound();
    void useReadingCache();
    // The value `select` finds (its first column the row's rowid in `table`, its parameters
    // `keys`), handed to `read` to read in place; false when there is none.
    bool readInPlace(const char* select, const char* table, const char* column,
                     const QList<QByteArray>& keys, const QString& what,
                     const std::function<bool(sqlite3_blob*)>& read) const;
    void syncLayout(const QString& what);
    void moveAside();
    void exec(const char* sql);
    static int walCommitted(void* store, sqlite3* db, const char* name, int frames);
    void store(const Changes& changes, bool replacing);
    void storeSync(const Changes& changes, const QString& what);
    [[noreturn]] void fail(const QString& what) const;

    QString m_path;
    QString m_movedAside;
    sqlite3* m_db = nullptr;
    bool m_unsyncedLayout = false;
    bool m_savingCache = false;
    std::unique_ptr<WalCheckpointer> m_checkpointer;
    CommitListener m_commitListener;
    quint64 m_commits = 0;
};
