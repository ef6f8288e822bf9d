// Sync with a CalDAV account: the main window as the sync sees it, and its triggers.
#include "category_tree.h"
#include "error_report.h"
#include "form1.h"
#include "prompts.h"
#include "sync_account_link.h"
#include "sync_controller.h"
#include "sync_digests.h"
#include "sync_run.h"
#include "sync_tasks_host.h"
#include "task_directory.h"
#include "task_list_view.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QTimer>

namespace {

class SyncLink : public QObject, public SyncTasksHost
{
public:
    explicit SyncLink(Form1& window)
        : QObject(&window), m_window(window), m_controller(window.store(), *this, this)
    {
        setObjectName(QStringLiteral("syncLink"));
    }

    SyncController& controller() { return m_controller; }

    QList<SyncCategory> syncCategories() const override
    {
        QList<SyncCategory> categories;
        QHash<QString, int> children;
        for (const QTreeWidgetItem* node : m_window.tvFolders->nodesInOrder()) {
            const QString parent = CategoryTree::parentKeyOf(node);
            categories.append(
                {CategoryTree::keyOf(node), node->text(0), parent, children[parent]++});
        }
        return categories;
    }

    SyncLists syncLists(const QString& categoryKey) const override
    {
        TaskDirectory tasks(m_window.store(), m_window, {categoryKey});
        SyncLists lists;
        for (const bool deleted : {false, true})
            for (const TaskRow& row : tasks.rows(categoryKey, deleted))
                (deleted ? lists.deleted : lists.active).append({row.uid, row.fields});
        // UIDs given to a list stored without them are stored now, so the next read gives the
        // same ones.
        tasks.save();
        return lists;
    }

    QString syncShownCategory() const override { return m_window.shownCategoryKey(); }

    bool shownListsUnsaved() const override
    {
        const QString shown = m_window.shownCategoryKey();
        return !shown.isEmpty() &&
               SyncDigests::ofChanges(m_window.shownTasksChanges(), shown, false) !=
                   SyncDigests::ofStoredLists(m_window.store(), shown, false);
    }

    QHash<QString, QString> applySyncBatch(SyncBatch& batch) override
    {
        QHash<QString, QString> made;
        for (const SyncBatch::NewCategory& c : std::as_const(batch.newCategories))
            made.insert(c.placeholder,
                        m_window.addCategory(made.value(c.parentKey, c.parentKey), c.name));
        for (auto name = batch.renamed.cbegin(); name != batch.renamed.cend(); ++name)
            if (QTreeWidgetItem* node = m_window.tvFolders->nodeByKey(name.key())) {
                node->setText(0, *name);
                if (name.key() == m_window.shownCategoryKey())
                    m_window.Label1->setText(QStringLiteral("Task(s) for [") + *name + u']');
            }
        if (!made.isEmpty() || !batch.renamed.isEmpty())
            m_window.storeTree();
        if (!made.isEmpty())
            SyncRun::renameCategories(batch, made);
        // The working copy on screen holds a change of its own: what came for it waits.
        const QString shown = m_window.shownCategoryKey();
        if (!shown.isEmpty() && (!batch.tasks.isEmpty() || !batch.activeOrder.isEmpty()) &&
            shownListsUnsaved())
            SyncRun::holdCategory(batch, shown);
        if (batch.tasks.isEmpty() && batch.activeOrder.isEmpty()) {
            m_window.store().apply(batch.state);
            return made;
        }

        // Only the lists the batch changes are read.
        QSet<QString> touched;
        for (const SyncBatch::TaskChange& change : std::as_const(batch.tasks))
            touched.insert(change.categoryKey);
        for (auto order = batch.activeOrder.cbegin(); order != batch.activeOrder.cend(); ++order)
            touched.insert(order.key());
        QStringList keys;
        for (const SyncCategory& c : syncCategories())
            if (touched.contains(c.key))
                keys.append(c.key);
        TaskDirectory tasks(m_window.store(), m_window, keys);
        for (const SyncBatch::TaskChange& change : std::as_const(batch.tasks)) {
            if (!keys.contains(change.categoryKey))
                continue;
            const std::optional<TaskListCodec::Fields> here = tasks.fields(change.uid);
            if (change.seenDigest &&
                (!here || SyncDigests::ofFields(*here) != *change.seenDigest)) {
                // Changed here while the sync ran: merged with the next one.
                SyncRun::holdTask(batch, change);
                continue;
            }
            if (change.remove) {
                tasks.remove(change.uid);
                continue;
            }
            if (!here) {
                if (change.fields)
                    tasks.append(change.categoryKey, change.deleted, *change.fields, change.uid);
                continue;
            }
            tasks.move(change.uid, change.categoryKey, change.deleted);
            if (change.fields)
                tasks.update(change.uid, *change.fields);
        }
        for (auto order = batch.activeOrder.cbegin(); order != batch.activeOrder.cend(); ++order)
            if (keys.contains(order.key()) && !batch.held.contains(order.key()))
                tasks.arrange(order.key(), false, *order);
        tasks.save(batch.state);
        return made;
    }

    bool askSync(const QString& question) override
    {
        return Prompts::current().askYesNo(&m_window, question, applicationTitle());
    }

private:
    Form1& m_window;
    SyncController m_controller;
};

SyncLink* syncLinkOf(const Form1* window)
{
    return window->findChild<SyncLink*>(QStringLiteral("syncLink"), Qt::FindDirectChildrenOnly);
}

} // namespace

void Form1::installSync()
{
    auto* link = new SyncLink(*this);
    auto* account = new SyncAccountLink(link->controller(), this);
    QAction* openSync = mnuTasks->addAction(QStringLiteral("S&ync..."));
    openSync->setObjectName(QStringLiteral("actionSync"));
    openSync->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    addAction(openSync);
    connect(openSync, &QAction::triggered, account, &SyncAccountLink::open);
    connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this,
            [link] { link->controller().syncNow(); });
    // At start, once the window is up.
    QTimer::singleShot(0, link, [link] { link->controller().syncNow(); });
}

SyncController* Form1::syncController() const
{
    SyncLink* link = syncLinkOf(this);
    return link ? &link->controller() : nullptr;
}

void Form1::syncAfterSave()
{
    if (SyncController* sync = syncController()) {
        sync->syncSoon();
        sync->shownCategorySettled();
    }
}

void Form1::syncCategoryRemoval(const QList<QString>& keys, const QString& name)
{
    SyncController* sync = syncController();
    if (!sync || !sync->isSetUp())
        return;
    QStringList linked;
    for (const QString& key : keys)
        if (sync->isLinked(key))
            linked.append(key);
    if (linked.isEmpty())
        return;
    int taskCount = 0;
    const TaskDirectory tasks(m_store, *this, linked);
    for (const QString& key : std::as_const(linked))
        taskCount += tasks.rowCount(key, false);
    const bool deleteThere = Prompts::current().askYesNo(
        this,
        QStringLiteral("Also delete \"%1\" and its %2 tasks on the server and on every device "
                       "that syncs with it?")
            .arg(name)
            .arg(taskCount),
        applicationTitle());
    for (const QString& key : std::as_const(linked))
        sync->categoryRemoved(key, deleteThere);
}
