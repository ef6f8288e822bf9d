// Ctrl+Z: taking back what the Delete key and "Delete Selected Category (or Sub)" removed.
#include "category_tree.h"
#include "error_report.h"
#include "form1.h"
#include "removal_history.h"
#include "task_list_view.h"
#include "task_tabs.h"

#include <QLabel>

namespace {

template <class... Handlers> struct Overloaded : Handlers...
{
    using Handlers::operator()...;
};

} // namespace

void Form1::ListView_KeyDelete(TaskListView* list)
{
    const int row = list->selectedRow();
    if (list->tasks()->rowCount() == 0 || row < 0)
        return;
    m_removals->push(RemovalHistory::Row{list, row, list->tasks()->at(row)});
    list->tasks()->remove(row);
}

void Form1::undoRemoval()
{
    if (m_removals->isEmpty())
        return;
    Steps step(QStringLiteral("Form1.undoRemoval"), this);
    const auto refuse = [this](const QString& text) {
        Prompts::current().message(this, text + QStringLiteral(" Nothing has been changed."),
                                   applicationTitle(), Prompts::Icon::Exclamation);
        return false;
    };

    const auto putRowBack = [&](const RemovalHistory::Row& removal) {
        TaskListModel* tasks = removal.list->tasks();
        if (tasks->rowCount() >= TaskListCodec::kMaxTasks)
            return refuse(QStringLiteral("The task \"%1\" cannot be put back: its list already "
                                         "holds %2 tasks, as many as a list can hold.")
                              .arg(removal.row.fields[TaskCol])
                              .arg(TaskListCodec::kMaxTasks));
        TaskRow row = removal.row;
        row.dueColour = DueDates::Colour::Untouched;
        row.applyDueDateRule();
        const int at = tasks->putBack(removal.position, std::move(row));
        // The row is put back where the user can see it, on its own tab.
        const int tab = removal.list == ListView2 ? 1 : 0;
        if (TabControl1->currentIndex() != tab)
            TabControl1->setCurrentIndex(tab);
        removal.list->selectRow(at);
        return true;
    };

    const auto putBranchBack = [&](const RemovalHistory::Branch& removal) {
        const CategoryTreeCodec::Node& root = removal.nodes.first().node;
        if (!root.parentKey.isEmpty() && !tvFolders->containsKey(root.parentKey))
            return refuse(QStringLiteral("The category \"%1\" cannot be put back: the category "
                                         "it was under has been deleted since.")
                              .arg(root.text));
        for (const RemovalHistory::Branch::Node& n : removal.nodes)
            if (tvFolders->containsKey(n.node.key))
                return refuse(QStringLiteral("The category \"%1\" cannot be put back: its key "
                                             "%2 is in use by another category.")
                                  .arg(n.node.text, n.node.key));
        QTreeWidgetItem* rootNode = nullptr;
        step(100, [&] {
            for (const RemovalHistory::Branch::Node& n : removal.nodes) {
                QTreeWidgetItem* node =
                    tvFolders->addNode(n.node.parentKey, n.node.key, n.node.text);
                node->setExpanded(n.expanded);
                if (!rootNode)
                    rootNode = node;
            }
        });
        if (!rootNode)
            return true;
        step(102, [&] {
            tvFolders->selectNode(rootNode);
            tvFolders->scrollToItem(rootNode);
            showCategory(rootNode);
        });
        step(104, [&] { updateCategory(); });
        return true;
    };

    const bool done = std::visit(Overloaded{putRowBack, putBranchBack}, m_removals->newest());
    if (done)
        m_removals->dropNewest();
}
