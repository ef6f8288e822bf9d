#pragma once

#include "backups_host.h"
#include "calendar_import.h"
#include "find_host.h"
#include "settings_store.h"
#include "snapshot_files.h"
#include "stored_list_encoder.h"
#include "task_directory.h"
#include "task_editor_host.h"

#include <QCursor>
#include <QSet>
#include <QUuid>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class AutoBackups;
class CategoryTree;
class cSysTray;
class QMenu;
class QMenuBar;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidgetItem;
class RemovalHistory;
class SettingsStore;
class TaskListView;
class TaskTabs;

// The main window: the category tree, the two task lists of the selected category and the
// commands. The lists on screen are the working copy of the selected category's stored lists.
class Form1 : public QWidget,
              public TaskEditorHost,
              public FindHost,
              public TaskListsHost,
              public CategoryHost,
              public BackupsHost
{
    Q_OBJECT

public:
    explicit Form1(SettingsStore& store, QWidget* parent = nullptr);
    ~Form1() override;

    SettingsStore& store() const { return m_store; }

    // The program's own commands, in one bar above the client area.
    QMenuBar* menuBar1;
    QMenu* mnuTasks;
    // Holds every control below the bar, so their places in twips stay relative to the client
    // area the window was designed with.
    QWidget* clientArea;

    // Controls, named as everywhere else in the program.
    QLabel* Label3;
    CategoryTree* tvFolders;
    QPushButton* PushButton2;
    QPushButton* PushButton3;
    QPushButton* PushButton4;
    QLabel* Label1;
    TaskTabs* TabControl1;
    TaskListView* ListView1;
    TaskListView* ListView2;
    QPushButton* PushButton8;
    QPushButton* PushButton1;
    QPushButton* PushButton9;
    QPushButton* PushButton11;
    QPushButton* PushButton10;
    QPushButton* PushButton7;
    QPushButton* PushButton5;
    QPushButton* PushButton6;
    QLabel* Label2;
    QPlainTextEdit* Text1;

    // The list of the selected tab: ListView1 on "Active Tasks", ListView2 on "Deleted Tasks".
    TaskListView* listOfSelectedTab() const override;
    bool isLoading() const { return m_isLoading; }
    int nextCategoryNumber() const { return m_nextCategoryNumber; }
    const std::optional<QCursor>& handPointer() const { return m_handPointer; }

    // Routines shared by the handlers.
    void listRoot();
    void listTask();
    void updateCategory();
    // The tree as updateCategory stores it, put into `changes` instead: a sync stores the
    // categories it made with the calendars they belong to, in one transaction.
    void updateCategoryInto(SettingsStore::Changes& changes);
    void saveTaskLists();

    // The view actions.
    void tvFolders_NodeClick(QTreeWidgetItem* node);
    void TabControl1_SelectedChanged();
    void ListView_ItemClick(TaskListView* list, int row) override;
    // Shows the window in front of the others, from the tray or the taskbar if need be.
    void bringForward();

    // The task commands.
    void PushButton8_Click();
    void PushButton1_Click();
    void PushButton9_Click();
    void PushButton7_Click();
    void PushButton5_Click();
    void PushButton6_Click();
    void PushButton10_Click();
    void ListView_KeyDelete(TaskListView* list);
    // Ctrl+Z: puts back what the Delete key or the category removal took away last.
    void undoRemoval();
    // The name of a category of the tree that holds a task with one of `uids`; empty if none.
    // `stored`: every list's UIDs, as SettingsStore::readAllListUids gives them.
    QString categoryHoldingAnyOf(const QSet<QUuid>& uids,
                                 const QHash<QString, QByteArray>& stored) const;

    // The category commands.
    void PushButton2_Click();
    void PushButton3_Click();
    void PushButton4_Click();

    // --- export (form1_export.cpp) ---
    QMenu* mnuExport = nullptr;
    void PushButton11_Click();
    void subMenuExcel_Click();
    void subMenuPDF_Click();
    void subMenuICalendar_Click();
    // --- end export ---

    // --- iCalendar import (form1_calendar.cpp) ---
    // "Import Tasks..." in the Tasks menu, Ctrl+I.
    QAction* actionImportTasks = nullptr;
    void importTasks();
    // Reads the file at `path` into the store and the lists on screen; the command after the
    // file dialog. Every outcome ends in a message.
    void importTasksFrom(const QString& path);
    QString shownCategoryKey() const override;
    TaskListModel* shownTasks(bool deleted) const override;
    SettingsStore::Changes shownTasksChanges() const override;
    QList<Category> categories() const override;
    QString selectedCategoryKey() const override;
    int roomForCategories() const override;
    QString addCategory(const QString& parentKey, const QString& name) override;
    void storeTree() override;
    // --- end iCalendar import ---

    // --- find (form1_find.cpp) ---
    // Ctrl+F opens the find window; F3 and Shift+F3 go to the next and the previous match of
    // the last search without opening it.
    void findTasks();
    void findAgain(bool forward);
    QList<FindCategory> categoriesForFind() const override;
    void goToFindHit(const FindHit& hit) override;
    // The last search, kept while the program runs; the find window opens with it.
    std::optional<FindQuery> lastFind;
    // --- end find ---

    // --- reminders and settings (form1_reminders.cpp) ---
    // Reminds of due tasks from now on, by `clock`, or by the system's clock when none is given.
    void startReminders(class ReminderClock* clock = nullptr);
    class Reminders* reminders() const;
    // A start at login: hidden in the tray without a balloon, minimised where there is no tray.
    void startInTray();
    // "Settings..." in the Tasks menu, Ctrl+comma.
    void openSettings();
    // --- end reminders and settings ---
    // --- backups (form1_backups.cpp) ---
    // "Backups..." in the Tasks menu, Ctrl+Shift+B.
    QAction* actionBackups = nullptr;
    void showBackups();
    // The snapshots of this run's store, made before the commands that change much.
    AutoBackups& autoBackups();
    QString backupsFolder() const override;
    QStringList categoryKeysNow() const override;
    QHash<QString, QString> storedValuesNow() const override;
    bool restoreBackup(const QString& snapshotPath) override;
    bool bringBackCategory(const QString& snapshotPath, const QString& categoryKey) override;
    bool bringBackRemovedCategory(const RemovedCategory& category) override;
    // --- end backups ---

    // --- sync (form1_sync.cpp) ---
    // Syncs with the CalDAV account at start, after saving commands, every 5 minutes and on F5.
    class SyncController* syncController() const;
    // --- end sync ---

    // --- layout and tray (form1_layout.cpp, form1_tray.cpp) ---
    cSysTray* cSysTray1 = createTrayControl();
    // Set while the main window is hidden in the notification area.
    static bool hiddenInTray;
    // The layout pass: runs on first showing and on every change of state or size.
    void Form_Resize();
    // Brings the window back from the tray; either button, the id is not looked at.
    void cSysTray1_MouseUp(int Id, int Button);
    // Ends the whole process at once, after the close handler. Tests put a recorder here.
    using ProgramEnd = void (*)();
    static ProgramEnd programEnd;
    void Form_Unload();

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    cSysTray* createTrayControl();
    void hideToTray(class Steps& step);
    void layOutNormal(Steps& step);
    void layOutMaximised(Steps& step);
    void keepDesignSize();
    // The bar at the top across the window's width, the client area in the rest below it.
    void placeClientArea();
    // The normal window: the design client area with the bar above it.
    QSize designWindowPixels() const;
    // The state start-up gave the window ("WindowState" as read). The first showing is still
    // start-up, so the pass stores nothing until the window has left this state.
    std::optional<int> m_stateFromStartup;

public:
    // --- end layout and tray ---

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void connectHandlers();
    void Form_Load();
    void Form_QueryUnload();
    void applySkin();
    void increaseCategoryNumber();
    void fillList(class Steps& steps, int firstLine, TaskListView* list, const QString& key);
    QString treeValue(Steps& step) const;
    void applyColumnWidths(Steps& steps, int firstLine, TaskListView* list, const QString& key);
    QString columnWidthsText(Steps& steps, int firstLine, TaskListView* list);
    void showCategory(QTreeWidgetItem* node);
    void updateCommandStates();
    void installPointerRules();
    void installShortcuts();
    // The name typed at `prompt`, or an empty text when the command should end.
    QString askCategoryName(Steps& step, const QString& prompt);
    // The next category number whose key is free: not in the tree and without stored lists.
    int claimCategoryNumber(const std::function<QString(int)>& keyFor);
    void addCategory(Steps& step, int firstLine, QTreeWidgetItem* parent, const QString& name);
    void moveRow(TaskListView* list, int from, int to);

    SettingsStore& m_store;
    bool m_isLoading = false;
    int m_nextCategoryNumber = 1; // a signed 16-bit number: 32767 at most
    std::optional<QCursor> m_handPointer;
    std::unique_ptr<RemovalHistory> m_removals;
    // The lists on screen as the saving command stores them, in buffers kept between saves.
    mutable StoredListEncoder m_storedActive;
    mutable StoredListEncoder m_storedDeleted;

    // --- backups (form1_backups.cpp) ---
    void installBackupCommands();
    void snapshotBefore(SnapshotReason reason);
    void snapshotBeforeFirstChangeOfDay();
    // Lets the snapshots asked for reach the disk before the program ends.
    void finishBackups();
    // The category `oldKey` named `name` under `parentKey`: under its old key where that is
    // free and fits there, else under a new one. Returns the key it took.
    // Runs `work`, which places a category and stores it, then shows it; on a failure takes
    // the category placed away again and says that nothing was brought back.
    bool bringBack(const std::function<void(QTreeWidgetItem*& broughtBack)>& work);
    QString placeCategory(const QString& parentKey, const QString& oldKey, const QString& name,
                          bool oldListsAreItsOwn);
    QString treeValueNow() const;
    // The tree and lists read anew from the store, as a start reads them.
    void showStoreAsAtStart();
    AutoBackups* m_backups = nullptr;
    bool m_toldBackupFailure = false;

    // --- sync (form1_sync.cpp) ---
    void installSync();
    void syncAfterSave();
    // Asks, while sync is set up, whether removed categories go on the server too.
    void syncCategoryRemoval(const QList<QString>& keys, const QString& name);
};
