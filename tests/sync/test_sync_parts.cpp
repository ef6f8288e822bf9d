// The parts of the sync that need no server: the field merge, the sync state in the store, and
// the task directory's moves on the real window.
#include "form1.h"
#include "scripted_prompts.h"
#include "settings_store.h"
#include "sync_digests.h"
#include "sync_link.h"
#include "sync_run.h"
#include "sync_slices.h"
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

// A stored list of tasks whose texts are the letters of `texts`, the other fields empty.
QString storedList(const QString& texts)
{
    QString value;
    for (const QChar c : texts)
        value += QString(c) + QStringLiteral("My_Separatora12My_Separatora12My_Separatora12My_"
                                             "Separatora12My_Separatora12My_Separatora08");
    return value;
}

// A store whose tree is Work (on screen once the window opens) and Home, their active lists
// stored as given, and the window on it.
struct WorkAndHome
{
    WorkAndHome(const QString& work, const QString& home)
    {
        store.write(QStringLiteral("Tree Nodes"), QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^"));
        store.write(keys[0], work);
        store.write(keys[1], home);
        window = std::make_unique<Form1>(store);
    }
    ScriptedPrompts prompts;
    QTemporaryDir dir;
    SettingsStore store{dir.filePath(QStringLiteral("store.db"))};
    std::unique_ptr<Form1> window;
    const QStringList keys{QStringLiteral("1_Root_1"), QStringLiteral("1_Root_2")};
};

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

    // A resource defines the zones its task names, as servers may refuse one that does not.
    void resourceBody_definesTheZonesItsTaskNames()
    {
        const QByteArray body = SyncRun::resourceBody(
            "BEGIN:VTODO\r\nUID:a\r\nDUE;TZID=Europe/Berlin:20260409T003000\r\nEND:VTODO\r\n");
        QVERIFY(body.contains("END:VTODO\r\nBEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\n"));
        QVERIFY(body.endsWith("END:VTIMEZONE\r\nEND:VCALENDAR\r\n"));
        QVERIFY(
            !SyncRun::resourceBody("BEGIN:VTODO\r\nUID:a\r\nEND:VTODO\r\n").contains("VTIMEZONE"));
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
        WorkAndHome at(storedList(QStringLiteral("abc")), storedList(QStringLiteral("xy")));
        SettingsStore& store = at.store;
        Form1& window = *at.window;
        const QStringList& keys = at.keys;
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

    // Home (not on screen) holds a, b, c, d; "z" is a task of no list.
    void taskDirectory_arrange_movesOnlyWhatTheOrderMoves_data()
    {
        QTest::addColumn<QString>("order");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("moved");
        QTest::newRow("nothing") << ""
                                 << "abcd" << false;
        QTest::newRow("as it is, in part") << "ab"
                                           << "abcd" << false;
        QTest::newRow("twice and a stranger") << "zaabz"
                                              << "abcd" << false;
        QTest::newRow("a gap") << "ac"
                               << "acbd" << true;
        QTest::newRow("twice, out of order") << "bba"
                                             << "bacd" << true;
        QTest::newRow("the last first") << "d"
                                        << "dabc" << true;
        QTest::newRow("reversed") << "dcba"
                                  << "dcba" << true;
    }
    void taskDirectory_arrange_movesOnlyWhatTheOrderMoves()
    {
        QFETCH(QString, order);
        WorkAndHome at({}, storedList(QStringLiteral("abcd")));
        const QString home = at.keys[1];
        TaskDirectory tasks(at.store, *at.window, at.keys);
        QHash<QChar, QUuid> uids{{u'z', QUuid::createUuid()}};
        for (const TaskRow& row : tasks.rows(home, false))
            uids.insert(row.fields[0].at(0), row.uid);
        QList<QUuid> wanted;
        for (const QChar c : order)
            wanted.append(uids.value(c));
        QTEST(tasks.arrange(home, false, wanted), "moved");
        tasks.save();
        QString after;
        for (const TaskRow& row : TaskDirectory(at.store, *at.window, {home}).rows(home, false))
            after += row.fields[0];
        QTEST(after, "after");
        for (const QChar c : after)
            QCOMPARE(tasks.find(uids.value(c))->categoryKey, home);
    }

    // A directory that saved goes on as if it had read its lists again: the same texts, UIDs
    // and digests, an entry of seven fields written back as stored, until someone else stores.
    void taskDirectory_afterASave_holdsWhatItStored()
    {
        const QString odd =
            QStringLiteral("oMy_Separatora12My_Separatora12My_Separatora12My_"
                           "Separatora12My_Separatora12My_Separatora12xMy_Separatora08");
        WorkAndHome at({}, storedList(QStringLiteral("ab")) + odd);
        SettingsStore& store = at.store;
        const QString home = at.keys[1];
        TaskDirectory tasks(store, *at.window, at.keys);
        QList<TaskRow> rows = tasks.rows(home, false);
        QVERIFY(tasks.update(rows[0].uid, fields(QStringLiteral("A|||||"))));
        tasks.save();
        QVERIFY(tasks.current());
        QVERIFY(tasks.update(rows[1].uid, fields(QStringLiteral("B|||||"))));
        tasks.append(home, false, fields(QStringLiteral("c|||||")), {});
        tasks.save();
        QVERIFY(tasks.current());
        const TaskDirectory again(store, *at.window, at.keys);
        QCOMPARE(again.rows(home, false), tasks.rows(home, false));
        QVERIFY(again.givenUids().listUids.empty()); // every stored UID still matched
        QVERIFY(store.read(home, QString()).contains(odd));
        // A row that went to the screen and back, its first list written meanwhile.
        QVERIFY(tasks.move(rows[2].uid, at.keys[0], false));
        tasks.save();
        QVERIFY(tasks.move(rows[2].uid, home, false));
        tasks.save();
        QCOMPARE(TaskDirectory(store, *at.window, at.keys).rows(home, false).last().fields[0],
                 QStringLiteral("o"));
        store.write(QStringLiteral("Another"), QString());
        QVERIFY(!tasks.current());
    }

    // Whether the lists on screen hold an unsaved change, after each way they or the store can
    // change behind the sync's back.
    void shownListsUnsaved_seesEveryChange_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("unsaved");
        QTest::newRow("none") << "" << false;
        QTest::newRow("moved") << "move" << true;
        QTest::newRow("rewritten") << "replace" << true;
        QTest::newRow("removed") << "remove" << true;
        QTest::newRow("sorted") << "sort" << true;
        QTest::newRow("all set anew") << "set" << true;
        QTest::newRow("stored past the limit") << "beyond" << true;
        QTest::newRow("stored list written") << "store" << true;
        QTest::newRow("moved and saved") << "move save" << false;
    }
    void shownListsUnsaved_seesEveryChange()
    {
        QFETCH(QString, change);
        WorkAndHome at(storedList(QStringLiteral("bac")), {});
        SettingsStore& store = at.store;
        Form1& window = *at.window;
        SyncTasksHost& link = *window.findChild<SyncLink*>();
        QVERIFY(!link.shownListsUnsaved()); // found stored, and remembered so
        TaskListModel& tasks = *window.ListView1->tasks();
        const TaskRow first = tasks.at(0);
        for (const QString& step : change.split(u' ', Qt::SkipEmptyParts)) {
            if (step == QLatin1String("move"))
                tasks.move(0, 1);
            else if (step == QLatin1String("replace"))
                tasks.replace(
                    0, TaskRow{fields(QStringLiteral("c|||||")), first.dueColour, first.uid});
            else if (step == QLatin1String("remove"))
                tasks.remove(0);
            else if (step == QLatin1String("sort"))
                tasks.headerClicked(0);
            else if (step == QLatin1String("set"))
                tasks.setRows({first});
            else if (step == QLatin1String("beyond"))
                tasks.setStoredBeyondLimit(QStringLiteral("x"));
            else if (step == QLatin1String("store"))
                store.write(QStringLiteral("1_Root_1"), QString());
            else if (step == QLatin1String("save"))
                window.saveTaskLists();
        }
        QTEST(link.shownListsUnsaved(), "unsaved");
    }

    // New tasks for the category on screen and for another, two a slice; between the first
    // slice and the next, the list on screen is changed and saved, or changed and not saved.
    void whatASyncBrings_inSlices_landsWholeAndInOrder_data()
    {
        QTest::addColumn<QString>("between");
        QTest::addColumn<QStringList>("workTokens"); // Work's sync token after each slice
        QTest::addColumn<QStringList>("work");
        QTest::addColumn<QStringList>("settled");
        const QStringList arrived{"t4", "t3", "t2", "t1", "t0", "a", "b"};
        const QStringList token{"", "", "T", "T", "T"};
        QTest::newRow("nothing") << "" << token << arrived << QStringList{"1_Root_1", "1_Root_2"};
        QTest::newRow("a save") << "save" << token
                                << QStringList{"t4", "t3", "t2", "t1", "t0", "A", "b"}
                                << QStringList{"1_Root_1", "1_Root_2"};
        // The rest for Work waits, and its calendar keeps no token: the next sync brings it.
        QTest::newRow("a change not saved")
            << "unsaved" << QStringList{"", "", "", "", ""} << QStringList{"t1", "t0", "A", "b"}
            << QStringList{"1_Root_2"};
    }
    void whatASyncBrings_inSlices_landsWholeAndInOrder()
    {
        QFETCH(QString, between);
        QFETCH(QStringList, workTokens);
        QFETCH(QStringList, work);
        QFETCH(QStringList, settled);
        WorkAndHome at(storedList(QStringLiteral("ab")), {});
        SettingsStore& store = at.store;
        Form1& window = *at.window;
        const QStringList& keys = at.keys;
        const auto texts = [&](const QString& key) {
            QStringList out;
            for (const TaskRow& row : TaskDirectory(store, window, keys).rows(key, false))
                out.append(row.fields[0]);
            return out;
        };
        const auto workToken = [&] {
            for (const SettingsStore::SyncCalendar& c : store.readSyncCalendars())
                if (c.categoryKey == keys[0])
                    return c.syncToken;
            return QStringLiteral("none");
        };

        SyncBatch batch;
        QHash<QString, QList<QUuid>> order;
        const QList<TaskRow> here = TaskDirectory(store, window, keys).rows(keys[0], false);
        for (const auto& [key, name] : {std::pair{keys[0], "t%1"}, std::pair{keys[1], "h%1"}})
            for (int i = 0; i < (key == keys[0] ? 5 : 3); ++i) {
                const QUuid uid = QUuid::createUuid();
                const TaskListCodec::Fields f = fields(QString::fromLatin1(name).arg(i));
                batch.tasks.append({uid, key, false, f, false, std::nullopt, false});
                SettingsStore::SyncTask row;
                row.uid = uid.toString(QUuid::WithoutBraces);
                row.categoryKey = key;
                row.href = row.uid + QStringLiteral(".ics");
                row.digest = SyncDigests::ofFields(f);
                row.onServer = true;
                batch.state.syncTasks.push_back(row);
                order[key].prepend(uid);
            }
        order[keys[0]] += {here[0].uid, here[1].uid};
        batch.activeOrder = order;
        for (const QString& key : keys)
            batch.state.syncCalendars.push_back({key, key + u'/', key, QStringLiteral("T"), {}, 0});
        batch.settledCategories = keys;

        SyncSlices slices(batch, 2);
        SyncTasksHost& host = *window.findChild<SyncLink*>();
        QStringList tokens;
        while (!slices.atEnd()) {
            SyncBatch slice = slices.next({});
            host.applySyncBatch(slice);
            slices.applied(slice);
            tokens.append(workToken());
            if (tokens.size() > 1)
                continue;
            TaskListModel& shown = *window.ListView1->tasks();
            QList<TaskRow> rows = shown.rows();
            for (TaskRow& row : rows)
                if (row.fields[0] == u"a")
                    row.fields[0] = QStringLiteral("A");
            if (between == u"save" || between == u"unsaved")
                shown.setRows(rows);
            if (between == u"save")
                window.saveTaskLists();
        }
        QCOMPARE(tokens, workTokens);
        QCOMPARE(texts(keys[0]), work);
        QCOMPARE(texts(keys[1]), QStringList({"h2", "h1", "h0"}));
        QCOMPARE(slices.settled({}), settled);
        QCOMPARE(slices.anyHeld(), between == u"unsaved");
        QCOMPARE(store.readSyncTasks(keys[0]).size(), work.size() - 2);
    }
};

KESTRUNE_TEST_MAIN(TestSyncParts)
#include "test_sync_parts.moc"
