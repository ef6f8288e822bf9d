// The category tree: built from "Tree Nodes" at start-up and written back on closing.
#include "form1_session.h"
#include "test_main.h"

#include <QLabel>

namespace {
const QString kTree = QStringLiteral("Tree Nodes");
const QString kParsedDefault = QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^Other;1_Root_3;^");
const QString kWorkedExample = kParsedDefault + QStringLiteral("Reports;2_Sublist_4;1_Root_1^");
} // namespace

class TestForm1CategoryTree : public QObject
{
    Q_OBJECT

private slots:
    void defaultTree_absentOrTypedByHand_buildsWorkHomeOtherWithWorkSelected_data()
    {
        QTest::addColumn<bool>("typedByHand");
        QTest::newRow("absent") << false;
        QTest::newRow("typed by hand") << true;
    }
    void defaultTree_absentOrTypedByHand_buildsWorkHomeOtherWithWorkSelected()
    {
        QFETCH(bool, typedByHand);
        Form1Session s;
        if (typedByHand)
            s.preset(kTree, QStringLiteral("Work;Home;Other"));
        Form1& f = s.start();
        QCOMPARE(s.nodeTexts(), (QStringList{"Work", "Home", "Other"}));
        QCOMPARE(s.nodeKeys(), (QStringList{"1_Root_1", "1_Root_2", "1_Root_3"}));
        QCOMPARE(f.tvFolders->selectedNode(), f.tvFolders->nodesInOrder().value(0));
        QCOMPARE(f.Label1->text(), QStringLiteral("Tasks for [Work]"));
        QCOMPARE(f.nextCategoryNumber(), 4);
        QCOMPARE(f.ListView1->tasks()->rowCount(), 0);
        QCOMPARE(f.ListView2->tasks()->rowCount(), 0);
        QCOMPARE(s.prompts.shown.size(), 0);
        // Start-up does not store the tree.
        QCOMPARE(s.stored(kTree),
                 typedByHand ? QStringLiteral("Work;Home;Other") : QStringLiteral("<absent>"));
    }

    void defaultTree_showsListsAnEarlierRunStoredForWork()
    {
        // A first run that ended without a normal close stored lists but no tree: they must
        // be on screen, or the next save would write over them.
        Form1Session s;
        s.preset(QStringLiteral("1_Root_1"), storedTasks({{"Stored", "High", "Work", "", "", ""}}));
        s.preset(QStringLiteral("1_Root_1Del"), storedTasks({{"Gone", "Low", "Work", "", "", ""}}));
        s.preset(QStringLiteral("1_Root_2"),
                 storedTasks({{"Home task", "Low", "Work", "", "", ""}}));
        Form1& f = s.start();
        QCOMPARE(Form1Session::column(f.ListView1, 0), QStringList{"Stored"});
        QCOMPARE(Form1Session::column(f.ListView2, 0), QStringList{"Gone"});
        QCOMPARE(f.Label1->text(), QStringLiteral("Tasks for [Work]"));
        f.saveTaskLists();
        QCOMPARE(s.stored(QStringLiteral("1_Root_1")),
                 storedTasks({{"Stored", "High", "Work", "", "", ""}}));
    }

    void emptyTree_showsNoCategoriesAndWritesNoTaskList()
    {
        Form1Session s;
        s.preset(kTree, QString());
        Form1& f = s.start();
        QCOMPARE(f.tvFolders->nodeCount(), 0);
        QCOMPARE(f.tvFolders->selectedNode(), nullptr);
        QCOMPARE(f.ListView1->tasks()->rowCount(), 0);
        QCOMPARE(f.ListView2->tasks()->rowCount(), 0);
        QCOMPARE(f.Label1->text(), QStringLiteral("Tasks for [Work]"));
        QCOMPARE(s.prompts.errorBoxes(), QStringList());

        // Saving has no category to save under: it fails and writes nothing.
        QVERIFY_THROWS_EXCEPTION(Failure, f.saveTaskLists());
        s.close();
        QCOMPARE(s.stored(kTree), QString());
        QCOMPARE(s.stored(QString()), QStringLiteral("<absent>"));
        QCOMPARE(s.stored(QStringLiteral("Del")), QStringLiteral("<absent>"));
    }

    void workedExample_buildsReportsUnderExpandedWorkAndShowsWork()
    {
        Form1Session s;
        s.preset(kTree, kWorkedExample);
        s.preset(QStringLiteral("1_Root_1"),
                 storedTasks({{"Deliver Parts", "Medium", "General", "", "", ""}}));
        Form1& f = s.start();
        QCOMPARE(s.nodeTexts(), (QStringList{"Work", "Home", "Other", "Reports"}));
        QTreeWidgetItem* work = f.tvFolders->nodeByKey(QStringLiteral("1_Root_1"));
        QTreeWidgetItem* reports = f.tvFolders->nodeByKey(QStringLiteral("2_Sublist_4"));
        QVERIFY(work && reports);
        QCOMPARE(reports->parent(), work);
        QVERIFY(work->isExpanded());
        QCOMPARE(f.tvFolders->selectedNode(), work);
        QCOMPARE(Form1Session::column(f.ListView1, 0), QStringList{"Deliver Parts"});
        QCOMPARE(f.nextCategoryNumber(), 5);
        QCOMPARE(s.prompts.shown.size(), 0);

        // Closing writes the same tree back, byte for byte.
        f.close();
        QCOMPARE(s.stored(kTree), kWorkedExample);
    }

    void nextCategoryNumber_isOneMoreThanTheLargestStored_data()
    {
        QTest::addColumn<QString>("tree");
        QTest::addColumn<int>("expected");
        QTest::newRow("9 and 12") << "A;1_Root_9;^B;2_Sublist_12;1_Root_9^C;1_Root_3;^" << 13;
        QTest::newRow("deep") << "A;1_Root_1;^B;2_Sublist_2;1_Root_1^C;3_Sublist_30;2_Sublist_2^"
                              << 31;
        QTest::newRow("only 1") << "A;1_Root_1;^" << 2;
    }
    void nextCategoryNumber_isOneMoreThanTheLargestStored()
    {
        QFETCH(QString, tree);
        QFETCH(int, expected);
        Form1Session s;
        s.preset(kTree, tree);
        QCOMPARE(s.start().nextCategoryNumber(), expected);
        QCOMPARE(s.prompts.shown.size(), 0);
    }

    void subcategoryAddedAfterOther_isStoredAfterOther()
    {
        Form1Session s;
        Form1& f = s.start();
        f.tvFolders->addNode(QStringLiteral("1_Root_1"), QStringLiteral("2_Sublist_4"),
                             QStringLiteral("Reports"));
        s.closeAndReopen();
        QCOMPARE(s.stored(kTree), kWorkedExample);
        QCOMPARE(s.nodeTexts(), (QStringList{"Work", "Home", "Other", "Reports"}));
        QCOMPARE(s.window->nextCategoryNumber(), 5);
    }

    void closeAndReopen_storesTheParsedDefaultAndShowsWorkWithItsLists()
    {
        Form1Session s;
        s.start();
        s.preset(QStringLiteral("1_Root_1"),
                 storedTasks({{"Call Nessaly", "High", "General", "", "", "Done"}}));
        Form1& f = s.closeAndReopen();
        QCOMPARE(s.stored(kTree), kParsedDefault);
        QCOMPARE(s.nodeKeys(), (QStringList{"1_Root_1", "1_Root_2", "1_Root_3"}));
        QCOMPARE(f.nextCategoryNumber(), 4);
        // Now start-up parsed entries: it shows the first category and its lists.
        QCOMPARE(Form1Session::column(f.ListView1, 0), QStringList{"Call Nessaly"});
        QCOMPARE(f.Label1->text(), QStringLiteral("Tasks for [Work]"));
        QCOMPARE(s.prompts.shown.size(), 0);
    }

    void deletingEveryCategory_storesTheEmptyTextAndStartsWithNone()
    {
        Form1Session s;
        Form1& f = s.start();
        f.tvFolders->addNode(QStringLiteral("1_Root_2"), QStringLiteral("2_Sublist_4"),
                             QStringLiteral("Garden"));
        // A branch goes with its node.
        f.tvFolders->removeNode(f.tvFolders->nodeByKey(QStringLiteral("1_Root_2")));
        s.closeAndReopen();
        QCOMPARE(s.stored(kTree), QStringLiteral("Work;1_Root_1;^Other;1_Root_3;^"));

        for (QTreeWidgetItem* node : s.window->tvFolders->nodesInOrder())
            s.window->tvFolders->removeNode(node);
        s.closeAndReopen();
        QCOMPARE(s.stored(kTree), QString());
        QCOMPARE(s.window->tvFolders->nodeCount(), 0);
        QCOMPARE(s.prompts.errorBoxes(), QStringList());
    }

    void duplicateTopLevelKey_reportsLine132AndGoesOn()
    {
        Form1Session s;
        s.preset(kTree, QStringLiteral("Work;1_Root_1;^Home;1_Root_1;^Other;1_Root_3;^"));
        Form1& f = s.start();
        QCOMPARE(s.prompts.errorBoxes(),
                 QStringList{Form1Session::errorText(
                     QStringLiteral("Key is not unique in collection: a category with key "
                                    "\"1_Root_1\" already exists."),
                     QStringLiteral("listRoot"), 132)});
        QCOMPARE(s.prompts.shown.value(0).icon, Prompts::Icon::Exclamation);
        QCOMPARE(s.nodeTexts(), (QStringList{"Work", "Other"}));
        QCOMPARE(f.nextCategoryNumber(), 4);
        QCOMPARE(f.tvFolders->selectedNode()->text(0), QStringLiteral("Work"));
    }

    void duplicateSubcategoryKey_reportsLine140AndGoesOn()
    {
        Form1Session s;
        s.preset(kTree,
                 QStringLiteral("Work;1_Root_1;^A;2_Sublist_7;1_Root_1^B;2_Sublist_7;1_Root_1^"
                                "C;2_Sublist_8;1_Root_1^"));
        s.start();
        QCOMPARE(s.prompts.errorBoxes(),
                 QStringList{Form1Session::errorText(
                     QStringLiteral("Key is not unique in collection: a category with key "
                                    "\"2_Sublist_7\" already exists."),
                     QStringLiteral("listRoot"), 140)});
        QCOMPARE(s.nodeTexts(), (QStringList{"Work", "A", "C"}));
    }

    void missingParent_reportsLine140AndItsNumberStillCounts()
    {
        Form1Session s;
        // The parent comes later in the text: it is not there yet when the child is added.
        s.preset(kTree,
                 QStringLiteral("Work;1_Root_1;^Orphan;2_Sublist_20;1_Root_5^Late;1_Root_5;^"));
        Form1& f = s.start();
        QCOMPARE(s.prompts.errorBoxes(),
                 QStringList{Form1Session::errorText(
                     QStringLiteral("Element not found: no category has the parent key "
                                    "\"1_Root_5\" of \"Orphan\"."),
                     QStringLiteral("listRoot"), 140)});
        QCOMPARE(s.nodeTexts(), (QStringList{"Work", "Late"}));
        QCOMPARE(f.nextCategoryNumber(), 21);
        // The entry is lost from the tree with the next close; the rest stays as it was.
        s.close();
        QCOMPARE(s.stored(kTree), QStringLiteral("Work;1_Root_1;^Late;1_Root_5;^"));
    }

    void entryWithoutParentField_reportsLine130AndIsAddedAtTheTop()
    {
        Form1Session s;
        s.preset(kTree, QStringLiteral("Work;1_Root_1^Home;1_Root_2;^"));
        Form1& f = s.start();
        QCOMPARE(s.errorLines(), QStringList{"listRoot 130"});
        QCOMPARE(s.nodeTexts(), (QStringList{"Work", "Home"}));
        QCOMPARE(f.tvFolders->nodesInOrder().value(0)->parent(), nullptr);
        QCOMPARE(f.nextCategoryNumber(), 3);
    }

    void categoryNumberAtLargest_reportsOverflowAtLine152AndStays()
    {
        Form1Session s;
        s.preset(kTree, QStringLiteral("Big;1_Root_32767;^"));
        Form1& f = s.start();
        QCOMPARE(s.errorLines(), QStringList{"listRoot 152"});
        QVERIFY2(s.prompts.errorBoxes().value(0).startsWith(QStringLiteral("Overflow")),
                 qPrintable(s.prompts.errorBoxes().value(0)));
        QCOMPARE(f.nextCategoryNumber(), 32767);
        QCOMPARE(f.tvFolders->selectedNode()->text(0), QStringLiteral("Big"));
    }

    void categoryNumberBeyondSixteenBits_reportsLine138()
    {
        Form1Session s;
        s.preset(kTree, QStringLiteral("Huge;1_Root_40000;^Next;1_Root_2;^"));
        Form1& f = s.start();
        QCOMPARE(s.errorLines(), QStringList{"listRoot 138"});
        QCOMPARE(s.nodeTexts(), (QStringList{"Huge", "Next"}));
        QCOMPARE(f.nextCategoryNumber(), 3);
    }
};

KESTRUNE_TEST_MAIN(TestForm1CategoryTree)
#include "test_form1_category_tree.moc"
