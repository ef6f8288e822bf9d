// Ctrl+Z on the real window and store: what the Delete key and the category removal took away
// comes back, and the refusals change nothing.
#include "due_dates.h"
#include "form1_session.h"
#include "test_main.h"

#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

QStringList task(const QString& text, const QString& due = {})
{
    return {text, QStringLiteral("Medium"),           QStringLiteral("General"),
            due,  QStringLiteral("notes of ") + text, QString()};
}

const QList<QStringList> kActive = {task("C"), task("A", "12/1/2026"), task("E"), task("B"),
                                    task("D", "12/31/2026")};
const QList<QStringList> kDeleted = {task("z", "1/2/2020"), task("x"), task("y"), task("w"),
                                     task("v")};

QString storedRows(const TaskListView* list)
{
    QString out;
    for (const TaskRow& row : list->tasks()->rows())
        TaskListCodec::appendEntry(out, row.fields);
    return out;
}

} // namespace

class TestForm1Undo : public QObject
{
    Q_OBJECT

    std::unique_ptr<Form1Session> s;

    // Work (1_Root_1) > Reports (2_Sublist_4) > Q1 (3_Sublist_5), then Home and Other.
    Form1& startWithBranch()
    {
        s->preset(QStringLiteral("Tree Nodes"),
                  QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^Other;1_Root_3;^"
                                 "Reports;2_Sublist_4;1_Root_1^Q1;3_Sublist_5;2_Sublist_4^"));
        s->preset(QStringLiteral("1_Root_1"), storedTasks(kActive));
        s->preset(QStringLiteral("1_Root_1Del"), storedTasks(kDeleted));
        s->preset(QStringLiteral("2_Sublist_4"), storedTasks({task("report")}));
        s->preset(QStringLiteral("3_Sublist_5Del"), storedTasks({task("old quarter")}));
        Form1& w = s->startShown();
        QApplication::setActiveWindow(&w);
        if (!QTest::qWaitForWindowActive(&w))
            qWarning("the main window did not become active");
        return w;
    }
    void undo() { QTest::keyClick(s->window.get(), Qt::Key_Z, Qt::ControlModifier); }
    void removeCategory(const QString& text)
    {
        s->clickNode(text);
        s->window->PushButton4->click();
    }

private slots:
    void init()
    {
        s = std::make_unique<Form1Session>();
        DueDates::setLocale(QLocale(QStringLiteral("en_US")));
        Clock::setToday(QDate(2026, 12, 7));
    }
    void cleanup()
    {
        s.reset();
        Clock::setToday({});
    }

    void deleteKeyThenUndo_putsTheRowBackUntilTheNextSave_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("sorted");
        for (int tab : {0, 1})
            for (bool sorted : {false, true})
                for (int position : {0, 2, 4})
                    QTest::addRow("%s %s row %d", tab ? "deleted" : "active",
                                  sorted ? "sorted" : "unsorted", position)
                        << tab << position << sorted;
    }
    void deleteKeyThenUndo_putsTheRowBackUntilTheNextSave()
    {
        QFETCH(int, tab);
        QFETCH(int, position);
        QFETCH(bool, sorted);
        Form1& w = startWithBranch();
        TaskListView* list = tab ? w.ListView2 : w.ListView1;
        const QString key = tab ? QStringLiteral("1_Root_1Del") : QStringLiteral("1_Root_1");
        const QString stored = s->stored(key);
        if (tab)
            s->clickTab(1);
        if (sorted)
            emit list->header()->sectionClicked(TaskCol);
        const QList<TaskRow> before = list->tasks()->rows();
        const QString notes = w.Text1->toPlainText();

        list->setFocus();
        list->selectRow(position);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(list->tasks()->rowCount(), 4);
        w.Text1->setFocus();
        QTest::keyClicks(w.Text1, QStringLiteral("q"));
        QTest::keyClick(w.Text1, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(list->tasks()->rowCount(), 4);
        QCOMPARE(w.Text1->toPlainText(), notes);
        s->clickTab(1 - tab); // the row comes back on its own tab
        undo();

        QCOMPARE(w.TabControl1->currentIndex(), tab);
        QCOMPARE(list->tasks()->rows(), before); // texts, order and due colours
        QCOMPARE(list->selectedRow(), position);
        QCOMPARE(w.Text1->toPlainText(), notes);
        QCOMPARE(s->stored(key), stored);
        QCOMPARE(s->prompts.shown.size(), 0);
        undo(); // the history is spent
        QCOMPARE(list->tasks()->rows(), before);

        w.PushButton10->click(); // a saving command
        QCOMPARE(s->stored(key), storedRows(list));
        QVERIFY(s->stored(key).contains(before[position].fields[TaskCol] +
                                        TaskListCodec::kFieldSeparator));
    }

    void categoryRemovalsUndone_newestFirst_withTheirKeysAndStoredLists()
    {
        Form1& w = startWithBranch();
        const QStringList keys = s->nodeKeys();
        const int nextNumber = w.nextCategoryNumber();
        removeCategory(QStringLiteral("Reports")); // with Q1 below it
        removeCategory(QStringLiteral("Work"));
        QCOMPARE(s->nodeTexts(), (QStringList{"Home", "Other"}));

        undo();
        QCOMPARE(s->nodeTexts(), (QStringList{"Home", "Other", "Work"}));
        QCOMPARE(w.Label1->text(), QStringLiteral("Task(s) for [Work]"));
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol),
                 (QStringList{"C", "A", "E", "B", "D"}));
        undo();
        QCOMPARE(s->nodeTexts(), (QStringList{"Home", "Other", "Work", "Reports", "Q1"}));
        QCOMPARE(s->nodeKeys(),
                 (QStringList{"1_Root_2", "1_Root_3", "1_Root_1", "2_Sublist_4", "3_Sublist_5"}));
        QCOMPARE(CategoryTree::keyOf(w.tvFolders->selectedNode()), QStringLiteral("2_Sublist_4"));
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol), (QStringList{"report"}));
        QCOMPARE(w.nextCategoryNumber(), nextNumber);
        QCOMPARE(s->stored(QStringLiteral("Tree Nodes")),
                 QStringLiteral("Home;1_Root_2;^Other;1_Root_3;^Work;1_Root_1;^"
                                "Reports;2_Sublist_4;1_Root_1^Q1;3_Sublist_5;2_Sublist_4^"));
        QCOMPARE(s->prompts.shown.size(), 0);

        Form1& again = s->closeAndReopen();
        QCOMPARE(s->nodeKeys().size(), keys.size());
        s->clickNode(QStringLiteral("Q1"));
        QCOMPARE(Form1Session::column(again.ListView2, TaskCol), (QStringList{"old quarter"}));
    }

    void undoWithNothingOrNoRoom_changesNothing()
    {
        Form1& w = startWithBranch();
        const QString tree = s->stored(QStringLiteral("Tree Nodes"));
        undo();
        QCOMPARE(s->prompts.shown.size(), 0);

        // Showing a category reads its lists anew: the rows removed before mean nothing then.
        w.ListView1->setFocus();
        w.ListView1->selectRow(0);
        QTest::keyClick(w.ListView1, Qt::Key_Delete);
        s->clickNode(QStringLiteral("Home"));
        s->clickNode(QStringLiteral("Work"));
        undo();
        QCOMPARE(w.ListView1->tasks()->rowCount(), kActive.size());
        QCOMPARE(s->prompts.shown.size(), 0);

        // A full list takes no row back.
        QList<QStringList> full;
        for (int i = 0; i < TaskListCodec::kMaxTasks; ++i)
            full.append(task(QStringLiteral("t%1").arg(i)));
        s->preset(QStringLiteral("1_Root_2"), storedTasks(full));
        s->clickNode(QStringLiteral("Home"));
        w.ListView1->setFocus();
        w.ListView1->selectRow(5);
        QTest::keyClick(w.ListView1, Qt::Key_Delete);
        w.ListView1->tasks()->append({{QStringLiteral("filled the gap")}});
        undo();
        QCOMPARE(w.ListView1->tasks()->rowCount(), TaskListCodec::kMaxTasks);
        QCOMPARE(w.ListView1->tasks()->at(5).fields[TaskCol], QStringLiteral("t6"));
        QCOMPARE(s->prompts.messages(),
                 QStringList{"The task \"t5\" cannot be put back: its list already holds 32767 "
                             "tasks, as many as a list can hold. Nothing has been changed."});

        // A branch whose parent is gone stays out.
        s->prompts.clear();
        s->clickNode(QStringLiteral("Work")); // forgets the row history of Home
        removeCategory(QStringLiteral("Q1"));
        w.tvFolders->removeNode(w.tvFolders->nodeByKey(QStringLiteral("2_Sublist_4")));
        const QStringList keys = s->nodeKeys();
        undo();
        QCOMPARE(s->nodeKeys(), keys);
        QCOMPARE(s->prompts.messages(),
                 QStringList{"The category \"Q1\" cannot be put back: the category it was under "
                             "has been deleted since. Nothing has been changed."});
        QVERIFY(s->stored(QStringLiteral("Tree Nodes")) != tree);
    }
};

KESTRUNE_TEST_MAIN(TestForm1Undo)
#include "test_form1_undo.moc"
