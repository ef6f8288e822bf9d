#include "app_folder.h"
#include "cursor_file.h"
#include "due_dates.h"
#include "form1_session.h"
#include "test_main.h"

#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>

namespace {

const QString kParsedDefaultTree = QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^Other;1_Root_3;^");

QStringList task(const QString& text, const QString& priority = QStringLiteral("Medium"),
                 const QString& due = {}, const QString& done = {})
{
    return {text, priority, QStringLiteral("General"), due, QStringLiteral("notes of ") + text,
            done};
}

} // namespace

class TestForm1Commands : public QObject
{
    Q_OBJECT

    std::unique_ptr<Form1Session> s;

    Form1& startWith(const QString& tree, const QList<QStringList>& active = {},
                     const QList<QStringList>& deleted = {})
    {
        s->preset(QStringLiteral("Tree Nodes"), tree);
        if (!active.isEmpty())
            s->preset(QStringLiteral("1_Root_1"), storedTasks(active));
        if (!deleted.isEmpty())
            s->preset(QStringLiteral("1_Root_1Del"), storedTasks(deleted));
        return s->start();
    }

private slots:
    void init()
    {
        s = std::make_unique<Form1Session>();
        DueDates::setLocale(QLocale(QStringLiteral("en_US")));
        Clock::setToday(QDate(2026, 12, 7));
    }
    void cleanup() { s.reset(); }

    void addCategoryAndSubcategories_keysFollowCounterAndDepth()
    {
        Form1& w = startWith(kParsedDefaultTree);
        s->prompts.inputAnswers = {QStringLiteral(" Garden "), QStringLiteral("Reports"),
                                   QStringLiteral("Q1")};
        w.PushButton2->click();
        QCOMPARE(w.Label1->text(), QStringLiteral("Task(s) for [ Garden ]"));
        QCOMPARE(s->prompts.shown[0].text, QStringLiteral("Enter Category Name:"));
        QCOMPARE(s->prompts.shown[0].title, QStringLiteral("Tolvendra"));

        s->clickNode(QStringLiteral("Work"));
        w.PushButton3->click();
        QCOMPARE(s->prompts.shown[1].text, QStringLiteral("Enter Subcategory Name:"));
        w.PushButton3->click(); // under the new, selected "Reports"
        QCOMPARE(s->nodeKeys(), (QStringList{"1_Root_1", "1_Root_2", "1_Root_3", "1_Root_4",
                                             "2_Sublist_5", "3_Sublist_6"}));
        // Node order is the order of adding, not of the screen: Reports follows Garden.
        QCOMPARE(s->stored(QStringLiteral("Tree Nodes")),
                 kParsedDefaultTree + QStringLiteral(" Garden ;1_Root_4;^Reports;2_Sublist_5;"
                                                     "1_Root_1^Q1;3_Sublist_6;2_Sublist_5^"));
        QVERIFY(w.tvFolders->nodeByKey(QStringLiteral("1_Root_1"))->isExpanded());
        QCOMPARE(w.tvFolders->selectedNode()->text(0), QStringLiteral("Q1"));
        QCOMPARE(w.ListView1->tasks()->rowCount(), 0);

        // A task added now belongs to Q1 only.
        w.PushButton10->click();
        QVERIFY(!s->stored(QStringLiteral("3_Sublist_6")).isEmpty());
        QCOMPARE(s->stored(QStringLiteral("1_Root_1")), QStringLiteral("<absent>"));
        QVERIFY(s->prompts.errorBoxes().isEmpty());
    }

    void addCategory_blankCancelledOrUnstorableNames_addNothing()
    {
        Form1& w = startWith(kParsedDefaultTree);
        s->prompts.inputAnswers = {QStringLiteral("   "), QString(), QStringLiteral("a;b"),
                                   QStringLiteral("up^down")};
        for (int i = 0; i < 4; ++i)
            w.PushButton2->click();
        QCOMPARE(s->nodeTexts(), (QStringList{"Work", "Home", "Other"}));
        QCOMPARE(s->prompts.messages().size(), 2);
        QVERIFY(s->prompts.messages()[0].contains(QStringLiteral("cannot contain")));
        QCOMPARE(s->stored(QStringLiteral("Tree Nodes")), kParsedDefaultTree);

        // Two categories may share a name: their keys differ.
        s->prompts.inputAnswers = {QStringLiteral("Work")};
        w.PushButton2->click();
        QCOMPARE(s->nodeKeys().last(), QStringLiteral("1_Root_4"));
    }

    void newCategory_neverTakesAKeyWithStoredLists()
    {
        // Category 4 was deleted in an earlier run; its deleted list is still stored.
        s->preset(QStringLiteral("1_Root_4Del"), storedTasks({task("old")}));
        Form1& w = startWith(kParsedDefaultTree);
        s->prompts.inputAnswers = {QStringLiteral("New")};
        w.PushButton2->click();
        QCOMPARE(s->nodeKeys().last(), QStringLiteral("1_Root_5"));
        QCOMPARE(w.ListView2->tasks()->rowCount(), 0);
        QCOMPARE(s->stored(QStringLiteral("1_Root_4Del")), storedTasks({task("old")}));
    }

    void categoryCounterAt32767_failsOnceThenRefuses()
    {
        Form1& w = startWith(QStringLiteral("Work;1_Root_32766;^"));
        QCOMPARE(w.nextCategoryNumber(), 32767);
        s->prompts.inputAnswers = {QStringLiteral("Last"), QStringLiteral("Too many")};
        w.PushButton2->click();
        QCOMPARE(s->nodeKeys(), (QStringList{"1_Root_32766", "1_Root_32767"}));
        QCOMPARE(s->errorLines(), (QStringList{"PushButton2_Click 108"}));
        w.PushButton2->click();
        QCOMPARE(s->nodeKeys().size(), 2);
        QCOMPARE(s->errorLines().size(), 2);
        QCOMPARE(s->errorLines().last(), QStringLiteral("PushButton2_Click 106"));
        QCOMPARE(s->stored(QStringLiteral("Tree Nodes")),
                 QStringLiteral("Work;1_Root_32766;^Last;1_Root_32767;^"));
    }

    void deleteCategory_removesTheBranch_keepsItsLists_andEmptyTreeStaysEmpty()
    {
        Form1& w = startWith(QStringLiteral("Work;1_Root_1;^Reports;2_Sublist_4;1_Root_1^"
                                            "Q1;3_Sublist_5;2_Sublist_4^Home;1_Root_2;^"),
                             {task("A")});
        w.PushButton4->click(); // Work is selected at start
        QCOMPARE(s->nodeTexts(), (QStringList{"Home"}));
        QCOMPARE(s->stored(QStringLiteral("Tree Nodes")), QStringLiteral("Home;1_Root_2;^"));
        QCOMPARE(w.Label1->text(), QStringLiteral("Task(s) for [Home]"));
        QCOMPARE(s->stored(QStringLiteral("1_Root_1")), storedTasks({task("A")}));
        QVERIFY(s->prompts.shown.isEmpty()); // no question

        w.PushButton4->click();
        QCOMPARE(s->stored(QStringLiteral("Tree Nodes")), QString());
        QCOMPARE(w.ListView1->tasks()->rowCount(), 0);
        for (QPushButton* b : {w.PushButton8, w.PushButton9, w.PushButton7, w.PushButton10,
                               w.PushButton3, w.PushButton4})
            QVERIFY(!b->isEnabled());
        w.PushButton10_Click(); // nothing may be saved without a category
        QVERIFY(s->prompts.errorBoxes().isEmpty());

        Form1& again = s->closeAndReopen();
        QCOMPARE(again.tvFolders->nodeCount(), 0);
        QCOMPARE(s->stored(QStringLiteral("Tree Nodes")), QString());
    }

    void deleteAndRestoreSelected_appendToTheOtherList_andRecolour()
    {
        Form1& w = startWith(kParsedDefaultTree,
                             {task("1"), task("2"), task("3", "High", "12/6/2026", "Done"),
                              task("4", "Low", "12/7/2026"), task("5")},
                             {task("old")});
        w.ListView1->selectRow(2);
        w.PushButton9->click();
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol), (QStringList{"1", "2", "4", "5"}));
        QCOMPARE(Form1Session::column(w.ListView2, TaskCol), (QStringList{"old", "3"}));
        QCOMPARE(w.ListView2->tasks()->at(1).dueColour, DueDates::Colour::Overdue);
        QCOMPARE(s->stored(QStringLiteral("1_Root_1Del")),
                 storedTasks({task("old"), task("3", "High", "12/6/2026", "Done")}));
        QCOMPARE(s->stored(QStringLiteral("1_Root_1")),
                 storedTasks({task("1"), task("2"), task("4", "Low", "12/7/2026"), task("5")}));

        // Restoring puts the task at the end of the active list, still finished.
        s->clickTab(1);
        QCOMPARE(w.PushButton9->text(), QStringLiteral("Restore Selected Task"));
        w.ListView2->selectRow(1);
        w.PushButton9->click();
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol),
                 (QStringList{"1", "2", "4", "5", "3"}));
        QCOMPARE(w.ListView1->tasks()->at(4).fields[DoneCol], QStringLiteral("Done"));
        QCOMPARE(w.ListView1->tasks()->at(4).dueColour, DueDates::Colour::Overdue);
        QCOMPARE(w.ListView1->tasks()->at(2).dueColour, DueDates::Colour::OnTime);

        // With nothing selected the command does nothing and writes nothing.
        w.ListView2->clearSelection();
        const QString before = s->stored(QStringLiteral("1_Root_1Del"));
        w.PushButton9->click();
        QCOMPARE(s->stored(QStringLiteral("1_Root_1Del")), before);
    }

    void deleteAndRestoreAll_askFirst_andKeepOrder()
    {
        Form1& w = startWith(kParsedDefaultTree, {task("a1"), task("a2"), task("a3")},
                             {task("d1"), task("d2")});
        s->prompts.yesNoAnswers = {false};
        w.PushButton7->click();
        QCOMPARE(s->prompts.shown.last().text, QStringLiteral("Are you sure?"));
        QCOMPARE(s->prompts.shown.last().title, QStringLiteral("Tolvendra"));
        QCOMPARE(w.ListView1->tasks()->rowCount(), 3);
        QCOMPARE(s->stored(QStringLiteral("1_Root_1")),
                 storedTasks({task("a1"), task("a2"), task("a3")}));

        s->prompts.yesNoAnswers = {true};
        w.PushButton7->click();
        QCOMPARE(Form1Session::column(w.ListView2, TaskCol),
                 (QStringList{"d1", "d2", "a1", "a2", "a3"}));
        QCOMPARE(s->stored(QStringLiteral("1_Root_1")), QString());
        QCOMPARE(s->stored(QStringLiteral("1_Root_1Del")).count(QStringLiteral("My_Separatora08")),
                 5);

        // On an empty list the question is still asked and "Yes" still saves.
        s->preset(QStringLiteral("1_Root_1"), QStringLiteral("stale"));
        s->prompts.yesNoAnswers = {true};
        w.PushButton7->click();
        QCOMPARE(s->prompts.shown.size(), 3);
        QCOMPARE(s->stored(QStringLiteral("1_Root_1")), QString());
    }

    void moveUpAndDown_workOnScreenOnly()
    {
        Form1& w =
            startWith(kParsedDefaultTree, {task("A"), task("B", "Low", "12/1/2026"), task("C")});
        const QString stored = s->stored(QStringLiteral("1_Root_1"));
        w.ListView1->selectRow(1);
        w.PushButton5->click();
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol), (QStringList{"B", "A", "C"}));
        QCOMPARE(w.ListView1->selectedRow(), 0);
        QCOMPARE(w.ListView1->tasks()->at(0).dueColour, DueDates::Colour::Overdue);
        w.PushButton5->click(); // already first
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol), (QStringList{"B", "A", "C"}));
        w.ListView1->selectRow(1);
        w.PushButton6->click();
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol), (QStringList{"B", "C", "A"}));
        QCOMPARE(w.ListView1->selectedRow(), 2);
        w.PushButton6->click(); // already last
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol), (QStringList{"B", "C", "A"}));
        QCOMPARE(s->stored(QStringLiteral("1_Root_1")), stored);

        // Showing the category again brings back the stored order.
        s->clickNode(QStringLiteral("Work"));
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol), (QStringList{"A", "B", "C"}));
        // Moving and then a saving command stores the new order with it.
        w.ListView1->selectRow(2);
        w.PushButton5->click();
        w.PushButton10->click();
        QVERIFY(
            s->stored(QStringLiteral("1_Root_1"))
                .startsWith(storedTasks({task("A"), task("C"), task("B", "Low", "12/1/2026")})));
    }

    void headerClicks_sortEachListByItsOwnState()
    {
        Form1& w = startWith(kParsedDefaultTree,
                             {task("b", "Medium"), task("a", "Highest"), task("c", "High")});
        QHeaderView* header = w.ListView1->header();
        const auto click = [&](int column) { emit header->sectionClicked(column); };
        click(PriorityCol);
        QCOMPARE(Form1Session::column(w.ListView1, PriorityCol),
                 (QStringList{"High", "Highest", "Medium"}));
        click(PriorityCol);
        QCOMPARE(Form1Session::column(w.ListView1, PriorityCol),
                 (QStringList{"Medium", "Highest", "High"}));
        click(PriorityCol);
        QCOMPARE(Form1Session::column(w.ListView1, PriorityCol),
                 (QStringList{"High", "Highest", "Medium"}));
        // A task added while sorted takes its sorted place, and the save stores that order.
        w.PushButton10->click();
        QCOMPARE(Form1Session::column(w.ListView1, PriorityCol),
                 (QStringList{"High", "High", "Highest", "Medium", "Medium", "Medium"}));
        QVERIFY(s->stored(QStringLiteral("1_Root_1")).startsWith(storedTasks({task("c", "High")})));
        QVERIFY(!w.ListView2->tasks()->sortState().sorted);

        // The first click on "Task" counts as a second click on the starting column.
        Form1& again = s->closeAndReopen();
        emit again.ListView1->header()->sectionClicked(TaskCol);
        QCOMPARE(again.ListView1->tasks()->sortState().order, Qt::DescendingOrder);
        QCOMPARE(again.ListView1->tasks()->at(0).fields[TaskCol], QStringLiteral("Deliver Parts"));
    }

    void deleteKey_removesOnScreenOnly()
    {
        Form1& w = startWith(kParsedDefaultTree, {task("A"), task("B")});
        w.ListView1->setFocus();
        w.ListView1->selectRow(0);
        QTest::keyClick(w.ListView1, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol), (QStringList{"B"}));
        QCOMPARE(w.ListView2->tasks()->rowCount(), 0);
        s->clickNode(QStringLiteral("Home"));
        s->clickNode(QStringLiteral("Work"));
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol), (QStringList{"A", "B"}));
        w.ListView2->setFocus();
        QTest::keyClick(w.ListView2, Qt::Key_Delete);
        QCOMPARE(w.ListView2->tasks()->rowCount(), 0);
    }

    void samples_alwaysGoToTheActiveList()
    {
        Form1& w = startWith(kParsedDefaultTree);
        s->clickTab(1);
        w.PushButton10->click();
        w.PushButton10->click();
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol),
                 (QStringList{"Deliver Parts", "Call Nessaly", "Collaborate with Dorrin",
                              "Deliver Parts", "Call Nessaly", "Collaborate with Dorrin"}));
        const QString sample =
            storedTasks({{"Deliver Parts", "Medium", "General", "", "", ""},
                         {"Call Nessaly", "Medium", "General", "", "", ""},
                         {"Collaborate with Dorrin", "High", "General", "", "", ""}});
        QCOMPARE(s->stored(QStringLiteral("1_Root_1")), sample + sample);
        QCOMPARE(s->stored(QStringLiteral("1_Root_1Del")), QString());
    }

    void handPointer_overButtons_defaultOverLists()
    {
        AppFolder::setPath(
            QCoreApplication::applicationDirPath()); // the build drew HAND-M.CUR here
        const QCursor hand = loadCursorFile(AppFolder::path() + QStringLiteral("/HAND-M.CUR"));
        QCOMPARE(hand.hotSpot(), QPoint(10, 1));
        QCOMPARE(hand.pixmap().size(), QSize(32, 32));

        Form1& w = startWith(kParsedDefaultTree);
        QVERIFY(w.handPointer().has_value());
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(w.PushButton11, &enter);
        QCOMPARE(w.cursor().shape(), Qt::BitmapCursor);
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.ListView1->viewport(), &move);
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
        QCoreApplication::sendEvent(w.PushButton5, &enter);
        QCoreApplication::sendEvent(w.tvFolders->viewport(), &move); // the tree leaves it alone
        QCOMPARE(w.cursor().shape(), Qt::BitmapCursor);
        // The bare surface between the controls, and the menu bar.
        for (QWidget* plain :
             {static_cast<QWidget*>(w.clientArea), static_cast<QWidget*>(w.menuBar1)}) {
            QCoreApplication::sendEvent(w.PushButton8, &enter);
            QCoreApplication::sendEvent(plain, &move);
            QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
        }
        AppFolder::setPath({});
    }
};

KESTRUNE_TEST_MAIN(TestForm1Commands)
#include "test_form1_commands.moc"
