#include "task_directory.h"

#include "failure.h"
#include "settings_store.h"
#include "task_list_model.h"
#include "task_uids.h"

using TaskListCodec::Fields;

struct TaskDirectory::List
{
    struct Item
    {
        TaskRow row;
        // The entry as stored, for a task of a category not on screen that nothing changed:
        // it is written back exactly so.
        QString stored;
    };
    QString categoryKey;
    bool deleted = false;
    bool onScreen = false;
    QList<Item> items;
    // Entries past the largest list, as stored, kept after the others (as the window does).
    QString beyond;
    // UIDs given here that the store does not have yet, with the digests they go with.
    bool newUids = false;
    QList<quint64> digests;
};

namespace {

QString listKey(const QString& categoryKey, bool deleted)
{
    return deleted ? TaskListCodec::deletedKey(categoryKey) : categoryKey;
}

template <typename List> QList<QUuid> uidsOf(const List& list)
{
    QList<QUuid> uids;
    uids.reserve(list.items.size());
    for (const auto& item : list.items)
        uids.append(item.row.uid);
    return uids;
}

} // namespace

TaskDirectory::TaskDirectory(SettingsStore& store, TaskListsHost& host,
                             const QStringList& categoryKeys)
    : m_store(store), m_host(host), m_shownKey(host.shownCategoryKey())
{
    for (const QString& key : categoryKeys) {
        if (key == m_shownKey)
            loadShown();
        else
            load(key);
    }
}

TaskDirectory::~TaskDirectory() = default;

void TaskDirectory::loadShown()
{
    for (const bool deleted : {false, true}) {
        auto list = std::make_shared<List>();
        list->categoryKey = m_shownKey;
        list->deleted = deleted;
        list->onScreen = true;
        const TaskListModel* tasks = m_host.shownTasks(deleted);
        for (const TaskRow& row : tasks->rows()) {
            m_rows.insert(row.uid, {listKey(m_shownKey, deleted), list->items.size()});
            list->items.append({row, {}});
        }
        m_lists.insert(listKey(m_shownKey, deleted), list);
    }
}

void TaskDirectory::load(const QString& categoryKey)
{
    for (const bool deleted : {false, true}) {
        const QString key = listKey(categoryKey, deleted);
        auto list = std::make_shared<List>();
        list->categoryKey = categoryKey;
        list->deleted = deleted;
        const QString value = m_store.read(key, QString());
        QList<TaskListCodec::Entry> entries = TaskListCodec::decodeEntries(value);
        QList<quint64> digests;
        const qsizetype shown = std::min<qsizetype>(entries.size(), TaskListCodec::kMaxTasks);
        digests.reserve(shown);
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const TaskListCodec::Entry& entry = entries[i];
            if (i >= shown) {
                list->beyond += entry.stored;
                list->beyond += TaskListCodec::kTaskSeparator;
                continue;
            }
            TaskRow row;
            row.fields = entry.fields;
            digests.append(TaskUids::digest(row.fields));
            list->items.append(
                {std::move(row), entry.stored.toString() + TaskListCodec::kTaskSeparator});
        }
        // Matched without storing: nothing is written before save().
        const QList<QUuid> uids =
            TaskUids::match(m_store.readListUids(key), digests, &list->newUids);
        list->digests = std::move(digests);
        for (qsizetype i = 0; i < list->items.size(); ++i) {
            list->items[i].row.uid = uids[i];
            m_rows.insert(uids[i], {key, i});
        }
        m_lists.insert(key, list);
    }
}

void TaskDirectory::addCategory(const QString& categoryKey)
{
    for (const bool deleted : {false, true}) {
        auto list = std::make_shared<List>();
        list->categoryKey = categoryKey;
        list->deleted = deleted;
        m_lists.insert(listKey(categoryKey, deleted), list);
    }
}

TaskDirectory::List& TaskDirectory::list(const QString& categoryKey, bool deleted)
{
    const auto found = m_lists.constFind(listKey(categoryKey, deleted));
    if (found == m_lists.cend())
        throw Failure(QStringLiteral("There is no category with the key \"%1\".").arg(categoryKey));
    return **found;
}

std::optional<TaskDirectory::Row> TaskDirectory::rowOf(const QUuid& uid) const
{
    const auto found = m_rows.constFind(uid);
    if (found == m_rows.cend())
        return std::nullopt;
    return *found;
}

std::optional<TaskDirectory::Place> TaskDirectory::find(const QUuid& uid) const
{
    const std::optional<Row> row = rowOf(uid);
    if (!row)
        return std::nullopt;
    const List& list = *m_lists.value(row->listKey);
    return Place{list.categoryKey, list.deleted};
}

std::optional<Fields> TaskDirectory::fields(const QUuid& uid) const
{
    const std::optional<Row> row = rowOf(uid);
    if (!row)
        return std::nullopt;
    return m_lists.value(row->listKey)->items[row->index].row.fields;
}

int TaskDirectory::rowCount(const QString& categoryKey, bool deleted) const
{
    const auto found = m_lists.constFind(listKey(categoryKey, deleted));
    return found == m_lists.cend() ? 0 : int((*found)->items.size());
}

bool TaskDirectory::update(const QUuid& uid, const Fields& fields)
{
    const std::optional<Row> row = rowOf(uid);
    if (!row)
        return false;
    List& list = *m_lists.value(row->listKey);
    List::Item& item = list.items[row->index];
    if (item.row.fields == fields)
        return false;
    item.row.fields = fields;
    // As the editor does: a due date is coloured anew, any other text keeps the colour.
    item.row.applyDueDateRule();
    item.stored.clear();
    if (!m_changed.contains(list.categoryKey))
        m_changed.append(list.categoryKey);
    return true;
}

void TaskDirectory::append(const QString& categoryKey, bool deleted, const Fields& fields,
                           const QUuid& uid)
{
    List& target = list(categoryKey, deleted);
    if (target.items.size() >= TaskListCodec::kMaxTasks)
        throw Failure(
            QStringLiteral("A task list holds at most %1 tasks.").arg(TaskListCodec::kMaxTasks));
    TaskRow row;
    row.fields = fields;
    row.uid = uid.isNull() ? TaskUids::create() : uid;
    row.applyDueDateRule();
    m_rows.insert(row.uid, {listKey(categoryKey, deleted), target.items.size()});
    target.items.append({std::move(row), {}});
    if (!m_changed.contains(categoryKey))
        m_changed.append(categoryKey);
}

QStringList TaskDirectory::save()
{
    for (const QString& categoryKey : std::as_const(m_changed)) {
        if (categoryKey == m_shownKey) {
            // The shown category's lists on screen take the rows, and its saving command
            // stores them, as after any other command that changes them.
            for (const bool deleted : {false, true}) {
                QList<TaskRow> rows;
                const List& shown = list(categoryKey, deleted);
                rows.reserve(shown.items.size());
                for (const List::Item& item : shown.items)
                    rows.append(item.row);
                TaskListModel* tasks = m_host.shownTasks(deleted);
                if (rows != tasks->rows())
                    tasks->setRows(std::move(rows));
            }
            m_host.saveShownTasks();
            continue;
        }
        SettingsStore::Changes changes;
        for (const bool deleted : {false, true}) {
            const List& stored = list(categoryKey, deleted);
            QString value;
            QList<TaskUids::Stored> uids;
            uids.reserve(stored.items.size());
            for (const List::Item& item : stored.items) {
                if (item.stored.isEmpty())
                    TaskListCodec::appendEntry(value, item.row.fields);
                else
                    value += item.stored;
                uids.append({item.row.uid, TaskUids::digest(item.row.fields)});
            }
            value += stored.beyond;
            const QString key = listKey(categoryKey, deleted);
            changes.values.emplace_back(key, value);
            changes.listUids.emplace_back(key, TaskUids::encode(uids));
        }
        m_store.apply(changes);
    }
    // Lists nothing changed keep the UIDs they were given here, as every reader of the store
    // gives them (TaskUids::ofStoredList).
    for (const auto& list : std::as_const(m_lists))
        if (list->newUids && !m_changed.contains(list->categoryKey))
            TaskUids::storeMatched(m_store, listKey(list->categoryKey, list->deleted),
                                   uidsOf(*list), list->digests);
    return std::exchange(m_changed, {});
}
