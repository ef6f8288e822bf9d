// "Add Task" and "Edit Task": the main window's side of the task editor.
#include "category_tree.h"
#include "due_dates.h"
#include "error_report.h"
#include "form1.h"
#include "form2.h"
#include "task_list_view.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPlainTextEdit>

void Form1::PushButton8_Click()
{
    Steps step(QStringLiteral("Form1.PushButton8_Click"), this);
    if (!tvFolders->selectedNode())
        return;
    // A fresh editor for every opening: its loading defaults are always in place.
    Form2 editor(m_store, *this, this);
    step(100, [&] { Prompts::current().exec(editor); });
    step(102, [&] { saveTaskLists(); });
}

void Form1::PushButton1_Click()
{
    Steps step(QStringLiteral("Form1.PushButton1_Click"), this);
    if (!tvFolders->selectedNode())
        return;
    TaskListView* list = listOfSelectedTab();
    if (step.test(100, [&] { return list->tasks()->rowCount() == 0; }))
        return;
    const int selected = list->selectedRow();
    if (selected < 0)
        return;
    const TaskRow row = list->tasks()->at(selected);

    Form2 editor(m_store, *this, this);
    step(102, [&] { editor.Text1->setText(row.fields[TaskCol]); });
    step(104, [&] { Form2::selectExactly(editor.Combo1, row.fields[PriorityCol]); });
    step(106, [&] { Form2::selectExactly(editor.Combo2, row.fields[TypeCol]); });
    step(108, [&] {
        if (const auto due = DueDates::parse(row.fields[DueDateCol])) {
            editor.Check2->setChecked(true);
            editor.DTPicker1->setDate(*due);
        }
    });
    step(110, [&] { editor.Text2->setPlainText(row.fields[NotesCol]); });
    step(112, [&] { editor.Check3->setChecked(row.fields[DoneCol] == QLatin1String("Done")); });
    step(114, [&] { editor.setWindowTitle(QStringLiteral("Edit Task")); });
    step(116, [&] { Prompts::current().exec(editor); });
    step(118, [&] { saveTaskLists(); });
}
