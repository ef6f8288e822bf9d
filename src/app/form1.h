#pragma once

#include "task_editor_host.h"

#include <QCursor>
#include <QWidget>
#include <optional>

class CategoryTree;
class cSysTray;
class QMenu;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidgetItem;
class SettingsStore;
class TaskListView;
class TaskTabs;

// The main window: the category tree, the two task lists of the selected category and the
// commands. The lists on screen are the working copy of the selected category's stored lists.
class Form1 : public QWidget, public TaskEditorHost
{
    Q_OBJECT

public:
    explicit Form1(SettingsStore& store, QWidget* parent = nullptr);
    ~Form1() override;

    SettingsStore& store() const { return m_store; }

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
    void saveTaskLists();

    // The view actions.
    void tvFolders_NodeClick(QTreeWidgetItem* node);
    void TabControl1_SelectedChanged();
    void ListView_ItemClick(TaskListView* list, int row) override;

    // The task commands.
    void PushButton8_Click();
    void PushButton1_Click();

    // --- export (form1_export.cpp) ---
    QMenu* mnuExport = nullptr;
    void PushButton11_Click();
    void subMenuExcel_Click();
    void subMenuPDF_Click();
    // --- end export ---

    // --- layout and tray (form1_layout.cpp, form1_tray.cpp) ---
    cSysTray* cSysTray1 = nullptr;
    // Set while the main window is hidden in the notification area.
    static bool hiddenInTray;
    void Form_Resize();
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
    void applyColumnWidths(Steps& steps, int firstLine, TaskListView* list, const QString& key);
    QString columnWidthsText(Steps& steps, int firstLine, TaskListView* list);
    void showCategory(QTreeWidgetItem* node);
    void updateCommandStates();

    SettingsStore& m_store;
    bool m_isLoading = false;
    int m_nextCategoryNumber = 1; // a signed 16-bit number: 32767 at most
    std::optional<QCursor> m_handPointer;
};
