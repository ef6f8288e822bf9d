// A category's two task lists: shown from the store, saved together, and the column widths.
#include "due_dates.h"
#include "form1_session.h"
#include "test_main.h"

#include <QHeaderView>
#include <QLabel>

namespace {

const QString kTree = QStringLiteral("Tree Nodes");
const QString kTwoCategories = QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^");
const QString kWorkedExample = QStringLiteral(
    "Deliver PartsMy_Separatora12MediumMy_Separatora12GeneralMy_Separatora12My_Separatora12"
    "My_Separatora12My_Separatora08Call NessalyMy_Separatora12HighMy_Separatora12General"
    "My_Separatora12My_Separatora12My_Separatora12DoneMy_Separatora08");
const QString kStartupWidths = QStringLiteral(
    "2200My_Separatora121200My_Separatora121200My_Separatora121200My_Separatora121My_"
    "Separatora121My_Separatora12");

QVariant dueColour(const TaskListView* list, int row)
{
    return list->tasks()->data(list->tasks()->index(row, DueDateCol), Qt::ForegroundRole);
}

} // namespace

class TestForm1TaskLists : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::setToday({}); }

    void keysNeverWrittenOrEmpty_showEmptyLists()
    {
        Form1Session s;
        s.preset(kTree, kTwoCategories);
        s.preset(QStringLiteral("1_Root_2"), QString());
        s.preset(QStringLiteral("1_Root_2Del"), storedTasks({{"Old", "Low", "Idea", "", "", ""}}));
        Form1& f = s.startShown();
        QCOMPARE(f.ListView1->tasks()->rowCount(), 0);
        QCOMPARE(f.ListView2->tasks()->rowCount(), 0);
        s.clickNode(QStringLiteral("Home"));
        QCOMPARE(f.Label1->text(), QStringLiteral("Task(s) for [Home]"));
        QCOMPARE(f.ListView1->tasks()->rowCount(), 0);
        QCOMPARE(Form1Session::column(f.ListView2, 0), QStringList{"Old"});
        QCOMPARE(s.prompts.shown.size(), 0);
    }

    void workedExample_readsBackInOrderAndSavesByteForByte_data()
    {
        Form1Session::addReadAheadRows();
    }
    void workedExample_readsBackInOrderAndSavesByteForByte()
    {
        QFETCH(bool, readAhead);
        Form1Session s;
        s.preset(kTree, kTwoCategories);
        s.preset(QStringLiteral("1_Root_1"), kWorkedExample);
        Form1& f = s.start(readAhead);
        const QList<TaskRow>& rows = f.ListView1->tasks()->rows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].fields,
                 (TaskListCodec::Fields{"Deliver Parts", "Medium", "General", "", "", ""}));
        QCOMPARE(rows[1].fields,
                 (TaskListCodec::Fields{"Call Nessaly", "High", "General", "", "", "Done"}));
        // Empty due dates keep their colour.
        QCOMPARE(rows[0].dueColour, DueDates::Colour::Untouched);
        QVERIFY(!dueColour(f.ListView1, 1).isValid());

        f.saveTaskLists();
        QCOMPARE(s.stored(QStringLiteral("1_Root_1")), kWorkedExample);
        // Both keys are always written, an empty list as the empty text.
        QCOMPARE(s.stored(QStringLiteral("1_Root_1Del")), QString());
        QCOMPARE(s.stored(QStringLiteral("1_Root_2")), QStringLiteral("<absent>"));
    }

    void dueDates_areRedBeforeTodayBlackFromToday_andComputedAgainOnEachShowing_data()
    {
        Form1Session::addReadAheadRows();
    }
    void dueDates_areRedBeforeTodayBlackFromToday_andComputedAgainOnEachShowing()
    {
        QFETCH(bool, readAhead);
        DueDates::setLocale(QLocale(QStringLiteral("en_US")));
        Clock::setToday(QDate(2026, 3, 10));
        Form1Session s;
        s.preset(kTree, kTwoCategories);
        const QList<QStringList> tasks = {{"Yesterday", "High", "Work", "3/9/2026", "", ""},
                                          {"Today", "High", "Work", "3/10/2026", "", ""},
                                          {"Iso tomorrow", "High", "Work", "2026-03-11", "", ""},
                                          {"Some day", "High", "Work", "soon", "", ""}};
        s.preset(QStringLiteral("1_Root_1"), storedTasks(tasks));
        s.preset(QStringLiteral("1_Root_1Del"), storedTasks(tasks.mid(0, 2)));
        Form1& f = s.startShown(readAhead);
        const QColor red(255, 0, 0), black(0, 0, 0);
        QCOMPARE(dueColour(f.ListView1, 0).value<QColor>(), red);
        QCOMPARE(dueColour(f.ListView1, 1).value<QColor>(), black);
        QCOMPARE(dueColour(f.ListView1, 2).value<QColor>(), black);
        QVERIFY(!dueColour(f.ListView1, 3).isValid());
        QCOMPARE(dueColour(f.ListView2, 0).value<QColor>(), red);
        QCOMPARE(dueColour(f.ListView2, 1).value<QColor>(), black);

        // A day later, after showing another category and coming back.
        Clock::setToday(QDate(2026, 3, 11));
        s.clickNode(QStringLiteral("Home"));
        s.clickNode(QStringLiteral("Work"));
        QCOMPARE(dueColour(f.ListView1, 1).value<QColor>(), red);
        QCOMPARE(dueColour(f.ListView1, 2).value<QColor>(), black);
        QCOMPARE(dueColour(f.ListView2, 1).value<QColor>(), red);
        // The colour is not stored.
        f.saveTaskLists();
        QCOMPARE(s.stored(QStringLiteral("1_Root_1")), storedTasks(tasks));
    }

    void entryWithTooFewFields_reportsEachStepThatNeedsOne()
    {
        Form1Session s;
        s.preset(kTree, kTwoCategories);
        s.preset(QStringLiteral("1_Root_1"),
                 storedTasks({{"Whole", "Low", "Idea", "", "n", ""}, {"OnlyTwo", "High"}}));
        s.preset(QStringLiteral("1_Root_1Del"),
                 storedTasks({{"Five", "Low", "Idea", "", "notes"}}));
        Form1& f = s.start();
        QCOMPARE(s.errorLines(),
                 (QStringList{"listTask 116", "listTask 118", "listTask 120", "listTask 122",
                              "listTask 128", "listTask 130", "listTask 164"}));
        QCOMPARE(s.prompts.errorBoxes().value(0),
                 Form1Session::errorText(QStringLiteral("Subscript out of range: the stored task "
                                                        "\"OnlyTwo\" has no field 3."),
                                         QStringLiteral("listTask"), 116));
        // The rows keep the fields that are there.
        QCOMPARE(f.ListView1->tasks()->rowCount(), 2);
        QCOMPARE(f.ListView1->tasks()->at(1).fields,
                 (TaskListCodec::Fields{"OnlyTwo", "High", "", "", "", ""}));
        QCOMPARE(f.ListView2->tasks()->at(0).fields,
                 (TaskListCodec::Fields{"Five", "Low", "Idea", "", "notes", ""}));
    }

    void fieldWithASeparator_splitsWhenReadBack()
    {
        Form1Session s;
        s.preset(kTree, kTwoCategories);
        Form1& f = s.start();
        TaskRow row;
        row.fields = {"One My_Separatora08 Two", "High", "Work", "", "", ""};
        f.ListView1->tasks()->append(row);
        f.saveTaskLists();
        s.closeAndReopen();
        QCOMPARE(Form1Session::column(s.window->ListView1, 0), (QStringList{"One ", " Two"}));
    }

    void deletingATask_savesItUnderTheDelKeyAndNotTheActiveOne()
    {
        Form1Session s;
        s.preset(kTree, kTwoCategories);
        s.preset(QStringLiteral("1_Root_1"), kWorkedExample);
        Form1& f = s.start();
        TaskRow moved = f.ListView1->tasks()->at(0);
        f.ListView1->tasks()->remove(0);
        f.ListView2->tasks()->append(moved);
        f.saveTaskLists();
        QVERIFY(!s.stored(QStringLiteral("1_Root_1")).contains(QStringLiteral("Deliver Parts")));
        QCOMPARE(s.stored(QStringLiteral("1_Root_1Del")),
                 storedTasks({{"Deliver Parts", "Medium", "General", "", "", ""}}));
    }

    void rowsMovedButNotSaved_returnToTheStoredOrder_data()
    {
        QTest::addColumn<bool>("sameCategory");
        QTest::newRow("another category and back") << false;
        QTest::newRow("the shown category again") << true;
    }
    void rowsMovedButNotSaved_returnToTheStoredOrder()
    {
        QFETCH(bool, sameCategory);
        Form1Session s;
        s.preset(kTree, kTwoCategories);
        s.preset(QStringLiteral("1_Root_1"), kWorkedExample);
        Form1& f = s.startShown();
        f.ListView1->tasks()->move(1, 0);
        QCOMPARE(Form1Session::column(f.ListView1, 0),
                 (QStringList{"Call Nessaly", "Deliver Parts"}));
        if (!sameCategory)
            s.clickNode(QStringLiteral("Home"));
        s.clickNode(QStringLiteral("Work"));
        QCOMPARE(Form1Session::column(f.ListView1, 0),
                 (QStringList{"Deliver Parts", "Call Nessaly"}));
        QCOMPARE(s.stored(QStringLiteral("1_Root_1")), kWorkedExample);
    }

    void savingAfterShowingAnotherCategory_writesUnderThatCategory()
    {
        Form1Session s;
        s.preset(kTree, kTwoCategories);
        s.preset(QStringLiteral("1_Root_1"), kWorkedExample);
        Form1& f = s.startShown();
        s.clickNode(QStringLiteral("Home"));
        f.saveTaskLists();
        QCOMPARE(s.stored(QStringLiteral("1_Root_2")), QString());
        QCOMPARE(s.stored(QStringLiteral("1_Root_1")), kWorkedExample);
    }

    void columnWidths_startUpWidthsStoreBackOnClose()
    {
        Form1Session s;
        Form1& f = s.start();
        QCOMPARE(f.ListView1->columnTwips(), (QList<double>{2200, 1200, 1200, 1200, 1, 1}));
        QCOMPARE(f.ListView2->columnTwips(), (QList<double>{2200, 1200, 1200, 1200, 1, 1}));
        // A 1-twip column shows no pixels.
        QCOMPARE(f.ListView1->header()->sectionSize(NotesCol), 0);
        QCOMPARE(f.ListView1->header()->sectionSize(DoneCol), 0);
        QCOMPARE(f.ListView1->header()->sectionSize(TaskCol), 147);
        s.close();
        QCOMPARE(s.stored(QStringLiteral("List1Cols")), kStartupWidths);
        QCOMPARE(s.stored(QStringLiteral("List2Cols")), kStartupWidths);
    }

    void columnWidenedByTheUser_isStoredInTwipsAndAppliedOnTheNextStart()
    {
        Form1Session s;
        s.preset(kTree, kTwoCategories);
        Form1& f = s.startShown();
        f.ListView2->header()->resizeSection(NotesCol, 100);
        s.closeAndReopen();
        QCOMPARE(s.stored(QStringLiteral("List2Cols")),
                 QStringLiteral("2200My_Separatora121200My_Separatora121200My_Separatora121200My_"
                                "Separatora121500My_Separatora121My_Separatora12"));
        QCOMPARE(s.stored(QStringLiteral("List1Cols")), kStartupWidths);
        QCOMPARE(s.window->ListView2->columnTwips(NotesCol), 1500.0);
        QCOMPARE(s.window->ListView2->header()->sectionSize(NotesCol), 100);
        QCOMPARE(s.window->ListView1->columnTwips(NotesCol), 1.0);
    }

    void storedWidths_withGapsOrFewerColumns_leaveTheOthersAlone()
    {
        Form1Session s;
        s.preset(kTree, kTwoCategories);
        s.preset(QStringLiteral("List1Cols"), QStringLiteral("3000My_Separatora12"));
        s.preset(QStringLiteral("List2Cols"),
                 QStringLiteral("My_Separatora121500My_Separatora12My_Separatora12My_Separatora12"
                                "750My_Separatora12"));
        Form1& f = s.start();
        QCOMPARE(f.ListView1->columnTwips(), (QList<double>{3000, 1200, 1200, 1200, 1, 1}));
        QCOMPARE(f.ListView2->columnTwips(), (QList<double>{2200, 1500, 1200, 1200, 750, 1}));
        QCOMPARE(f.ListView1->header()->sectionSize(TaskCol), 200);
        QCOMPARE(s.prompts.shown.size(), 0);
    }

    void storedWidthThatIsNotANumber_reportsLine176Or188()
    {
        Form1Session s;
        s.preset(kTree, kTwoCategories);
        s.preset(QStringLiteral("List1Cols"),
                 QStringLiteral("wideMy_Separatora12900My_Separatora12"));
        s.preset(QStringLiteral("List2Cols"),
                 QStringLiteral("My_Separatora1240000My_Separatora12"));
        Form1& f = s.start();
        QCOMPARE(s.errorLines(), (QStringList{"listTask 176", "listTask 188"}));
        QCOMPARE(f.ListView1->columnTwips(), (QList<double>{2200, 900, 1200, 1200, 1, 1}));
        QCOMPARE(f.ListView2->columnTwips(), (QList<double>{2200, 1200, 1200, 1200, 1, 1}));
    }

    // Tasks keep their UIDs through a restart, and through a change another program made to
    // the stored list: each entry it left as it was keeps its UID, the others get new ones.
    // `after` names tasks of `before` by letter; `kept` gives, for each row of `after`, the
    // position in `before` whose UID it keeps, or -1 for a new one.
    void uids_followUnchangedEntries_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QList<int>>("kept");
        QTest::newRow("untouched") << "abc"
                                   << "abc" << QList<int>{0, 1, 2};
        QTest::newRow("one removed") << "abc"
                                     << "ac" << QList<int>{0, 2};
        QTest::newRow("reordered, one added") << "abc"
                                              << "cxba" << QList<int>{2, -1, 1, 0};
        QTest::newRow("one changed") << "abc"
                                     << "aXc" << QList<int>{0, -1, 2};
        QTest::newRow("a copy added") << "ab"
                                      << "aab" << QList<int>{0, -1, 1};
        QTest::newRow("equal tasks keep their order") << "aa"
                                                      << "aa" << QList<int>{0, 1};
        QTest::newRow("all gone") << "ab"
                                  << "" << QList<int>{};
    }
    void uids_followUnchangedEntries()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QList<int>, kept);
        const auto list = [](const QString& names) {
            QList<QStringList> tasks;
            for (const QChar name : names)
                tasks.append({name, "High", "Work", "", name.isUpper() ? "changed" : "", ""});
            return storedTasks(tasks);
        };
        const auto uids = [](const Form1& f) {
            QList<QUuid> all;
            for (const TaskRow& row : f.ListView1->tasks()->rows())
                all.append(row.uid);
            return all;
        };
        Form1Session s;
        s.preset(kTree, kTwoCategories);
        s.preset(QStringLiteral("1_Root_1"), list(before));
        const QList<QUuid> first = uids(s.start());
        QCOMPARE(QSet<QUuid>(first.begin(), first.end()).size(), before.size());
        QVERIFY(!first.contains(QUuid()));
        QCOMPARE(uids(s.closeAndReopen()), first);

        s.close();
        s.preset(QStringLiteral("1_Root_1"), list(after));
        // Read ahead this time, as the program's start does.
        const QList<QUuid> now = uids(s.start(true));
        QCOMPARE(now.size(), kept.size());
        for (int i = 0; i < kept.size(); ++i) {
            if (kept[i] >= 0)
                QCOMPARE(now[i], first[kept[i]]);
            else
                QVERIFY(!first.contains(now[i]) && !now[i].isNull());
        }
        QCOMPARE(QSet<QUuid>(now.begin(), now.end()).size(), now.size());
        // Giving UIDs never touches the list as stored.
        QCOMPARE(s.stored(QStringLiteral("1_Root_1")), list(after));
        QCOMPARE(uids(s.closeAndReopen()), now);
    }
};

KESTRUNE_TEST_MAIN(TestForm1TaskLists)
#include "test_form1_task_lists.moc"
