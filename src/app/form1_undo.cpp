// Ctrl+Z: taking back what the Delete key and "Delete Selected Category (or Sub)" removed.
#include "category_tree.h"
#include "error_report.h"
#include "form1.h"
#include "removal_history.h"
#include "task_list_view.h"
#include "task_tabs.h"
#include "task_uids.h"

#include <QLabel>
#include <QSet>

namespace {

template <class... Handlers> struct Overloaded : Handlers...
{
    using Handlers::operator()...;
};

// The UIDs of the stored lists under `keys`.
QSet<QUuid> storedUidsOf(const QHash<QString, QByteArray>& all, const QStringList& keys)
{
    QSet<QUuid> uids;
    for (const QString& key : keys)
        for (const QString& list : {key, TaskListCodec::deletedKey(key)})
            for (const TaskUids::Stored& row : TaskUids::decode(all.value(list)))
                uids.insert(row.uid);
    return uids;
}

} // namespace

QString Form1::categoryHoldingAnyOf(const QSet<QUuid>& uids,
                                    const QHash<QString, QByteArray>& stored) const
{
    if (uids.isEmpty())
        return {};
    // The category on screen as its lists stand, unsaved removals included; the others as
    // stored.
    const QString shown = shownCategoryKey();
    for (const TaskListView* list : {ListView1, ListView2})
        for (const TaskRow& row : list->tasks()->rows())
            if (uids.contains(row.uid))
                if (const QTreeWidgetItem* node = tvFolders->nodeByKey(shown))
                    return node->text(0);
    for (const QTreeWidgetItem* node : tvFolders->nodesInOrder()) {
        const QString key = CategoryTree::keyOf(node);
        if (key == shown)
            continue;
        for (const QUuid& uid : storedUidsOf(stored, {key}))
            if (uids.contains(uid))
                return node->text(0);
    }
    return {};
}

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

    // A removed task that came back meanwhile (an import, a sync) is there already: a second
    // copy would give one UID to two tasks. The removal is forgotten.
    const auto alreadyBack = [this](const QString& text) {
        Prompts::current().message(this, text, applicationTitle(), Prompts::Icon::None);
        return true;
    };

    const auto putRowBack = [&](const RemovalHistory::Row& removal) {
        if (const QString in = categoryHoldingAnyOf({removal.row.uid}, m_store.readAllListUids());
            !in.isEmpty())
            return alreadyBack(QStringLiteral("The task \"%1\" is not put back: it is in \"%2\" "
                                              "again.")
                                   .arg(removal.row.fields[TaskCol], in));
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
        QStringList keys;
        for (const RemovalHistory::Branch::Node& n : removal.nodes)
            keys.append(n.node.key);
        const QHash<QString, QByteArray> stored = m_store.readAllListUids();
        if (const QString in = categoryHoldingAnyOf(storedUidsOf(stored, keys), stored);
            !in.isEmpty())
            return alreadyBack(QStringLiteral("The category \"%1\" is not put back: its tasks "
                                              "are in \"%2\" again.")
                                   .arg(root.text, in));
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
