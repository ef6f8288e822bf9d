// iCalendar files in and out through the window: the export from the store, the import into
// the store and the lists on screen, by UID.
#include "form1_session.h"
#include "test_main.h"

#include <QAction>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

const QString kTree = QStringLiteral("Tree Nodes");
const QString kFourCategories =
    QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^Other;1_Root_3;^Reports;2_Sublist_4;1_Root_1^");
const QStringList kListKeys = {"1_Root_1", "1_Root_1Del", "1_Root_2",    "1_Root_2Del",
                               "1_Root_3", "1_Root_3Del", "2_Sublist_4", "2_Sublist_4Del"};

// Tasks with texts the calendar cannot say in its own properties, so they must come back all
// the same.
void presetTasks(Form1Session& s)
{
    s.preset(kTree, kFourCategories);
    s.preset("1_Root_1",
             storedTasks({{"Deliver Parts", "Medium", "General", "", "", ""},
                          {"  blanks  ", "Urgent", "a,b", "next week", "l1\r\nl2", "x"},
                          {"Call Nessaly", "High", "General", "3/9/2026", "", "Done"}}));
    s.preset("1_Root_1Del", storedTasks({{"Old", "Lowest", "Idea", "", "gone", ""}}));
    s.preset("2_Sublist_4", storedTasks({{"Q3 report", "Highest", "Work", "2026-10-01", "", ""}}));
}

QList<QUuid> uidsOn(const TaskListView* list)
{
    QList<QUuid> uids;
    for (const TaskRow& row : list->tasks()->rows())
        uids.append(row.uid);
    return uids;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray vtodo(const QByteArray& uid, const QByteArray& summary, const QByteArray& more = {})
{
    return "BEGIN:VTODO\r\nUID:" + uid + "\r\nDTSTAMP:20261208T120000Z\r\nSUMMARY:" + summary +
           "\r\n" + more + "END:VTODO\r\n";
}

QByteArray calendar(const QByteArray& components)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//Other//EN\r\n" + components +
           "END:VCALENDAR\r\n";
}

} // namespace

class TestForm1Calendar : public QObject
{
    Q_OBJECT

    QTemporaryDir m_files;

    QString exportAll(Form1Session& s, const QString& name)
    {
        const QString path = m_files.filePath(name);
        s.prompts.fileAnswers.push_back(path);
        s.window->subMenuICalendar_Click();
        if (!s.prompts.errorBoxes().isEmpty())
            qWarning("%s", qPrintable(s.prompts.errorBoxes().first()));
        return path;
    }
    QString importFile(Form1Session& s, const QString& path)
    {
        s.prompts.clear();
        s.prompts.fileAnswers.push_back(path);
        s.window->actionImportTasks->trigger();
        return s.prompts.messages().value(0);
    }

private slots:
    void exportThenImportIntoAnEmptyStore_sameTreeListsAndUids()
    {
        QString path;
        QHash<QString, QString> values;
        QList<QUuid> workUids;
        {
            Form1Session s;
            presetTasks(s);
            Form1& w = s.start();
            workUids = uidsOn(w.ListView1);
            path = exportAll(s, QStringLiteral("Kestrune tasks.ics"));
            QCOMPARE(s.prompts.shown.first().text,
                     QDir::home().filePath(QStringLiteral("Kestrune tasks.ics")));
            for (const QString& key : kListKeys)
                values.insert(key, s.stored(key));
            values.insert(kTree, s.stored(kTree));
        }
        Form1Session s;
        Form1& w = s.start();
        QCOMPARE(importFile(s, path), QStringLiteral("Imported from Kestrune tasks.ics: 5 added, 0 "
                                                     "updated, 0 unchanged, 0 skipped. 1 "
                                                     "categories were added."));
        QCOMPARE(s.stored(kTree), values.value(kTree));
        for (const QString& key : kListKeys)
            QCOMPARE(s.store->read(key, {}), values.value(key) == "<absent>" ? "" : values[key]);
        QCOMPARE(uidsOn(w.ListView1), workUids);

        // The same file again finds every task where it is and changes nothing.
        QCOMPARE(importFile(s, path), QStringLiteral("Imported from Kestrune tasks.ics: 0 added, 0 "
                                                     "updated, 5 unchanged, 0 skipped."));
        for (const QString& key : kListKeys)
            QCOMPARE(s.store->read(key, {}), values.value(key) == "<absent>" ? "" : values[key]);
        QCOMPARE(uidsOn(s.closeAndReopen().ListView1), workUids);
    }

    void anotherProgramsFile_goesToTheShownCategory_andComesBackOutWhole()
    {
        Form1Session s;
        s.preset(kTree, kFourCategories);
        s.preset("1_Root_2", storedTasks({{"Stays", "Low", "Idea", "", "", ""}}));
        Form1& w = s.start();
        s.clickNode(QStringLiteral("Home"));
        const QByteArray foreign =
            vtodo("tap@example.org", "Fix the tap",
                  "PRIORITY:2\r\nSTATUS:COMPLETED\r\nCATEGORIES:Errands,Home\r\n"
                  "RRULE:FREQ=WEEKLY;COUNT=4\r\nRELATED-TO:parent@example.org\r\n"
                  "X-OTHER-PROGRAM:kept\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Tap"
                  "\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n");
        const QByteArray event = "BEGIN:VEVENT\r\nUID:e1\r\nDTSTAMP:20261208T120000Z\r\n"
                                 "DTSTART:20261208T120000Z\r\nSUMMARY:Meeting\r\nEND:VEVENT\r\n";
        const QString path = writeFile(m_files, QStringLiteral("other.ics"),
                                       calendar(foreign + event + vtodo("t2", "Second")));
        QCOMPARE(importFile(s, path), QStringLiteral("Imported from other.ics: 2 added, 0 "
                                                     "updated, 0 unchanged, 1 skipped."));
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol),
                 (QStringList{"Stays", "Fix the tap", "Second"}));
        QCOMPARE(w.ListView1->tasks()->at(1).fields,
                 (TaskListCodec::Fields{"Fix the tap", "Highest", "Errands", "", "", "Done"}));
        // Stored as a saving command stores: both lists of the category.
        QCOMPARE(s.stored("1_Root_2"),
                 storedTasks({{"Stays", "Low", "Idea", "", "", ""},
                              {"Fix the tap", "Highest", "Errands", "", "", "Done"},
                              {"Second", "", "", "", "", ""}}));

        // Changed in Kestrune, then exported: what the other program wrote is still there.
        TaskRow edited = w.ListView1->tasks()->at(1);
        edited.fields[TaskCol] = QStringLiteral("Fix the kitchen tap");
        w.ListView1->tasks()->replace(1, edited);
        w.saveTaskLists();
        const auto keepsAll = [](const QString& path) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::ReadOnly));
            const QByteArray text = out.readAll();
            for (const char* kept :
                 {"UID:tap@example.org", "SUMMARY:Fix the kitchen tap", "RRULE:FREQ=WEEKLY;COUNT=4",
                  "RELATED-TO:parent@example.org", "X-OTHER-PROGRAM:kept", "BEGIN:VALARM",
                  "TRIGGER:-PT15M", "CATEGORIES:Errands", "CATEGORIES:Home"})
                QVERIFY2(text.contains(kept), kept);
        };
        const QString exported = exportAll(s, QStringLiteral("out.ics"));
        keepsAll(exported);

        // Read again, the file updates the task in place instead of adding it twice.
        QCOMPARE(importFile(s, path), QStringLiteral("Imported from other.ics: 0 added, 1 "
                                                     "updated, 1 unchanged, 1 skipped."));
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol),
                 (QStringList{"Stays", "Fix the tap", "Second"}));

        // Through a Kestrune file into another store, and out again: still all there.
        s.close();
        s.store.reset();
        Form1Session other;
        other.start();
        importFile(other, exported);
        keepsAll(exportAll(other, QStringLiteral("again.ics")));
    }

    // A file that gives its tasks no UIDs: read twice, it adds them once; they go out under
    // UIDs of their own, by which the exported file finds them again.
    void tasksWithoutUid_addedOnce_exportedUnderTheirUids()
    {
        Form1Session s;
        s.preset(kTree, kFourCategories);
        Form1& w = s.start();
        const QByteArray noUid = "BEGIN:VTODO\r\nDTSTAMP:20261208T120000Z\r\nSUMMARY:Same\r\n"
                                 "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:a\r\n"
                                 "TRIGGER:-PT5M\r\nEND:VALARM\r\nEND:VTODO\r\n";
        const QString path =
            writeFile(m_files, QStringLiteral("nouid.ics"), calendar(noUid + noUid));
        for (const char* counts :
             {"2 added, 0 updated, 0 unchanged", "0 added, 0 updated, 2 unchanged"})
            QCOMPARE(importFile(s, path), QStringLiteral("Imported from nouid.ics: %1, 0 skipped.")
                                              .arg(QLatin1String(counts)));
        exportAll(s, QStringLiteral("nouid-out.ics"));
        QCOMPARE(importFile(s, m_files.filePath(QStringLiteral("nouid-out.ics"))),
                 QStringLiteral("Imported from nouid-out.ics: 0 added, 0 updated, 2 unchanged, 0 "
                                "skipped."));
        QCOMPARE(w.ListView1->tasks()->rowCount(), 2);
    }

    // What an import brought back is not put back a second time by Ctrl+Z: one UID, one task.
    void removalBroughtBackByAnImport_isNotPutBackAgain_data()
    {
        QTest::addColumn<bool>("category");
        QTest::newRow("a task, by the Delete key") << false;
        QTest::newRow("a category") << true;
    }
    void removalBroughtBackByAnImport_isNotPutBackAgain()
    {
        QFETCH(bool, category);
        Form1Session s;
        presetTasks(s);
        Form1& w = s.start();
        const QString path = exportAll(s, QStringLiteral("back.ics"));
        if (category) {
            s.clickNode(QStringLiteral("Work"));
            w.PushButton4->click();
        } else {
            w.ListView1->selectRow(1);
            w.ListView_KeyDelete(w.ListView1);
        }
        importFile(s, path);
        const QStringList tree = s.nodeTexts();
        const QList<QUuid> shown = uidsOn(w.ListView1);
        s.prompts.clear();
        w.undoRemoval();
        QVERIFY2(s.prompts.messages().value(0).contains(QStringLiteral("is not put back")),
                 qPrintable(s.prompts.messages().value(0)));
        QCOMPARE(s.nodeTexts(), tree);
        QCOMPARE(uidsOn(w.ListView1), shown);
    }

    void knownUid_updatesTheTaskInItsOwnCategory()
    {
        Form1Session s;
        s.preset(kTree, kFourCategories);
        s.preset("1_Root_3Del", storedTasks({{"Elsewhere", "Low", "Idea", "", "", ""}}));
        s.start();
        s.clickNode(QStringLiteral("Other"));
        const QUuid uid = s.window->ListView2->tasks()->at(0).uid;
        s.clickNode(QStringLiteral("Work"));
        const QString path =
            writeFile(m_files, QStringLiteral("update.ics"),
                      calendar(vtodo(uid.toString(QUuid::WithoutBraces).toUtf8(), "Renamed")));
        importFile(s, path);
        QCOMPARE(s.window->ListView1->tasks()->rowCount(), 0);
        QCOMPARE(s.stored("1_Root_3Del"), storedTasks({{"Renamed", "", "", "", "", ""}}));
        s.clickNode(QStringLiteral("Other"));
        QCOMPARE(s.window->ListView2->tasks()->at(0).uid, uid);
    }
};

KESTRUNE_TEST_MAIN(TestForm1Calendar)
#include "test_form1_calendar.moc"
