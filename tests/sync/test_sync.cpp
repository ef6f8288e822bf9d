// Two-way sync on the real window, store and Radicale: the first sync of a store that has
// tasks, a second home on the same account, changes both ways, conflicts, deletions there, and
// another program on the same account.
#include "misbehaving_server.h"
#include "scripted_prompts.h"
#include "sync_digests.h"
#include "sync_home.h"
#include "test_main.h"

#include <QDirIterator>
#include <QTimer>

Q_DECLARE_METATYPE(MisbehavingServer::Answer)

namespace {

const QString kTree = QStringLiteral("Work;1_Root_1;^Reports;2_Sublist_4;1_Root_1^Home;1_Root_2;^");
const QHash<QString, QStringList> kLists = {
    {QStringLiteral("1_Root_1"),
     {QStringLiteral("Call the bank|High|General|||"), QStringLiteral("File taxes|Medium|Work|||"),
      QStringLiteral("Book flights|Low|Personal||seat by the window|Done")}},
    {QStringLiteral("2_Sublist_4"), {QStringLiteral("Quarterly figures|Highest|Work|||")}},
    {QStringLiteral("1_Root_2"), {QStringLiteral("Sweep|Low|General|||")}},
    {QStringLiteral("1_Root_2Del"), {QStringLiteral("Old chore|Low|General|||")}},
};

// plain_server_proxy.py in front of `server`, for as long as it lives.
struct PlainServer
{
    explicit PlainServer(const RadicaleServer& server)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral(PLAIN_SERVER_PROXY),
                       QStringLiteral("127.0.0.1:%1").arg(server.url().port())});
        QByteArray said;
        if (QTest::qWaitFor(
                [&] { return (said += process.readAllStandardOutput()).contains('\n'); }, 15000))
            address = QUrl(QStringLiteral("http://127.0.0.1:%1/")
                               .arg(QString::fromLatin1(said).section(u' ', 1).trimmed()));
    }
    ~PlainServer()
    {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
    QUrl address; // empty when it did not start
};

} // namespace

class TestSync : public QObject
{
    Q_OBJECT

    ScriptedPrompts m_prompts;
    std::unique_ptr<RadicaleServer> m_server;

    // A home with the tasks above, synced once, and a second one made from nothing.
    std::pair<std::unique_ptr<Home>, std::unique_ptr<Home>> twoHomes()
    {
        auto first = std::make_unique<Home>(*m_server, kTree, kLists);
        auto second = std::make_unique<Home>(*m_server, QString(""));
        if (!first->syncNow() || !second->syncNow())
            qWarning("a sync did not end");
        return {std::move(first), std::move(second)};
    }

    void sameActiveLists(const Home& a, const Home& b)
    {
        QCOMPARE(a.tree(), b.tree());
        for (const QString& path : a.tree()) {
            const QString name = path.section(u'/', -1);
            QCOMPARE(b.tasks(name), a.tasks(name));
        }
    }

private slots:
    void init()
    {
        m_server = std::make_unique<RadicaleServer>();
        QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorString()));
        m_prompts.clear();
        m_prompts.yesNoAnswers.clear();
    }
    void cleanup() { m_server.reset(); }

    void firstSync_uploadsEveryList_andASecondHomeEndsTheSame_data()
    {
        QTest::addColumn<QString>("secondTree");
        QTest::newRow("second home empty") << QString("");
        QTest::newRow("second home with the first start's tree") << QString();
    }
    void firstSync_uploadsEveryList_andASecondHomeEndsTheSame()
    {
        QFETCH(QString, secondTree);
        Home first(*m_server, kTree, kLists);
        QVERIFY(first.syncNow());
        QVERIFY2(first.sync().statusText().contains(QStringLiteral("5 tasks sent")),
                 qPrintable(first.sync().statusText()));
        // Another program reads what went up, in list order, with the right fields.
        const QJsonArray work = foreignTasks(*m_server, QStringLiteral("Work"));
        QCOMPARE(work.size(), 3);
        QCOMPARE(work[0][QStringLiteral("summary")].toString(), QStringLiteral("Call the bank"));
        QCOMPARE(work[0][QStringLiteral("priority")].toInt(), 3);
        QCOMPARE(work[2][QStringLiteral("status")].toString(), QStringLiteral("COMPLETED"));
        QCOMPARE(work[2][QStringLiteral("description")].toString(),
                 QStringLiteral("seat by the window"));
        QCOMPARE(foreignSummaries(*m_server, QStringLiteral("Home")), QStringList{"Sweep"});

        Home second(*m_server, secondTree);
        QVERIFY(second.syncNow());
        QVERIFY(first.syncNow()); // takes what the second had of its own
        sameActiveLists(first, second);
        QCOMPARE(first.tree().mid(0, 3), QStringList({"Work", "Work/Reports", "Home"}));
        // Nothing went up twice.
        QCOMPARE(foreignTasks(*m_server, QStringLiteral("Work")).size(), 3);
        // The deleted list is this home's own.
        QCOMPARE(second.texts(QStringLiteral("Home"), true), QStringList());
        QCOMPARE(first.texts(QStringLiteral("Home"), true), QStringList{"Old chore"});
    }

    void changesTravel_bothWays_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("fromSecond");
        for (const bool fromSecond : {false, true}) {
            const char* way = fromSecond ? " from the second home" : " from the first";
            for (const char* change : {"edit", "delete", "restore", "delete key", "move up"})
                QTest::newRow(qPrintable(QString::fromLatin1(change) + QLatin1StringView(way)))
                    << QString::fromLatin1(change) << fromSecond;
        }
    }
    void changesTravel_bothWays()
    {
        QFETCH(QString, change);
        QFETCH(bool, fromSecond);
        auto [first, second] = twoHomes();
        Home& here = fromSecond ? *second : *first;
        Home& there = fromSecond ? *first : *second;
        const QString work = QStringLiteral("Work");
        if (change == u"edit") {
            here.edit(work, QStringLiteral("File taxes"), NotesCol, QStringLiteral("by Friday"));
        } else if (change == u"delete") {
            here.moveBetweenLists(work, QStringLiteral("File taxes"), false);
        } else if (change == u"restore") {
            here.moveBetweenLists(work, QStringLiteral("File taxes"), false);
            QVERIFY(here.syncNow());
            QVERIFY(there.syncNow());
            QCOMPARE(there.texts(work, true), QStringList{"File taxes"});
            here.moveBetweenLists(work, QStringLiteral("File taxes"), true);
        } else if (change == u"delete key") {
            here.deleteForGood(work, QStringLiteral("File taxes"));
        } else if (change == u"move up") {
            here.moveUp(work, QStringLiteral("Book flights"));
        }
        QVERIFY(here.syncNow());
        QVERIFY(there.syncNow());
        const QString status = there.sync().statusText();
        QCOMPARE(there.tasks(work), here.tasks(work));
        const QStringList onServer = foreignSummaries(*m_server, work);
        QCOMPARE(onServer, here.texts(work));
        if (change == u"delete" || change == u"delete key") {
            // Deleted there moves to the deleted list here: it never vanishes, and it is said.
            QCOMPARE(there.texts(work, true), QStringList{"File taxes"});
            QVERIFY(!there.uidOf(work, QStringLiteral("File taxes"), true).isNull());
            QVERIFY2(status.contains(
                         QStringLiteral("1 task deleted on another device moved to Deleted Tasks")),
                     qPrintable(status));
        }
        // A sync with nothing to do changes nothing.
        QVERIFY(there.syncNow());
        QVERIFY2(there.sync().statusText().contains(QStringLiteral("nothing to do")),
                 qPrintable(there.sync().statusText()));
    }

    void aCategoryAddedInOneHome_reachesTheOther_inItsPlace()
    {
        auto [first, second] = twoHomes();
        first->window->addCategory(first->keyOf(QStringLiteral("Home")), QStringLiteral("Trips"));
        first->window->storeTree();
        first->edit(QStringLiteral("Home"), QStringLiteral("Sweep"), NotesCol,
                    QStringLiteral("hall"));
        QVERIFY(first->syncNow());
        // The sync that made the category runs one more; the status tells what both did.
        QVERIFY(second->syncUntilSettled());
        QVERIFY2(second->sync().statusText().endsWith(QStringLiteral(": 1 task received.")),
                 qPrintable(second->sync().statusText()));
        QCOMPARE(second->tree(), first->tree());
        QVERIFY(second->tree().contains(QStringLiteral("Home/Trips")));
        QCOMPARE(second->tasks(QStringLiteral("Home")), first->tasks(QStringLiteral("Home")));
    }

    // Both homes give their new category the same key: each subcategory stays under its own
    // parent, and every home ends with the same tree, stored so.
    void categoriesAddedOnTwoHomesAtOnce_endAsOneTree()
    {
        Home first(*m_server, kTree, kLists);
        Home second(*m_server, kTree);
        QVERIFY(first.syncNow());
        QVERIFY(second.syncNow());
        first.window->addCategory(QString(), QStringLiteral("Projects"));
        first.window->storeTree();
        QVERIFY(first.syncNow());
        const QString errands = second.window->addCategory(QString(), QStringLiteral("Errands"));
        second.window->addCategory(errands, QStringLiteral("ErrSub"));
        second.window->storeTree();
        QCOMPARE(errands, first.keyOf(QStringLiteral("Projects")));
        for (int round = 0; round < 2; ++round) {
            QVERIFY(second.syncNow());
            QVERIFY(first.syncNow());
        }
        QVERIFY(first.tree().contains(QStringLiteral("Errands/ErrSub")));
        QVERIFY(!first.tree().contains(QStringLiteral("Projects/ErrSub")));
        QCOMPARE(first.tree(), second.tree());
        for (Home* home : {&first, &second}) {
            const QStringList shown = home->tree();
            home->window.reset();
            home->open(*m_server);
            QCOMPARE(home->tree(), shown);
            QVERIFY(home->syncNow());
        }
        QCOMPARE(first.tree(), second.tree());
    }

    void aCalendarRenamedThere_renamesItsCategory_andStaysSo()
    {
        Home home(*m_server, kTree, kLists);
        QVERIFY(home.syncNow());
        foreign(*m_server, {"rename-calendar", "Home", "House"});
        QVERIFY(home.syncNow());
        QCOMPARE(home.tree(), QStringList({"Work", "Work/Reports", "House"}));
        home.window->addCategory(QString(), QStringLiteral("Garden"));
        home.window->storeTree();
        QVERIFY(home.syncNow());
        const QString calendars = QString::fromUtf8(foreign(*m_server, {"calendars"}));
        QVERIFY(calendars.contains(QStringLiteral("House")) &&
                !calendars.contains(QStringLiteral("Home")));
    }

    void sameFieldChangedOnBothSides_keepsBothVersions()
    {
        auto [first, second] = twoHomes();
        const QString work = QStringLiteral("Work");
        first->edit(work, QStringLiteral("Call the bank"), TaskCol,
                    QStringLiteral("Call the bank"));
        first->edit(work, QStringLiteral("Call the bank"), NotesCol, QStringLiteral("first"));
        first->edit(work, QStringLiteral("File taxes"), PriorityCol, QStringLiteral("Highest"));
        second->edit(work, QStringLiteral("Call the bank"), NotesCol, QStringLiteral("second"));
        second->edit(work, QStringLiteral("File taxes"), NotesCol, QStringLiteral("online"));
        QVERIFY(first->syncNow());
        QVERIFY(second->syncNow());
        // The server's value stays in the list; this home's own is kept in the deleted list.
        QCOMPARE(second->tasks(work).value(0),
                 QStringLiteral("Call the bank|High|General||first|"));
        QCOMPARE(second->tasks(work, true),
                 QStringList{QStringLiteral("Call the bank|High|General||second|")});
        QVERIFY(second->sync().statusText().contains(QStringLiteral("changed on both sides")));
        // Different fields merge.
        QCOMPARE(second->tasks(work).value(1), QStringLiteral("File taxes|Highest|Work||online|"));
        QVERIFY(first->syncNow());
        QCOMPARE(first->tasks(work), second->tasks(work));
    }

    void anotherProgram_createsCompletesEditsDeletes_andItsAlarmSurvives()
    {
        Home home(*m_server, kTree, kLists);
        QVERIFY(home.syncNow());
        const QString work = QStringLiteral("Work");
        const auto step = [&](const QStringList& args) {
            foreign(*m_server, args);
            return home.syncNow();
        };
        QVERIFY(step({"create", "Work", "phone-task-1", "Buy milk"}));
        QCOMPARE(home.texts(work).last(), QStringLiteral("Buy milk"));
        QVERIFY(step({"complete", "Work", "phone-task-1"}));
        QCOMPARE(home.rows(work).last().fields[DoneCol], QStringLiteral("Done"));
        QVERIFY(step({"edit", "Work", "phone-task-1", "Buy oat milk"}));
        QCOMPARE(home.texts(work).last(), QStringLiteral("Buy oat milk"));
        QVERIFY(step({"alarm", "Work", "phone-task-1"}));
        home.edit(work, QStringLiteral("Buy oat milk"), NotesCol, QStringLiteral("two litres"));
        QVERIFY(home.syncNow());
        QJsonObject task;
        for (const QJsonValue& t : foreignTasks(*m_server, work))
            if (t[QStringLiteral("uid")].toString() == u"phone-task-1")
                task = t.toObject();
        QCOMPARE(task[QStringLiteral("description")].toString(), QStringLiteral("two litres"));
        QCOMPARE(task[QStringLiteral("alarms")].toInt(), 1);
        QVERIFY(step({"delete", "Work", "phone-task-1"}));
        QVERIFY(!home.texts(work).contains(QStringLiteral("Buy oat milk")));
        QCOMPARE(home.texts(work, true), QStringList{"Buy oat milk"});
        // A task calendar made by another program becomes a top-level category.
        QVERIFY(step({"make-calendar", "Phone"}));
        QCOMPARE(home.tree().last(), QStringLiteral("Phone"));
    }

    void aTaskThatCannotBeRead_isReported_andTheRestArrive()
    {
        Home home(*m_server, kTree, kLists);
        QVERIFY(home.syncNow());
        const auto put = [&](const QString& uid, const QString& lines) {
            foreign(*m_server,
                    {"put-raw", "Work", uid + QStringLiteral(".ics"),
                     QStringLiteral("BEGIN:VCALENDAR\\nVERSION:2.0\\nPRODID:-//Foreign//Test//EN\\n"
                                    "BEGIN:VTODO\\nUID:%1\\nDTSTAMP:20260101T000000Z\\n%2\\n"
                                    "END:VTODO\\nEND:VCALENDAR\\n")
                         .arg(uid, lines)});
        };
        put(QStringLiteral("odd"), QStringLiteral("SUMMARY:Odd\\nGEO:here"));
        put(QStringLiteral("fine"), QStringLiteral("SUMMARY:Fine"));
        QVERIFY(home.syncNow());
        QCOMPARE(home.texts(QStringLiteral("Work")).last(), QStringLiteral("Fine"));
        const QString status = home.sync().statusText();
        QVERIFY2(status.contains(QStringLiteral("A task on the server was skipped: ")) &&
                     status.contains(QStringLiteral("odd.ics")) &&
                     status.contains(QStringLiteral("GEO")),
                 qPrintable(status));
        // Skipped, not lost: still there for the program that wrote it.
        QDirIterator stored(m_server->storagePath(), {QStringLiteral("odd.ics")}, QDir::Files,
                            QDirIterator::Subdirectories);
        QVERIFY(stored.hasNext());
    }

    void deletionsThere_ofMostOfAList_areAskedAbout()
    {
        Home home(*m_server, kTree, kLists);
        QVERIFY(home.syncNow());
        const QString work = QStringLiteral("Work");
        for (const QJsonValue& t : foreignTasks(*m_server, work))
            foreign(*m_server, {"delete", "Work", t[QStringLiteral("uid")].toString()});
        m_prompts.yesNoAnswers = {false};
        QVERIFY(home.syncNow());
        QCOMPARE(m_prompts.shown.last().kind, ScriptedPrompts::Shown::YesNo);
        QVERIFY(m_prompts.shown.last().text.startsWith(QStringLiteral("3 of the 3 tasks of")));
        // No: they stay here and go up again.
        QCOMPARE(home.texts(work).size(), 3);
        QVERIFY(home.syncNow());
        QCOMPARE(foreignSummaries(*m_server, work).size(), 3);
    }

    void aCalendarGoneFromTheServer_isAskedAbout_andItsCategoryStays_data()
    {
        QTest::addColumn<bool>("makeAgain");
        QTest::newRow("yes: made again") << true;
        QTest::newRow("no: kept here only") << false;
    }
    void aCalendarGoneFromTheServer_isAskedAbout_andItsCategoryStays()
    {
        QFETCH(bool, makeAgain);
        Home home(*m_server, kTree, kLists);
        QVERIFY(home.syncNow());
        foreign(*m_server, {"delete-calendar", "Home"});
        m_prompts.yesNoAnswers = {makeAgain};
        QVERIFY(home.syncNow());
        QVERIFY(m_prompts.shown.last().text.startsWith(
            QStringLiteral("The calendar of \"Home\" is no longer on the server.")));
        QVERIFY(home.tree().contains(QStringLiteral("Home")));
        QCOMPARE(home.texts(QStringLiteral("Home")), QStringList{"Sweep"});
        QCOMPARE(home.sync().statusText().contains(QStringLiteral("is no longer synced")),
                 !makeAgain);
        QVERIFY(home.syncNow());
        QVERIFY(home.syncNow());
        QCOMPARE(QString::fromUtf8(foreign(*m_server, {"calendars"})).contains(u"Home"), makeAgain);
        if (makeAgain)
            QCOMPARE(foreignSummaries(*m_server, QStringLiteral("Home")), QStringList{"Sweep"});
    }

    void removingASyncedCategory_asks_andCtrlZBringsItBack_data()
    {
        QTest::addColumn<bool>("deleteThere");
        QTest::newRow("yes: deleted there") << true;
        QTest::newRow("no: left there") << false;
    }
    void removingASyncedCategory_asks_andCtrlZBringsItBack()
    {
        QFETCH(bool, deleteThere);
        Home home(*m_server, kTree, kLists);
        QVERIFY(home.syncNow());
        home.show(QStringLiteral("Home"));
        m_prompts.yesNoAnswers = {deleteThere};
        home.window->PushButton4_Click();
        QCOMPARE(m_prompts.shown.last().text,
                 QStringLiteral("Also delete \"Home\" and its 1 tasks on the server and on every "
                                "device that syncs with it?"));
        QVERIFY(home.syncNow());
        const QString calendars = QString::fromUtf8(foreign(*m_server, {"calendars"}));
        QCOMPARE(calendars.contains(QStringLiteral("Home")), !deleteThere);
        QVERIFY(!home.tree().contains(QStringLiteral("Home"))); // not brought back by a sync
        home.window->undoRemoval();
        QVERIFY(home.syncNow());
        QVERIFY(home.tree().contains(QStringLiteral("Home")));
        QCOMPARE(foreignSummaries(*m_server, QStringLiteral("Home")), QStringList{"Sweep"});
        QCOMPARE(QString::fromUtf8(foreign(*m_server, {"calendars"})).count(QStringLiteral("Home")),
                 1);
    }

    // The home that did not make the category makes its calendar again; the other finds that
    // calendar instead of asking, and no task ends in two calendars.
    void aCalendarMadeAgainByOneHome_isFoundByTheOther_notMadeTwice_data()
    {
        QTest::addColumn<bool>("byUndo");
        QTest::newRow("gone there, made again") << false;
        QTest::newRow("deleted with its category, Ctrl+Z") << true;
    }
    void aCalendarMadeAgainByOneHome_isFoundByTheOther_notMadeTwice()
    {
        QFETCH(bool, byUndo);
        auto [first, second] = twoHomes();
        const QString home = QStringLiteral("Home");
        m_prompts.yesNoAnswers = {true};
        if (byUndo) {
            second->show(home);
            second->window->PushButton4_Click();
            QVERIFY(second->syncNow());
            second->window->undoRemoval();
        } else {
            foreign(*m_server, {"delete-calendar", "Home"});
        }
        QVERIFY(second->syncNow());
        QVERIFY(second->syncNow());
        const qsizetype asked = m_prompts.shown.size();
        QVERIFY(first->syncNow());
        QVERIFY(first->syncNow());
        QCOMPARE(m_prompts.shown.size(), asked);
        QCOMPARE(QString::fromUtf8(foreign(*m_server, {"calendars"})).count(home), 1);
        QCOMPARE(foreignSummaries(*m_server, home), QStringList{"Sweep"});
        QCOMPARE(first->tree(), second->tree());
        QCOMPARE(first->texts(home), QStringList{"Sweep"});
        QCOMPARE(first->texts(home, true), QStringList{"Old chore"});
        first->edit(home, QStringLiteral("Sweep"), NotesCol, QStringLiteral("hall"));
        QVERIFY(first->syncNow());
        QVERIFY(second->syncNow());
        QCOMPARE(second->tasks(home), first->tasks(home));
    }

    void changesForTheListsOnScreen_waitWhileTheyHoldAnUnsavedChange()
    {
        Home home(*m_server, kTree, kLists);
        QVERIFY(home.syncNow());
        home.selectTask(QStringLiteral("Work"), QStringLiteral("File taxes"), false);
        home.window->PushButton5_Click(); // unsaved: on screen only
        const QStringList onScreen = Form1Texts(home);
        QJsonArray tasks = foreignTasks(*m_server, QStringLiteral("Work"));
        foreign(*m_server,
                {"edit", "Work", tasks[2][QStringLiteral("uid")].toString(), "Book a train"});
        QVERIFY(home.syncNow());
        QCOMPARE(Form1Texts(home), onScreen);
        home.window->saveTaskLists(); // the saving command: merged now
        QVERIFY(home.syncNow());
        QCOMPARE(Form1Texts(home), QStringList({"File taxes", "Call the bank", "Book a train"}));
        QCOMPARE(foreignSummaries(*m_server, QStringLiteral("Work")), Form1Texts(home));
    }

    // A first sync reads the lists one category a turn: what changes on screen or in the tree
    // meanwhile is taken as it stands when its turn comes.
    void whatChangesWhileASyncReadsTheLists_isTakenAsItStands()
    {
        Home home(*m_server, kTree, kLists);
        home.show(QStringLiteral("Home"));
        QSignalSpy finished(&home.sync(), &SyncController::finished);
        home.sync().syncNow();
        home.selectTask(QStringLiteral("Home"), QStringLiteral("Sweep"), false);
        home.window->ListView_KeyDelete(home.window->ListView1); // unsaved: on screen only
        QVERIFY(finished.wait(60000));
        QVERIFY(!QString::fromUtf8(foreign(*m_server, {"calendars"})).contains(u"Home"));

        home.window->saveTaskLists();
        finished.clear();
        home.sync().syncNow();
        home.window->addCategory(QString(), QStringLiteral("Garden"));
        home.window->storeTree();
        QVERIFY(finished.wait(60000));
        const QString calendars = QString::fromUtf8(foreign(*m_server, {"calendars"}));
        QVERIFY(calendars.contains(u"Home") && calendars.contains(u"Garden"));
        QCOMPARE(foreignSummaries(*m_server, QStringLiteral("Home")), QStringList());
    }

    void aSyncKilledOnTheWay_isFinishedByTheNext_withoutDuplicates_data()
    {
        QTest::addColumn<int>("killAfterMs");
        for (const int ms : {300, 1500, 4000})
            QTest::addRow("killed after %d ms", ms) << ms;
    }
    void aSyncKilledOnTheWay_isFinishedByTheNext_withoutDuplicates()
    {
        QFETCH(int, killAfterMs);
        constexpr int kTasks = 200;
        QStringList many;
        for (int i = 0; i < kTasks; ++i)
            many.append(QStringLiteral("Task %1|Medium|General|||").arg(i));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Kestrune.db"));
        {
            SettingsStore store(path);
            store.write(QStringLiteral("Tree Nodes"), QStringLiteral("Work;1_Root_1;^"));
            QString value;
            for (const QString& task : many)
                value += task.split(u'|').join(QStringLiteral("My_Separatora12")) +
                         QStringLiteral("My_Separatora08");
            store.write(QStringLiteral("1_Root_1"), value);
        }
        QProcess helper;
        helper.start(QStringLiteral(SYNC_KILL_HELPER),
                     {path, m_server->url().toString(), m_server->user(), m_server->password()});
        QVERIFY(helper.waitForStarted());
        QTest::qWait(killAfterMs);
        helper.kill();
        helper.waitForFinished();

        Home home(*m_server, QString(), {}, path);
        QVERIFY(home.syncNow());
        QVERIFY(home.syncNow());
        QCOMPARE(home.texts(QStringLiteral("Work")).size(), kTasks);
        const QJsonArray there = foreignTasks(*m_server, QStringLiteral("Work"));
        QSet<QString> uids;
        for (const QJsonValue& task : there)
            uids.insert(task[QStringLiteral("uid")].toString());
        QCOMPARE(there.size(), kTasks);
        QCOMPARE(uids.size(), kTasks);
        QCOMPARE(QString::fromUtf8(foreign(*m_server, {"calendars"})).count(QStringLiteral("Work")),
                 1);
        Home second(*m_server, QString(""));
        QVERIFY(second.syncNow());
        QCOMPARE(second.texts(QStringLiteral("Work")), home.texts(QStringLiteral("Work")));
    }

    // A second home that dies after some slices of what it receives are stored.
    void aSecondHomeKilledBetweenSlices_isFinishedByTheNext_withoutDuplicates_data()
    {
        QTest::addColumn<int>("dieAfter");
        QTest::newRow("after the new category") << 0;
        QTest::newRow("after the first slice") << 1;
        QTest::newRow("after the third") << 3;
    }
    void aSecondHomeKilledBetweenSlices_isFinishedByTheNext_withoutDuplicates()
    {
        QFETCH(int, dieAfter);
        QStringList seven, texts;
        for (int i = 0; i < 7; ++i) {
            seven.append(QStringLiteral("Task %1|Medium|General|||").arg(i));
            texts.append(QStringLiteral("Task %1").arg(i));
        }
        Home first(*m_server, QStringLiteral("Work;1_Root_1;^"), {{"1_Root_1", seven}});
        QVERIFY(first.syncNow());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Kestrune.db"));
        SettingsStore(path).write(QStringLiteral("Tree Nodes"), QString());
        QProcess helper;
        helper.start(QStringLiteral(SYNC_KILL_HELPER),
                     {path, m_server->url().toString(), m_server->user(), m_server->password(),
                      QStringLiteral("2"), QString::number(dieAfter)});
        QVERIFY(helper.waitForFinished(60000));
        QCOMPARE(helper.exitCode(), 9);

        Home second(*m_server, QString(), {}, path);
        QVERIFY(second.syncNow());
        QVERIFY(second.syncNow());
        QCOMPARE(second.tree(), QStringList{"Work"});
        QCOMPARE(second.texts(QStringLiteral("Work")), texts);
        QVERIFY(first.syncNow());
        QCOMPARE(first.texts(QStringLiteral("Work")), texts);
        QCOMPARE(foreignSummaries(*m_server, QStringLiteral("Work")).size(), 7);
        QCOMPARE(QString::fromUtf8(foreign(*m_server, {"calendars"})).count(QStringLiteral("Work")),
                 1);
    }

    void aTaskSavedBetweenSlices_reachesTheServerWithTheNextSync()
    {
        QStringList five;
        for (int i = 0; i < 5; ++i)
            five.append(QStringLiteral("Task %1|Medium|General|||").arg(i));
        Home first(*m_server, QStringLiteral("Work;1_Root_1;^"), {{"1_Root_1", five}});
        QVERIFY(first.syncNow());
        Home second(*m_server, QString(""));
        second.sync().setTasksPerSlice(2);
        QString edited;
        second.store->setCommitListener([&](const SettingsStore::Changes& changes) {
            if (changes.syncTasks.empty() || !edited.isNull())
                return;
            // Right after the first slice, before the next one.
            edited = QStringLiteral("");
            QTimer::singleShot(0, [&] {
                edited = second.texts(QStringLiteral("Work")).value(0);
                second.edit(QStringLiteral("Work"), edited, 1, QStringLiteral("High"));
            });
        });
        QVERIFY(second.syncNow());
        second.store->setCommitListener({});
        QVERIFY(!edited.isEmpty());
        QVERIFY(second.syncNow());
        QVERIFY(first.syncNow());
        QVERIFY(first.tasks(QStringLiteral("Work"))
                    .contains(edited + QStringLiteral("|High|General|||")));
        QCOMPARE(second.tasks(QStringLiteral("Work")), first.tasks(QStringLiteral("Work")));
        // Sent, the list is settled again: the next sync leaves it alone.
        const QString work = second.keyOf(QStringLiteral("Work"));
        QCOMPARE(second.store->readSyncCalendars().value(0).localDigest,
                 SyncDigests::ofStoredLists(*second.store, work));
    }

    void aServerThatFails_leavesAClearStatus_andNothingChangedHere_data()
    {
        QTest::addColumn<MisbehavingServer::Answer>("answer");
        QTest::newRow("401") << MisbehavingServer::status(401);
        QTest::newRow("403") << MisbehavingServer::status(403);
        QTest::newRow("404") << MisbehavingServer::status(404);
        QTest::newRow("412") << MisbehavingServer::status(412);
        QTest::newRow("500") << MisbehavingServer::status(500);
        QTest::newRow("garbage XML") << MisbehavingServer::multistatus("<d:multistatus><d:resp");
        QTest::newRow("a body that never ends") << MisbehavingServer::endlessBody();
        QTest::newRow("no answer at all") << MisbehavingServer::silence();
    }
    void aServerThatFails_leavesAClearStatus_andNothingChangedHere()
    {
        QFETCH(MisbehavingServer::Answer, answer);
        MisbehavingServer server(answer);
        Home home(*m_server, kTree, kLists);
        Dav::Limits limits;
        limits.requestTimeoutMs = 1500;
        limits.maxResponseBytes = 1 << 20;
        home.sync().setLimits(limits);
        home.sync().setAccount({server.url().toString(), QStringLiteral("alice"), false});
        const QHash<QString, QString> before = home.store->readSection();
        QVERIFY(home.syncNow());
        const QString status = home.sync().statusText();
        QVERIFY2(status.contains(QStringLiteral("failed: ")) && status.endsWith(u'.'),
                 qPrintable(status));
        QVERIFY(!status.contains(m_server->password()));
        QCOMPARE(home.store->readSection(), before);
        QVERIFY(home.store->readSyncCalendars().isEmpty());
        QVERIFY(home.store->readSyncTasks().isEmpty());
    }

    // A server that tells no calendar's tag and offers no sync by token: changes still travel
    // both ways, found by the tasks' ETags, and a sync with nothing to do finds nothing.
    // A saving command's sync asks no calendar for its tag: it brings what changed there for the
    // category saved, and leaves a calendar changed only there to the next whole sync.
    void aSavingCommandsSync_isTheSavedCategorysOnly()
    {
        Home first(*m_server, kTree, kLists);
        QVERIFY(first.syncNow());
        const QString work = QStringLiteral("Work");
        const QString home = QStringLiteral("Home");
        const auto uidThere = [&](const QString& category, const QString& text) {
            return first.uidOf(category, text).toString(QUuid::WithoutBraces);
        };
        foreign(*m_server,
                {"edit", work, uidThere(work, QStringLiteral("File taxes")), "File taxes early"});
        foreign(*m_server,
                {"edit", home, uidThere(home, QStringLiteral("Sweep")), "Sweep the porch"});
        TaskListModel& shown = *first.window->ListView1->tasks();
        TaskRow row = shown.at(0);
        row.fields[NotesCol] = QStringLiteral("before noon");
        shown.replace(0, row);
        QSignalSpy finished(&first.sync(), &SyncController::finished);
        first.window->saveTaskLists();
        QVERIFY(finished.wait(60000));
        QVERIFY2(first.sync().statusText().contains(QStringLiteral("1 task sent")),
                 qPrintable(first.sync().statusText()));
        QVERIFY(first.texts(work).contains(QStringLiteral("File taxes early")));
        QVERIFY(first.texts(home).contains(QStringLiteral("Sweep")));
        QVERIFY(first.syncNow());
        QVERIFY(first.texts(home).contains(QStringLiteral("Sweep the porch")));
    }

    void aServerWithoutTagsOrSyncReports_stillSyncsBothWays()
    {
        PlainServer plain(*m_server);
        QVERIFY(!plain.address.isEmpty());
        Home first(*m_server, kTree, kLists);
        QVERIFY(first.syncNow());
        Home second(*m_server, QString(""), {}, {}, plain.address);
        QVERIFY(second.syncNow());
        sameActiveLists(first, second);
        const QString work = QStringLiteral("Work");
        second.edit(work, QStringLiteral("File taxes"), NotesCol, QStringLiteral("by Friday"));
        QVERIFY(second.syncNow());
        QVERIFY(first.syncNow());
        first.edit(work, QStringLiteral("Book flights"), NotesCol, QStringLiteral("window seat"));
        QVERIFY(first.syncNow());
        QVERIFY(second.syncNow());
        QCOMPARE(second.tasks(work), first.tasks(work));
        QVERIFY(second.syncNow());
        QVERIFY2(second.sync().statusText().contains(QStringLiteral("nothing to do")),
                 qPrintable(second.sync().statusText()));
    }

    void aTaskTheServerRefuses_isReported_keptHere_andTheRestArrive()
    {
        PlainServer plain(*m_server);
        QVERIFY(!plain.address.isEmpty());
        QHash<QString, QStringList> lists = kLists;
        const QString refused = QStringLiteral("Refused by the server");
        lists[QStringLiteral("1_Root_1")].insert(1, refused + QStringLiteral("|||||"));
        Home home(*m_server, kTree, lists, {}, plain.address);
        const QString work = QStringLiteral("Work");
        const QStringList here = home.texts(work);
        QStringList there = here;
        there.removeOne(refused);
        there.sort();
        // Tried again with the next sync, never duplicating the rest.
        for (int sync = 0; sync < 2; ++sync) {
            QVERIFY(home.syncNow());
            const QString status = home.sync().statusText();
            QVERIFY2(
                status.contains(QStringLiteral("The server refused the task \"%1\"").arg(refused)),
                qPrintable(status));
            QStringList onServer = foreignSummaries(*m_server, work);
            onServer.sort();
            QCOMPARE(onServer, there);
            QCOMPARE(home.texts(work), here);
        }
    }

    void closingTheWindow_waitsASecondAtMost_forASyncUnderWay()
    {
        MisbehavingServer server(MisbehavingServer::silence());
        Home home(*m_server, kTree, kLists);
        home.sync().setAccount({server.url().toString(), QStringLiteral("alice"), false});
        home.sync().syncNow();
        QTest::qWait(200);
        QVERIFY(home.sync().isRunning());
        QElapsedTimer closing;
        closing.start();
        home.sync().stop(1000);
        QVERIFY2(closing.elapsed() < 1300, qPrintable(QString::number(closing.elapsed())));
        QVERIFY(!home.sync().isRunning());
    }

private:
    static QStringList Form1Texts(const Home& home)
    {
        QStringList texts;
        for (const TaskRow& row : home.window->ListView1->tasks()->rows())
            texts.append(row.fields[0]);
        return texts;
    }
};

KESTRUNE_TEST_MAIN(TestSync)
#include "test_sync.moc"
