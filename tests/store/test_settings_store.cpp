// The settings store through its real file: values, the stored formats' worked examples, a
// damaged file, failing writes.
#include "category_tree_codec.h"
#include "failure.h"
#include "file_size_limit.h"
#include "settings_store.h"
#include "task_list_codec.h"
#include "test_files.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <sqlite3.h>
#include <sys/resource.h>

namespace {

const QString kTreeExample =
    QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^Other;1_Root_3;^Reports;2_Sublist_4;1_Root_1^");
const QString kTaskListExample = QStringLiteral(
    "Deliver PartsMy_Separatora12MediumMy_Separatora12GeneralMy_Separatora12My_Separatora12"
    "My_Separatora12My_Separatora08Call NessalyMy_Separatora12HighMy_Separatora12General"
    "My_Separatora12My_Separatora12My_Separatora12DoneMy_Separatora08");
const QString kColumnWidthsExample = QStringLiteral(
    "2200My_Separatora121200My_Separatora121200My_Separatora121200My_Separatora121My_"
    "Separatora121My_Separatora12");

// Reads the settings table with SQLite itself, as a person with the sqlite3 tool would.
struct Row
{
    QString app, section, key;
    QByteArray value;
};

QList<Row> rawRows(const QString& path)
{
    sqlite3* db = nullptr;
    QList<Row> rows;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT app, section, key, value FROM settings ORDER BY key", -1, &stmt,
                       nullptr);
    const auto text = [stmt](int column) {
        return QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                          sqlite3_column_bytes(stmt, column));
    };
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
        rows.append({QString::fromUtf8(text(0)), QString::fromUtf8(text(1)),
                     QString::fromUtf8(text(2)), text(3)});
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

QByteArray rawValue(const QString& path, const QString& key)
{
    for (const Row& row : rawRows(path))
        if (row.key == key)
            return row.value;
    return "<absent>";
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString storePath(const QString& name = QStringLiteral("Kestrune.db")) const
    {
        return m_dir.path() + QStringLiteral("/") +
               QString::fromLatin1(QTest::currentTestFunction()) + QStringLiteral("/Kestrune/") +
               name;
    }

private slots:
    void defaultPath_followsXdgDataHome()
    {
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", "/somewhere/data");
        QCOMPARE(SettingsStore::defaultPath(),
                 QStringLiteral("/somewhere/data/Kestrune/Kestrune.db"));
        // A relative XDG_DATA_HOME is to be ignored.
        qputenv("XDG_DATA_HOME", "relative/data");
        QCOMPARE(SettingsStore::defaultPath(),
                 QDir::homePath() + QStringLiteral("/.local/share/Kestrune/Kestrune.db"));
        qputenv("XDG_DATA_HOME", saved);
    }

    void absentKeyGivesDefault_emptyValueIsPresent()
    {
        SettingsStore store(storePath());
        QCOMPARE(store.read(QStringLiteral("Tree Nodes"), QStringLiteral("Work;Home;Other")),
                 QStringLiteral("Work;Home;Other"));
        store.write(QStringLiteral("Tree Nodes"), QString());
        const QString value =
            store.read(QStringLiteral("Tree Nodes"), QStringLiteral("Work;Home;Other"));
        QCOMPARE(value, QString(""));
        QVERIFY(!value.isNull() || value.isEmpty());
        QCOMPARE(rawValue(store.path(), QStringLiteral("Tree Nodes")), QByteArray(""));
        // Replacing keeps one row per key.
        store.write(QStringLiteral("TabSel"), QStringLiteral("1"));
        store.write(QStringLiteral("TabSel"), QStringLiteral("0"));
        QCOMPARE(store.read(QStringLiteral("TabSel"), QStringLiteral("9")), QStringLiteral("0"));
        QCOMPARE(rawRows(store.path()).size(), 2);
    }

    void workedExamples_roundTripByteForByteThroughTheFile()
    {
        const QString path = storePath();
        {
            SettingsStore store(path);
            // The texts as the codecs build them, not typed-in copies.
            QString tasks;
            TaskListCodec::appendEntry(tasks, {QStringLiteral("Deliver Parts"),
                                               QStringLiteral("Medium"),
                                               QStringLiteral("General"),
                                               {},
                                               {},
                                               {}});
            TaskListCodec::appendEntry(tasks, {QStringLiteral("Call Nessaly"),
                                               QStringLiteral("High"),
                                               QStringLiteral("General"),
                                               {},
                                               {},
                                               QStringLiteral("Done")});
            store.write(CategoryTreeCodec::kKey,
                        CategoryTreeCodec::encode(
                            {{QStringLiteral("Work"), QStringLiteral("1_Root_1"), {}},
                             {QStringLiteral("Home"), QStringLiteral("1_Root_2"), {}},
                             {QStringLiteral("Other"), QStringLiteral("1_Root_3"), {}},
                             {QStringLiteral("Reports"), QStringLiteral("2_Sublist_4"),
                              QStringLiteral("1_Root_1")}}));
            store.writeAll({{QStringLiteral("1_Root_1"), tasks},
                            {TaskListCodec::deletedKey(QStringLiteral("1_Root_1")), QString()}});
            store.write(QStringLiteral("List1Cols"),
                        ColumnWidthsCodec::encode({2200, 1200, 1200, 1200, 1, 1}));
        }
        // Another program sees exactly these bytes under the application and section.
        const QList<Row> rows = rawRows(path);
        QCOMPARE(rows.size(), 4);
        for (const Row& row : rows) {
            QCOMPARE(row.app, QStringLiteral("Kestrune"));
            QCOMPARE(row.section, QStringLiteral("Tolvendra Software"));
        }
        QCOMPARE(rawValue(path, QStringLiteral("Tree Nodes")), kTreeExample.toUtf8());
        QCOMPARE(rawValue(path, QStringLiteral("1_Root_1")), kTaskListExample.toUtf8());
        QCOMPARE(rawValue(path, QStringLiteral("1_Root_1Del")), QByteArray(""));
        QCOMPARE(rawValue(path, QStringLiteral("List1Cols")), kColumnWidthsExample.toUtf8());

        SettingsStore reopened(path);
        QCOMPARE(reopened.read(QStringLiteral("Tree Nodes"), {}), kTreeExample);
        QCOMPARE(reopened.read(QStringLiteral("1_Root_1"), {}), kTaskListExample);
        QCOMPARE(reopened.read(QStringLiteral("1_Root_1Del"), QStringLiteral("absent")), QString());
        QCOMPARE(reopened.read(QStringLiteral("List1Cols"), {}), kColumnWidthsExample);
        QVERIFY(reopened.movedAsidePath().isEmpty());
    }

    void unusualTexts_comeBackUnchanged()
    {
        SettingsStore store(storePath());
        const QString notes =
            QStringLiteral("Zeile 1\r\nZeile 2\n\t\u00e4\u00f6\u00fc \u65e5\u672c "
                           "\U0001F600 'quoted' \"double\" ; ^ %1 ?1");
        store.write(QStringLiteral("2_Sublist_4"), notes);
        store.write(QStringLiteral("key with 'quote' and \u00e4"), QStringLiteral("x"));
        // A list near the largest: 32767 tasks of about 100 bytes, 3.5 MB.
        QString big;
        for (int i = 0; i < TaskListCodec::kMaxTasks; ++i)
            TaskListCodec::appendEntry(big, {QStringLiteral("Task %1").arg(i),
                                             QStringLiteral("High"),
                                             QStringLiteral("Work"),
                                             QStringLiteral("12/7/2026"),
                                             QStringLiteral("n"),
                                             {}});
        store.write(QStringLiteral("1_Root_1"), big);

        SettingsStore reopened(store.path());
        QCOMPARE(reopened.read(QStringLiteral("2_Sublist_4"), {}), notes);
        QCOMPARE(reopened.read(QStringLiteral("key with 'quote' and \u00e4"), {}),
                 QStringLiteral("x"));
        QCOMPARE(reopened.read(QStringLiteral("1_Root_1"), {}), big);
    }

    void newStore_usesWriteAheadLog()
    {
        SettingsStore store(storePath());
        store.write(QStringLiteral("TabSel"), QStringLiteral("0"));
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(store.path()).constData(), &db,
                                 SQLITE_OPEN_READONLY, nullptr),
                 SQLITE_OK);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &stmt, nullptr);
        QCOMPARE(sqlite3_step(stmt), SQLITE_ROW);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))),
                 QByteArray("wal"));
        sqlite3_finalize(stmt);
        sqlite3_close(db);
    }

    void damagedFile_isMovedAsideUnderADatedNameAndNeverWrittenOver_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("text") << QByteArray("Work;1_Root_1;^ this is not a database\n");
        QTest::newRow("garbage header") << QByteArray(4096, '\xA5');
        QByteArray header("SQLite format 3\0", 16);
        QTest::newRow("header then garbage") << header + QByteArray(8192, '\x13');
    }
    void damagedFile_isMovedAsideUnderADatedNameAndNeverWrittenOver()
    {
        QFETCH(QByteArray, content);
        const QString path = storePath();
        writeFile(path, content);
        const QDateTime before = QDateTime::currentDateTime();

        auto store = std::make_unique<SettingsStore>(path);
        const QString aside = store->movedAsidePath();
        QVERIFY2(!aside.isEmpty(), "the damaged file was not moved aside");
        QCOMPARE(QFileInfo(aside).absolutePath(), QFileInfo(path).absolutePath());
        const auto match =
            QRegularExpression(QStringLiteral("^Kestrune\\.db\\.damaged-(\\d{8}-\\d{6})"))
                .match(QFileInfo(aside).fileName());
        QVERIFY2(match.hasMatch(), qPrintable(aside));
        const QDateTime stamp =
            QDateTime::fromString(match.captured(1), QStringLiteral("yyyyMMdd-HHmmss"));
        QVERIFY(qAbs(stamp.secsTo(before)) <= 2);
        QCOMPARE(fileBytes(aside), content);

        // A fresh, empty store in its place, which works.
        QCOMPARE(store->read(QStringLiteral("Tree Nodes"), QStringLiteral("absent")),
                 QStringLiteral("absent"));
        store->write(QStringLiteral("TabSel"), QStringLiteral("1"));
        QCOMPARE(SettingsStore(path).read(QStringLiteral("TabSel"), {}), QStringLiteral("1"));
        QCOMPARE(fileBytes(aside), content);
        store.reset();

        // A second damaged file the same second does not overwrite the first one kept aside.
        writeFile(path, content + "again");
        SettingsStore again(path);
        QVERIFY(!again.movedAsidePath().isEmpty());
        QVERIFY(again.movedAsidePath() != aside);
        QCOMPARE(fileBytes(aside), content);
        QCOMPARE(fileBytes(again.movedAsidePath()), content + "again");
    }

    void truncatedFile_isMovedAsideAndReported()
    {
        const QString path = storePath();
        {
            SettingsStore store(path);
            QString big;
            for (int i = 0; i < 2000; ++i)
                TaskListCodec::appendEntry(big,
                                           {QStringLiteral("Task %1").arg(i), {}, {}, {}, {}, {}});
            store.write(QStringLiteral("1_Root_1"), big);
            store.write(QStringLiteral("1_Root_2"), big);
        }
        // Closing the last connection folds the log into the file; cut the file in half.
        QVERIFY(!QFileInfo::exists(path + QStringLiteral("-wal")) ||
                QFileInfo(path + QStringLiteral("-wal")).size() == 0);
        const QByteArray whole = fileBytes(path);
        QVERIFY(whole.size() > 8192);
        const QByteArray half = whole.left(whole.size() / 2);
        writeFile(path, half);

        SettingsStore store(path);
        QVERIFY2(!store.movedAsidePath().isEmpty(), "a truncated store was used as it is");
        QCOMPARE(fileBytes(store.movedAsidePath()), half);
        QCOMPARE(store.read(QStringLiteral("1_Root_1"), QStringLiteral("absent")),
                 QStringLiteral("absent"));
    }

    void emptyFile_isAnEmptyStoreNotDamage()
    {
        const QString path = storePath();
        writeFile(path, {});
        SettingsStore store(path);
        QVERIFY(store.movedAsidePath().isEmpty());
        store.write(QStringLiteral("TabSel"), QStringLiteral("1"));
        QCOMPARE(store.read(QStringLiteral("TabSel"), {}), QStringLiteral("1"));
    }

    void folderThatCannotBeCreated_failsClearly()
    {
        // A plain file where the Kestrune folder belongs: fails even for root, unlike chmod.
        const QString path = storePath();
        const QString folder = QFileInfo(path).absolutePath();
        writeFile(folder, "not a folder");
        try {
            SettingsStore store(path);
            QFAIL("opening a store in a folder that cannot exist succeeded");
        } catch (const StoreFailure& failure) {
            QVERIFY2(failure.description().contains(folder), qPrintable(failure.description()));
        }
        QCOMPARE(fileBytes(folder), QByteArray("not a folder"));
    }

    void writeBeyondTheFileSizeLimit_failsAndKeepsTheOldValue()
    {
        const QString path = storePath();
        SettingsStore store(path);
        store.write(QStringLiteral("1_Root_1"), QStringLiteral("old"));
        const QString big(2'000'000, u'x');
        {
            FileSizeLimit limit(QFileInfo(path).size() + 64 * 1024);
            try {
                store.write(QStringLiteral("1_Root_1"), big);
                QFAIL("a write beyond the file size limit reported success");
            } catch (const StoreFailure& failure) {
                // The system's reason, not only "disk I/O error".
                QVERIFY2(
                    failure.description().contains(QString::fromLocal8Bit(std::strerror(EFBIG))),
                    qPrintable(failure.description()));
                QVERIFY2(failure.description().contains(QStringLiteral("\"1_Root_1\"")),
                         qPrintable(failure.description()));
                QVERIFY2(failure.description().contains(path), qPrintable(failure.description()));
            }
            QCOMPARE(store.read(QStringLiteral("1_Root_1"), {}), QStringLiteral("old"));
        }
        // The store is usable again once there is room.
        store.write(QStringLiteral("1_Root_1"), QStringLiteral("new"));
        QCOMPARE(SettingsStore(path).read(QStringLiteral("1_Root_1"), {}), QStringLiteral("new"));
    }

    void writeAll_isAllOrNothing()
    {
        const QString path = storePath();
        SettingsStore store(path);
        store.writeAll({{QStringLiteral("1_Root_1"), QStringLiteral("active")},
                        {QStringLiteral("1_Root_1Del"), QStringLiteral("deleted")}});
        {
            // The first value fits, the second does not: neither may be stored.
            FileSizeLimit limit(QFileInfo(path).size() + 64 * 1024);
            QVERIFY_THROWS_EXCEPTION(
                StoreFailure,
                store.writeAll({{QStringLiteral("1_Root_1"), QStringLiteral("moved")},
                                {QStringLiteral("1_Root_1Del"), QString(2'000'000, u'y')}}));
        }
        QCOMPARE(store.read(QStringLiteral("1_Root_1"), {}), QStringLiteral("active"));
        QCOMPARE(store.read(QStringLiteral("1_Root_1Del"), {}), QStringLiteral("deleted"));
        SettingsStore reopened(path);
        QCOMPARE(reopened.read(QStringLiteral("1_Root_1"), {}), QStringLiteral("active"));
        QCOMPARE(reopened.read(QStringLiteral("1_Root_1Del"), {}), QStringLiteral("deleted"));
        // No transaction is left open: the next writes go through.
        store.writeAll({{QStringLiteral("1_Root_1"), QString()},
                        {QStringLiteral("1_Root_1Del"), QStringLiteral("x")}});
        QCOMPARE(SettingsStore(path).read(QStringLiteral("1_Root_1"), QStringLiteral("absent")),
                 QString());
    }

    // Saves of a big list one after another, faster than the log is copied back: every commit
    // is in the file for another program at once, and the log stays bounded.
    void bigSavesInARow_areVisibleAtOnceAndKeepTheLogBounded()
    {
        const QString path = storePath();
        SettingsStore store(path);
        qint64 longestLog = 0;
        for (int i = 0; i < 40; ++i) {
            const QString value = QString(2'000'000 + i, QChar(u'a' + i % 26));
            store.write(QStringLiteral("1_Root_1"), value);
            QCOMPARE(rawValue(path, QStringLiteral("1_Root_1")), value.toUtf8());
            longestLog = std::max(longestLog, QFileInfo(path + QStringLiteral("-wal")).size());
        }
        QVERIFY2(longestLog < 96 << 20, qPrintable(QString::number(longestLog)));
        QCOMPARE(store.read(QStringLiteral("1_Root_1"), {}).size(), 2'000'039);
    }

    // Once saving pauses, the log is copied back into the store's file, off the saving path.
    void aPauseAfterASave_copiesTheLogIntoTheFile()
    {
        const QString path = storePath();
        SettingsStore store(path);
        store.write(QStringLiteral("1_Root_1"), QString(1'000'000, QChar(u'a')));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > 1'000'000, 5000);
    }

    void storeLockedByAnotherProgram_writeFailsNamingTheLock()
    {
        const QString path = storePath();
        SettingsStore store(path);
        store.write(QStringLiteral("TabSel"), QStringLiteral("0"));
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        try {
            store.write(QStringLiteral("TabSel"), QStringLiteral("1"));
            QFAIL("a write into a locked store reported success");
        } catch (const StoreFailure& failure) {
            QVERIFY2(failure.description().contains(QStringLiteral("locked")),
                     qPrintable(failure.description()));
        }
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QCOMPARE(store.read(QStringLiteral("TabSel"), {}), QStringLiteral("0"));
        store.write(QStringLiteral("TabSel"), QStringLiteral("1"));
        QCOMPARE(store.read(QStringLiteral("TabSel"), {}), QStringLiteral("1"));
    }
};

KESTRUNE_TEST_MAIN(TestSettingsStore)
#include "test_settings_store.moc"
