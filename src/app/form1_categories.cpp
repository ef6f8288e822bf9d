// "Add To Do Category", "Add To Do Subcategory" and "Delete Selected Category (or Sub)".
#include "category_tree.h"
#include "category_tree_codec.h"
#include "error_report.h"
#include "failure.h"
#include "form1.h"
#include "removal_history.h"
#include "settings_store.h"
#include "task_list_codec.h"
#include "task_list_view.h"

#include <QLabel>

using namespace CategoryTreeCodec;

namespace {

// No stored value is ever read back as a lone surrogate: it marks an absent key.
const QString kAbsent = QString(QChar(0xDC00));

} // namespace

QString Form1::askCategoryName(Steps& step, const QString& prompt)
{
    QString name;
    step(100,
         [&] { name = Prompts::current().input(this, prompt, applicationTitle(), QString()); });
    if (step.test(102, [&] { return name.trimmed().isEmpty(); }))
        return {};
    // The stored tree has no escaping: such a name would break it for every later start.
    if (const QString reason = unstorableNameReason(name); !reason.isEmpty()) {
        Prompts::current().message(this, reason + QStringLiteral(" Nothing has been added."),
                                   applicationTitle(), Prompts::Icon::Exclamation);
        return {};
    }
    return name;
}

int Form1::claimCategoryNumber(const std::function<QString(int)>& keyFor)
{
    // A number whose key still holds the lists of a category deleted in an earlier run is
    // skipped, so those tasks never reappear under a new name and nothing is deleted.
    for (;;) {
        const QString key = keyFor(m_nextCategoryNumber);
        const bool taken = tvFolders->containsKey(key) || m_store.read(key, kAbsent) != kAbsent ||
                           m_store.read(TaskListCodec::deletedKey(key), kAbsent) != kAbsent;
        if (!taken)
            return m_nextCategoryNumber;
        if (m_nextCategoryNumber >= 32767)
            throw Failure(QStringLiteral("Overflow: every category number up to 32767 is in use; "
                                         "no category can be added."));
        increaseCategoryNumber();
    }
}

void Form1::addCategory(Steps& step, int firstLine, QTreeWidgetItem* parent, const QString& name)
{
    const auto line = [firstLine](int n) { return firstLine + n; };
    int depth = 1;
    if (parent)
        step(line(0), [&] { depth = depthOf(CategoryTree::keyOf(parent)) + 1; });
    const auto keyFor = [parent, depth](int number) {
        return parent ? subKey(depth, number) : rootKey(number);
    };
    QTreeWidgetItem* node = nullptr;
    step(line(2), [&] {
        const QString key = keyFor(claimCategoryNumber(keyFor));
        node = tvFolders->addNode(parent ? CategoryTree::keyOf(parent) : QString(), key, name);
    });
    if (!node)
        return; // nothing was added, so there is nothing to show or store
    snapshotBeforeFirstChangeOfDay();
    step(line(4), [&] { increaseCategoryNumber(); });
    step(line(6), [&] {
        tvFolders->selectNode(node);
        tvFolders->scrollToItem(node);
    });
    step(line(8), [&] { Label1->setText(QStringLiteral("Task(s) for [") + name + u']'); });
    step(line(10), [&] { listTask(); });
    step(line(12), [&] { updateCategory(); });
}

void Form1::PushButton2_Click()
{
    Steps step(QStringLiteral("Form1.PushButton2_Click"), this);
    const QString name = askCategoryName(step, QStringLiteral("Enter Category Name:"));
    if (!name.isEmpty())
        addCategory(step, 104, nullptr, name);
}

void Form1::PushButton3_Click()
{
    Steps step(QStringLiteral("Form1.PushButton3_Click"), this);
    QTreeWidgetItem* parent = tvFolders->selectedNode();
    if (tvFolders->nodeCount() == 0 || !parent)
        return;
    const QString name = askCategoryName(step, QStringLiteral("Enter Subcategory Name:"));
    if (!name.isEmpty())
        addCategory(step, 104, parent, name);
}

void Form1::PushButton4_Click()
{
    Steps step(QStringLiteral("Form1.PushButton4_Click"), this);
    QTreeWidgetItem* node = tvFolders->selectedNode();
    if (step.test(100, [&] { return tvFolders->nodeCount() == 0; }) || !node)
        return;
    snapshotBefore(SnapshotReason::DeleteCategory);
    RemovalHistory::Branch branch;
    QList<QString> keys;
    for (QTreeWidgetItem* n : tvFolders->branchInOrder(node)) {
        branch.nodes.append(
            {{n->text(0), CategoryTree::keyOf(n), CategoryTree::parentKeyOf(n)}, n->isExpanded()});
        keys.append(CategoryTree::keyOf(n));
    }
    step(101, [&] { syncCategoryRemoval(keys, node->text(0)); });
    step(102, [&] {
        tvFolders->removeNode(node);
        m_removals->push(std::move(branch));
    });
    step(104, [&] { updateCategory(); });
    step(106, [&] {
        if (QTreeWidgetItem* shown = tvFolders->selectedNode()) {
            showCategory(shown);
            return;
        }
        // No category is left: nothing to show, and nothing on screen may be saved.
        Label1->setText(QStringLiteral("Task(s) for []"));
        ListView1->tasks()->clear();
        ListView2->tasks()->clear();
        updateCommandStates();
    });
}
