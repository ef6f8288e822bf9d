#include "category_tree.h"
#include "due_dates.h"
#include "form1.h"
#include "form2.h"
#include "scripted_prompts.h"
#include "settings_store.h"
#include "task_list_view.h"
#include "task_tabs.h"
#include "test_main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <memory>

namespace {

const QString F = QStringLiteral("My_Separatora12");
const QString T = QStringLiteral("My_Separatora08");

QString entry(const QStringList& fields)
{
    return fields.join(F) + T;
}

struct TaskInput
{
    QString text;
    QString priority = QStringLiteral("Medium");
    std::optional<QDate> due = std::nullopt;
    QString notes = {};
    bool done = false;
};

// Types into an open editor the way a user does, then presses a button.
std::function<void(QDialog&)> typeAndPress(TaskInput input, const char* button = "PushButton5")
{
    return [input, button](QDialog& dialog) {
        auto& editor = static_cast<Form2&>(dialog);
        editor.Text1->setText(input.text);
        Form2::selectExactly(editor.Combo1, input.priority);
        editor.Check2->setChecked(input.due.has_value());
        if (input.due)
            editor.DTPicker1->setDate(*input.due);
        editor.Text2->setPlainText(input.notes);
        editor.Check3->setChecked(input.done);
        editor.findChild<QPushButton*>(QLatin1String(button))->click();
    };
}

} // namespace

class TestForm2 : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<ScriptedPrompts> m_prompts;
    std::unique_ptr<Form1> m_window;

    Form1& reopen()
    {
        if (m_window)
            m_window->close();
        m_window.reset();
        m_window = std::make_unique<Form1>(*m_store);
        return *m_window;
    }
    QString stored(const QString& key) { return m_store->read(key, QStringLiteral("<absent>")); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("Kestrune.db")));
        m_prompts = std::make_unique<ScriptedPrompts>();
        Form1::programEnd = [] {}; // closing the window must not end the test
        DueDates::setLocale(QLocale(QStringLiteral("en_US")));
        Clock::setToday(QDate(2026, 12, 7));
        // An earlier normal close stored the default tree: Work is shown with its lists.
        m_store->write(QStringLiteral("Tree Nodes"),
                       QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^Other;1_Root_3;^"));
    }
    void cleanup()
    {
        m_window.reset();
        m_prompts.reset();
        m_store.reset();
        m_dir.reset();
    }

    void loadingDefaults_andTypesFromTheStore()
    {
        Form1& window = reopen();
        Form2 editor(*m_store, window);
        QCOMPARE(editor.windowTitle(), QStringLiteral("Add Task"));
        QCOMPARE(editor.Combo1->currentText(), QStringLiteral("Medium"));
        QCOMPARE(editor.Combo1->count(), 5);
        QCOMPARE(editor.Combo2->currentText(), QStringLiteral("General"));
        QCOMPARE(editor.Combo2->count(), 4);
        QVERIFY(!editor.Check2->isChecked());
        QVERIFY(!editor.Check3->isChecked());
        QCOMPARE(editor.DTPicker1->date(), QDate(2026, 12, 7));
        QCOMPARE(editor.DTPicker1->text(), QStringLiteral("12/7/2026"));
        QVERIFY(!editor.Combo1->isEditable());
        QVERIFY(!editor.Combo2->isEditable());
        QCOMPARE(editor.size(), QSize(536, 436));

        // Written with a trailing ";" or without: the same list, empty pieces skipped.
        m_store->write(QStringLiteral("Task Types"), QStringLiteral(";Errand;;Call;"));
        Form2 again(*m_store, window);
        QCOMPARE(again.Combo2->count(), 2);
        QCOMPARE(again.Combo2->itemText(1), QStringLiteral("Call"));
    }

    void addTask_goesToTheListOfTheSelectedTab_andIsStored()
    {
        Form1& window = reopen();
        m_prompts->dialogActions.push_back(
            typeAndPress({QStringLiteral("  Buy milk  "), QStringLiteral("High"),
                          QDate(2026, 12, 8), QStringLiteral("first line\nsecond line"), true}));
        window.PushButton8->click();
        QCOMPARE(window.ListView1->tasks()->rowCount(), 1);
        const QString expected =
            entry({QStringLiteral("  Buy milk  "), QStringLiteral("High"),
                   QStringLiteral("General"), QStringLiteral("12/8/2026"),
                   QStringLiteral("first line\nsecond line"), QStringLiteral("Done")});
        QCOMPARE(stored(QStringLiteral("1_Root_1")), expected);
        QCOMPARE(stored(QStringLiteral("1_Root_1Del")), QString());

        // On the deleted tab a new task lands in the deleted list and is stored there.
        window.TabControl1->setCurrentIndex(1);
        m_prompts->dialogActions.push_back(typeAndPress({QStringLiteral("Old idea")}));
        window.PushButton8->click();
        QCOMPARE(window.ListView2->tasks()->rowCount(), 1);
        QVERIFY(stored(QStringLiteral("1_Root_1Del")).startsWith(QStringLiteral("Old idea") + F));
        QCOMPARE(stored(QStringLiteral("1_Root_1")), expected);

        // Both survive a restart, line breaks included.
        Form1& reopened = reopen();
        QCOMPARE(reopened.ListView1->tasks()->at(0).fields[NotesCol],
                 QStringLiteral("first line\nsecond line"));
        QCOMPARE(reopened.ListView2->tasks()->at(0).fields[TaskCol], QStringLiteral("Old idea"));
        QVERIFY(m_prompts->errorBoxes().isEmpty());
    }

    void editTask_rewritesTheSelectedRowInPlace_onEitherTab()
    {
        m_store->write(QStringLiteral("1_Root_1"),
                       entry({"A", "Low", "Idea", "12/1/2026", "n", ""}) +
                           entry({"B", "High", "Work", "", "", "Done"}));
        m_store->write(QStringLiteral("1_Root_1Del"), entry({"D", "Lowest", "Idea", "", "", ""}));
        Form1& window = reopen();
        window.ListView1->selectRow(0);
        m_prompts->dialogActions.push_back([](QDialog& dialog) {
            auto& editor = static_cast<Form2&>(dialog);
            QCOMPARE(editor.windowTitle(), QStringLiteral("Edit Task"));
            QCOMPARE(editor.Text1->text(), QStringLiteral("A"));
            QCOMPARE(editor.Combo1->currentText(), QStringLiteral("Low"));
            QCOMPARE(editor.Combo2->currentText(), QStringLiteral("Idea"));
            QVERIFY(editor.Check2->isChecked());
            QCOMPARE(editor.DTPicker1->date(), QDate(2026, 12, 1));
            editor.Check2->setChecked(false); // the due date is dropped
            editor.Text2->setPlainText(QStringLiteral("new notes"));
            editor.PushButton5->click();
        });
        window.PushButton1->click();
        QCOMPARE(window.ListView1->tasks()->rowCount(), 2);
        QCOMPARE(stored(QStringLiteral("1_Root_1")),
                 entry({"A", "Low", "Idea", "", "new notes", ""}) +
                     entry({"B", "High", "Work", "", "", "Done"}));
        // The scratch pad shows the edited row's notes.
        QCOMPARE(window.Text1->toPlainText(), QStringLiteral("new notes"));
        // An overdue date written before keeps its colour when no date is written now.
        QCOMPARE(window.ListView1->tasks()->at(0).dueColour, DueDates::Colour::Overdue);

        // A double click on a deleted row edits it where it is.
        window.TabControl1->setCurrentIndex(1);
        window.ListView2->selectRow(0);
        m_prompts->dialogActions.push_back(typeAndPress({QStringLiteral("D2")}));
        emit window.ListView2->itemDoubleClicked(0);
        QCOMPARE(stored(QStringLiteral("1_Root_1Del")),
                 entry({"D2", "Medium", "Idea", "", "", ""}));
    }

    void editTask_selectsOnlyExactMatches_andDoneOnlyWhenExact()
    {
        m_store->write(QStringLiteral("1_Root_1"),
                       entry({"A", "high", "Chores", "not a date", "", "done"}) +
                           entry({"B", "", "General", "", "", "Done"}));
        Form1& window = reopen();
        window.ListView1->selectRow(0);
        m_prompts->dialogActions.push_back([](QDialog& dialog) {
            auto& editor = static_cast<Form2&>(dialog);
            QCOMPARE(editor.Combo1->currentIndex(), -1);
            QCOMPARE(editor.Combo2->currentIndex(), -1);
            QVERIFY(!editor.Check2->isChecked());
            QCOMPARE(editor.DTPicker1->date(), QDate(2026, 12, 7));
            QVERIFY(!editor.Check3->isChecked());
            editor.PushButton5->click();
        });
        window.PushButton1->click();
        // Nothing chosen: empty priority, type and due date are written.
        QCOMPARE(window.ListView1->tasks()->at(0).fields,
                 (TaskListCodec::Fields{"A", "", "", "", "", ""}));

        window.ListView1->selectRow(1);
        m_prompts->dialogActions.push_back([](QDialog& dialog) {
            auto& editor = static_cast<Form2&>(dialog);
            QVERIFY(editor.Check3->isChecked());
            editor.PushButton5->click();
        });
        window.PushButton1->click();
        QCOMPARE(window.ListView1->tasks()->at(1).fields[DoneCol], QStringLiteral("Done"));
    }

    void cancelAndCloseBox_changeNoRow_butSaveListsAndTypes()
    {
        m_store->write(QStringLiteral("1_Root_1"),
                       entry({"A", "", "", "", "", ""}) + entry({"B", "", "", "", "", ""}));
        Form1& window = reopen();
        // A new order on screen reaches the store with the save after the editor closes.
        window.ListView1->tasks()->move(1, 0);
        m_prompts->inputAnswers.push_back(QStringLiteral("Errand"));
        m_prompts->dialogActions.push_back([](QDialog& dialog) {
            auto& editor = static_cast<Form2&>(dialog);
            editor.Text1->setText(QStringLiteral("never added"));
            editor.PushButton8->click(); // Add Type
            editor.PushButton4->click(); // Cancel
        });
        window.PushButton8->click();
        QCOMPARE(window.ListView1->tasks()->rowCount(), 2);
        QCOMPARE(stored(QStringLiteral("1_Root_1")),
                 entry({"B", "", "", "", "", ""}) + entry({"A", "", "", "", "", ""}));
        QCOMPARE(stored(QStringLiteral("Task Types")),
                 QStringLiteral("General;Idea;Personal;Work;Errand;"));

        // The close box: same as Cancel. Deleting every type stores the empty text.
        m_prompts->dialogActions.push_back([](QDialog& dialog) {
            auto& editor = static_cast<Form2&>(dialog);
            while (editor.Combo2->count() > 0) {
                editor.Combo2->setCurrentIndex(0);
                editor.PushButton1->click();
                QCOMPARE(editor.Combo2->currentIndex(), -1);
            }
            editor.close();
        });
        window.PushButton8->click();
        QCOMPARE(window.ListView1->tasks()->rowCount(), 2);
        QCOMPARE(stored(QStringLiteral("Task Types")), QString());
        Form2 empty(*m_store, window);
        QCOMPARE(empty.Combo2->count(), 0);
        QCOMPARE(empty.Combo2->currentIndex(), -1);
    }

    void addType_keepsWhatWasTyped_andIgnoresCancel()
    {
        Form1& window = reopen();
        Form2 editor(*m_store, window);
        m_prompts->inputAnswers = {QStringLiteral("   "), QString(), QStringLiteral("Idea")};
        for (int i = 0; i < 3; ++i)
            editor.PushButton8->click();
        QCOMPARE(m_prompts->shown.first().text, QStringLiteral("Enter new type: "));
        QCOMPARE(m_prompts->shown.first().title, QStringLiteral("Input New Type"));
        QCOMPARE(editor.Combo2->count(), 6); // blanks and a duplicate are accepted, cancel is not
        QCOMPARE(editor.Combo2->itemText(4), QStringLiteral("   "));
        QCOMPARE(editor.Combo2->currentText(), QStringLiteral("General"));
        // With nothing selected "Delete Type" does nothing.
        editor.Combo2->setCurrentIndex(-1);
        editor.PushButton1->click();
        QCOMPARE(editor.Combo2->count(), 6);
    }

    void ok_withBlankText_keepsTheDialogOpen()
    {
        Form1& window = reopen();
        bool stillOpen = false;
        m_prompts->dialogActions.push_back([&](QDialog& dialog) {
            auto& editor = static_cast<Form2&>(dialog);
            editor.Text1->setText(QStringLiteral("   "));
            editor.PushButton5->click();
            stillOpen = editor.isVisible();
            editor.PushButton4->click();
        });
        window.PushButton8->click();
        QVERIFY(stillOpen);
        QCOMPARE(window.ListView1->tasks()->rowCount(), 0);
        QVERIFY(m_prompts->messages().isEmpty());
    }

    void ok_refusesStoredSeparators_namingTheField_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("task text") << QStringLiteral("task text");
        QTest::newRow("notes") << QStringLiteral("notes");
        QTest::newRow("type") << QStringLiteral("type");
    }
    void ok_refusesStoredSeparators_namingTheField()
    {
        QFETCH(QString, field);
        m_store->write(QStringLiteral("Task Types"),
                       QStringLiteral("a") + T + QStringLiteral("b;"));
        Form1& window = reopen();
        bool stillOpen = false;
        m_prompts->dialogActions.push_back([&](QDialog& dialog) {
            auto& editor = static_cast<Form2&>(dialog);
            editor.Text1->setText(field == QLatin1String("task text") ? QStringLiteral("x") + F
                                                                      : QStringLiteral("x"));
            editor.Text2->setPlainText(field == QLatin1String("notes") ? T : QString());
            if (field != QLatin1String("type"))
                editor.Combo2->setCurrentIndex(-1);
            editor.PushButton5->click();
            stillOpen = editor.isVisible();
        });
        window.PushButton8->click();
        QVERIFY(stillOpen);
        QCOMPARE(window.ListView1->tasks()->rowCount(), 0);
        QCOMPARE(m_prompts->messages().size(), 1);
        QVERIFY2(m_prompts->messages().first().contains(QStringLiteral("The ") + field),
                 qPrintable(m_prompts->messages().first()));
    }

    void dueDateColour_inTwoLocales_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("yesterdayText");
        QTest::newRow("en_US") << QStringLiteral("en_US") << QStringLiteral("12/6/2026");
        QTest::newRow("de_DE") << QStringLiteral("de_DE") << QStringLiteral("06.12.2026");
    }
    void dueDateColour_inTwoLocales()
    {
        QFETCH(QString, locale);
        QFETCH(QString, yesterdayText);
        DueDates::setLocale(QLocale(locale));
        Form1& window = reopen();
        const QDate today = Clock::today();
        for (int offset : {-1, 0, 1})
            m_prompts->dialogActions.push_back(
                typeAndPress({QStringLiteral("due %1").arg(offset), QStringLiteral("Medium"),
                              today.addDays(offset)}));
        for (int i = 0; i < 3; ++i)
            window.PushButton8->click();
        const TaskListModel* tasks = window.ListView1->tasks();
        QCOMPARE(tasks->at(0).fields[DueDateCol], yesterdayText);
        QCOMPARE(tasks->at(0).dueColour, DueDates::Colour::Overdue);
        QCOMPARE(tasks->at(1).dueColour, DueDates::Colour::OnTime);
        QCOMPARE(tasks->at(2).dueColour, DueDates::Colour::OnTime);
        // Read back from the store in the same locale, the dates are still dates.
        Form1& reopened = reopen();
        QCOMPARE(reopened.ListView1->tasks()->at(0).dueColour, DueDates::Colour::Overdue);
        QCOMPARE(reopened.ListView1->tasks()->at(2).dueColour, DueDates::Colour::OnTime);
    }

    void editTask_needsASelectedRow_andAddNeedsACategory()
    {
        m_store->write(QStringLiteral("1_Root_1"), entry({"A", "", "", "", "", ""}));
        Form1& window = reopen();
        window.ListView1->clearSelection();
        window.PushButton1->click();
        QVERIFY(m_prompts->shown.isEmpty());

        window.close(); // closing stores the tree; the empty one is written after it
        m_window.reset();
        m_store->write(QStringLiteral("Tree Nodes"), QString());
        Form1& empty = reopen();
        QVERIFY(!empty.PushButton8->isEnabled());
        QVERIFY(!empty.PushButton1->isEnabled());
        empty.PushButton8_Click();
        QVERIFY(m_prompts->shown.isEmpty());
    }

    void screenshot()
    {
        const QByteArray folder = qgetenv("KESTRUNE_SCREENSHOT_DIR");
        if (folder.isEmpty())
            QSKIP("set KESTRUNE_SCREENSHOT_DIR to save a picture of the editor");
        Form1& window = reopen();
        Form2 editor(*m_store, window);
        editor.Text1->setText(QStringLiteral("Call the plumber"));
        editor.Check2->setChecked(true);
        editor.Text2->setPlainText(QStringLiteral("Kitchen sink drips.\nAsk about Friday."));
        editor.show();
        QVERIFY(editor.grab().save(QDir(QString::fromLocal8Bit(folder)).filePath("form2.png")));
    }
};

KESTRUNE_TEST_MAIN(TestForm2)
#include "test_form2.moc"
