// Start-up, the view actions and closing.
#include "app_folder.h"
#include "category_tree.h"
#include "csystray.h"
#include "cursor_file.h"
#include "error_report.h"
#include "failure.h"
#include "form1.h"
#include "numbers.h"
#include "settings_store.h"
#include "sync_controller.h"
#include "task_list_codec.h"
#include "task_list_view.h"
#include "task_tabs.h"
#include "window_colours.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const QList<double> kStartupColumnTwips = {2200, 1200, 1200, 1200, 1, 1};

} // namespace

void Form1::Form_Load()
{
    Steps step(QStringLiteral("Form1.Form_Load"), this);
    step(100, [&] { m_isLoading = true; });
    step(102, [&] { applySkin(); });
    const QString pointerFile = AppFolder::path() + QStringLiteral("/HAND-M.CUR");
    if (step.test(104, [&] { return AppFolder::fileExists(pointerFile); }))
        step(106, [&] { m_handPointer = loadCursorFile(pointerFile); });
    step(128, [&] {
        setWindowTitle(QStringLiteral("Tolvendra Software"));
        setWindowIcon(QApplication::windowIcon());
        // The title of boxes without their own comes from applicationTitle(); it is not set as
        // Qt's display name, which would be appended to every window caption.
    });
    for (int column = 0; column < 6; ++column) {
        step(142 + 2 * column,
             [&] { ListView1->setColumnTwips(column, kStartupColumnTwips[column]); });
        step(166 + 2 * column,
             [&] { ListView2->setColumnTwips(column, kStartupColumnTwips[column]); });
    }
    step(178, [&] { m_nextCategoryNumber = 1; });
    step(180, [&] { listRoot(); });
    step(182, [&] { Label1->setText(QStringLiteral("Tasks for [Work]")); });
    for (auto [line, heading] : {std::pair{184, Label1}, std::pair{186, Label3}})
        step(line, [&] { applyHeadingColours(heading); });
    step(188, [&] {
        const int tab =
            Numbers::toInt32(m_store.read(QStringLiteral("TabSel"), QStringLiteral("0")),
                             QStringLiteral("the selected tab"));
        if (tab < 0 || tab > 1)
            throw Failure(QStringLiteral("Invalid property value: there is no tab %1.").arg(tab));
        QSignalBlocker quiet(TabControl1);
        TabControl1->setCurrentIndex(tab);
    });
    const int tab = TabControl1->currentIndex();
    if (step.test(190, [&] { return tab == 0; })) {
        step(192, [&] { PushButton9->setText(QStringLiteral("Delete Selected Task")); });
        step(194, [&] { PushButton7->setText(QStringLiteral("Delete All Tasks")); });
    } else if (step.test(196, [&] { return tab == 1; })) {
        step(198, [&] { PushButton9->setText(QStringLiteral("Restore Selected Task")); });
        step(200, [&] { PushButton7->setText(QStringLiteral("Restore All Tasks")); });
    }
    step(202, [&] {
        const int state =
            Numbers::toInt32(m_store.read(QStringLiteral("WindowState"), QStringLiteral("0")),
                             QStringLiteral("the window state"));
        switch (state) {
        case 0:
            setWindowState(Qt::WindowNoState);
            break;
        case 1:
            setWindowState(Qt::WindowMinimized);
            break;
        case 2:
            setWindowState(Qt::WindowMaximized);
            break;
        default:
            throw Failure(
                QStringLiteral("Invalid property value: %1 is no window state.").arg(state));
        }
        m_stateFromStartup = state;
    });
    step(204, [&] { m_isLoading = false; });
    installPointerRules();
    updateCommandStates();
}

void Form1::applySkin()
{
    const QString skinFile = AppFolder::path() + QStringLiteral("/x/o.cjs");
    if (!AppFolder::fileExists(skinFile))
        return;
    applySharedWindowColours(this);
    QFile skin(skinFile);
    if (!skin.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("Cannot read the skin file %1.").arg(skinFile));
    setStyleSheet(QString::fromUtf8(skin.readAll()));
    // The skin may give the menu bar another height, and the window follows it.
    resize(designWindowPixels());
    placeClientArea();
}

void Form1::tvFolders_NodeClick(QTreeWidgetItem* node)
{
    // listTask reports its own failures; this only keeps anything else out of the event loop.
    Steps guard(QStringLiteral("Form1.tvFolders_NodeClick"), this);
    guard(100, [&] { showCategory(node); });
}

void Form1::showCategory(QTreeWidgetItem* node)
{
    if (!node)
        throw Failure(QStringLiteral("Object variable not set: no category is selected."));
    Label1->setText(QStringLiteral("Task(s) for [") + node->text(0) + u']');
    listTask();
    // Whatever waited for the category left is merged now.
    if (SyncController* sync = syncController())
        sync->shownCategorySettled();
}

void Form1::TabControl1_SelectedChanged()
{
    const int index = TabControl1->currentIndex();
    Steps report(QStringLiteral("Form1.TabControl1_SelectedChanged"), this);
    report(100, [&] { m_store.write(QStringLiteral("TabSel"), QString::number(index)); });
    if (index == 1) {
        PushButton9->setText(QStringLiteral("Restore Selected Task"));
        PushButton7->setText(QStringLiteral("Restore All Tasks"));
    } else if (index == 0) {
        PushButton9->setText(QStringLiteral("Delete Selected Task"));
        PushButton7->setText(QStringLiteral("Delete All Tasks"));
    }
}

void Form1::ListView_ItemClick(TaskListView* list, int row)
{
    if (row >= 0 && row < list->tasks()->rowCount())
        Text1->setPlainText(list->tasks()->at(row).fields[NotesCol]);
}

void Form1::updateCommandStates()
{
    // Without a category nothing typed or moved could be saved, so nothing may be started.
    const bool hasCategory = tvFolders->selectedNode() != nullptr;
    for (QPushButton* command : {PushButton8, PushButton1, PushButton9, PushButton7, PushButton10,
                                 PushButton3, PushButton4, PushButton5, PushButton6})
        command->setEnabled(hasCategory);
}

QString Form1::columnWidthsText(Steps& step, int firstLine, TaskListView* list)
{
    QString text;
    for (double twips : list->columnTwips())
        step(firstLine + 2, [&] { text += ColumnWidthsCodec::encode({twips}); });
    return text;
}

void Form1::Form_QueryUnload()
{
    Steps step(QStringLiteral("Form1.Form_QueryUnload"), this);
    const QString list1 = columnWidthsText(step, 100, ListView1);
    step(108, [&] { m_store.write(QStringLiteral("List1Cols"), list1); });
    const QString list2 = columnWidthsText(step, 110, ListView2);
    step(118, [&] { m_store.write(QStringLiteral("List2Cols"), list2); });
    step(120, [&] { updateCategory(); });
    step(122, [&] { cSysTray1->setInTray(false); });
    step(124, [&] { QCoreApplication::processEvents(); });
}
