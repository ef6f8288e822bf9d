#include "due_dates.h"
#include "form1_session.h"
#include "form2.h"
#include "test_main.h"

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

class TestForm1Keyboard : public QObject
{
    Q_OBJECT

private slots:
    void everyCommand_hasAShortcut_thatDoesWhatItsButtonDoes()
    {
        Form1Session s;
        s.preset(QStringLiteral("Tree Nodes"), QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^"));
        Form1& w = s.startShown();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));

        QTest::keyClick(&w, Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(w.ListView1->tasks()->rowCount(), 3);

        s.prompts.dialogActions.push_back([](QDialog& dialog) {
            auto& editor = static_cast<Form2&>(dialog);
            QCOMPARE(editor.windowTitle(), QStringLiteral("Add Task"));
            editor.Text1->setText(QStringLiteral("typed"));
            editor.PushButton5->click();
        });
        QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(w.ListView1->tasks()->rowCount(), 4);

        w.ListView1->setFocus();
        w.ListView1->selectRow(3);
        QTest::keyClick(w.ListView1, Qt::Key_Up, Qt::AltModifier);
        QCOMPARE(w.ListView1->tasks()->at(2).fields[TaskCol], QStringLiteral("typed"));
        QTest::keyClick(w.ListView1, Qt::Key_Down, Qt::AltModifier);
        QCOMPARE(w.ListView1->tasks()->at(3).fields[TaskCol], QStringLiteral("typed"));

        for (int key : {int(Qt::Key_F2), int(Qt::Key_Return)}) {
            s.prompts.dialogActions.push_back([](QDialog& dialog) {
                QCOMPARE(dialog.windowTitle(), QStringLiteral("Edit Task"));
                dialog.reject();
            });
            QTest::keyClick(w.ListView1, Qt::Key(key));
        }
        QCOMPARE(s.prompts.shown.size(), 3);

        QTest::keyClick(&w, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(w.ListView2->tasks()->rowCount(), 1);
        s.prompts.yesNoAnswers = {true};
        QTest::keyClick(&w, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.ListView1->tasks()->rowCount(), 0);
        QCOMPARE(w.ListView2->tasks()->rowCount(), 4);

        QTest::keyClick(&w, Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(w.TabControl1->currentIndex(), 1);
        QCOMPARE(w.PushButton9->text(), QStringLiteral("Restore Selected Task"));

        s.prompts.inputAnswers = {QStringLiteral("Cat"), QStringLiteral("Sub")};
        QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(s.nodeTexts(), (QStringList{"Work", "Home", "Cat", "Sub"}));
        QTest::keyClick(&w, Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(s.nodeTexts(), (QStringList{"Work", "Home", "Cat"}));

        QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
        QVERIFY(w.mnuExport && w.mnuExport->isVisible());
        w.mnuExport->hide();
        QTest::keyClick(&w, Qt::Key_T, Qt::AltModifier);
        QTRY_VERIFY(w.mnuTasks->isVisible());
        w.mnuTasks->hide();
        // The menu bar's commands ask for their file; cancelled here.
        s.prompts.clear();
        QTest::keyClick(&w, Qt::Key_I, Qt::ControlModifier);
        QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(s.prompts.shown.size(), 2);
        QCOMPARE(s.prompts.shown[0].title, QStringLiteral("Import Tasks"));
        QCOMPARE(s.prompts.shown[1].title, QStringLiteral("Export All Tasks To iCalendar"));
        // Captions stay as they are: no mnemonics were added for the shortcuts.
        QCOMPARE(w.PushButton8->text(), QStringLiteral("Add Task"));
    }

    void tab_movesThroughTheWindowInReadingOrder()
    {
        Form1Session s;
        Form1& w = s.startShown();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.tvFolders->setFocus();
        QStringList order;
        for (int i = 0; i < 14; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order.append(QApplication::focusWidget()->objectName());
        }
        const QStringList expected = {
            "PushButton2",  "PushButton3",  "PushButton4", "TabControl1Tabs", "ListView1",
            "PushButton5",  "PushButton6",  "PushButton8", "PushButton1",     "PushButton9",
            "PushButton11", "PushButton10", "PushButton7"};
        QCOMPARE(order.mid(0, expected.size()), expected);
    }
};

KESTRUNE_TEST_MAIN(TestForm1Keyboard)
#include "test_form1_keyboard.moc"
