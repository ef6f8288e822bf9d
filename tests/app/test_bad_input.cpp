// Bad input against the real window, one row each: every one must give a clear message and lose
// nothing that was stored or typed. The single cases behind each row are tested where they live
// (store, editor, start-up); this is the one place that runs them all through Form1.
#include "file_size_limit.h"
#include "first_list_prefetch.h"
#include "form1_session.h"
#include "form2.h"
#include "store_start.h"
#include "test_files.h"
#include "test_main.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sqlite3.h>
#include <sys/resource.h>

namespace {

const QString kTree = QStringLiteral("Tree Nodes");
const QString kTwoCategories = QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^");
const QString F = QStringLiteral("My_Separatora12");
const QString T = QStringLiteral("My_Separatora08");

QStringList task(const QString& text)
{
    return {text, QStringLiteral("High"), QStringLiteral("General"), {}, QStringLiteral("n"), {}};
}

// The files under `folder` that this process holds open.
QStringList openFilesUnder(const QString& folder)
{
    QStringList open;
    for (const QFileInfo& fd :
         QDir(QStringLiteral("/proc/self/fd"))
             .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget().startsWith(folder))
            open.append(fd.symLinkTarget());
    return open;
}

// Another program, the sqlite3 tool, holding the store in an open write transaction.
class OtherProgramLock
{
public:
    explicit OtherProgramLock(const QString& path) : m_path(path)
    {
        m_tool.start(QStringLiteral("sqlite3"), {path});
        m_tool.waitForStarted();
        m_tool.write("BEGIN EXCLUSIVE;\n"
                     "INSERT OR REPLACE INTO settings VALUES('other', 'program', 'key', 'v');\n");
        // The tool says nothing through a pipe; the lock shows in a write that cannot start.
        for (int tries = 0; tries < 250 && !holding(); ++tries)
            QTest::qWait(20);
    }
    ~OtherProgramLock() { release(); }
    bool holding() const
    {
        sqlite3* db = nullptr;
        bool locked = false;
        if (sqlite3_open_v2(QFile::encodeName(m_path).constData(), &db, SQLITE_OPEN_READWRITE,
                            nullptr) == SQLITE_OK) {
            const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            locked = rc == SQLITE_BUSY;
            if (rc == SQLITE_OK)
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        sqlite3_close(db);
        return locked && m_tool.state() == QProcess::Running;
    }
    // The other program ends without committing, as when it is closed.
    void release()
    {
        if (m_tool.state() == QProcess::Running) {
            m_tool.closeWriteChannel();
            m_tool.waitForFinished(5000);
        }
    }

private:
    QString m_path;
    QProcess m_tool;
};

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

    std::unique_ptr<Form1Session> s;

    // Adds a task through the editor as the user does; returns whether the editor closed.
    bool addTask(const QString& text, const QString& notes = {})
    {
        bool closed = false;
        s->prompts.dialogActions.push_back([&](QDialog& dialog) {
            auto& editor = static_cast<Form2&>(dialog);
            editor.Text1->setText(text);
            editor.Text2->setPlainText(notes);
            editor.PushButton5->click();
            closed = !editor.isVisible();
        });
        s->window->PushButton8->click();
        return closed;
    }
    QStringList storedTexts(const QString& key) const
    {
        QStringList texts;
        for (const QStringList& fields : TaskListCodec::decode(s->stored(key)))
            texts.append(fields.value(0));
        return texts;
    }
    // Opens the store as the program's start does: on a second thread, the first list read ahead.
    static std::unique_ptr<SettingsStore> openAsAStartDoes(const QString& path)
    {
        StoreOpening opening(path);
        std::unique_ptr<SettingsStore> store = openStoreForStart(opening);
        FirstListPrefetch::discard();
        return store;
    }

    // Starts the program again on the same store file, as a new run does.
    void restart()
    {
        s->window.reset();
        s->store.reset();
        s->store = openStoreForStart(SettingsStore::defaultPath());
        QVERIFY(s->store);
        s->start();
    }

private slots:
    void init() { s = std::make_unique<Form1Session>(); }
    void cleanup()
    {
        s.reset();
        // A row may leave a plain file where the store's folder belongs.
        const QString folder = QFileInfo(SettingsStore::defaultPath()).absolutePath();
        if (QFileInfo(folder).isFile())
            QFile::remove(folder);
    }

    // --- the store file ---

    void damagedStoreFile_isKeptAsideUnchangedAndTheProgramStartsAfterSaying_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("garbage bytes") << QStringLiteral("garbage");
        QTest::newRow("cut to half") << QStringLiteral("half");
        QTest::newRow("cut by one page") << QStringLiteral("page");
        QTest::newRow("cut inside the header") << QStringLiteral("header");
    }
    void damagedStoreFile_isKeptAsideUnchangedAndTheProgramStartsAfterSaying()
    {
        QFETCH(QString, damage);
        const QString path = SettingsStore::defaultPath();
        // A store as the program leaves it, with enough tasks to span many pages.
        s->preset(kTree, kTwoCategories);
        QList<QStringList> tasks;
        for (int i = 0; i < 500; ++i)
            tasks.append(task(QStringLiteral("Task %1").arg(i)));
        s->preset(QStringLiteral("1_Root_1"), storedTasks(tasks));
        s->store.reset();
        const QByteArray whole = fileBytes(path);
        QByteArray bytes;
        if (damage == QLatin1String("garbage")) {
            bytes.resize(whole.size());
            QRandomGenerator random(17);
            random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        } else {
            bytes = whole.left(damage == QLatin1String("half")   ? whole.size() / 2
                               : damage == QLatin1String("page") ? whole.size() - 4096
                                                                 : 60);
        }
        writeFile(path, bytes);

        s->store = openAsAStartDoes(path);
        QVERIFY(s->store);
        const QString aside = s->store->movedAsidePath();
        QVERIFY2(!aside.isEmpty(), "a damaged store was used as it is");
        QCOMPARE(s->prompts.messages().size(), 1);
        QVERIFY2(s->prompts.messages().value(0).contains(aside), "the message hides the copy");
        QCOMPARE(fileBytes(aside), bytes);

        Form1& w = s->start();
        QCOMPARE(s->nodeTexts(), (QStringList{"Work", "Home", "Other"}));
        QVERIFY(addTask(QStringLiteral("after the damage")));
        QCOMPARE(w.ListView1->tasks()->rowCount(), 1);
        s->close();
        s->prompts.clear();
        restart();
        QCOMPARE(Form1Session::column(s->window->ListView1, 0),
                 QStringList{QStringLiteral("after the damage")});
        QCOMPARE(fileBytes(aside), bytes);
        QCOMPARE(s->prompts.shown.size(), 0);
    }

    void storeLockedByAnotherProgram_startsAndSavesOnceItIsFree()
    {
        s->preset(kTree, kTwoCategories);
        s->preset(QStringLiteral("1_Root_1"), storedTasks({task(QStringLiteral("kept"))}));
        s->store.reset();
        OtherProgramLock lock(SettingsStore::defaultPath());
        QVERIFY(lock.holding());

        // Reading is not blocked: the program starts with what is stored.
        s->store = openStoreForStart(SettingsStore::defaultPath());
        QVERIFY(s->store);
        Form1& w = s->start();
        QCOMPARE(s->prompts.shown.size(), 0);
        QCOMPARE(Form1Session::column(w.ListView1, 0), QStringList{QStringLiteral("kept")});

        // The save waits for the other program, then says why it failed; the task stays.
        QVERIFY(addTask(QStringLiteral("typed while locked")));
        QVERIFY(!s->prompts.errorBoxes().isEmpty());
        for (const QString& box : s->prompts.errorBoxes())
            QVERIFY2(box.contains(QStringLiteral("another program holds the store locked")),
                     qPrintable(box));
        QCOMPARE(Form1Session::column(w.ListView1, 0), (QStringList{"kept", "typed while locked"}));

        lock.release();
        s->prompts.clear();
        QVERIFY(addTask(QStringLiteral("after the lock")));
        QCOMPARE(s->prompts.errorBoxes(), QStringList());
        restart();
        QCOMPARE(Form1Session::column(s->window->ListView1, 0),
                 (QStringList{"kept", "typed while locked", "after the lock"}));
    }

    void storeThatCannotBeCreated_stopsTheStartWithAMessageAndChangesNothing_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("a file where the folder belongs") << QStringLiteral("folder");
        QTest::newRow("a folder where the store belongs") << QStringLiteral("store");
        QTest::newRow("full disk on the first start") << QStringLiteral("full");
    }
    void storeThatCannotBeCreated_stopsTheStartWithAMessageAndChangesNothing()
    {
        QFETCH(QString, obstacle);
        const QString path = SettingsStore::defaultPath();
        const QString folder = QFileInfo(path).absolutePath();
        s->store.reset();
        QDir(folder).removeRecursively();
        std::unique_ptr<SettingsStore> store;
        if (obstacle == QLatin1String("folder")) {
            writeFile(folder, "someone's notes");
            store = openAsAStartDoes(path);
            QCOMPARE(fileBytes(folder), QByteArray("someone's notes"));
        } else if (obstacle == QLatin1String("store")) {
            QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
            store = openStoreForStart(path);
            QVERIFY(QFileInfo::exists(path + QStringLiteral("/inside")));
        } else {
            QDir().mkpath(folder);
            FileSizeLimit full(0);
            store = openAsAStartDoes(path);
        }
        QVERIFY(!store);
        QCOMPARE(s->prompts.messages().size(), 1);
        const QString message = s->prompts.messages().value(0);
        QVERIFY2(message.contains(folder), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("Nothing has been changed")), qPrintable(message));
        QCOMPARE(s->prompts.shown.value(0).icon, Prompts::Icon::Critical);
        // A failed open leaves nothing of the store open behind it.
        QCOMPARE(openFilesUnder(folder), QStringList());
    }

    void fullDisk_failedSaveSaysWhy_andTheNextSaveStoresEverything()
    {
        s->preset(kTree, kTwoCategories);
        s->preset(QStringLiteral("1_Root_1"), storedTasks({task(QStringLiteral("kept"))}));
        Form1& w = s->start();
        {
            FileSizeLimit full(0);
            QVERIFY(addTask(QStringLiteral("typed on a full disk")));
        }
        QVERIFY(!s->prompts.errorBoxes().isEmpty());
        for (const QString& box : s->prompts.errorBoxes())
            QVERIFY2(box.contains(QString::fromLocal8Bit(std::strerror(EFBIG))) ||
                         box.contains(QStringLiteral("size limit")),
                     qPrintable(box));
        QCOMPARE(storedTexts(QStringLiteral("1_Root_1")), QStringList{QStringLiteral("kept")});
        QCOMPARE(Form1Session::column(w.ListView1, 0),
                 (QStringList{"kept", "typed on a full disk"}));

        s->prompts.clear();
        QVERIFY(addTask(QStringLiteral("after room was made")));
        QCOMPARE(s->prompts.errorBoxes(), QStringList());
        s->close();
        restart();
        QCOMPARE(Form1Session::column(s->window->ListView1, 0),
                 (QStringList{"kept", "typed on a full disk", "after room was made"}));
        QCOMPARE(s->prompts.errorBoxes(), QStringList());
    }

    // --- what the user types ---

    void separatorInWhatTheUserTypes_isRefusedWithAMessageAndNothingChanges_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("text");
        QTest::newRow("category name ;") << QStringLiteral("category") << QStringLiteral("A;B");
        QTest::newRow("category name ^") << QStringLiteral("category") << QStringLiteral("A^B");
        QTest::newRow("subcategory name ^") << QStringLiteral("subcategory") << QStringLiteral("^");
        QTest::newRow("task text") << QStringLiteral("task") << QStringLiteral("a") + F;
        QTest::newRow("notes") << QStringLiteral("notes") << T + QStringLiteral("b");
        QTest::newRow("type ;") << QStringLiteral("type") << QStringLiteral("Calls;Mail");
        QTest::newRow("type with the field separator")
            << QStringLiteral("type") << QStringLiteral("x") + F;
    }
    void separatorInWhatTheUserTypes_isRefusedWithAMessageAndNothingChanges()
    {
        QFETCH(QString, where);
        QFETCH(QString, text);
        s->preset(kTree, kTwoCategories);
        s->preset(QStringLiteral("1_Root_1"), storedTasks({task(QStringLiteral("kept"))}));
        Form1& w = s->start();

        if (where == QLatin1String("category") || where == QLatin1String("subcategory")) {
            s->prompts.inputAnswers = {text};
            (where == QLatin1String("category") ? w.PushButton2 : w.PushButton3)->click();
            QCOMPARE(s->nodeTexts(), (QStringList{"Work", "Home"}));
        } else {
            bool stayedOpen = false;
            QString typed;
            s->prompts.dialogActions.push_back([&](QDialog& dialog) {
                auto& editor = static_cast<Form2&>(dialog);
                editor.Text1->setText(where == QLatin1String("task") ? text : QStringLiteral("t"));
                if (where == QLatin1String("notes"))
                    editor.Text2->setPlainText(text);
                if (where == QLatin1String("type")) {
                    s->prompts.inputAnswers = {text};
                    editor.PushButton8->click();
                    QCOMPARE(editor.Combo2->findText(text), -1);
                } else {
                    editor.PushButton5->click();
                }
                stayedOpen = editor.isVisible();
                typed = editor.Text1->text();
                editor.PushButton4->click();
            });
            w.PushButton8->click();
            QVERIFY2(stayedOpen, "the editor closed and took what was typed with it");
            QCOMPARE(typed, where == QLatin1String("task") ? text : QStringLiteral("t"));
        }
        QCOMPARE(s->prompts.messages().size(), 1);
        for (const ScriptedPrompts::Shown& shown : s->prompts.shown)
            if (shown.kind == ScriptedPrompts::Shown::Message)
                QCOMPARE(shown.icon, Prompts::Icon::Exclamation);

        s->close();
        s->prompts.clear();
        restart();
        QCOMPARE(s->nodeTexts(), (QStringList{"Work", "Home"}));
        QCOMPARE(Form1Session::column(s->window->ListView1, 0), QStringList{"kept"});
        // The types read back as they were, none split in two.
        const QStringList typesNow =
            TaskTypesCodec::decode(s->stored(QStringLiteral("Task Types")));
        for (const QString& type : typesNow)
            QVERIFY2(!text.contains(type) || type == text, qPrintable(type));
        QCOMPARE(s->prompts.shown.size(), 0);
    }

    // --- stored values that are not what the program writes ---

    void storedSettingThatIsNotANumber_isReportedAndTheTasksAreAllThere_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("errors");
        QTest::newRow("TabSel") << QStringLiteral("TabSel") << QStringLiteral("Deleted")
                                << QStringList{"Form_Load 188"};
        QTest::newRow("WindowState") << QStringLiteral("WindowState") << QStringLiteral("max")
                                     << QStringList{"Form_Load 202"};
        QTest::newRow("List1Cols")
            << QStringLiteral("List1Cols") << QStringLiteral("wideMy_Separatora12") + F
            << QStringList{"listTask 176"};
        QTest::newRow("List2Cols")
            << QStringLiteral("List2Cols") << QStringLiteral("900My_Separatora121e9My_Separatora12")
            << QStringList{"listTask 188"};
    }
    void storedSettingThatIsNotANumber_isReportedAndTheTasksAreAllThere()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QStringList, errors);
        s->preset(kTree, kTwoCategories);
        s->preset(QStringLiteral("1_Root_1"), storedTasks({task(QStringLiteral("kept"))}));
        s->preset(QStringLiteral("1_Root_1Del"), storedTasks({task(QStringLiteral("binned"))}));
        s->preset(key, value);
        Form1& w = s->start();
        QCOMPARE(s->errorLines(), errors);
        QVERIFY(!w.isLoading());
        QCOMPARE(Form1Session::column(w.ListView1, 0), QStringList{"kept"});
        QCOMPARE(Form1Session::column(w.ListView2, 0), QStringList{"binned"});
        // The next run starts cleanly once the program has written the setting again.
        QVERIFY(addTask(QStringLiteral("new")));
        s->clickTab(1);
        s->clickTab(0);
        s->close();
        s->prompts.clear();
        restart();
        QCOMPARE(s->errorLines(), key == QLatin1String("WindowState") ? errors : QStringList());
        QCOMPARE(Form1Session::column(s->window->ListView1, 0), (QStringList{"kept", "new"}));
        QCOMPARE(Form1Session::column(s->window->ListView2, 0), QStringList{"binned"});
    }

    void categoryCounterAt32767_refusesANewCategoryAndKeepsEveryList()
    {
        s->preset(kTree, QStringLiteral("Work;1_Root_1;^Last;1_Root_32767;^"));
        s->preset(QStringLiteral("1_Root_32767"), storedTasks({task(QStringLiteral("in last"))}));
        Form1& w = s->start();
        QCOMPARE(s->errorLines(), QStringList{"listRoot 152"});
        QVERIFY2(s->prompts.errorBoxes().value(0).contains(QStringLiteral("32767")),
                 qPrintable(s->prompts.errorBoxes().value(0)));
        s->prompts.clear();
        s->prompts.inputAnswers = {QStringLiteral("One more")};
        w.PushButton2->click();
        QCOMPARE(s->prompts.errorBoxes().size(), 1);
        QVERIFY2(s->prompts.errorBoxes().value(0).contains(QStringLiteral("32767")),
                 qPrintable(s->prompts.errorBoxes().value(0)));
        QCOMPARE(s->nodeKeys(), (QStringList{"1_Root_1", "1_Root_32767"}));
        s->close();
        restart();
        QCOMPARE(s->nodeKeys(), (QStringList{"1_Root_1", "1_Root_32767"}));
        s->clickNode(QStringLiteral("Last"));
        QCOMPARE(Form1Session::column(s->window->ListView1, 0), QStringList{"in last"});
    }

    void storedTaskWithFewerThanSixFields_isShownWithWhatItHasAndSavedWithoutLoss_data()
    {
        Form1Session::addReadAheadRows();
    }
    void storedTaskWithFewerThanSixFields_isShownWithWhatItHasAndSavedWithoutLoss()
    {
        QFETCH(bool, readAhead);
        s->preset(kTree, kTwoCategories);
        s->preset(QStringLiteral("1_Root_1"), storedTasks({{"Short", "Low", "Id\u00e9e \U0001F600"},
                                                           task(QStringLiteral("whole"))}));
        Form1& w = s->start(readAhead);
        QVERIFY(!s->prompts.errorBoxes().isEmpty());
        QVERIFY2(s->prompts.errorBoxes().value(0).contains(QStringLiteral("\"Short\"")),
                 qPrintable(s->prompts.errorBoxes().value(0)));
        QCOMPARE(w.ListView1->tasks()->at(0).fields,
                 (TaskListCodec::Fields{"Short", "Low", "Id\u00e9e \U0001F600", "", "", ""}));
        s->prompts.clear();
        QVERIFY(addTask(QStringLiteral("new")));
        const QList<QStringList> stored =
            TaskListCodec::decode(s->stored(QStringLiteral("1_Root_1")));
        QCOMPARE(stored.value(0),
                 (QStringList{"Short", "Low", "Id\u00e9e \U0001F600", "", "", ""}));
        QCOMPARE(stored.size(), 3);
    }

    // --- the largest list ---

    void fullList_refusesTheNextTaskWithAMessageAndKeepsAll_data()
    {
        Form1Session::addReadAheadRows();
    }
    void fullList_refusesTheNextTaskWithAMessageAndKeepsAll()
    {
        QFETCH(bool, readAhead);
        QList<QStringList> tasks;
        for (int i = 0; i < TaskListCodec::kMaxTasks; ++i)
            tasks.append(task(QStringLiteral("Task %1").arg(i)));
        const QString full = storedTasks(tasks);
        s->preset(kTree, kTwoCategories);
        s->preset(QStringLiteral("1_Root_1"), full);
        s->preset(QStringLiteral("1_Root_1Del"), storedTasks({task(QStringLiteral("binned"))}));
        Form1& w = s->start(readAhead);
        QCOMPARE(s->prompts.shown.size(), 0);
        QCOMPARE(w.ListView1->tasks()->rowCount(), TaskListCodec::kMaxTasks);

        // Add Task: refused with the editor still open.
        QVERIFY(!addTask(QStringLiteral("one too many")));
        QCOMPARE(s->prompts.messages().size(), 1);
        QVERIFY2(s->prompts.messages().value(0).contains(QStringLiteral("32767")),
                 qPrintable(s->prompts.messages().value(0)));
        // Restoring into the full list and the sample items: refused, the task stays put.
        s->clickTab(1);
        s->clickRow(w.ListView2, 0);
        w.PushButton9->click();
        w.PushButton10->click();
        QCOMPARE(s->prompts.errorBoxes().size(), 2);
        for (const QString& box : s->prompts.errorBoxes())
            QVERIFY2(box.contains(QStringLiteral("32767")), qPrintable(box));
        QCOMPARE(Form1Session::column(w.ListView2, 0), QStringList{"binned"});
        QCOMPARE(w.ListView1->tasks()->rowCount(), TaskListCodec::kMaxTasks);
        QCOMPARE(s->stored(QStringLiteral("1_Root_1")), full);
        QCOMPARE(storedTexts(QStringLiteral("1_Root_1Del")), QStringList{"binned"});

        // Room again after a delete at the front; the rest is saved as it was read.
        s->clickTab(0);
        w.ListView1->selectRow(0);
        w.PushButton9->click();
        QVERIFY(addTask(QStringLiteral("fits again")));
        tasks.removeFirst();
        tasks.append(task(QStringLiteral("fits again")));
        QCOMPARE(storedTexts(QStringLiteral("1_Root_1")).last(), QStringLiteral("fits again"));
        QCOMPARE(TaskListCodec::decode(s->stored(QStringLiteral("1_Root_1"))).mid(0, 3),
                 tasks.mid(0, 3));
    }

    void storedListBeyondTheLargest_isReportedAndTheTasksNotShownAreSavedBack_data()
    {
        Form1Session::addReadAheadRows();
    }
    void storedListBeyondTheLargest_isReportedAndTheTasksNotShownAreSavedBack()
    {
        QFETCH(bool, readAhead);
        // Written by hand or by another program: more tasks than a list can show.
        QList<QStringList> tasks;
        for (int i = 0; i < TaskListCodec::kMaxTasks + 2; ++i)
            tasks.append(task(QStringLiteral("Task %1").arg(i)));
        s->preset(kTree, kTwoCategories);
        s->preset(QStringLiteral("1_Root_1"), storedTasks(tasks));
        Form1& w = s->start(readAhead);
        QCOMPARE(s->errorLines(), QStringList{"listTask 112"});
        QVERIFY2(s->prompts.errorBoxes().value(0).contains(QStringLiteral("32767")),
                 qPrintable(s->prompts.errorBoxes().value(0)));
        QCOMPARE(w.ListView1->tasks()->rowCount(), TaskListCodec::kMaxTasks);

        // Deleting the first task saves the category: the two not shown must stay stored.
        s->prompts.clear();
        w.ListView1->selectRow(0);
        w.PushButton9->click();
        QCOMPARE(s->prompts.errorBoxes(), QStringList());
        const QStringList active = storedTexts(QStringLiteral("1_Root_1"));
        QCOMPARE(active.size(), TaskListCodec::kMaxTasks + 1);
        QCOMPARE(active.first(), QStringLiteral("Task 1"));
        QCOMPARE(active.last(), QStringLiteral("Task 32768"));
        QCOMPARE(storedTexts(QStringLiteral("1_Root_1Del")), QStringList{"Task 0"});
    }

    // --- iCalendar files ---

    // A file that cannot be taken whole changes nothing at all, and the message says why and
    // where.
    void importedFileThatCannotBeTakenWhole_changesNothing_data()
    {
        const auto calendar = [](const QByteArray& inside) {
            return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\n" + inside +
                   "END:VCALENDAR\r\n";
        };
        const auto vtodo = [](const QByteArray& uid, const QByteArray& more = {}) {
            return "BEGIN:VTODO\r\nUID:" + uid + "\r\nDTSTAMP:20261208T120000Z\r\nSUMMARY:T\r\n" +
                   more + "END:VTODO\r\n";
        };
        QByteArray four;
        for (int i = 0; i < 4; ++i)
            four += vtodo("m" + QByteArray::number(i));
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("size"); // grown to this many bytes, sparse, when not 0
        QTest::addColumn<QString>("message");
        QTest::newRow("not iCalendar")
            << QByteArray("Task;Priority\r\nA;High\r\n") << qint64(0) << "bad.ics";
        QTest::newRow("binary junk")
            << QByteArray("\x00\xff\x13 BEGIN", 9) << qint64(0) << "bad.ics";
        QTest::newRow("cut off") << calendar(vtodo("a") + vtodo("b")).left(120) << qint64(0)
                                 << "line";
        QTest::newRow("a property libical refuses")
            << calendar(vtodo("a") + vtodo("b", "DUE:tomorrow\r\n")) << qint64(0) << "line 13";
        QTest::newRow("larger than the limit")
            << calendar(vtodo("a")) << qint64(65 << 20) << "bad.ics";
        QTest::newRow("past the largest list")
            << calendar(four) << qint64(0) << "active list of \"Work\" would hold 32768 tasks";
        QTest::newRow("a category the tree cannot hold")
            << QByteArray("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Kestrune//Kestrune//EN\r\n"
                          "X-KESTRUNE-FILE:1\r\nX-KESTRUNE-TREE;X-KESTRUNE-KEY=1_Root_9:A%3BB\r\n"
                          "END:VCALENDAR\r\n")
            << qint64(0) << "A;B";
    }
    void importedFileThatCannotBeTakenWhole_changesNothing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, size);
        QFETCH(QString, message);
        QList<QStringList> full;
        for (int i = 0; i < TaskListCodec::kMaxTasks - 3; ++i)
            full.append(task(QStringLiteral("t%1").arg(i)));
        s->preset(kTree, kTwoCategories);
        s->preset(QStringLiteral("1_Root_1"), storedTasks(full));
        // Stored by an older version: no UIDs yet, and none stored by a refused import.
        s->preset(QStringLiteral("1_Root_2"), storedTasks({task(QStringLiteral("home"))}));
        Form1& w = s->start();
        const auto values = s->store->readSection();
        const auto uids = s->store->readAllListUids();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bad.ics"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        if (size)
            QVERIFY(file.resize(size));
        file.close();

        s->prompts.fileAnswers.push_back(path);
        w.actionImportTasks->trigger();
        const QString text = s->prompts.messages().value(0);
        QVERIFY2(text.contains(message), qPrintable(text));
        QCOMPARE(s->prompts.shown.last().icon, Prompts::Icon::Exclamation);
        QVERIFY(s->prompts.errorBoxes().isEmpty());
        QCOMPARE(s->store->readSection(), values);
        QCOMPARE(s->store->readAllListUids(), uids);
        QCOMPARE(w.ListView1->tasks()->rowCount(), full.size());
        QCOMPARE(s->nodeKeys(), (QStringList{"1_Root_1", "1_Root_2"}));
    }
};

KESTRUNE_TEST_MAIN(TestBadInput)
#include "test_bad_input.moc"
