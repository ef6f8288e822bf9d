// The find window against the real main window and a real store: what it matches, going to a
// match, lists it cannot read, Escape, and F3 / Shift+F3.
#include "due_dates.h"
#include "find_dialog.h"
#include "form1_session.h"
#include "test_main.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

namespace {

// Reports was added under Work after Home: the tree shows it between them, but it comes after
// Home in node order.
const QString kTree =
    QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^Reports;2_Sublist_3;1_Root_1^Long;1_Root_4;^");

void presetStore(Form1Session& s)
{
    s.preset(QStringLiteral("Tree Nodes"), kTree);
    s.preset(QStringLiteral("1_Root_1"),
             storedTasks({{"Call Nessaly", "High", "General", "", "about the invoice", ""},
                          {"Deliver parts", "Medium", "Errand", "", "", ""},
                          {"Plan week", "Low", "General", "", "", "Done"}}));
    s.preset(QStringLiteral("1_Root_1Del"),
             storedTasks({{"Old invoice", "Low", "General", "", "", ""}}));
    s.preset(QStringLiteral("2_Sublist_3"),
             storedTasks({{"Quarterly figures", "High", "Work", "3/9/2026", "Invoice totals", ""},
                          {"Yearly figures", "Low", "Errand", "3/10/2026", "", ""}}));
    s.preset(QStringLiteral("2_Sublist_3Del"),
             storedTasks({{"Draft INVOICE", "Low", "Work", "", "", ""}}));
    s.preset(QStringLiteral("1_Root_2"), storedTasks({{"Water plants", "Low", "Errand", "", "", ""},
                                                      {"Buy milk", "Low", "Errand", "", "", ""},
                                                      {"Fix door", "Low", "Errand", "", "", ""}}));
    s.preset(QStringLiteral("1_Root_2Del"),
             storedTasks({{QStringLiteral("Überweisung 🐦 Kestrel"), "Low", "Bank", "", "", ""}}));
    QList<QStringList> filler;
    for (int i = 0; i < 300; ++i)
        filler.append(
            {QStringLiteral("Filler %1").arg(i, 3, 10, QChar(u'0')), "Low", "", "", "", ""});
    s.preset(QStringLiteral("1_Root_4"), storedTasks(filler));
}

// One key at a time, each let through to the results, as a user types.
void type(FindDialog& d, const QString& text)
{
    d.Text1->clear();
    // Qt Test has keys for ASCII only; what lies beyond goes in as typed text.
    for (char32_t c : text.toUcs4()) {
        if (c < 0x80)
            QTest::keyClick(d.Text1, char(c));
        else
            d.Text1->insert(QString::fromUcs4(&c, 1));
        QTest::qWait(1);
    }
}

// Each match as "path|list|task".
QStringList results(const FindDialog& d)
{
    QStringList rows;
    const QAbstractItemModel* m = d.ListView1->model();
    for (int r = 0; r < m->rowCount(); ++r)
        rows.append(QStringList{m->index(r, 0).data().toString(), m->index(r, 1).data().toString(),
                                m->index(r, 2).data().toString()}
                        .join(u'|'));
    return rows;
}

int resultRowOf(const FindDialog& d, const QString& task)
{
    const QAbstractItemModel* m = d.ListView1->model();
    for (int r = 0; r < m->rowCount(); ++r)
        if (m->index(r, 2).data().toString() == task)
            return r;
    return -1;
}

QString selectedTask(const TaskListView* list)
{
    const int row = list->selectedRow();
    return row < 0 ? QString() : list->tasks()->at(row).fields[TaskCol];
}

} // namespace

class TestFindDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        DueDates::setLocale(QLocale(QStringLiteral("en_US")));
        Clock::setToday(QDate(2026, 3, 10));
    }

    void matches_textNotesAndType_withCaseAndDeletedTicks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matchCase");
        QTest::addColumn<bool>("includeDeleted");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("count");
        const QString reports = QStringLiteral("Work \u203A Reports");
        QTest::newRow("text and notes, any case, active before deleted")
            << "invoice" << false << true
            << QStringList{"Work|Active|Call Nessaly", "Work|Deleted|Old invoice",
                           reports + "|Active|Quarterly figures",
                           reports + "|Deleted|Draft INVOICE"}
            << "4 tasks found";
        QTest::newRow("match case")
            << "invoice" << true << true
            << QStringList{"Work|Active|Call Nessaly", "Work|Deleted|Old invoice"}
            << "2 tasks found";
        QTest::newRow("deleted left out")
            << "INVOICE" << false << false
            << QStringList{"Work|Active|Call Nessaly", reports + "|Active|Quarterly figures"}
            << "2 tasks found";
        QTest::newRow("type, in node order")
            << "errand" << false << true
            << QStringList{"Work|Active|Deliver parts", "Home|Active|Water plants",
                           "Home|Active|Buy milk", "Home|Active|Fix door",
                           reports + "|Active|Yearly figures"}
            << "5 tasks found";
        QTest::newRow("letters beyond ASCII, any case")
            << QStringLiteral("überweisung 🐦 kes") << false << true
            << QStringList{QStringLiteral("Home|Deleted|Überweisung 🐦 Kestrel")} << "1 task found";
        QTest::newRow("letters beyond ASCII, match case")
            << QStringLiteral("überweisung") << true << true << QStringList{} << "No task found";
        QTest::newRow("priority and done are not searched")
            << "Done" << false << true << QStringList{} << "No task found";
        QTest::newRow("no match across two fields")
            << "figuresWork" << false << true << QStringList{} << "No task found";
    }
    void matches_textNotesAndType_withCaseAndDeletedTicks()
    {
        QFETCH(QString, text);
        QFETCH(bool, matchCase);
        QFETCH(bool, includeDeleted);
        QFETCH(QStringList, expected);
        QFETCH(QString, count);
        Form1Session s;
        presetStore(s);
        Form1& w = s.startShown();
        s.prompts.dialogActions.push_back([&](QDialog& dialog) {
            auto& d = static_cast<FindDialog&>(dialog);
            QVERIFY(d.Check2->isChecked()); // deleted tasks are searched unless unticked
            QVERIFY(!d.Check1->isChecked());
            // Ticks changed after typing search again, narrowing what is listed when they can.
            type(d, text);
            d.Check1->setChecked(matchCase);
            d.Check2->setChecked(includeDeleted);
            QTest::qWait(1);
            QCOMPARE(results(d), expected);
            QCOMPARE(d.Label2->text(), count);
            // The first match is selected, so Enter goes to it.
            QCOMPARE(d.ListView1->currentIndex().row(), expected.isEmpty() ? -1 : 0);
            QVERIFY(!d.Label3->isVisible());
            const int overdue = resultRowOf(d, QStringLiteral("Quarterly figures"));
            if (overdue >= 0)
                QCOMPARE(d.ListView1->model()->index(overdue, 5).data(Qt::ForegroundRole),
                         QVariant(QColor(Qt::red)));
        });
        w.findTasks();
        QVERIFY(s.prompts.dialogActions.empty());
        QCOMPARE(s.prompts.messages(), QStringList{});
    }

    void shownCategory_isSearchedAsOnScreen_unsavedChangesIncluded()
    {
        Form1Session s;
        presetStore(s);
        Form1& w = s.startShown();
        w.ListView1->selectRow(0);
        QTest::keyClick(w.ListView1, Qt::Key_Delete); // Call Nessaly, gone from screen only
        w.ListView1->selectRow(1);
        w.PushButton5->click(); // Plan week above Deliver parts
        s.prompts.dialogActions.push_back([](QDialog& dialog) {
            auto& d = static_cast<FindDialog&>(dialog);
            type(d, QStringLiteral("a"));
            QCOMPARE(results(d).mid(0, 3),
                     (QStringList{"Work|Active|Plan week", "Work|Active|Deliver parts",
                                  "Work|Deleted|Old invoice"}));
            QCOMPARE(resultRowOf(d, QStringLiteral("Call Nessaly")), -1);
        });
        w.findTasks();
        QVERIFY(s.prompts.dialogActions.empty());
    }

    void goingToAMatch_showsItsCategoryTabAndRow_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("byDoubleClick");
        QTest::addColumn<bool>("sortedList");
        QTest::addColumn<QString>("category");
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("task");
        QTest::newRow("another category, deleted tab, Enter")
            << "draft" << false << false << "Reports" << 1 << "Draft INVOICE";
        QTest::newRow("the category shown, double click")
            << "old inv" << true << false << "Work" << 1 << "Old invoice";
        QTest::newRow("a list shown sorted") << "fix" << false << true << "Home" << 0 << "Fix door";
        QTest::newRow("far down a long list")
            << "filler 250" << true << false << "Long" << 0 << "Filler 250";
    }
    void goingToAMatch_showsItsCategoryTabAndRow()
    {
        QFETCH(QString, text);
        QFETCH(bool, byDoubleClick);
        QFETCH(bool, sortedList);
        QFETCH(QString, category);
        QFETCH(int, tab);
        QFETCH(QString, task);
        Form1Session s;
        presetStore(s);
        Form1& w = s.startShown();
        if (sortedList)
            w.ListView1->tasks()->headerClicked(TaskCol); // descending: Water, Fix, Buy
        // An unsaved change to the category shown.
        w.ListView1->selectRow(0);
        QTest::keyClick(w.ListView1, Qt::Key_Delete);
        bool closed = false;
        s.prompts.dialogActions.push_back([&](QDialog& dialog) {
            auto& d = static_cast<FindDialog&>(dialog);
            type(d, text);
            const int row = resultRowOf(d, task);
            QVERIFY(row >= 0);
            if (byDoubleClick) {
                const QRect rect = d.ListView1->visualRect(d.ListView1->model()->index(row, 0));
                // A double click is a click and then the second press.
                QTest::mouseClick(d.ListView1->viewport(), Qt::LeftButton, {}, rect.center());
                QTest::mouseDClick(d.ListView1->viewport(), Qt::LeftButton, {}, rect.center());
            } else {
                QCOMPARE(row, 0);
                QTest::keyClick(d.Text1, Qt::Key_Return);
            }
            closed = !d.isVisible() && d.result() == QDialog::Accepted;
        });
        w.findTasks();
        QVERIFY(closed);
        QCOMPARE(w.tvFolders->selectedNode()->text(0), category);
        QCOMPARE(w.Label1->text(), category == QLatin1String("Work")
                                       ? QStringLiteral("Tasks for [Work]")
                                       : QStringLiteral("Task(s) for [%1]").arg(category));
        QCOMPARE(w.TabControl1->currentIndex(), tab);
        QCOMPARE(s.stored(QStringLiteral("TabSel")),
                 tab == 1 ? QStringLiteral("1") : QStringLiteral("<absent>"));
        TaskListView* list = w.listOfSelectedTab();
        QCOMPARE(selectedTask(list), task);
        QVERIFY(list->viewport()->rect().contains(
            list->visualRect(list->tasks()->index(list->selectedRow(), 0)).center()));
        // The category shown is not read again, so its unsaved removal is still on screen.
        if (category == QLatin1String("Work"))
            QCOMPARE(Form1Session::column(w.ListView1, TaskCol),
                     (QStringList{"Deliver parts", "Plan week"}));
        QCOMPARE(s.prompts.messages(), QStringList{});
    }

    void storedListThatCannotBeRead_isSkippedWithALine()
    {
        Form1Session s;
        presetStore(s);
        s.preset(QStringLiteral("1_Root_2Del"),
                 QStringLiteral("Water the roseMy_Separatora12LowMy_Separatora08"));
        Form1& w = s.startShown();
        s.prompts.dialogActions.push_back([](QDialog& dialog) {
            auto& d = static_cast<FindDialog&>(dialog);
            QVERIFY(d.Label3->isVisible());
            QCOMPARE(d.Label3->text(),
                     QStringLiteral("The deleted tasks of \"Home\" are stored in a form that "
                                    "cannot be read (task 1 has 2 fields instead of 6); they "
                                    "were not searched."));
            type(d, QStringLiteral("water"));
            QCOMPARE(results(d), QStringList{"Home|Active|Water plants"});
            QCOMPARE(d.Label2->text(), QStringLiteral("1 task found"));
        });
        w.findTasks();
        QVERIFY(s.prompts.dialogActions.empty());
        QCOMPARE(s.prompts.messages(), QStringList{});
    }

    void escape_closesWithoutGoingAnywhere()
    {
        Form1Session s;
        presetStore(s);
        Form1& w = s.startShown();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.ListView1->selectRow(2);
        s.prompts.dialogActions.push_back([](QDialog& dialog) {
            auto& d = static_cast<FindDialog&>(dialog);
            type(d, QStringLiteral("draft"));
            QTest::keyClick(d.Text1, Qt::Key_Escape);
            QVERIFY(!d.isVisible());
            QCOMPARE(d.result(), int(QDialog::Rejected));
        });
        QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(s.prompts.dialogActions.empty());
        QCOMPARE(w.tvFolders->selectedNode()->text(0), QStringLiteral("Work"));
        QCOMPARE(w.TabControl1->currentIndex(), 0);
        QCOMPARE(selectedTask(w.ListView1), QStringLiteral("Plan week"));
        QCOMPARE(s.stored(QStringLiteral("TabSel")), QStringLiteral("<absent>"));
    }

    void f3AndShiftF3_walkTheMatchesOfTheLastSearch()
    {
        Form1Session s;
        presetStore(s);
        Form1& w = s.startShown();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // No earlier search: F3 opens the window, which keeps what was typed for the next F3.
        s.prompts.dialogActions.push_back([](QDialog& dialog) {
            auto& d = static_cast<FindDialog&>(dialog);
            type(d, QStringLiteral("invoice"));
            d.Check2->setChecked(false);
            QTest::keyClick(d.Text1, Qt::Key_Escape);
        });
        QTest::keyClick(&w, Qt::Key_F3);
        QVERIFY(s.prompts.dialogActions.empty());
        // The closed window hands the keyboard back to the main window.
        QApplication::setActiveWindow(&w);

        const auto where = [&w] {
            return w.tvFolders->selectedNode()->text(0) + u'|' +
                   QString::number(w.TabControl1->currentIndex()) + u'|' +
                   selectedTask(w.listOfSelectedTab());
        };
        const struct
        {
            Qt::KeyboardModifiers modifiers;
            QString at;
        } steps[] = {
            {Qt::NoModifier, "Work|0|Call Nessaly"},
            {Qt::NoModifier, "Reports|0|Quarterly figures"},
            {Qt::NoModifier, "Work|0|Call Nessaly"},            // round from the last to the first
            {Qt::ShiftModifier, "Reports|0|Quarterly figures"}, // and back
            {Qt::ShiftModifier, "Work|0|Call Nessaly"},
        };
        for (const auto& step : steps) {
            QTest::keyClick(&w, Qt::Key_F3, step.modifiers);
            QCOMPARE(where(), step.at);
        }
        QCOMPARE(s.prompts.shown.size(), 1);

        // The next opening starts from the last search, its text selected to be typed over.
        s.prompts.dialogActions.push_back([](QDialog& dialog) {
            auto& d = static_cast<FindDialog&>(dialog);
            QCOMPARE(d.Text1->selectedText(), QStringLiteral("invoice"));
            QVERIFY(!d.Check2->isChecked());
            type(d, QStringLiteral("nowhere"));
        });
        QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
        QApplication::setActiveWindow(&w);
        QTest::keyClick(&w, Qt::Key_F3);
        QCOMPARE(s.prompts.messages(), QStringList{"No task contains \"nowhere\"."});
        QCOMPARE(where(), QStringLiteral("Work|0|Call Nessaly"));
    }
};

KESTRUNE_TEST_MAIN(TestFindDialog)
#include "test_find_dialog.moc"
