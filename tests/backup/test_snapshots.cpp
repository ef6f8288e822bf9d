// Snapshots of a real store on their own: what they hold and when, how long they are kept,
// reading them back, restoring them, and what they do when they cannot be made.
#include "auto_backups.h"
#include "category_tree_codec.h"
#include "failure.h"
#include "file_size_limit.h"
#include "removed_categories.h"
#include "settings_store.h"
#include "snapshot.h"
#include "task_list_codec.h"
#include "test_files.h"
#include "test_main.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <ctime>
#include <memory>
#include <sys/stat.h>

namespace {

using Values = std::vector<std::pair<QString, QString>>;

QString listOf(const QStringList& tasks)
{
    QString value;
    for (const QString& task : tasks)
        TaskListCodec::appendEntry(value, {task, QStringLiteral("High")});
    return value;
}

// Two categories, Work with a subcategory, and a list whose category was removed.
const Values kStoreValues = {
    {CategoryTreeCodec::kKey,
     QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^Reports;2_Sublist_3;1_Root_1^")},
    {QStringLiteral("1_Root_1"), listOf({QStringLiteral("Deliver"), QStringLiteral("Call")})},
    {QStringLiteral("1_Root_1Del"), listOf({QStringLiteral("Old")})},
    {QStringLiteral("2_Sublist_3"), listOf({QStringLiteral("Q3 figures")})},
    {QStringLiteral("1_Root_7"), listOf({QStringLiteral("Forgotten")})},
    {QStringLiteral("TabSel"), QStringLiteral("1")},
};

QHash<QString, QString> sectionOf(const SettingsStore::Changes& changes)
{
    QHash<QString, QString> section;
    for (const auto& [key, value] : changes.values)
        section.insert(key, value);
    return section;
}

int modeOf(const QString& path)
{
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return int(info.st_mode & 0777);
}

QDateTime utc(const QString& text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    time.setTimeSpec(Qt::UTC);
    return time;
}

} // namespace

class TestSnapshots : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_storePath;
    QString m_folder;
    std::unique_ptr<SettingsStore> m_store;

    QStringList folderEntries() const
    {
        return QDir(m_folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private slots:
    void initTestCase()
    {
        // Days and weeks are counted in local time; the dates below are in UTC.
        qputenv("TZ", "UTC");
        tzset();
    }

    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        m_storePath = m_dir.path() + QStringLiteral("/Kestrune/Kestrune.db");
        m_folder = SnapshotFiles::folderOf(m_storePath);
        m_store = std::make_unique<SettingsStore>(m_storePath);
        m_store->apply({kStoreValues,
                        {{QStringLiteral("1_Root_1"), QByteArray(48, 'u')}},
                        {{QStringLiteral("uid-1"), QByteArray("BEGIN:VTODO")}},
                        {}});
    }
    void cleanup() { m_store.reset(); }

    void snapshot_holdsTheStateWhenAskedNotWhenWritten_ownerOnly()
    {
        SnapshotSource source(m_storePath);
        m_store->write(QStringLiteral("1_Root_1"), listOf({QStringLiteral("Later")}));
        const QString path = source.writeTo(m_folder, SnapshotReason::DeleteAll,
                                            utc(QStringLiteral("2026-12-08T16:06:09.123")));

        QCOMPARE(QFileInfo(path).fileName(),
                 QStringLiteral("Kestrune-20261208T160609.123Z-delete-all.db"));
        QCOMPARE(SnapshotFiles::parse(path)->reason, SnapshotReason::DeleteAll);
        QCOMPARE(modeOf(path), 0600);
        QCOMPARE(modeOf(m_folder), 0700);
        QCOMPARE(folderEntries(), QStringList{QFileInfo(path).fileName()}); // one file, no journal

        SnapshotReader reader(path);
        QVERIFY(reader.isSound());
        const SettingsStore::Changes contents = reader.contents();
        QCOMPARE(sectionOf(contents).value(QStringLiteral("1_Root_1")), kStoreValues[1].second);
        QCOMPARE(contents.listUids.size(), size_t(1));
        QCOMPARE(contents.keptVTodos.size(), size_t(1));
        const SnapshotSummary summary = reader.summary();
        QCOMPARE(summary.categories, 3);
        QCOMPARE(summary.activeTasks, 3);
        QCOMPARE(summary.deletedTasks, 1);
    }

    void restore_replacesEverythingInOneGo_andASecondRestoreGoesBack()
    {
        const QString before =
            SnapshotSource(m_storePath)
                .writeTo(m_folder, SnapshotReason::Import, QDateTime::currentDateTimeUtc());
        m_store->apply({{{QStringLiteral("1_Root_9"), listOf({QStringLiteral("New")})},
                         {CategoryTreeCodec::kKey, QStringLiteral("Only;1_Root_9;^")}},
                        {{QStringLiteral("1_Root_9"), QByteArray(24, 'n')}},
                        {},
                        {}});
        const QString after = SnapshotSource(m_storePath)
                                  .writeTo(m_folder, SnapshotReason::Restore,
                                           QDateTime::currentDateTimeUtc().addSecs(1));

        m_store->replaceAll(SnapshotReader(before).contents());
        QCOMPARE(m_store->readSection(), SnapshotReader(before).section());
        QCOMPARE(m_store->readListUids(QStringLiteral("1_Root_9")), QByteArray());
        QCOMPARE(m_store->readKeptVTodos().size(), 1);

        m_store->replaceAll(SnapshotReader(after).contents());
        QCOMPARE(m_store->read(CategoryTreeCodec::kKey, QString()),
                 QStringLiteral("Only;1_Root_9;^"));
        QCOMPARE(m_store->readListUids(QStringLiteral("1_Root_9")), QByteArray(24, 'n'));
    }

    void damagedSnapshot_isNoSoundSnapshot_data()
    {
        QTest::addColumn<qint64>("keptBytes");
        QTest::addColumn<QByteArray>("garbage");
        QTest::newRow("cut short") << qint64(4096 + 512) << QByteArray();
        QTest::newRow("pages overwritten") << qint64(-1) << QByteArray(8192, '\x5a');
        QTest::newRow("no database") << qint64(0) << QByteArray("not a database at all");
    }
    void damagedSnapshot_isNoSoundSnapshot()
    {
        QFETCH(qint64, keptBytes);
        QFETCH(QByteArray, garbage);
        // Enough pages that damage past the first one is possible.
        m_store->write(QStringLiteral("1_Root_2"), QString(40000, u'x'));
        const QString path =
            SnapshotSource(m_storePath)
                .writeTo(m_folder, SnapshotReason::Import, QDateTime::currentDateTimeUtc());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        if (keptBytes >= 0)
            file.resize(keptBytes);
        file.seek(keptBytes > 0 ? 0 : 8192);
        if (keptBytes == 0)
            file.seek(0);
        file.write(garbage);
        file.close();
        bool sound = true;
        try {
            sound = SnapshotReader(path).isSound();
        } catch (const Failure&) {
            sound = false;
        }
        QVERIFY(!sound);
    }

    void keeping_data()
    {
        // Snapshots by their age at 2026-06-15T12:00Z, newest first, and which the rule drops.
        QTest::addColumn<QStringList>("made");
        QTest::addColumn<QList<int>>("dropped");
        QTest::addColumn<qint64>("maxBytes");
        const qint64 plenty = 1LL << 40;
        QTest::newRow("all of the last two days")
            << QStringList{"2026-06-15T11:00", "2026-06-15T01:00", "2026-06-14T02:00",
                           "2026-06-13T12:30"}
            << QList<int>{} << plenty;
        QTest::newRow("then the newest of each day")
            << QStringList{"2026-06-15T11:00", "2026-06-10T18:00", "2026-06-10T09:00",
                           "2026-06-09T09:00"}
            << QList<int>{2} << plenty;
        QTest::newRow("then the newest of each week")
            << QStringList{"2026-06-15T11:00", "2026-05-14T09:00", "2026-05-12T09:00",
                           "2026-05-06T09:00"}
            << QList<int>{2} << plenty;
        QTest::newRow("then the newest of each month")
            << QStringList{"2026-06-15T11:00", "2026-01-20T09:00", "2026-01-03T09:00",
                           "2025-12-30T09:00"}
            << QList<int>{2} << plenty;
        QTest::newRow("nothing older than the months")
            << QStringList{"2026-06-15T11:00", "2025-02-01T09:00", "2024-06-01T09:00"}
            << QList<int>{1, 2} << plenty;
        QTest::newRow("the newest even when old")
            << QStringList{"2023-06-15T11:00", "2022-06-15T11:00"} << QList<int>{1} << plenty;
        QTest::newRow("over the size, the oldest go first")
            << QStringList{"2026-06-15T11:00", "2026-06-15T10:00", "2026-06-15T09:00",
                           "2026-06-15T08:00"}
            << QList<int>{3, 2} << qint64(250);
        QTest::newRow("over the size, never the newest")
            << QStringList{"2026-06-15T11:00", "2026-06-15T10:00"} << QList<int>{1} << qint64(50);
    }
    void keeping()
    {
        QFETCH(QStringList, made);
        QFETCH(QList<int>, dropped);
        QFETCH(qint64, maxBytes);
        // A folder of snapshots of 100 bytes each, as the names date them.
        QStringList names;
        for (const QString& time : made) {
            names.append(SnapshotFiles::fileName(utc(time), SnapshotReason::FirstSaveOfDay));
            writeFile(m_folder + u'/' + names.last(), QByteArray(100, 's'));
        }
        SnapshotFiles::prune(m_folder, utc(QStringLiteral("2026-06-15T12:00")), {maxBytes});
        QStringList expected;
        for (int i = 0; i < names.size(); ++i)
            if (!dropped.contains(i))
                expected.append(names[i]);
        QStringList left;
        for (const SnapshotFile& file : SnapshotFiles::list(m_folder))
            left.append(QFileInfo(file.path).fileName());
        QCOMPARE(left, expected);
    }

    void autoBackups_prunesAfterEachSnapshot_andClearsWhatAKillLeft()
    {
        writeFile(m_folder + QStringLiteral("/.incomplete-Kestrune-x.db"), "half");
        writeFile(m_folder + QStringLiteral("/notes.txt"), "not ours");
        writeFile(m_folder + u'/' +
                      SnapshotFiles::fileName(utc(QStringLiteral("2020-01-01T00:00")),
                                              SnapshotReason::Import),
                  "too old");
        AutoBackups backups(m_storePath);
        QSignalSpy made(&backups, &AutoBackups::made);
        backups.snapshotFirstOfDay();
        backups.snapshotFirstOfDay(); // the same day: nothing more
        backups.waitUntilIdle();
        QVERIFY(made.wait());
        const QList<SnapshotFile> files = SnapshotFiles::list(m_folder);
        QCOMPARE(files.size(), 1);
        QCOMPARE(files[0].reason, SnapshotReason::FirstSaveOfDay);
        QCOMPARE(folderEntries(),
                 (QStringList{QFileInfo(files[0].path).fileName(), QStringLiteral("notes.txt")}));
        // A later run of the same day makes none either.
        AutoBackups later(m_storePath);
        later.snapshotFirstOfDay();
        later.waitUntilIdle();
        QCOMPARE(SnapshotFiles::list(m_folder).size(), 1);
    }

    void autoBackups_cannotWrite_reportsAndLeavesNothing_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("the folder is a file") << false;
        QTest::newRow("the disk is full") << true;
    }
    void autoBackups_cannotWrite_reportsAndLeavesNothing()
    {
        QFETCH(bool, fullDisk);
        m_store->write(QStringLiteral("1_Root_2"), QString(300000, u'x'));
        if (!fullDisk)
            writeFile(m_folder, "in the way");
        else
            QDir().mkpath(m_folder);
        const QHash<QString, QString> before = m_store->readSection();
        {
            std::unique_ptr<FileSizeLimit> limit;
            if (fullDisk)
                limit = std::make_unique<FileSizeLimit>(64 * 1024);
            AutoBackups backups(m_storePath);
            QSignalSpy failed(&backups, &AutoBackups::failed);
            backups.snapshot(SnapshotReason::Import);
            backups.waitUntilIdle();
            QVERIFY(failed.wait());
            QVERIFY2(failed[0][0].toString().contains(QStringLiteral("Cannot make a backup")),
                     qPrintable(failed[0][0].toString()));
        }
        QCOMPARE(m_store->readSection(), before);
        if (fullDisk)
            QCOMPARE(folderEntries(), QStringList());
    }

    void removedCategories_areListsNoCategoryHas_namedByTheNewestSnapshot()
    {
        // The newest snapshot that knows 1_Root_7 calls it "Garden"; an older one "Yard".
        const auto snapshotWithTree = [&](const QString& tree, const QString& when) {
            m_store->write(CategoryTreeCodec::kKey, tree);
            SnapshotSource(m_storePath).writeTo(m_folder, SnapshotReason::Import, utc(when));
        };
        snapshotWithTree(QStringLiteral("Yard;1_Root_7;^"), QStringLiteral("2026-01-01T00:00"));
        snapshotWithTree(QStringLiteral("Garden;1_Root_7;^Beds;2_Sublist_8;1_Root_7^"),
                         QStringLiteral("2026-02-01T00:00"));
        snapshotWithTree(QStringLiteral("Work;1_Root_1;^"), QStringLiteral("2026-03-01T00:00"));
        m_store->write(QStringLiteral("2_Sublist_8Del"), listOf({QStringLiteral("Weeds")}));
        m_store->write(QStringLiteral("1_Root_5"), QString()); // empty: nothing to bring back

        const QList<RemovedCategory> removed = RemovedCategories::find(
            m_store->readSection(), {QStringLiteral("1_Root_1"), QStringLiteral("1_Root_2")},
            SnapshotFiles::list(m_folder));
        QCOMPARE(removed.size(), 3);
        const auto describe = [](const RemovedCategory& c) {
            return QStringLiteral("%1 %2 under '%3' %4/%5")
                .arg(c.key, c.name, c.parentKey)
                .arg(c.activeTasks)
                .arg(c.deletedTasks);
        };
        QCOMPARE(describe(removed[0]), QStringLiteral("1_Root_7 Garden under '' 1/0"));
        QCOMPARE(describe(removed[1]), QStringLiteral("2_Sublist_3 2_Sublist_3 under '' 1/0"));
        QCOMPARE(describe(removed[2]), QStringLiteral("2_Sublist_8 Beds under '1_Root_7' 0/1"));
    }
};

KESTRUNE_TEST_MAIN(TestSnapshots)
#include "test_snapshots.moc"
