// Finding a task in any category: the find window, F3 and Shift+F3, and going to a match.
#include "category_tree.h"
#include "error_report.h"
#include "find_dialog.h"
#include "form1.h"
#include "settings_store.h"
#include "task_list_view.h"
#include "task_tabs.h"

#include <QHash>

namespace {

// Where a stored row stands once its list is on screen: the list may be shown sorted, which
// keeps rows with equal fields in their stored order.
int rowOnScreen(const TaskListView* list, const FindHit& hit)
{
    const QList<TaskRow>& rows = list->tasks()->rows();
    int same = 0;
    for (int row = 0; row < int(rows.size()); ++row)
        if (rows[row].fields == hit.fields && same++ == hit.sameBefore)
            return row;
    return -1;
}

} // namespace

QList<FindCategory> Form1::categoriesForFind() const
{
    // In node order, the order of the stored tree; a node always comes after its parent.
    QList<FindCategory> categories;
    QHash<const QTreeWidgetItem*, QString> paths;
    const QTreeWidgetItem* shown = tvFolders->selectedNode();
    for (const QTreeWidgetItem* node : tvFolders->nodesInOrder()) {
        FindCategory category;
        category.key = CategoryTree::keyOf(node);
        const QTreeWidgetItem* parent = node->parent();
        category.path = parent ? paths.value(parent) + TaskIndex::kPathSeparator + node->text(0)
                               : node->text(0);
        paths.insert(node, category.path);
        if (node == shown) {
            category.onScreen[0] = ListView1->tasks()->rows();
            category.onScreen[1] = ListView2->tasks()->rows();
        }
        categories.append(std::move(category));
    }
    return categories;
}

void Form1::findTasks()
{
    Steps step(QStringLiteral("Form1.findTasks"), this);
    FindDialog dialog(m_store, *this, lastFind.value_or(FindQuery{}), this);
    step(100, [&] { Prompts::current().exec(dialog); });
    if (!dialog.query().text.isEmpty())
        lastFind = dialog.query();
}

void Form1::findAgain(bool forward)
{
    if (!lastFind) {
        findTasks();
        return;
    }
    Steps step(QStringLiteral("Form1.findAgain"), this);
    const QList<FindCategory> categories = categoriesForFind();
    TaskIndex index;
    step(100, [&] { index = TaskIndex(categories, m_store.readSection()); });
    if (step.failures() > 0)
        return;
    const std::vector<int> matches = index.find(*lastFind);
    if (matches.empty()) {
        Prompts::current().message(this,
                                   QStringLiteral("No task contains \"%1\".").arg(lastFind->text),
                                   applicationTitle(), Prompts::Icon::None);
        return;
    }
    // From where the user is: the shown category, its tab and its selected row.
    FindPlace here;
    if (const QTreeWidgetItem* shown = tvFolders->selectedNode()) {
        const QString key = CategoryTree::keyOf(shown);
        for (int c = 0; c < int(categories.size()) && here.category < 0; ++c)
            if (categories[c].key == key)
                here.category = c;
    }
    here.list = TabControl1->currentIndex();
    here.row = listOfSelectedTab()->selectedRow();
    const int next = index.stepFrom(matches, here, forward);
    step(102, [&] { goToFindHit(index.hit(next)); });
}

void Form1::goToFindHit(const FindHit& hit)
{
    QTreeWidgetItem* node = tvFolders->nodeByKey(hit.categoryKey);
    if (!node)
        return;
    // The category shown already is not read again: its unsaved changes stay on screen.
    if (node != tvFolders->selectedNode()) {
        for (QTreeWidgetItem* up = node->parent(); up; up = up->parent())
            up->setExpanded(true);
        tvFolders->selectNode(node);
        tvFolders->scrollToItem(node);
        tvFolders_NodeClick(node);
    }
    TabControl1->setCurrentIndex(hit.place.list);
    TaskListView* list = hit.place.list == 1 ? ListView2 : ListView1;
    const int row = hit.onScreen ? hit.place.row : rowOnScreen(list, hit);
    if (row >= 0 && row < list->tasks()->rowCount())
        list->selectRow(row);
    list->setFocus();
}
