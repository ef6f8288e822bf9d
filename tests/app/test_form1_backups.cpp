// Backups through the real window and store: the snapshots the commands make, the Backups
// window, restoring, categories brought back, and snapshots that cannot be made.
#include "auto_backups.h"
#include "backups_dialog.h"
#include "file_size_limit.h"
#include "form1_session.h"
#include "snapshot.h"
#include "test_files.h"
#include "test_main.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <functional>
#include <unistd.h>

namespace {

QString folder()
{
    return SnapshotFiles::folderOf(SettingsStore::defaultPath());
}

// Why each snapshot of the folder was made, oldest first, as its file name says.
QStringList reasons()
{
    QStringList words;
    for (const SnapshotFile& file : SnapshotFiles::list(folder()))
        words.prepend(QFileInfo(file.path).completeBaseName().section(u'-', 2));
    return words;
}

QTreeWidgetItem* findItem(QTreeWidget* tree, const QString& text)
{
    const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

const QStringList kSamples = {QStringLiteral("Deliver Parts"), QStringLiteral("Call Nessaly"),
                              QStringLiteral("Collaborate with Dorrin")};

} // namespace

class TestForm1Backups : public QObject
{
    Q_OBJECT

    // Opens the Backups window from the menu and lets `use` act in it.
    static void inBackupsWindow(Form1Session& s, const std::function<void(BackupsDialog&)>& use,
                                bool byKeys = false)
    {
        bool ran = false;
        s.prompts.dialogActions.push_back([&](QDialog& dialog) {
            auto* backups = qobject_cast<BackupsDialog*>(&dialog);
            QVERIFY(backups);
            QCOMPARE(backups->windowTitle(), QStringLiteral("Backups"));
            use(*backups);
            ran = true;
        });
        if (byKeys)
            QTest::keyClick(s.window->ListView1, Qt::Key_B,
                            Qt::ControlModifier | Qt::ShiftModifier);
        else
            s.window->actionBackups->trigger();
        QVERIFY(ran);
    }
    static void chooseSnapshot(BackupsDialog& dialog, const QString& reason)
    {
        for (int row = 0; row < dialog.snapshots().size(); ++row)
            if (dialog.snapshots()[row].path.endsWith(u'-' + reason + QStringLiteral(".db"))) {
                dialog.snapshotList->setCurrentItem(dialog.snapshotList->topLevelItem(row));
                return;
            }
        QFAIL(qPrintable(QStringLiteral("no snapshot made for %1").arg(reason)));
    }
    static void restore(Form1Session& s, const QString& reason)
    {
        inBackupsWindow(s, [&](BackupsDialog& dialog) {
            chooseSnapshot(dialog, reason);
            s.prompts.yesNoAnswers.push_back(true);
            dialog.restoreButton->click();
            QVERIFY(!dialog.isVisible());
        });
        s.window->autoBackups().waitUntilIdle();
    }

private slots:
    void snapshots_beforeEachTriggerAndNotOtherwise_data()
    {
        QTest::addColumn<std::function<void(Form1Session&)>>("command");
        QTest::addColumn<QStringList>("made");
        using Command = std::function<void(Form1Session&)>;
        QTest::newRow("showing and switching") << Command([](Form1Session& s) {
            s.clickNode(QStringLiteral("Home"));
            s.clickTab(1);
        }) << QStringList();
        QTest::newRow("saves of one day") << Command([](Form1Session& s) {
            s.window->PushButton10->click();
            s.window->PushButton10->click();
            s.clickNode(QStringLiteral("Home"));
            s.window->PushButton10->click();
        }) << QStringList{QStringLiteral("daily")};
        QTest::newRow("Delete All Tasks, asked twice") << Command([](Form1Session& s) {
            s.prompts.yesNoAnswers = {false, true};
            s.window->PushButton7->click();
            s.window->PushButton7->click();
        }) << QStringList{QStringLiteral("delete-all")};
        QTest::newRow("Restore All Tasks") << Command([](Form1Session& s) {
            s.clickTab(1);
            s.prompts.yesNoAnswers = {true};
            s.window->PushButton7->click();
        }) << QStringList{QStringLiteral("restore-all")};
        QTest::newRow("Delete Selected Category (or Sub)")
            << Command([](Form1Session& s) { s.window->PushButton4->click(); })
            << QStringList{QStringLiteral("delete-category")};
        QTest::newRow("an import, and a file refused") << Command([](Form1Session& s) {
            const QString path = QDir::temp().filePath(QStringLiteral("kestrune-backups.ics"));
            writeFile(path, "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\n"
                            "BEGIN:VTODO\r\nUID:1\r\nSUMMARY:Imported\r\nEND:VTODO\r\n"
                            "END:VCALENDAR\r\n");
            s.window->importTasksFrom(path);
            writeFile(path, "no calendar");
            s.window->importTasksFrom(path);
        }) << QStringList{QStringLiteral("import")};
    }
    void snapshots_beforeEachTriggerAndNotOtherwise()
    {
        QFETCH(std::function<void(Form1Session&)>, command);
        QFETCH(QStringList, made);
        Form1Session s;
        s.startShown();
        command(s);
        s.window->autoBackups().waitUntilIdle();
        QCOMPARE(reasons(), made);
        // A later run of the same day makes no daily one either.
        s.closeAndReopen().PushButton10->click();
        s.window->autoBackups().waitUntilIdle();
        QCOMPARE(reasons().size(), qMax(made.size(), 1));
    }

    void restore_thenRestoreOfTheSnapshotItMade_goesBackToTheStateBefore()
    {
        Form1Session s;
        s.startShown();
        s.window->PushButton10->click();
        s.prompts.yesNoAnswers = {true};
        s.window->PushButton7->click(); // the samples go to "Deleted Tasks"
        s.window->autoBackups().waitUntilIdle();

        restore(s, QStringLiteral("delete-all"));
        QCOMPARE(Form1Session::column(s.window->ListView1, 0), kSamples);
        QCOMPARE(Form1Session::column(s.window->ListView2, 0), QStringList());
        QCOMPARE(s.nodeTexts(), (QStringList{"Work", "Home", "Other"}));

        restore(s, QStringLiteral("restore"));
        QCOMPARE(Form1Session::column(s.window->ListView1, 0), QStringList());
        QCOMPARE(Form1Session::column(s.window->ListView2, 0), kSamples);
        s.closeAndReopen();
        QCOMPARE(Form1Session::column(s.window->ListView2, 0), kSamples);
        QVERIFY(s.prompts.messages().isEmpty());
    }

    // A restore whose replaced state cannot be kept first could never be taken back.
    void restore_withNoRoomToKeepThePresentState_isRefusedAndChangesNothing()
    {
        Form1Session s;
        s.preset(QStringLiteral("1_Root_9"), QString(300000, u'x')); // more than the room left
        s.startShown();
        s.window->PushButton10->click();
        s.prompts.yesNoAnswers = {true};
        s.window->PushButton7->click();
        s.window->autoBackups().waitUntilIdle();
        const QStringList made = reasons();
        {
            FileSizeLimit limit(128 * 1024);
            inBackupsWindow(s, [&](BackupsDialog& dialog) {
                chooseSnapshot(dialog, QStringLiteral("delete-all"));
                s.prompts.yesNoAnswers.push_back(true);
                dialog.restoreButton->click();
            });
        }
        QCOMPARE(s.prompts.messages().size(), 1);
        QVERIFY2(s.prompts.messages()[0].contains(QStringLiteral("not restored")),
                 qPrintable(s.prompts.messages()[0]));
        QCOMPARE(reasons(), made);
        QCOMPARE(Form1Session::column(s.window->ListView2, 0), kSamples);
        s.closeAndReopen();
        QCOMPARE(Form1Session::column(s.window->ListView2, 0), kSamples);
    }

    void window_listsSnapshotsNewestFirst_previewsThem_damagedOnesCannotBeChosen()
    {
        Form1Session s;
        s.startShown();
        s.window->PushButton10->click();
        s.prompts.yesNoAnswers = {true};
        s.window->PushButton7->click();
        s.window->autoBackups().waitUntilIdle();
        const QString damaged = folder() + u'/' +
                                SnapshotFiles::fileName(QDateTime::currentDateTimeUtc().addDays(-1),
                                                        SnapshotReason::Import);
        writeFile(damaged, "SQLite format 3 and then nothing sensible");
        // A snapshot cut short, whose first pages still read: found by the check beside.
        const QString cut = folder() + u'/' +
                            SnapshotFiles::fileName(QDateTime::currentDateTimeUtc().addDays(-2),
                                                    SnapshotReason::Import);
        QVERIFY(QFile::copy(SnapshotFiles::list(folder()).first().path, cut));
        QVERIFY(QFile::resize(cut, QFileInfo(cut).size() - 1024));

        inBackupsWindow(
            s,
            [&](BackupsDialog& dialog) {
                QTreeWidget* list = dialog.snapshotList;
                QCOMPARE(list->topLevelItemCount(), 4);
                QCOMPARE(list->topLevelItem(0)->text(1),
                         QStringLiteral("Before \"Delete All Tasks\""));
                QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("3")); // active tasks
                QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("First change of the day"));
                QCOMPARE(list->topLevelItem(1)->text(3), QStringLiteral("0"));
                QCOMPARE(list->topLevelItem(2)->text(2), QStringLiteral("Damaged"));
                QCOMPARE(list->topLevelItem(2)->flags(), Qt::NoItemFlags);
                QTRY_VERIFY(dialog.checksDone());
                QCOMPARE(list->topLevelItem(3)->text(2), QStringLiteral("Damaged"));
                QCOMPARE(list->topLevelItem(3)->flags(), Qt::NoItemFlags);
                // Every column in sight at the window's first size.
                dialog.show();
                QVERIFY(QTest::qWaitForWindowExposed(&dialog));
                QCOMPARE(list->horizontalScrollBar()->maximum(), 0);

                chooseSnapshot(dialog, QStringLiteral("delete-all"));
                QCOMPARE(findItem(dialog.previewTree, QStringLiteral("Work"))->isSelected(), true);
                QCOMPARE(Form1Session::column(dialog.previewActive, 0), kSamples);
                QVERIFY(dialog.restoreButton->isEnabled());
                list->clearSelection();
                QVERIFY(!dialog.restoreButton->isEnabled());
                QVERIFY(!dialog.bringBackButton->isEnabled());
            },
            true);
        // Looking changed nothing.
        QCOMPARE(Form1Session::column(s.window->ListView2, 0), kSamples);
    }

    void bringBack_fromASnapshotAndFromRemovedLists_withSubcategories_afterARestart()
    {
        Form1Session s;
        s.startShown();
        s.prompts.inputAnswers = {QStringLiteral("Reports")};
        s.window->PushButton3->click(); // under Work, and shown
        s.window->PushButton10->click();
        s.clickNode(QStringLiteral("Work"));
        s.window->PushButton10->click();
        s.window->PushButton4->click(); // Work and Reports go
        QCOMPARE(s.nodeTexts(), (QStringList{"Home", "Other"}));
        s.window->autoBackups().waitUntilIdle();
        s.closeAndReopen();

        // From the removed lists: Work first, then Reports finds its parent again.
        inBackupsWindow(s, [&](BackupsDialog& dialog) {
            QCOMPARE(dialog.removedList->topLevelItemCount(), 2);
            for (const QString& name : {QStringLiteral("Work"), QStringLiteral("Reports")}) {
                QTreeWidgetItem* item = findItem(dialog.removedList, name);
                QVERIFY(item);
                QCOMPARE(item->text(1), QStringLiteral("3"));
                dialog.removedList->setCurrentItem(item);
                dialog.bringBackButton->click();
                QCOMPARE(dialog.statusLabel->text(),
                         QStringLiteral("\u201c%1\u201d has been brought back.").arg(name));
            }
            QCOMPARE(dialog.removedList->topLevelItemCount(), 0);
        });
        s.closeAndReopen();
        QCOMPARE(s.nodeTexts(), (QStringList{"Home", "Other", "Work", "Reports"}));
        QCOMPARE(s.nodeKeys(), (QStringList{"1_Root_2", "1_Root_3", "1_Root_1", "2_Sublist_4"}));
        s.clickNode(QStringLiteral("Reports"));
        QCOMPARE(Form1Session::column(s.window->ListView1, 0), kSamples);

        // From the snapshot, beside what is there: the old keys are taken now, so new ones.
        inBackupsWindow(s, [&](BackupsDialog& dialog) {
            chooseSnapshot(dialog, QStringLiteral("delete-category"));
            dialog.previewTree->setCurrentItem(
                findItem(dialog.previewTree, QStringLiteral("Work")));
            dialog.bringBackButton->click();
        });
        s.closeAndReopen();
        QCOMPARE(s.nodeTexts(),
                 (QStringList{"Home", "Other", "Work", "Reports", "Work", "Reports"}));
        const QStringList keys = s.nodeKeys();
        QCOMPARE(keys.mid(4, 1).first().section(u'_', 0, 1), QStringLiteral("1_Root"));
        QCOMPARE(keys.mid(5, 1).first().section(u'_', 0, 1), QStringLiteral("2_Sublist"));
        s.clickNode(s.window->tvFolders->nodesInOrder().at(5));
        QCOMPARE(Form1Session::column(s.window->ListView1, 0), kSamples);
        QVERIFY(s.prompts.messages().isEmpty());
    }

    void bringBack_keysKeptWhereTheyFitAndHoldTheSameLists_elseNewOnes()
    {
        Form1Session s;
        s.startShown();
        s.prompts.inputAnswers = {QStringLiteral("Reports")};
        s.window->PushButton3->click();
        s.window->PushButton10->click();
        s.clickNode(QStringLiteral("Work"));
        s.window->PushButton4->click();
        s.window->autoBackups().waitUntilIdle();
        s.closeAndReopen();

        // Reports alone: no parent to go under, and a subcategory's key does not fit at the top.
        inBackupsWindow(s, [&](BackupsDialog& dialog) {
            QCOMPARE(dialog.removedList->topLevelItemCount(), 1);
            dialog.removedList->setCurrentItem(dialog.removedList->topLevelItem(0));
            dialog.bringBackButton->click();
            QCOMPARE(dialog.removedList->topLevelItemCount(), 0);
        });
        // Work from the snapshot: its key holds no other lists than the snapshot's, so it is
        // taken up again; Reports' old key now holds other lists, so its copy gets a new one.
        inBackupsWindow(s, [&](BackupsDialog& dialog) {
            chooseSnapshot(dialog, QStringLiteral("delete-category"));
            dialog.previewTree->setCurrentItem(
                findItem(dialog.previewTree, QStringLiteral("Work")));
            dialog.bringBackButton->click();
        });
        s.closeAndReopen();
        QCOMPARE(s.nodeTexts(), (QStringList{"Home", "Other", "Reports", "Work", "Reports"}));
        QCOMPARE(s.nodeKeys(),
                 (QStringList{"1_Root_2", "1_Root_3", "1_Root_4", "1_Root_1", "2_Sublist_5"}));
        for (int node : {2, 4}) {
            s.clickNode(s.window->tvFolders->nodesInOrder().at(node));
            QCOMPARE(Form1Session::column(s.window->ListView1, 0), kSamples);
        }
        QCOMPARE(s.stored(QStringLiteral("2_Sublist_4")), QString());
    }

    void snapshotsCannotBeMade_toldOnce_commandsGoOn_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::newRow("a file where the folder should be") << QStringLiteral("file");
        QTest::newRow("a read-only folder") << QStringLiteral("read-only");
        QTest::newRow("the disk is full") << QStringLiteral("full");
    }
    void snapshotsCannotBeMade_toldOnce_commandsGoOn()
    {
        QFETCH(QString, cause);
        const bool fullDisk = cause == QLatin1String("full");
        if (cause == QLatin1String("read-only") && ::geteuid() == 0)
            QSKIP("the superuser writes into a read-only folder all the same");
        Form1Session s;
        // A store larger than the room left, its journal folded in.
        s.preset(QStringLiteral("1_Root_9"), QString(300000, u'x'));
        s.store.reset();
        s.store = std::make_unique<SettingsStore>(SettingsStore::defaultPath());
        if (cause == QLatin1String("file"))
            writeFile(folder(), "a file where the folder should be");
        if (cause == QLatin1String("read-only")) {
            QDir().mkpath(folder());
            QFile::setPermissions(folder(), QFile::ReadOwner | QFile::ExeOwner);
        }
        std::unique_ptr<FileSizeLimit> limit;
        if (fullDisk)
            limit = std::make_unique<FileSizeLimit>(128 * 1024);
        s.startShown();
        s.window->PushButton10->click();
        s.prompts.yesNoAnswers = {true};
        s.window->PushButton7->click();
        s.window->PushButton4->click();
        s.window->autoBackups().waitUntilIdle();
        QTRY_VERIFY(!s.prompts.messages().isEmpty());
        QTest::qWait(50);
        QCOMPARE(s.prompts.messages().size(), 1);
        QVERIFY2(s.prompts.messages()[0].contains(QStringLiteral("no backup")),
                 qPrintable(s.prompts.messages()[0]));
        limit.reset();
        QCOMPARE(reasons(), QStringList());
        QCOMPARE(s.nodeTexts(), (QStringList{"Home", "Other"}));
        s.closeAndReopen();
        QCOMPARE(s.nodeTexts(), (QStringList{"Home", "Other"}));
        QVERIFY(s.stored(QStringLiteral("1_Root_1Del")).startsWith(kSamples[0]));
    }
};

KESTRUNE_TEST_MAIN(TestForm1Backups)
#include "test_form1_backups.moc"
