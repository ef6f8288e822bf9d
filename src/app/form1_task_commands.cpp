// Deleting, restoring, moving and removing tasks, and the sample tasks.
#include "category_tree.h"
#include "error_report.h"
#include "form1.h"
#include "pointer_rules.h"
#include "task_list_view.h"
#include "task_tabs.h"

#include <QHeaderView>
#include <QMenuBar>
#include <QPushButton>

namespace {

// A copy of a row as it lands in another list: the same six texts, its due date coloured anew.
TaskRow movedCopy(TaskRow row)
{
    row.dueColour = DueDates::Colour::Untouched;
    row.applyDueDateRule();
    return row;
}

} // namespace

void Form1::PushButton9_Click()
{
    Steps step(QStringLiteral("Form1.PushButton9_Click"), this);
    if (!tvFolders->selectedNode())
        return;
    TaskListView* source = listOfSelectedTab();
    TaskListView* target = source == ListView1 ? ListView2 : ListView1;
    if (step.test(100, [&] { return source->tasks()->rowCount() == 0; }))
        return;
    const int row = source->selectedRow();
    if (row < 0)
        return;
    bool moved = false;
    // The copy is made first and the row removed only once the copy exists: a full target
    // list stops the command with the task still where it was.
    step(102, [&] {
        target->tasks()->append(movedCopy(source->tasks()->at(row)));
        moved = true;
    });
    if (!moved)
        return;
    step(104, [&] { source->tasks()->remove(row); });
    step(106, [&] { saveTaskLists(); });
}

void Form1::PushButton7_Click()
{
    Steps step(QStringLiteral("Form1.PushButton7_Click"), this);
    if (!tvFolders->selectedNode())
        return;
    bool yes = false;
    step(100, [&] {
        yes =
            Prompts::current().askYesNo(this, QStringLiteral("Are you sure?"), applicationTitle());
    });
    if (!yes)
        return;
    TaskListView* source = listOfSelectedTab();
    TaskListView* target = source == ListView1 ? ListView2 : ListView1;
    snapshotBefore(source == ListView1 ? SnapshotReason::DeleteAll : SnapshotReason::RestoreAll);
    if (step.test(102, [&] { return source->tasks()->rowCount() > 0; })) {
        bool moved = false;
        step(104, [&] {
            target->tasks()->ensureRoomFor(source->tasks()->rowCount());
            QList<TaskRow> rows = target->tasks()->rows();
            for (const TaskRow& row : source->tasks()->rows())
                rows.append(movedCopy(row));
            target->tasks()->setRows(std::move(rows));
            moved = true;
        });
        if (!moved)
            return;
        step(106, [&] { source->tasks()->clear(); });
    }
    step(108, [&] { saveTaskLists(); });
}

void Form1::moveRow(TaskListView* list, int from, int to)
{
    TaskListModel* tasks = list->tasks();
    // A sorted list would put the row straight back; moving it by hand ends the sorting.
    tasks->stopSorting();
    tasks->move(from, to);
    tasks->replace(to, movedCopy(tasks->at(to)));
    list->selectRow(to);
}

void Form1::PushButton5_Click()
{
    Steps step(QStringLiteral("Form1.PushButton5_Click"), this);
    TaskListView* list = listOfSelectedTab();
    if (step.test(100, [&] { return list->tasks()->rowCount() > 0; })) {
        const int row = list->selectedRow();
        if (row > 0)
            step(102, [&] { moveRow(list, row, row - 1); });
    }
    list->setFocus();
}

void Form1::PushButton6_Click()
{
    Steps step(QStringLiteral("Form1.PushButton6_Click"), this);
    TaskListView* list = listOfSelectedTab();
    if (step.test(100, [&] { return list->tasks()->rowCount() > 0; })) {
        const int row = list->selectedRow();
        if (row >= 0 && row + 1 < list->tasks()->rowCount())
            step(102, [&] { moveRow(list, row, row + 1); });
    }
    list->setFocus();
}

void Form1::PushButton10_Click()
{
    Steps step(QStringLiteral("Form1.PushButton10_Click"), this);
    // Without a category nothing could be saved: such commands do nothing.
    if (!tvFolders->selectedNode())
        return;
    const TaskListCodec::Fields samples[] = {
        {QStringLiteral("Deliver Parts"), QStringLiteral("Medium"), QStringLiteral("General")},
        {QStringLiteral("Call Nessaly"), QStringLiteral("Medium"), QStringLiteral("General")},
        {QStringLiteral("Collaborate with Dorrin"), QStringLiteral("High"),
         QStringLiteral("General")},
    };
    bool added = false;
    step(100, [&] {
        ListView1->tasks()->ensureRoomFor(3);
        for (const auto& fields : samples)
            ListView1->tasks()->append({fields});
        added = true;
    });
    if (added)
        step(102, [&] { saveTaskLists(); });
}

void Form1::installPointerRules()
{
    auto* rules = new PointerRules(this, m_handPointer);
    // The bare surface the pointer meets is the client area's; the bar is no command button.
    rules->addDefaultWidget(clientArea);
    rules->addDefaultWidget(menuBar1);
    for (QPushButton* b :
         {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6, PushButton7,
          PushButton8, PushButton9, PushButton10, PushButton11})
        rules->addHandWidget(b);
    for (TaskListView* list : {ListView1, ListView2}) {
        rules->addDefaultWidget(list->viewport());
        rules->addDefaultWidget(list->header());
    }
}
