// The parts of the sync that need no server: the field merge, the sync state in the store, and
// the task directory's moves on the real window.
#include "form1.h"
#include "scripted_prompts.h"
#include "settings_store.h"
#include "sync_digests.h"
#include "task_directory.h"
#include "task_list_view.h"
#include "test_main.h"

#include <QTemporaryDir>

namespace {

TaskListCodec::Fields fields(const QString& joined)
{
    TaskListCodec::Fields f;
    const QStringList parts = joined.split(u'|');
    for (std::size_t i = 0; i < f.size(); ++i)
        f[i] = parts.value(qsizetype(i));
    return f;
}

QString joined(const TaskListCodec::Fields& f)
{
    return QStringList(f.begin(), f.end()).join(u'|');
}

} // namespace

class TestSyncParts : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void mergeFields_againstTheCommonCopy_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("merged");
        QTest::addColumn<bool>("conflict");
        QTest::newRow("only here") << "A|High|||n|"
                                   << "B|High|||n|"
                                   << "A|High|||n|"
                                   << "B|High|||n|" << false;
        QTest::newRow("only there") << "A|High|||n|"
                                    << "A|High|||n|"
                                    << "A|Low|||n|"
                                    << "A|Low|||n|" << false;
        QTest::newRow("different fields") << "A|High|||n|"
                                          << "B|High|||n|"
                                          << "A|Low|||n|Done"
                                          << "B|Low|||n|Done" << false;
        QTest::newRow("same field, same value") << "A|||||"
                                                << "B|||||"
                                                << "B|||||"
                                                << "B|||||" << false;
        QTest::newRow("same field, two values: the server's") << "A|||x||"
                                                              << "B|||y||"
                                                              << "C|||x||"
                                                              << "C|||y||" << true;
    }
    void mergeFields_againstTheCommonCopy()
    {
        QFETCH(QString, base);
        QFETCH(QString, local);
        QFETCH(QString, server);
        const FieldMerge merge = mergeFields(fields(base), fields(local), fields(server));
        QTEST(joined(merge.fields), "merged");
        QTEST(merge.conflict, "conflict");
    }

    void syncState_isStoredWithTheTasks_andForgottenForAnotherAccount()
    {
        const QString path = m_dir.filePath(QStringLiteral("state.db"));
        SettingsStore::SyncTask task{QStringLiteral("u1"),
                                     QStringLiteral("1_Root_1"),
                                     QStringLiteral("/c/u1.ics"),
                                     "\"e1\"",
                                     "BEGIN:VTODO\r\n",
                                     42,
                                     1024,
                                     true};
        {
            SettingsStore store(path);
            SettingsStore::Changes changes;
            changes.values.emplace_back(QStringLiteral("1_Root_1"), QStringLiteral("list"));
            changes.syncAccount.emplace_back(QStringLiteral("address"), QStringLiteral("x"));
            changes.syncCalendars.push_back({QStringLiteral("1_Root_1"), QStringLiteral("/c/"),
                                             QStringLiteral("1_Root_1"), QStringLiteral("t1"),
                                             QString(), 7});
            changes.syncTasks.push_back(task);
            store.apply(changes);
        }
        SettingsStore store(path);
        QCOMPARE(store.readSyncTasks(QStringLiteral("1_Root_1")), QList{task});
        QCOMPARE(store.readSyncTasks(QStringLiteral("1_Root_2")), {});
        QCOMPARE(store.readSyncCalendars().value(0).localDigest, 7u);
        QCOMPARE(store.readSyncAccount().value(QStringLiteral("address")), QStringLiteral("x"));
        // The settings keep their bytes: the state is in tables of its own.
        QCOMPARE(store.readSection().keys(), QStringList{"1_Root_1"});
        SettingsStore::Changes another;
        another.syncForgetAll = true;
        another.syncTasksGone.push_back(QStringLiteral("u1"));
        store.apply(another);
        QVERIFY(store.readSyncCalendars().isEmpty());
        QVERIFY(store.readSyncTasks().isEmpty());
    }

    void taskDirectory_movesRemovesAndOrders_inOneBatch()
    {
        ScriptedPrompts prompts;
        SettingsStore store(m_dir.filePath(QStringLiteral("directory.db")));
        store.write(QStringLiteral("Tree Nodes"), QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^"));
        const auto list = [](const QStringList& texts) {
            QString value;
            for (const QString& t : texts)
                value += t + QStringLiteral("My_Separatora12My_Separatora12My_Separatora12My_"
                                            "Separatora12My_Separatora12My_Separatora08");
            return value;
        };
        store.write(QStringLiteral("1_Root_1"), list({"a", "b", "c"}));
        store.write(QStringLiteral("1_Root_2"), list({"x", "y"}));
        Form1 window(store); // Work on screen
        const QStringList keys{QStringLiteral("1_Root_1"), QStringLiteral("1_Root_2")};
        const auto texts = [&](const QString& key, bool deleted) {
            QStringList out;
            for (const TaskRow& row : TaskDirectory(store, window, keys).rows(key, deleted))
                out.append(row.fields[0]);
            return out;
        };
        {
            TaskDirectory tasks(store, window, keys);
            const QList<TaskRow> work = tasks.rows(QStringLiteral("1_Root_1"), false);
            const QList<TaskRow> home = tasks.rows(QStringLiteral("1_Root_2"), false);
            QVERIFY(tasks.move(work[0].uid, QStringLiteral("1_Root_1"), true));
            QVERIFY(!tasks.move(work[0].uid, QStringLiteral("1_Root_1"), true));
            QVERIFY(tasks.remove(home[0].uid));
            QVERIFY(tasks.arrange(QStringLiteral("1_Root_1"), false, {work[2].uid}));
            QVERIFY(!tasks.arrange(QStringLiteral("1_Root_1"), false, {work[2].uid}));
            // Found where they went, before the batch is stored.
            QCOMPARE(tasks.find(work[0].uid)->deleted, true);
            QVERIFY(!tasks.find(home[0].uid));
            tasks.save();
        }
        // The shown category's lists on screen and in the store, the other's in the store.
        QCOMPARE(texts(QStringLiteral("1_Root_1"), false), QStringList({"c", "b"}));
        QCOMPARE(texts(QStringLiteral("1_Root_1"), true), QStringList{"a"});
        QCOMPARE(window.ListView2->tasks()->rows().value(0).fields[0], QStringLiteral("a"));
        QCOMPARE(texts(QStringLiteral("1_Root_2"), false), QStringList{"y"});
        QCOMPARE(SyncDigests::ofChanges(window.shownTasksChanges(), QStringLiteral("1_Root_1")),
                 SyncDigests::ofStoredLists(store, QStringLiteral("1_Root_1")));
    }
};

KESTRUNE_TEST_MAIN(TestSyncParts)
#include "test_sync_parts.moc"
