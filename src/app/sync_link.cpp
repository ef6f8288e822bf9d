#include "sync_link.h"

#include "category_tree.h"
#include "error_report.h"
#include "failure.h"
#include "form1.h"
#include "prompts.h"
#include "sync_digests.h"
#include "sync_run.h"
#include "task_directory.h"
#include "task_list_model.h"

#include <QLabel>
#include <QSet>
#include <algorithm>

SyncLink::SyncLink(Form1& window)
    : QObject(&window), m_window(window), m_controller(window.store(), *this, this)
{
    setObjectName(QStringLiteral("syncLink"));
    // The slices of a sync come a turn of the event loop apart; once they stop, the lists are
    // let go.
    m_sliceTasksKept.setSingleShot(true);
    m_sliceTasksKept.setInterval(500);
    connect(&m_sliceTasksKept, &QTimer::timeout, this, [this] { m_sliceTasks.reset(); });
}

SyncLink::~SyncLink() = default;

QList<SyncCategory> SyncLink::syncCategories() const
{
    QList<SyncCategory> categories;
    QHash<QString, int> children;
    for (const QTreeWidgetItem* node : m_window.tvFolders->nodesInOrder()) {
        const QString parent = CategoryTree::parentKeyOf(node);
        categories.append({CategoryTree::keyOf(node), node->text(0), parent, children[parent]++});
    }
    return categories;
}

namespace {

// For reading stored lists away from the window: no category is on screen.
class NothingShown : public TaskListsHost
{
public:
    QString shownCategoryKey() const override { return {}; }
    TaskListModel* shownTasks(bool) const override { return nullptr; }
    SettingsStore::Changes shownTasksChanges() const override
    {
        throw Failure(QStringLiteral("No category is shown."));
    }
};

QList<SyncTaskItem> itemsOf(const QList<TaskRow>& rows)
{
    QList<SyncTaskItem> items;
    items.reserve(rows.size());
    for (const TaskRow& row : rows)
        items.append({row.uid, row.fields});
    return items;
}

SyncLists listsOf(const TaskDirectory& tasks, const QString& categoryKey)
{
    return {itemsOf(tasks.rows(categoryKey, false)), itemsOf(tasks.rows(categoryKey, true))};
}

bool concerns(const SyncBatch& batch, const QString& categoryKey)
{
    const auto ofIt = [&](const auto& item) { return item.categoryKey == categoryKey; };
    return batch.activeOrder.contains(categoryKey) ||
           batch.settledCategories.contains(categoryKey) ||
           std::any_of(batch.tasks.cbegin(), batch.tasks.cend(), ofIt) ||
           std::any_of(batch.state.syncCalendars.cbegin(), batch.state.syncCalendars.cend(),
                       ofIt) ||
           std::any_of(batch.state.syncTasks.cbegin(), batch.state.syncTasks.cend(), ofIt);
}

} // namespace

SyncLists SyncLink::syncLists(const QString& categoryKey) const
{
    if (categoryKey == m_window.shownCategoryKey()) {
        // Straight from the lists on screen: a full list is copied once, not three times.
        return {itemsOf(m_window.shownTasks(false)->rows()),
                itemsOf(m_window.shownTasks(true)->rows())};
    }
    TaskDirectory tasks(m_window.store(), m_window, {categoryKey});
    SyncLists lists = listsOf(tasks, categoryKey);
    // UIDs given to a list stored without them are stored now, so the next read gives the
    // same ones.
    tasks.save();
    return lists;
}

SyncLists SyncLink::readStoredLists(const QString& categoryKey,
                                    SettingsStore::Changes& uidsToStore) const
{
    NothingShown nothingShown;
    const TaskDirectory tasks(m_window.store(), nothingShown, {categoryKey});
    uidsToStore = tasks.givenUids();
    return listsOf(tasks, categoryKey);
}

QString SyncLink::syncShownCategory() const
{
    return m_window.shownCategoryKey();
}

bool SyncLink::shownListsUnsaved() const
{
    const QString shown = m_window.shownCategoryKey();
    if (shown.isEmpty())
        return false;
    const ShownListsStamp now = ShownListsStamp::of(m_window.store(), m_window);
    if (m_savedShown == now)
        return false;
    const bool unsaved = SyncDigests::ofChanges(m_window.shownTasksChanges(), shown, false) !=
                         SyncDigests::ofStoredLists(m_window.store(), shown, false);
    if (!unsaved)
        m_savedShown = now;
    return unsaved;
}

QHash<QString, QString> SyncLink::applySyncBatch(SyncBatch& batch)
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
    bool moved = false;
    for (auto order = batch.siblingOrder.cbegin(); order != batch.siblingOrder.cend(); ++order) {
        const QString parent = made.value(order.key(), order.key());
        int index = 0;
        for (const QString& key : *order) {
            QTreeWidgetItem* node = m_window.tvFolders->nodeByKey(made.value(key, key));
            if (!node || CategoryTree::parentKeyOf(node) != parent)
                continue;
            const QTreeWidgetItem* at = node->parent() ? node->parent()->child(index)
                                                       : m_window.tvFolders->topLevelItem(index);
            if (at != node) {
                m_window.tvFolders->moveAmongSiblings(node, index);
                moved = true;
            }
            ++index;
        }
    }
    // Stored with the calendars they belong to: a sync cut off here must not leave a category
    // the next one takes for one made here, with a calendar of its own to make.
    if (!made.isEmpty() || !batch.renamed.isEmpty() || moved)
        m_window.updateCategoryInto(batch.state);
    if (!made.isEmpty())
        SyncRun::renameCategories(batch, made);
    // The working copy on screen holds a change of its own: what came for it waits. Asked only
    // when something came for it, as the asking encodes the lists on screen.
    const QString shown = m_window.shownCategoryKey();
    if (!shown.isEmpty() && (!batch.tasks.isEmpty() || !batch.activeOrder.isEmpty()) &&
        concerns(batch, shown) && shownListsUnsaved())
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
    if (!m_sliceTasks || m_sliceKeys != keys || !m_sliceTasks->current()) {
        m_sliceTasks.reset();
        m_sliceTasks = std::make_unique<TaskDirectory>(m_window.store(), m_window, keys);
        m_sliceKeys = keys;
    }
    m_sliceTasksKept.start();
    // Dropped on any failure: what it holds may then be neither stored nor as stored.
    std::unique_ptr<TaskDirectory> taken = std::move(m_sliceTasks);
    TaskDirectory& tasks = *taken;
    for (const SyncBatch::TaskChange& change : std::as_const(batch.tasks)) {
        if (!keys.contains(change.categoryKey))
            continue;
        const std::optional<TaskListCodec::Fields> here = tasks.fields(change.uid);
        if (change.seenDigest && (!here || SyncDigests::ofFields(*here) != *change.seenDigest)) {
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
    // The lists on screen, where the batch changed them, are now stored as they stand.
    if (tasks.save(batch.state).contains(shown))
        m_savedShown = ShownListsStamp::of(m_window.store(), m_window);
    m_sliceTasks = std::move(taken);
    return made;
}

bool SyncLink::askSync(const QString& question)
{
    return Prompts::current().askYesNo(&m_window, question, applicationTitle());
}
